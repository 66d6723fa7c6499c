// One zlib stream (RFC 1950: header, Deflate data, Adler-32 trailer) made
// from bytes fed in any number of pieces.  The same library and level give
// the same stream, so builds are reproducible.
//
// Levels 0 to 9 are zlib's, streamed in bounded memory.  kBestLevel is
// libdeflate's top level: the smallest stream of the libraries measured
// (zopfli's is as small within half a percent, at twenty times the time),
// still one zlib stream that any inflater takes.  It compresses the whole
// data at once, so it holds it and its compressed copy in memory: about
// twice the data's size.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <zlib.h>

#include <functional>
#include <vector>

constexpr int kBestLevel = 10;

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
  bool whole_;                 // kBestLevel: collected, compressed at Finish
  std::vector<uint8_t> data_;  // what was added, for kBestLevel
  Sink sink_;
  std::vector<uint8_t> out_;
  uint64_t compressed_ = 0;
};

// The smallest zlib stream of the bytes (kBestLevel), from libdeflate; where
// this build of zqpack lacks libdeflate, a ZqError that says so.
std::vector<uint8_t> DeflateSmallest(const std::vector<uint8_t>& data);

// The whole stream of data at once.
std::vector<uint8_t> DeflateBytes(const std::vector<uint8_t>& data, int level);
