#include "deflater.h"

#include <string>

#include "errors.h"

static constexpr size_t kOutBytes = 256 * 1024;
// zlib takes a uInt length: feed longer ranges in pieces.
static constexpr size_t kMaxPieceBytes = 1u << 30;

Deflater::Deflater(int level, Sink sink) : whole_(level == kBestLevel), sink_(std::move(sink)), out_(kOutBytes) {
  if (level < 0 || level > kBestLevel)
    throw ZqError("compression level " + std::to_string(level) + " is not 0 to 9 or the best");
  if (whole_) return;
  // Window bits 15 and no dictionary: what the program's inflateInit expects.
  if (deflateInit(&stream_, level) != Z_OK) throw ZqError("cannot start zlib's deflate");
}

Deflater::~Deflater() { deflateEnd(&stream_); }

void Deflater::Run(int flush) {
  for (;;) {
    stream_.next_out = out_.data();
    stream_.avail_out = static_cast<uInt>(out_.size());
    const int rc = deflate(&stream_, flush);
    if (rc == Z_STREAM_ERROR) throw ZqError("zlib's deflate failed");
    const size_t produced = out_.size() - stream_.avail_out;
    if (produced > 0) {
      compressed_ += produced;
      sink_(out_.data(), produced);
    }
    if (flush == Z_FINISH ? rc == Z_STREAM_END : stream_.avail_out != 0) return;
  }
}

void Deflater::Add(const void* bytes, size_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  if (whole_) {
    data_.insert(data_.end(), p, p + count);
    return;
  }
  while (count > 0) {
    const size_t piece = count < kMaxPieceBytes ? count : kMaxPieceBytes;
    stream_.next_in = const_cast<Bytef*>(p);
    stream_.avail_in = static_cast<uInt>(piece);
    Run(Z_NO_FLUSH);
    p += piece;
    count -= piece;
  }
}

void Deflater::Finish() {
  if (whole_) {
    const std::vector<uint8_t> stream = DeflateSmallest(data_);
    data_ = std::vector<uint8_t>();
    compressed_ = stream.size();
    sink_(stream.data(), stream.size());
    return;
  }
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  Run(Z_FINISH);
}

std::vector<uint8_t> DeflateBytes(const std::vector<uint8_t>& data, int level) {
  std::vector<uint8_t> stream;
  Deflater deflater(
      level, [&stream](const uint8_t* bytes, size_t count) { stream.insert(stream.end(), bytes, bytes + count); });
  deflater.Add(data.data(), data.size());
  deflater.Finish();
  return stream;
}
