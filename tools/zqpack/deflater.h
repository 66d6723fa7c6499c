// One zlib stream (RFC 1950: header, Deflate data, Adler-32 trailer) made
// from bytes fed in any number of pieces.  The same zlib and level give the
// same stream, so builds are reproducible.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <zlib.h>

#include <functional>
#include <vector>

class Deflater {
 public:
  // Receives each piece of the stream as it is made.
  using Sink = std::function<void(const uint8_t* bytes, size_t count)>;

  Deflater(int level, Sink sink);
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  void Add(const void* bytes, size_t count);
  void Finish();  // writes the rest of the stream and its trailer
  uint64_t compressedBytes() const { return compressed_; }

 private:
  void Run(int flush);

  z_stream stream_{};
  Sink sink_;
  std::vector<uint8_t> out_;
  uint64_t compressed_ = 0;
};

// The whole stream of data at once.
std::vector<uint8_t> DeflateBytes(const std::vector<uint8_t>& data, int level);
