// The reader's limits and the plain-file-name rule over arbitrary bytes laid
// out as a payload without its stream:
//   28-byte header | EntryCount x 12-byte entries (cut to the input) | names
// The names region stands for the inflated data the split reads names from.
// Each check is compared with the rule stated independently here; a name
// that passes must stay in its folder once Windows has resolved the path.
// The same bytes also stand for the start of a program proper, for the
// StubChecksum's reading of the PE header.
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "payload/checksum.h"
#include "payload/filename.h"
#include "payload/limits.h"
#include "payload/percent.h"
#include "support.h"

namespace {

// The rule as written for people: no folder, drive, stream, wildcard or
// control character; something besides the dots and blanks Windows drops
// from the end; not a device, whatever the extension or trailing blanks.
bool ReferencePlain(const std::string& name) {
  if (name.find_first_of("\\/:*?\"<>|") != std::string::npos) return false;
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 32) return false;
  if (name.find_last_not_of(". ") == std::string::npos) return false;  // empty, ".", "..", " . "
  std::string base = name.substr(0, name.find('.'));
  base.erase(base.find_last_not_of(' ') + 1);
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return false;
  // COM and LPT take 1 to 9 and the superscript digits of the ANSI code page (0xB9, 0xB2, 0xB3).
  const bool numbered = base.size() == 4 && ((base[3] >= '1' && base[3] <= '9') || base[3] == '\xB9' ||
                                             base[3] == '\xB2' || base[3] == '\xB3');
  return !(numbered && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0));
}

// Resolves "C:\Workspace\<name>" the way Win32 normalises a path: separators
// \ and /, "." and ".." steps, trailing dots and blanks of each component
// dropped, ':' only after the drive letter.  Returns the components.
std::vector<std::string> ResolveInWorkspace(const std::string& name, bool* streamOrDrive) {
  const std::string path = "C:\\Workspace\\" + name;
  std::vector<std::string> parts;
  *streamOrDrive = false;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
    std::string part = path.substr(start, i - start);
    start = i + 1;
    if (parts.empty()) {
      parts.push_back(part);  // the drive
      continue;
    }
    if (part.find(':') != std::string::npos) *streamOrDrive = true;
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
      continue;
    }
    part.erase(part.find_last_not_of(". ") + 1);
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

void CheckName(const char* name) {
  const std::string text(name);
  const bool plain = IsPlainFileName(name);
  FUZZ_EXPECT(plain == ReferencePlain(text),
              "IsPlainFileName(\"" + Printable(text) + "\") = " + (plain ? "true" : "false"));
  if (!plain) return;
  bool streamOrDrive = false;
  const std::vector<std::string> parts = ResolveInWorkspace(text, &streamOrDrive);
  FUZZ_EXPECT(!streamOrDrive && parts.size() == 3 && parts[1] == "Workspace",
              "\"" + Printable(text) + "\" leaves the Workspace or names a stream");
}

// A heap copy of exactly count bytes, so that a read past them is caught.
std::unique_ptr<char[]> ExactCopy(const uint8_t* bytes, size_t count) {
  std::unique_ptr<char[]> copy(new char[count]);
  if (count > 0) memcpy(copy.get(), bytes, count);
  return copy;
}

