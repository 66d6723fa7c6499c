#include "setup_reader.h"

#include <stdio.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include "bytes.h"
#include "errors.h"
#include "payload/checksum.h"
#include "payload/limits.h"

namespace fs = std::filesystem;

// The program's ErrorText buffer holds 1023 characters and the terminator.
static constexpr size_t kErrorTextChars = 1023;

std::string ProgramMessage(MessageId id, uint32_t osCode, const std::string& path) {
  const std::string pattern = Messages[id];
  const bool hasOsCode = pattern.find("%08X") != std::string::npos;
  std::string text;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.compare(i, 4, "%08X") == 0) {
      char code[9];
      snprintf(code, sizeof code, "%08X", static_cast<unsigned>(osCode));
      text += code;
      i += 3;
    } else if (pattern.compare(i, 2, "%s") == 0) {
      text += hasOsCode ? path : std::string(Messages[MSG_MAY_BE_CORRUPTED]);
      i += 1;
    } else {
      text += pattern[i];
    }
  }
  if (text.size() > kErrorTextChars) text.resize(kErrorTextChars);
  return text;
}

std::string DescribeSignature(const SetupReport& r) {
  const CertTable& cert = r.certTable;
  if (!cert.present) return "none";
  const uint64_t end = uint64_t(cert.offset) + cert.bytes;
  std::string text =
      std::to_string(cert.bytes) + " bytes at " + std::to_string(cert.offset) + " to " + std::to_string(end - 1);
  if (end > r.fileBytes) return text + ", past the end of the file (" + std::to_string(r.fileBytes) + " bytes)";
  if (r.payloadEnd == 0) return text + ", the payload's end unknown";
  if (cert.offset < r.payloadEnd)
    return text + ", INSIDE the payload (which ends at " + std::to_string(r.payloadEnd - 1) + ")";
  return text + ", behind the payload (which ends at " + std::to_string(r.payloadEnd - 1) + ")";
}

bool SignatureSitsBehindPayload(const SetupReport& r) {
  const CertTable& cert = r.certTable;
  return cert.present && r.payloadEnd != 0 && cert.offset >= r.payloadEnd &&
         uint64_t(cert.offset) + cert.bytes <= r.fileBytes;
}

// inflateEnd on every way out.
namespace {
struct InflateStream {
  z_stream z{};
  InflateStream() { inflateInit(&z); }  // like the program: result not examined
  ~InflateStream() { inflateEnd(&z); }
};
}  // namespace

SetupReader::SetupReader(const std::string& path, const std::string& dataDir) : path_(path), dataDir_(dataDir) {}

bool SetupReader::Fail(ReadStage stage, MessageId message, std::string reason, int entry) {
  Verdict& v = report_.verdict;
  v.stage = stage;
  v.message = message;
  // Short reads leave the OS code at 0: the program shows 00000000.
  v.text = ProgramMessage(message);
  v.reason = std::move(reason);
  v.entry = entry;
  return false;
}

const SetupReport& SetupReader::Check() {
  report_ = SetupReport();
  setup_ = File::OpenForReading(path_);
  if (CheckHeaderAndTable() && InflateToData() && CheckEntries()) report_.verdict.stage = ReadStage::Accepted;
  return report_;
}

