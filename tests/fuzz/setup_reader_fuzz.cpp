// zqpack's SetupReader, which runs the program's checks in the program's
// order, over arbitrary bytes behind a 32768-byte program proper.  It must
// never crash, hang or read out of bounds; what it accepts must hold what the
// checks promise; and extracting an accepted setup writes only plain names
// into the folder, each with the contents its entry names.
// The input's layout is in reader_input.h.
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bytes.h"
#include "deflater.h"
#include "errors.h"
#include "fixture.h"
#include "payload/checksum.h"
#include "payload/filename.h"
#include "payload/limits.h"
#include "reader_input.h"
#include "setup_reader.h"
#include "support.h"

namespace {

// Far beyond what an input of a few KB inflates to.
constexpr size_t kMaxInflatedBytes = size_t(256) << 20;

size_t TableEnd(const std::vector<uint8_t>& file, const PayloadHeader& h) {
  if (!EntryCountFitsLimits(h.EntryCount)) return kTableOffset;
  return std::min<size_t>(file.size(), kTableOffset + EntryTableBytes(h.EntryCount));
}

// Every byte the stream behind the table yields, inflated here in one go,
// independently of the reader's chunked loop.
std::vector<uint8_t> InflateStream(const std::vector<uint8_t>& file, const PayloadHeader& h) {
  const size_t start = TableEnd(file, h);
  const size_t length = std::min<size_t>(h.CompressedSize, file.size() - start);
  std::vector<uint8_t> out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return out;
  z.next_in = const_cast<Bytef*>(file.data() + start);
  z.avail_in = static_cast<uInt>(length);
  uint8_t chunk[16384];
  for (;;) {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    const int rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    if (rc != Z_OK || z.avail_out == sizeof chunk || out.size() > kMaxInflatedBytes) break;
  }
  inflateEnd(&z);
  return out;
}

std::vector<uint8_t> BuildSetup(const uint8_t* data, size_t size) {
  const uint8_t flags = data[0];
  static const std::vector<uint8_t> kProgramProper = zqfixture::FillerStub();
  std::vector<uint8_t> file = kProgramProper;
  file.insert(file.end(), data + 1, data + size);
  if (file.size() < kTableOffset) return file;
  PayloadHeader h = DecodeHeader(&file[kStubBytes]);
  const size_t tableEnd = TableEnd(file, h);
  if (flags & kDeflateBody) {
    std::vector<uint8_t> body(file.begin() + static_cast<long>(tableEnd), file.end());
    if ((flags & kLongBody) && !body.empty()) {
      const std::vector<uint8_t> once(body);
      while (body.size() < kLongBodyBytes) body.insert(body.end(), once.begin(), once.end());
    }
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
  EncodeHeader(h, &file[kStubBytes]);
  return file;
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
  return "stage " + std::to_string(static_cast<int>(r.verdict.stage)) + " \"" + Printable(r.verdict.text) + "\" (" +
         Printable(r.verdict.reason) + ")";
}

// What an accepted setup promises about its header, its table and its names,
// checked against an inflation of our own: the reader's data is a prefix of
// everything the stream yields.
void CheckAccepted(const std::vector<uint8_t>& file, const SetupReport& r, std::vector<uint8_t>* data) {
  const PayloadHeader& h = r.header;
  FUZZ_EXPECT(file.size() >= kMinFileBytes && h.Signature == kPayloadSignature, Describe(r));
  FUZZ_EXPECT(
      EntryCountFitsLimits(h.EntryCount) && r.table.size() == size_t(h.EntryCount) && r.names.size() == r.table.size(),
      Describe(r) + ", EntryCount " + std::to_string(h.EntryCount));
  FUZZ_EXPECT(ComputeStubChecksum(file.data()) == h.StubChecksum, Describe(r));
  FUZZ_EXPECT(h.InflatedSize != 0 || r.inflatedBytes == 0, "InflatedSize 0 with data accepted");
  *data = InflateStream(file, h);
  FUZZ_EXPECT(r.inflatedBytes <= data->size(), std::to_string(r.inflatedBytes) + " bytes inflated by the reader, " +
                                                   std::to_string(data->size()) + " by zlib at once");
  data->resize(r.inflatedBytes);
  FUZZ_EXPECT(PayloadChecksum(kPayloadSignature, data->data(), data->size()) == h.DataChecksum,
              "DataChecksum does not match the accepted data");
  for (size_t i = 0; i < r.table.size(); ++i) {
    const PayloadEntry& e = r.table[i];
    const std::string which = "entry " + std::to_string(i) + " \"" + Printable(r.names[i]) + "\"";
    FUZZ_EXPECT(NameSpanFitsLimits(e) && e.NameOffset < data->size(), which);
    const size_t spanEnd = std::min<size_t>(data->size(), size_t(e.NameOffset) + (e.DataOffset - e.NameOffset));
    const auto zero = std::find(data->begin() + e.NameOffset, data->begin() + static_cast<long>(spanEnd), 0);
    FUZZ_EXPECT(zero != data->begin() + static_cast<long>(spanEnd), which + ": no zero within the span");
    FUZZ_EXPECT(std::string(data->begin() + e.NameOffset, zero) == r.names[i], which + ": not the name in the data");
    FUZZ_EXPECT(IsPlainFileName(r.names[i].c_str()), which + ": not a plain file name");
    FUZZ_EXPECT(e.DataSize == 0 || uint64_t(e.DataOffset) + e.DataSize <= data->size(),
                which + ": contents past the data");
  }
}

// Extraction writes one plain, complete file per stored name, holding the
// contents of the last entry of that name (of some entry of that name when
// zqpack stops at a name the host cannot create).
void CheckExtraction(SetupReader& reader, const SetupReport& r, const std::vector<uint8_t>& data,
                     const std::string& out) {
  bool stopped = false;
  std::string why;
  std::vector<std::string> written;
  try {
    written = reader.ExtractTo(out);
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
  // Linux keeps names to 255 bytes, and zqpack's temporary name adds 8.
  FUZZ_EXPECT(!stopped || longest > 247, "extraction stopped: " + Printable(why));

  std::vector<std::string> notFiles;
  const std::vector<std::string> files = FolderEntries(out, &notFiles);
  FUZZ_EXPECT(notFiles.empty(), "extraction made " + Printable(notFiles.front()));
  for (const std::string& name : files) {
    const auto found = entriesByName.find(name);
    FUZZ_EXPECT(found != entriesByName.end() && IsPlainFileName(name.c_str()),
                "extraction made \"" + Printable(name) + "\", which no entry names");
    const std::vector<uint8_t> contents = zqfixture::ReadFileBytes(out + "/" + name);
    bool matches = false;
    for (const size_t i : found->second) {
      if (!stopped && i != found->second.back()) continue;
      const PayloadEntry& e = r.table[i];
      const size_t begin = e.DataSize == 0 ? 0 : e.DataOffset;
      matches |= std::equal(contents.begin(), contents.end(), data.begin() + static_cast<long>(begin),
                            data.begin() + static_cast<long>(begin + e.DataSize));
    }
    FUZZ_EXPECT(matches, "\"" + Printable(name) + "\" does not hold its entry's contents");
  }
  if (stopped) return;
  FUZZ_EXPECT(files.size() == entriesByName.size() && written.size() == r.names.size(),
              std::to_string(files.size()) + " files for " + std::to_string(entriesByName.size()) + " names");
  for (const std::string& path : written)
    FUZZ_EXPECT(std::filesystem::path(path).parent_path() == std::filesystem::path(out), "wrote " + path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const std::string dataDir = FreshFolder("setup_reader", "data");
  static MemoryFile setup;
  const std::vector<uint8_t> file = BuildSetup(data, size);
  setup.Replace(file.data(), file.size());
  SetupReport report;
  {
    SetupReader reader(setup.path(), dataDir);
    try {
      report = reader.Check();
    } catch (const ZqError& e) {
      FUZZ_EXPECT(false, std::string("Check() threw: ") + e.what());
    }
    const Verdict& v = report.verdict;
    FUZZ_EXPECT(MessageFitsStage(v.stage, v.message), Describe(report));
    FUZZ_EXPECT(v.accepted() || (!v.text.empty() && v.text.size() <= 1023), Describe(report));
    FUZZ_EXPECT((file.size() < kMinFileBytes) == (v.stage == ReadStage::FileSize), Describe(report));
    if (v.accepted()) {
      std::vector<uint8_t> inflated;
      CheckAccepted(file, report, &inflated);
      CheckExtraction(reader, report, inflated, FreshFolder("setup_reader", "out"));
    }
  }
  // The scratch copy of the inflated data exists only from the inflation on.
  if (report.verdict.stage >= ReadStage::Inflate)
    FUZZ_EXPECT(FolderEntries(dataDir).empty(), "the reader left " + FolderEntries(dataDir).front() + " behind");
  return 0;
}
