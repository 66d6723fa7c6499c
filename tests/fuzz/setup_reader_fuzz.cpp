// zqpack's SetupReader, which runs the program's own checks (payload/
// validity.h) in the program's order, over arbitrary bytes behind a
// 32768-byte program proper.  It must never crash, hang or read out of
// bounds; it ends with a message its check may give; what it accepts holds
// what the checks promise, against zlib's own inflation; extracting it writes
// only plain names into the folder, each with its entry's contents.  The same
// bytes as the start of a program proper check the StubChecksum's PE reading.
//
// Input: one flags byte, then the bytes behind the program proper.  The flags
// let the fuzzer reach the split without forging checksums.
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
#include "errors.h"
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

// A broken invariant: printed with what was seen, then abort, so that
// libFuzzer keeps the input.
#define FUZZ_EXPECT(condition, seen)                                                                 \
  do {                                                                                               \
    if (!(condition)) {                                                                              \
      fprintf(stderr, "\n%s:%d: invariant broken: %s\n  seen: %s\n", __FILE__, __LINE__, #condition, \
              std::string(seen).c_str());                                                            \
      abort();                                                                                       \
    }                                                                                                \
  } while (0)

size_t TableEnd(const std::vector<uint8_t>& file, const PayloadHeader& h) {
  if (!EntryCountFitsLimits(h.EntryCount)) return kTableOffset;
  return std::min<size_t>(file.size(), kTableOffset + EntryTableBytes(h.EntryCount));
}

// Every byte the stream behind the table yields (at most 256 MiB), inflated
// in one go, independently of the reader's chunked loop.
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

// The input's bytes as the start of a program proper, zeros behind them: the
// fields signing rewrites lie inside it and apart, and they are the only
// bytes StubChecksum leaves out.
void CheckStubChecksum(const uint8_t* data, size_t size) {
  std::vector<uint8_t> stub(kProgramBytes);
  memcpy(stub.data(), data, std::min<size_t>(size, kProgramBytes));
  std::vector<uint8_t> cleared = stub;
  SignedFields f{};
  if (FindSignedFields(stub.data(), &f)) {
    FUZZ_EXPECT(f.CheckSumAt + kCheckSumBytes <= f.CertTableAt && f.CertTableAt + kCertEntryBytes <= kProgramBytes,
                std::to_string(f.CheckSumAt) + ", " + std::to_string(f.CertTableAt));
    std::fill_n(&cleared[f.CheckSumAt], kCheckSumBytes, 0);
    std::fill_n(&cleared[f.CertTableAt], kCertEntryBytes, 0);
  }
  FUZZ_EXPECT(ComputeStubChecksum(stub.data()) == PayloadChecksum(kPayloadSignature, cleared.data(), kProgramBytes),
              "the stub checksum leaves out other bytes than the signed fields");
}

// The messages each check may end with.
bool MessageFitsStage(ReadStage stage, MessageId m) {
  static const std::map<ReadStage, std::vector<MessageId>> kMessages = {
      {ReadStage::FileSize, {MSG_BAD_FILE_SIZE}},
      {ReadStage::Header, {MSG_READ_INSTALLER}},
      {ReadStage::Signature, {MSG_BAD_SIGNATURE}},
      {ReadStage::StubChecksum, {MSG_BAD_STUB_CRC}},
      {ReadStage::TableLimits, {MSG_INVALID_DATA}},
      {ReadStage::Table, {MSG_READ_INSTALLER}},
      {ReadStage::TableChecksum, {MSG_BAD_TABLE_CRC}},
      {ReadStage::Inflate, {MSG_READ_INSTALLER, MSG_EXTRACT_FAILED, MSG_INVALID_DATA}},
      {ReadStage::DataChecksum, {MSG_BAD_DATA_CRC}},
      {ReadStage::Split, {MSG_INVALID_DATA, MSG_READ_TEMPORARY}},
      {ReadStage::Accepted, {MSG_COUNT}},
  };
  const std::vector<MessageId>& allowed = kMessages.at(stage);
  return std::find(allowed.begin(), allowed.end(), m) != allowed.end();
}

std::string Describe(const SetupReport& r) {
  return "stage " + std::to_string(static_cast<int>(r.verdict.stage)) + " \"" + r.verdict.text + "\"";
}