bool SetupReader::CheckHeaderAndTable() {
  report_.fileBytes = setup_.Size();
  // GetFileSize without its high part: only the low 32 bits count.
  const uint32_t size = static_cast<uint32_t>(report_.fileBytes);
  if (size < kMinFileBytes)
    return Fail(
        ReadStage::FileSize, MSG_BAD_FILE_SIZE,
        "the file has " + std::to_string(size) + " bytes, at least " + std::to_string(kMinFileBytes) + " are needed");

  std::vector<uint8_t> stub(kStubBytes);
  uint8_t headerBytes[kHeaderBytes];
  if (setup_.Read(stub.data(), stub.size()) != stub.size() ||
      setup_.Read(headerBytes, sizeof headerBytes) != sizeof headerBytes)
    return Fail(ReadStage::Header, MSG_READ_INSTALLER, "the file ends inside the program proper or the header");
  report_.headerRead = true;
  const PayloadHeader& h = report_.header = DecodeHeader(headerBytes);
  SignedFields fields;
  if (FindSignedFields(stub.data(), &fields)) {
    CertTable& cert = report_.certTable;
    cert.offset = GetLe32(&stub[fields.CertTableAt]);
    cert.bytes = GetLe32(&stub[fields.CertTableAt + 4]);
    cert.present = cert.bytes != 0;
  }

  if (h.Signature != kPayloadSignature) {
    char found[64];
    snprintf(found, sizeof found, "the signature is 0x%08X, not 0x%08X", static_cast<unsigned>(h.Signature),
             static_cast<unsigned>(kPayloadSignature));
    return Fail(ReadStage::Signature, MSG_BAD_SIGNATURE, found);
  }
  if (EntryCountFitsLimits(h.EntryCount))
    report_.payloadEnd = uint64_t(kTableOffset) + EntryTableBytes(h.EntryCount) + h.CompressedSize;
  report_.stubChecked = true;
  report_.stubChecksum = ComputeStubChecksum(stub.data());
  // Programs proper built before setups became signable count every byte,
  // and ld had filled in their PE CheckSum: an unsigned setup of theirs
  // matches only that way, and its program does check it that way.  Today's
  // programs proper hold zeros there, so both sums agree for them.
  if (report_.stubChecksum != h.StubChecksum && !report_.certTable.present &&
      PayloadChecksum(kPayloadSignature, stub.data(), stub.size()) == h.StubChecksum)
    report_.stubChecksumOverEveryByte = true;
  else if (report_.stubChecksum != h.StubChecksum)
    return Fail(ReadStage::StubChecksum, MSG_BAD_STUB_CRC,
                "the program proper is not the one this payload was packed with");

  if (!EntryCountFitsLimits(h.EntryCount))
    return Fail(ReadStage::TableLimits, MSG_INVALID_DATA,
                "EntryCount " + std::to_string(h.EntryCount) + " is not 0 to " + std::to_string(kMaxEntryCount));
  std::vector<uint8_t> tableBytes(EntryTableBytes(h.EntryCount));
  if (setup_.Read(tableBytes.data(), tableBytes.size()) != tableBytes.size())
    return Fail(ReadStage::Table, MSG_READ_INSTALLER,
                "the file ends inside the entry table of " + std::to_string(h.EntryCount) + " entries");
  report_.tableRead = true;
  for (size_t i = 0; i < tableBytes.size(); i += kEntryBytes) report_.table.push_back(DecodeEntry(&tableBytes[i]));
  report_.tableChecksum = PayloadChecksum(kPayloadSignature, tableBytes.data(), tableBytes.size());
  if (report_.tableChecksum != h.TableChecksum)
    return Fail(ReadStage::TableChecksum, MSG_BAD_TABLE_CRC, "the entry table does not match TableChecksum");
  return true;
}

// The program's inflation loop: 65536-byte input chunks, a fresh 65536-byte
// output space per inflate call, a chunk left as soon as a call yields nothing.
bool SetupReader::InflateToData() {
  const PayloadHeader& h = report_.header;
  data_ = File::CreateAnonymous(dataDir_);
  std::vector<uint8_t> in(kInputChunkBytes);
  std::vector<uint8_t> out(kOutputChunkBytes);
  InflateStream stream;
  z_stream& z = stream.z;
  uint32_t running = kPayloadSignature;
  uint64_t total = 0;
  uint32_t remaining = h.CompressedSize;
  while (remaining > 0) {
    const size_t got = setup_.Read(in.data(), std::min<uint32_t>(remaining, kInputChunkBytes));
    if (got == 0)
      return Fail(ReadStage::Inflate, MSG_READ_INSTALLER,
                  "the file ends " + std::to_string(remaining) + " bytes before CompressedSize does");
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(got);
    for (;;) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      const int rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_STREAM_ERROR || rc == Z_DATA_ERROR || rc == Z_NEED_DICT)
        return Fail(ReadStage::Inflate, MSG_EXTRACT_FAILED,
                    rc == Z_NEED_DICT ? std::string("the stream asks for a preset dictionary")
                                      : "zlib: " + std::string(z.msg != nullptr ? z.msg : "stream error") + " after " +
                                            std::to_string(total) + " inflated bytes");
      const size_t produced = out.size() - z.avail_out;
      if (produced == 0) break;
      if (h.InflatedSize == 0)
        return Fail(ReadStage::Inflate, MSG_INVALID_DATA, "InflatedSize is 0 while the stream yields data");
      running = PayloadChecksum(running, out.data(), produced);
      data_.Write(out.data(), produced);
      total += produced;
      if (rc == Z_BUF_ERROR || z.avail_in == 0) break;
    }
    remaining -= static_cast<uint32_t>(got);
    if (progress_) progress_(h.CompressedSize - remaining, h.CompressedSize);
  }
  report_.inflated = true;
  report_.inflatedBytes = total;
  report_.dataChecksum = running;
  if (running != h.DataChecksum)
    return Fail(ReadStage::DataChecksum, MSG_BAD_DATA_CRC, "the inflated data does not match DataChecksum");
  return true;
}

