// zqpack's SetupReader, which runs the program's own checks, over arbitrary
// bytes behind a 32768-byte program proper: it never crashes, hangs or reads
// out of bounds; what it accepts holds what the checks promise, against
// zlib's own inflation; extracting it writes only plain names, each with its
// entry's contents.  The same bytes as the start of a program proper check
// StubChecksum's PE reading.  Input: one flags byte (they let the fuzzer reach
// the split without forging checksums), then the bytes behind the program proper.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bytes.h"
#include "deflater.h"
#include "fileio.h"
#include "fixture.h"
#include "format/checksum.h"
#include "format/filename.h"
#include "format/limits.h"
#include "setup_reader.h"

namespace fs = std::filesystem;

namespace {

enum Flags : uint8_t {
  kFixStubChecksum = 1,
  kFixTableChecksum = 2,
  kFixDataChecksum = 4,
  kDeflateBody = 8,  // the bytes behind the table are the inflated data, deflated here
  kKeepSizes = 16,   // with kDeflateBody: CompressedSize and InflatedSize as given, not the real ones
  kLevelShift = 5,   // bits 5 and 6, times 3: the compression level for kDeflateBody
  kLongBody = 128,   // with kDeflateBody: the data repeated to 200000 bytes, for several 64 KiB chunks
};

// A broken invariant aborts, so that libFuzzer keeps the input.
void Expect(bool holds, int line, const char* condition) {
  if (holds) return;
  fprintf(stderr, "\n%s:%d: invariant broken: %s\n", __FILE__, line, condition);
  abort();
}
#define FUZZ_EXPECT(condition) Expect((condition), __LINE__, #condition)

size_t TableEnd(const std::vector<uint8_t>& file, const PayloadHeader& h) {
  if (!EntryCountFitsLimits(h.EntryCount)) return kTableOffset;
  return std::min<size_t>(file.size(), kTableOffset + EntryTableBytes(h.EntryCount));
}

// Every byte the stream behind the table yields (at most 256 MiB), inflated
// independently of the reader's chunked loop.
std::vector<uint8_t> InflateStream(const std::vector<uint8_t>& file, const PayloadHeader& h) {
  const size_t start = TableEnd(file, h);
  std::vector<uint8_t> out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return out;
  z.next_in = const_cast<Bytef*>(file.data() + start);
  z.avail_in = static_cast<uInt>(std::min<size_t>(h.CompressedSize, file.size() - start));
  uint8_t chunk[16384];
  for (int rc = Z_OK; rc == Z_OK && out.size() <= (size_t(256) << 20);) {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    if (z.avail_out == sizeof chunk) break;
  }
  inflateEnd(&z);
  return out;
}

std::vector<uint8_t> BuildSetup(const uint8_t* data, size_t size) {
  const uint8_t flags = data[0];
  std::vector<uint8_t> file = zqfixture::FillerProgram();
  file.insert(file.end(), data + 1, data + size);
  if (file.size() < kTableOffset) return file;
  PayloadHeader h = DecodeHeader(&file[kProgramBytes]);
  const size_t tableEnd = TableEnd(file, h);
  if (flags & kDeflateBody) {
    std::vector<uint8_t> body(file.begin() + static_cast<long>(tableEnd), file.end());
    for (const std::vector<uint8_t> once(body); (flags & kLongBody) && !once.empty() && body.size() < 200000;)
      body.insert(body.end(), once.begin(), once.end());
    const std::vector<uint8_t> stream = DeflateBytes(body, ((flags >> kLevelShift) & 3) * 3);
    file.resize(tableEnd);
    file.insert(file.end(), stream.begin(), stream.end());
    if (!(flags & kKeepSizes)) {
      h.CompressedSize = static_cast<uint32_t>(stream.size());
      h.InflatedSize = static_cast<uint32_t>(body.size());
    }
  }
  if (flags & kFixStubChecksum) h.StubChecksum = ComputeStubChecksum(file.data());
  if (flags & kFixTableChecksum)
    h.TableChecksum = PayloadChecksum(kPayloadSignature, &file[kTableOffset], tableEnd - kTableOffset);
  if (flags & kFixDataChecksum) {
    const std::vector<uint8_t> inflated = InflateStream(file, h);
    h.DataChecksum = PayloadChecksum(kPayloadSignature, inflated.data(), inflated.size());
  }
  EncodeHeader(h, &file[kProgramBytes]);
  return file;
}

// The input as the start of a program proper: the fields signing rewrites lie
// inside it and apart, and they are the only bytes StubChecksum leaves out.
void CheckStubChecksum(const uint8_t* data, size_t size) {
  std::vector<uint8_t> stub(kProgramBytes), cleared;
  memcpy(stub.data(), data, std::min<size_t>(size, kProgramBytes));
  cleared = stub;
  SignedFields f{};
  if (FindSignedFields(stub.data(), &f)) {
    FUZZ_EXPECT(f.CheckSumAt + kCheckSumBytes <= f.CertTableAt && f.CertTableAt + kCertEntryBytes <= kProgramBytes);
    std::fill_n(&cleared[f.CheckSumAt], kCheckSumBytes, 0);
    std::fill_n(&cleared[f.CertTableAt], kCertEntryBytes, 0);
  }
  FUZZ_EXPECT(ComputeStubChecksum(stub.data()) == PayloadChecksum(kPayloadSignature, cleared.data(), kProgramBytes));
}

// What an accepted setup promises about its header, table and names; the
// reader's data is a prefix of everything the stream yields.
std::vector<uint8_t> CheckAccepted(const std::vector<uint8_t>& file, const SetupReport& r) {
  const PayloadHeader& h = r.header;
  FUZZ_EXPECT(file.size() >= kMinFileBytes && h.Signature == kPayloadSignature &&
              ComputeStubChecksum(file.data()) == h.StubChecksum && EntryCountFitsLimits(h.EntryCount) &&
              r.table.size() == size_t(h.EntryCount) && r.names.size() == r.table.size() &&
              (h.InflatedSize != 0 || r.inflatedBytes == 0));
  std::vector<uint8_t> data = InflateStream(file, h);
  FUZZ_EXPECT(r.inflatedBytes <= data.size());
  data.resize(r.inflatedBytes);
  FUZZ_EXPECT(PayloadChecksum(kPayloadSignature, data.data(), data.size()) == h.DataChecksum);
  for (size_t i = 0; i < r.table.size(); ++i) {
    const PayloadEntry& e = r.table[i];
    FUZZ_EXPECT(NameSpanFitsLimits(e) && e.NameOffset < data.size() && IsPlainFileName(r.names[i].c_str()) &&
                (e.DataSize == 0 || uint64_t(e.DataOffset) + e.DataSize <= data.size()));
    const auto name = data.begin() + e.NameOffset, spanEnd = data.begin() + std::min<size_t>(data.size(), e.DataOffset);
    FUZZ_EXPECT(std::find(name, spanEnd, 0) != spanEnd && std::string(name, std::find(name, spanEnd, 0)) == r.names[i]);
  }
  return data;
}

// One plain, complete file per stored name, holding the contents of the last
// entry of that name (not for a name the host cannot create: Linux keeps names
// to 255 bytes, the temporary name adds 8).  A ZqError ends the run as a crash.
void CheckExtraction(SetupReader& reader, const SetupReport& r, const std::vector<uint8_t>& data,
                     const std::string& out) {
  std::map<std::string, size_t> last;  // stored name -> its last entry
  for (size_t i = 0; i < r.names.size(); ++i) {
    if (WindowsStoredName(r.names[i]).size() > 247) return;
    last[WindowsStoredName(r.names[i])] = i;
  }
  reader.ExtractTo(out);
  size_t files = 0;
  for (const fs::directory_entry& file : fs::directory_iterator(out)) {
    const std::string name = file.path().filename().string();
    const auto found = last.find(name);
    FUZZ_EXPECT(file.is_regular_file() && found != last.end() && IsPlainFileName(name.c_str()));
    const PayloadEntry& e = r.table[found->second];
    const std::vector<uint8_t> contents = ReadWholeFile(file.path().string());
    const auto begin = data.begin() + (e.DataSize == 0 ? 0 : e.DataOffset);
    FUZZ_EXPECT(std::equal(contents.begin(), contents.end(), begin, begin + e.DataSize));
    ++files;
  }
  FUZZ_EXPECT(files == last.size());
}

// <ZQ_FUZZ_TEMP>/setup_reader-<pid>/<name>, empty; all of it goes at exit.
std::string FreshFolder(const std::string& name) {
  static const std::string root = ZQ_FUZZ_TEMP "/setup_reader-" + std::to_string(getpid());
  static const int removed = atexit([] { fs::remove_all(root); });
  (void)removed;
  fs::remove_all(root + "/" + name);
  fs::create_directories(root + "/" + name);
  return root + "/" + name;
}

}  // namespace

// AddressSanitizer keeps 256 MB of freed memory out of use by default, which
// with the reader's 64 and 128 KiB buffers makes every run four times slower.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  CheckStubChecksum(data + 1, size - 1);
  static const std::string dataDir = FreshFolder("data"), setupPath = FreshFolder("in") + "/setup.exe";
  const std::vector<uint8_t> file = BuildSetup(data, size);
  zqfixture::WriteFileBytes(setupPath, file);
  {
    SetupReader reader(setupPath, dataDir);
    const SetupReport report = reader.Check();  // a ZqError ends the run as a crash
    const Verdict& v = report.verdict;
    FUZZ_EXPECT(v.accepted() == (v.message == MSG_COUNT) && (v.accepted() || v.text.size() - 1 < 1023) &&
                (file.size() < kMinFileBytes) == (v.stage == ReadStage::FileSize));
    if (v.accepted()) CheckExtraction(reader, report, CheckAccepted(file, report), FreshFolder("out"));
  }
  // The scratch copy of the inflated data exists only while the reader does.
  FUZZ_EXPECT(fs::is_empty(dataDir));
  return 0;
}
