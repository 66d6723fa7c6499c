#include "setup_reader.h"

#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include "bytes.h"
#include "errors.h"
#include "format/checksum.h"
#include "format/validity.h"

namespace fs = std::filesystem;

// The program's ErrorText buffer, terminator included.
static constexpr size_t kErrorTextChars = 1024;

std::string ProgramMessage(MessageId id, uint32_t osCode, const std::string& path) {
  // The program formats the same pattern with wvsprintfA, whose "%08X" and
  // "%s" are C's, into the same buffer.  As it records them: OS failures
  // with their code and path, damaged payloads with "The file may be
  // corrupted.".
  char text[kErrorTextChars];
  if (strstr(Messages[id], "%08X") != nullptr)
    snprintf(text, sizeof text, Messages[id], static_cast<unsigned>(osCode), path.c_str());
  else
    snprintf(text, sizeof text, Messages[id], Messages[MSG_MAY_BE_CORRUPTED]);
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
  if (const MessageId found = CheckFileSize(size); found != kPayloadValid)
    return Fail(
        ReadStage::FileSize, found,
        "the file has " + std::to_string(size) + " bytes, at least " + std::to_string(kMinFileBytes) + " are needed");

  std::vector<uint8_t> program(kProgramBytes);
  uint8_t headerBytes[kHeaderBytes];
  if (setup_.Read(program.data(), program.size()) != program.size() ||
      setup_.Read(headerBytes, sizeof headerBytes) != sizeof headerBytes)
    return Fail(ReadStage::Header, MSG_READ_INSTALLER, "the file ends inside the program proper or the header");
  report_.headerRead = true;
  const PayloadHeader& h = report_.header = DecodeHeader(headerBytes);
  report_.mitigations = ReadMitigations(program);
  SignedFields fields;
  if (FindSignedFields(program.data(), &fields)) {
    CertTable& cert = report_.certTable;
    cert.offset = GetLe32(&program[fields.CertTableAt]);
    cert.bytes = GetLe32(&program[fields.CertTableAt + 4]);
    cert.present = cert.bytes != 0;
  }

  report_.stubChecksum = ComputeStubChecksum(program.data());
  // Programs proper built before setups became signable count every byte,
  // and ld had filled in their PE CheckSum: an unsigned setup of theirs
  // matches only that way, and its program does check it that way.  Today's
  // programs proper hold zeros there, so both sums agree for them.
  report_.stubChecksumOverEveryByte =
      report_.stubChecksum != h.StubChecksum && !report_.certTable.present &&
      PayloadChecksum(kPayloadSignature, program.data(), program.size()) == h.StubChecksum;
  const uint32_t programsSum = report_.stubChecksumOverEveryByte ? h.StubChecksum : report_.stubChecksum;
  const MessageId found = CheckHeader(h, programsSum);
  if (found == MSG_BAD_SIGNATURE) {
    report_.stubChecksum = 0;  // the program gets no further
    report_.stubChecksumOverEveryByte = false;
    char text[64];
    snprintf(text, sizeof text, "the signature is 0x%08X, not 0x%08X", static_cast<unsigned>(h.Signature),
             static_cast<unsigned>(kPayloadSignature));
    return Fail(ReadStage::Signature, found, text);
  }
  report_.stubChecked = true;
  if (EntryCountFitsLimits(h.EntryCount))
    report_.payloadEnd = uint64_t(kTableOffset) + EntryTableBytes(h.EntryCount) + h.CompressedSize;
  if (found == MSG_BAD_STUB_CRC)
    return Fail(ReadStage::StubChecksum, found, "the program proper is not the one this payload was packed with");
  if (found != kPayloadValid)
    return Fail(ReadStage::TableLimits, found,
                "EntryCount " + std::to_string(h.EntryCount) + " is not 0 to " + std::to_string(kMaxEntryCount));
  std::vector<uint8_t> tableBytes(EntryTableBytes(h.EntryCount));
  if (setup_.Read(tableBytes.data(), tableBytes.size()) != tableBytes.size())
    return Fail(ReadStage::Table, MSG_READ_INSTALLER,
                "the file ends inside the entry table of " + std::to_string(h.EntryCount) + " entries");
  report_.tableRead = true;
  for (size_t i = 0; i < tableBytes.size(); i += kEntryBytes) report_.table.push_back(DecodeEntry(&tableBytes[i]));
  report_.tableChecksum = PayloadChecksum(kPayloadSignature, tableBytes.data(), tableBytes.size());
  if (const MessageId found = CheckTable(h, report_.tableChecksum); found != kPayloadValid)
    return Fail(ReadStage::TableChecksum, found, "the entry table does not match TableChecksum");
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
      if (const MessageId found = CheckInflateResult(rc); found != kPayloadValid)
        return Fail(ReadStage::Inflate, found,
                    rc == Z_NEED_DICT ? std::string("the stream asks for a preset dictionary")
                                      : "zlib: " + std::string(z.msg != nullptr ? z.msg : "stream error") + " after " +
                                            std::to_string(total) + " inflated bytes");
      const size_t produced = out.size() - z.avail_out;
      if (produced == 0) break;
      if (const MessageId found = CheckInflatedSize(h); found != kPayloadValid)
        return Fail(ReadStage::Inflate, found, "InflatedSize is 0 while the stream yields data");
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
  if (const MessageId found = CheckData(h, running); found != kPayloadValid)
    return Fail(ReadStage::DataChecksum, found, "the inflated data does not match DataChecksum");
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
    if (const MessageId found = CheckEntrySpan(e); found != kPayloadValid)
      return Fail(ReadStage::Split, found,
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
    if (const MessageId found = CheckEntryName(name.data(), static_cast<uint32_t>(available)); found != kPayloadValid)
      return Fail(ReadStage::Split, found,
                  which + (NameIsTerminated(name.data(), static_cast<uint32_t>(available))
                               ? ": \"" + std::string(name.data()) + "\" is not a plain file name"
                               : std::string(": the name has no terminating zero byte")),
                  index);
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