// What an accepted setup promises about its header, table and names; the
// reader's data is a prefix of everything the stream yields.
std::vector<uint8_t> CheckAccepted(const std::vector<uint8_t>& file, const SetupReport& r) {
  const PayloadHeader& h = r.header;
  FUZZ_EXPECT(file.size() >= kMinFileBytes && h.Signature == kPayloadSignature, Describe(r));
  FUZZ_EXPECT(
      EntryCountFitsLimits(h.EntryCount) && r.table.size() == size_t(h.EntryCount) && r.names.size() == r.table.size(),
      Describe(r) + ", EntryCount " + std::to_string(h.EntryCount));
  FUZZ_EXPECT(ComputeStubChecksum(file.data()) == h.StubChecksum, Describe(r));
  FUZZ_EXPECT(h.InflatedSize != 0 || r.inflatedBytes == 0, "InflatedSize 0 with data accepted");
  std::vector<uint8_t> data = InflateStream(file, h);
  FUZZ_EXPECT(r.inflatedBytes <= data.size(), std::to_string(r.inflatedBytes) + " bytes inflated by the reader, " +
                                                  std::to_string(data.size()) + " by zlib at once");
  data.resize(r.inflatedBytes);
  FUZZ_EXPECT(PayloadChecksum(kPayloadSignature, data.data(), data.size()) == h.DataChecksum, "DataChecksum");
  for (size_t i = 0; i < r.table.size(); ++i) {
    const PayloadEntry& e = r.table[i];
    const std::string which = "entry " + std::to_string(i) + " \"" + r.names[i] + "\"";
    FUZZ_EXPECT(NameSpanFitsLimits(e) && e.NameOffset < data.size(), which);
    const auto begin = data.begin() + e.NameOffset;
    const auto spanEnd = data.begin() + std::min<size_t>(data.size(), size_t(e.DataOffset));
    const auto zero = std::find(begin, spanEnd, 0);
    FUZZ_EXPECT(zero != spanEnd && std::string(begin, zero) == r.names[i], which + ": not the name in the data");
    FUZZ_EXPECT(IsPlainFileName(r.names[i].c_str()), which + ": not a plain file name");
    FUZZ_EXPECT(e.DataSize == 0 || uint64_t(e.DataOffset) + e.DataSize <= data.size(), which + ": past the data");
  }
  return data;
}

// One plain, complete file per stored name, holding the contents of the last
// entry of that name (of some entry of it when zqpack stops at a name the
// host cannot create: Linux keeps names to 255 bytes, the temporary name adds 8).
void CheckExtraction(SetupReader& reader, const SetupReport& r, const std::vector<uint8_t>& data,
                     const std::string& out) {
  bool stopped = false;
  std::string why;
  try {
    reader.ExtractTo(out);
  } catch (const ZqError& e) {
    stopped = true;
    why = e.what();
  }
  std::map<std::string, std::vector<size_t>> entriesByName;  // stored name -> entries, in table order
  size_t longest = 0;
  for (size_t i = 0; i < r.names.size(); ++i) {
    const std::string stored = WindowsStoredName(r.names[i]);
    entriesByName[stored].push_back(i);
    longest = std::max(longest, stored.size());
  }
  FUZZ_EXPECT(!stopped || longest > 247, "extraction stopped: " + why);
  size_t files = 0;
  for (const fs::directory_entry& file : fs::directory_iterator(out)) {
    const std::string name = file.path().filename().string();
    const auto found = entriesByName.find(name);
    FUZZ_EXPECT(file.is_regular_file() && found != entriesByName.end() && IsPlainFileName(name.c_str()),
                "extraction made \"" + name + "\", which no entry names");
    const std::vector<uint8_t> contents = zqfixture::ReadFileBytes(file.path().string());
    bool matches = false;
    for (const size_t i : found->second) {
      const PayloadEntry& e = r.table[i];
      const auto begin = data.begin() + (e.DataSize == 0 ? 0 : e.DataOffset);
      matches |= (stopped || i == found->second.back()) &&
                 std::equal(contents.begin(), contents.end(), begin, begin + e.DataSize);
    }
    FUZZ_EXPECT(matches, "\"" + name + "\" does not hold its entry's contents");
    ++files;
  }
  FUZZ_EXPECT(stopped || files == entriesByName.size(), std::to_string(files) + " files");
}

// <ZQ_FUZZ_TEMP>/setup_reader-<pid>/<name>, empty; all of it goes at exit.
std::string FreshFolder(const std::string& name) {
  static const std::string root = [] {
    const char* parent = getenv("ZQ_FUZZ_TEMP");
    static std::string path =
        std::string(parent && *parent ? parent : ZQ_FUZZ_TEMP) + "/setup_reader-" + std::to_string(getpid());
    atexit([] { fs::remove_all(path); });
    return path;
  }();
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
  SetupReport report;
  {
    SetupReader reader(setupPath, dataDir);
    try {
      report = reader.Check();
    } catch (const ZqError& e) {
      FUZZ_EXPECT(false, std::string("Check() threw: ") + e.what());
    }
    const Verdict& v = report.verdict;
    FUZZ_EXPECT(MessageFitsStage(v.stage, v.message), Describe(report));
    FUZZ_EXPECT(v.accepted() || (!v.text.empty() && v.text.size() <= 1023), Describe(report));
    FUZZ_EXPECT((file.size() < kMinFileBytes) == (v.stage == ReadStage::FileSize), Describe(report));
    if (v.accepted()) CheckExtraction(reader, report, CheckAccepted(file, report), FreshFolder("out"));
  }
  // The scratch copy of the inflated data exists only while the reader does.
  FUZZ_EXPECT(fs::is_empty(dataDir), "the reader left a file behind");
  return 0;
}
