#include "setup_writer.h"

#include <string.h>

#include "bytes.h"
#include "deflater.h"
#include "errors.h"
#include "fileio.h"
#include "format/checksum.h"
#include "format/filename.h"

static constexpr size_t kReadChunkBytes = 1u << 20;
static constexpr uint64_t kMax32 = 0xFFFFFFFFu;

std::vector<uint8_t> ReadProgram(const std::string& path) {
  File file = File::OpenForReading(path);
  const uint64_t size = file.Size();
  if (size != kProgramBytes)
    throw ZqError(path + ": the program proper must be exactly " + std::to_string(kProgramBytes) +
                  " bytes, this file has " + std::to_string(size));
  std::vector<uint8_t> program(kProgramBytes);
  if (file.Read(program.data(), program.size()) != program.size())
    throw ZqError("cannot read " + path + ": it got shorter");
  return program;
}

SetupWriter::SetupWriter(std::vector<uint8_t> program, int level) : program_(std::move(program)), level_(level) {
  if (program_.size() != kProgramBytes)
    throw ZqError("the program proper must be exactly " + std::to_string(kProgramBytes) + " bytes, not " +
                  std::to_string(program_.size()));
  if (level < 0 || level > kBestLevel)
    throw ZqError("compression level " + std::to_string(level) + " is not 0 to 9 or the best");
}

void SetupWriter::Add(PackItem item) {
  if (item.name.find('\0') != std::string::npos || !IsPlainFileName(item.name.c_str()))
    throw ZqError("cannot pack \"" + item.name + "\": not a plain file name, the program would refuse it");
  if (item.name.size() + 1 > kMaxNameBytes) throw ZqError("cannot pack " + item.name + ": the name is too long");
  if (items_.size() >= static_cast<size_t>(kMaxEntryCount))
    throw ZqError("cannot pack " + item.name + ": a setup holds at most " + std::to_string(kMaxEntryCount) + " files");
  items_.push_back(std::move(item));
}

// Where the setup's bytes go: appended in order, and the header patched in
// once the stream is complete.
class SetupWriter::Sink {
 public:
  virtual ~Sink() = default;
  virtual void Append(const uint8_t* bytes, size_t count) = 0;
  virtual void Patch(uint64_t offset, const uint8_t* bytes, size_t count) = 0;
};

namespace {

class MemorySink : public SetupWriter::Sink {
 public:
  void Append(const uint8_t* bytes, size_t count) override { bytes_.insert(bytes_.end(), bytes, bytes + count); }
  void Patch(uint64_t offset, const uint8_t* bytes, size_t count) override {
    memcpy(&bytes_[static_cast<size_t>(offset)], bytes, count);
  }
  std::vector<uint8_t> bytes_;
};

class FileSink : public SetupWriter::Sink {
 public:
  explicit FileSink(File& file) : file_(file) {}
  void Append(const uint8_t* bytes, size_t count) override { file_.Write(bytes, count); }
  void Patch(uint64_t offset, const uint8_t* bytes, size_t count) override {
    file_.Seek(offset);
    file_.Write(bytes, count);
  }

 private:
  File& file_;
};

uint64_t ItemSize(const PackItem& item) {
  if (item.path.empty()) return item.bytes.size();
  return File::OpenForReading(item.path).Size();
}

}  // namespace

void SetupWriter::Write(Sink& sink) {
  if (items_.empty()) throw ZqError("nothing to pack: a setup needs at least one file");

  // Lay out the inflated data first: the table precedes the stream.  Every
  // input is opened here, so a missing one stops the build before any output.
  std::vector<PayloadEntry> table;
  uint64_t offset = 0;
  for (const PackItem& item : items_) {
    const uint64_t size = ItemSize(item);
    PayloadEntry entry;
    entry.NameOffset = static_cast<uint32_t>(offset);
    entry.DataOffset = static_cast<uint32_t>(offset + item.name.size() + 1);
    offset += item.name.size() + 1 + size;
    if (offset > kMax32) throw ZqError("cannot pack " + item.name + ": a payload holds at most 4 GiB");
    entry.DataSize = static_cast<uint32_t>(size);
    table.push_back(entry);
  }
  const uint64_t inflatedSize = offset;
  const std::vector<uint8_t> tableBytes = EncodeTable(table);

  PayloadHeader header{};
  header.Signature = kPayloadSignature;
  header.InflatedSize = static_cast<uint32_t>(inflatedSize);
  header.EntryCount = static_cast<int32_t>(table.size());
  header.StubChecksum = ComputeStubChecksum(program_.data());
  header.TableChecksum = PayloadChecksum(kPayloadSignature, tableBytes.data(), tableBytes.size());

  uint8_t headerBytes[kHeaderBytes] = {};
  sink.Append(program_.data(), program_.size());
  sink.Append(headerBytes, sizeof headerBytes);
  sink.Append(tableBytes.data(), tableBytes.size());

  Deflater deflater(level_, [&sink](const uint8_t* bytes, size_t count) { sink.Append(bytes, count); });
  uint32_t dataChecksum = kPayloadSignature;
  uint64_t done = 0;
  auto feed = [&](const void* bytes, size_t count) {
    dataChecksum = PayloadChecksum(dataChecksum, bytes, count);
    deflater.Add(bytes, count);
    done += count;
    if (progress_) progress_(done, inflatedSize);
  };

  std::vector<uint8_t> chunk;
  for (size_t i = 0; i < items_.size(); ++i) {
    const PackItem& item = items_[i];
    feed(item.name.c_str(), item.name.size() + 1);
    if (item.path.empty()) {
      feed(item.bytes.data(), item.bytes.size());
      continue;
    }
    File input = File::OpenForReading(item.path);
    chunk.resize(kReadChunkBytes);
    uint64_t read = 0;
    for (;;) {
      const size_t got = input.Read(chunk.data(), chunk.size());
      if (got == 0) break;
      read += got;
      if (read > table[i].DataSize) break;
      feed(chunk.data(), got);
    }
    if (read != table[i].DataSize) throw ZqError("cannot pack " + item.path + ": it changed while it was packed");
  }
  deflater.Finish();

  if (deflater.compressedBytes() > kMax32) throw ZqError("the compressed payload is over 4 GiB");
  header.CompressedSize = static_cast<uint32_t>(deflater.compressedBytes());
  header.DataChecksum = dataChecksum;
  // The program takes only the low 32 bits of its own file's size.
  if (kTableOffset + tableBytes.size() + deflater.compressedBytes() > kMax32)
    throw ZqError("the setup would be 4 GiB or more, which the program cannot read");
  EncodeHeader(header, headerBytes);
  sink.Patch(kProgramBytes, headerBytes, sizeof headerBytes);
}

std::vector<uint8_t> SetupWriter::BuildInMemory() {
  MemorySink sink;
  Write(sink);
  return std::move(sink.bytes_);
}

void SetupWriter::WriteFile(const std::string& path) {
  // Open every input before the output exists.
  for (const PackItem& item : items_)
    if (!item.path.empty()) File::OpenForReading(item.path);
  AtomicOutputFile output(path);
  FileSink sink(output.file());
  Write(sink);
  output.Commit();
}