// The split's tests, entry by entry in table order, as the program meets
// them: the name's span, its zero, a plain name, then contents that lie
// within the inflated data.
bool SetupReader::CheckEntries() {
  const uint64_t total = report_.inflatedBytes;
  std::vector<char> name;
  for (size_t i = 0; i < report_.table.size(); ++i) {
    const PayloadEntry& e = report_.table[i];
    const int index = static_cast<int>(i);
    const std::string which = "entry " + std::to_string(i + 1);
    if (!NameSpanFitsLimits(e))
      return Fail(ReadStage::Split, MSG_INVALID_DATA,
                  which + ": a name of " + std::to_string(static_cast<int64_t>(e.DataOffset) - e.NameOffset) +
                      " bytes (NameOffset " + std::to_string(e.NameOffset) + ", DataOffset " +
                      std::to_string(e.DataOffset) + ")",
                  index);
    const uint32_t span = e.DataOffset - e.NameOffset;
    // A read beyond the end of the data file yields what is there: maybe nothing.
    const uint64_t available = e.NameOffset < total ? std::min<uint64_t>(span, total - e.NameOffset) : 0;
    name.assign(available + 1, 0);
    if (available > 0) {
      data_.Seek(e.NameOffset);
      data_.Read(name.data(), available);
    }
    if (!NameIsTerminated(name.data(), static_cast<uint32_t>(available)))
      return Fail(ReadStage::Split, MSG_INVALID_DATA, which + ": the name has no terminating zero byte", index);
    if (!IsPlainFileName(name.data()))
      return Fail(ReadStage::Split, MSG_INVALID_DATA,
                  which + ": \"" + std::string(name.data()) + "\" is not a plain file name", index);
    report_.names.push_back(name.data());
    if (e.DataSize > 0 && (e.DataOffset >= total || e.DataSize > total - e.DataOffset))
      return Fail(ReadStage::Split, MSG_READ_TEMPORARY,
                  which + " (" + std::string(name.data()) + "): its contents reach past the " + std::to_string(total) +
                      " inflated bytes",
                  index);
  }
  return true;
}

std::vector<std::string> SetupReader::ExtractTo(const std::string& dir) {
  if (!report_.verdict.accepted()) throw ZqError(path_ + ": the program would not extract this setup");
  std::vector<std::string> written;
  std::vector<uint8_t> chunk(kSplitChunkBytes);
  for (size_t i = 0; i < report_.table.size(); ++i) {
    const PayloadEntry& e = report_.table[i];
    const std::string target = (fs::path(dir) / WindowsStoredName(report_.names[i])).string();
    AtomicOutputFile output(target);
    data_.Seek(e.DataOffset);
    uint32_t left = e.DataSize;
    while (left > 0) {
      const size_t want = std::min<uint32_t>(left, kSplitChunkBytes);
      if (data_.Read(chunk.data(), want) != want) throw ZqError(target + ": the inflated data ended early");
      output.file().Write(chunk.data(), want);
      left -= static_cast<uint32_t>(want);
    }
    output.Commit();
    written.push_back(target);
  }
  return written;
}