// The same bytes as the start of a program proper, zeros behind them: the
// fields that signing rewrites lie inside it and apart, and they are the only
// bytes that StubChecksum leaves out.
void CheckStubChecksum(const uint8_t* data, size_t size) {
  std::vector<uint8_t> stub(kStubBytes);
  memcpy(stub.data(), data, std::min<size_t>(size, kStubBytes));
  std::vector<uint8_t> cleared = stub;
  SignedFields f{};
  if (FindSignedFields(stub.data(), &f)) {
    FUZZ_EXPECT(f.CheckSumAt + kCheckSumBytes <= f.CertTableAt && f.CertTableAt + kCertEntryBytes <= kStubBytes,
                "fields at " + std::to_string(f.CheckSumAt) + " and " + std::to_string(f.CertTableAt));
    std::fill_n(&cleared[f.CheckSumAt], kCheckSumBytes, 0);
    std::fill_n(&cleared[f.CertTableAt], kCertEntryBytes, 0);
  }
  FUZZ_EXPECT(ComputeStubChecksum(stub.data()) == PayloadChecksum(kPayloadSignature, cleared.data(), kStubBytes),
              "the stub checksum counts other bytes than the signed fields as zeros");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckStubChecksum(data, size);
  if (size < kHeaderBytes) return 0;
  const PayloadHeader h = DecodeHeader(data);

  const bool countFits = EntryCountFitsLimits(h.EntryCount);
  FUZZ_EXPECT(countFits == (h.EntryCount >= 0 && int64_t(h.EntryCount) * kEntryBytes <= kWorkBufferBytes),
              "EntryCountFitsLimits(" + std::to_string(h.EntryCount) + ")");
  size_t tableBytes = 0;
  if (countFits) {
    FUZZ_EXPECT(
        EntryTableBytes(h.EntryCount) == uint64_t(h.EntryCount) * kEntryBytes &&
            EntryTableBytes(h.EntryCount) <= kMaxTableBytes,
        "EntryTableBytes(" + std::to_string(h.EntryCount) + ") = " + std::to_string(EntryTableBytes(h.EntryCount)));
    tableBytes = std::min<size_t>(EntryTableBytes(h.EntryCount), (size - kHeaderBytes) / kEntryBytes * kEntryBytes);
  }

  if (h.InflatedSize != 0) {
    const uint64_t exact = uint64_t(h.CompressedSize) * 100 / h.InflatedSize;
    FUZZ_EXPECT(ProgressPercent(h.CompressedSize, h.InflatedSize) == static_cast<uint32_t>(exact),
                "ProgressPercent(" + std::to_string(h.CompressedSize) + ", " + std::to_string(h.InflatedSize) +
                    ") = " + std::to_string(ProgressPercent(h.CompressedSize, h.InflatedSize)));
  }

  const uint8_t* names = data + kHeaderBytes + tableBytes;
  const size_t namesBytes = size - kHeaderBytes - tableBytes;

  // The split's reading of each entry's name, as far as the data reaches.
  for (size_t at = 0; at < tableBytes; at += kEntryBytes) {
    const PayloadEntry e = DecodeEntry(data + kHeaderBytes + at);
    const bool spanFits = NameSpanFitsLimits(e);
    FUZZ_EXPECT(spanFits == (e.DataOffset > e.NameOffset && e.DataOffset - e.NameOffset <= kMaxNameBytes),
                "NameSpanFitsLimits(" + std::to_string(e.NameOffset) + ", " + std::to_string(e.DataOffset) + ")");
    if (!spanFits) continue;
    const uint32_t span = e.DataOffset - e.NameOffset;
    const size_t got = e.NameOffset < namesBytes ? std::min<size_t>(span, namesBytes - e.NameOffset) : 0;
    const std::unique_ptr<char[]> name = ExactCopy(names + std::min<size_t>(e.NameOffset, namesBytes), got);
    const bool terminated = NameIsTerminated(name.get(), static_cast<uint32_t>(got));
    FUZZ_EXPECT(terminated == (memchr(name.get(), 0, got) != nullptr),
                "NameIsTerminated over " + std::to_string(got) + " bytes");
    if (terminated) CheckName(name.get());
  }

  // Every zero-terminated piece of the names region as a name of its own.
  for (size_t start = 0; start < namesBytes;) {
    const uint8_t* zero = static_cast<const uint8_t*>(memchr(names + start, 0, namesBytes - start));
    if (zero == nullptr) break;
    const size_t length = static_cast<size_t>(zero - names) - start + 1;
    CheckName(ExactCopy(names + start, length).get());
    start += length;
  }
  return 0;
}
