// The one place that makes setups for tests: valid ones, and ones damaged on
// purpose in exactly one way.  Every field that the builder computes can be
// replaced, and the damage is applied after the checksums were taken, so a
// test states only what it breaks.  Host tests and the Wine tests link it
// (CMake target zqfixture).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "payload/format.h"

namespace zqfixture {

struct Entry {
  std::string name;  // stored with its terminating zero unless nameWithoutZero
  std::vector<uint8_t> contents;
  bool nameWithoutZero = false;
};

// Flips bits: byte at offset ^= mask.
struct ByteChange {
  size_t offset;
  uint8_t mask = 0x01;
};

std::vector<uint8_t> FillerStub();  // 32768 bytes that begin with "MZ"

struct SetupRecipe {
  std::vector<uint8_t> stub = FillerStub();  // the real program proper for runs
  std::vector<Entry> entries;
  int level = 6;

  // Replace what the builder derives from the entries.
  std::optional<std::vector<PayloadEntry>> table;  // offsets, as laid out
  std::optional<std::vector<uint8_t>> inflated;    // names and contents
  std::optional<std::vector<uint8_t>> stream;      // the zlib stream of the inflated data

  // Header fields written instead of the computed ones.
  std::optional<uint32_t> signature;
  std::optional<uint32_t> compressedSize;
  std::optional<uint32_t> inflatedSize;
  std::optional<int32_t> entryCount;
  std::optional<uint32_t> stubChecksum;
  std::optional<uint32_t> tableChecksum;
  std::optional<uint32_t> dataChecksum;

  // Damage applied after the checksums were taken.
  std::vector<ByteChange> stubChanges;     // offsets within the program proper
  std::vector<ByteChange> tableChanges;    // offsets within the table
  bool wrongZlibTrailer = false;           // the stream's Adler-32 trailer broken; DataChecksum still right
  std::vector<uint8_t> bytesInsideStream;  // behind the zlib stream, counted in CompressedSize
  std::vector<uint8_t> bytesBehindStream;  // behind CompressedSize
  std::optional<size_t> cutTo;             // the whole file cut to this many bytes
};

// The whole setup file.
std::vector<uint8_t> BuildSetup(const SetupRecipe& recipe);

// The pieces BuildSetup derives, for tests that state their own variant.
std::vector<PayloadEntry> LayOutTable(const std::vector<Entry>& entries);
std::vector<uint8_t> LayOutData(const std::vector<Entry>& entries);
std::vector<uint8_t> ZlibStream(const std::vector<uint8_t>& data, int level = 6);
// A stream that asks for a preset dictionary, which the program refuses.
std::vector<uint8_t> ZlibStreamWithDictionary(const std::vector<uint8_t>& data, const std::vector<uint8_t>& dictionary);

// Contents.
std::vector<uint8_t> Bytes(const std::string& text);
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);
std::vector<uint8_t> TextLikeBytes(size_t count, uint32_t seed);  // words, blanks and lines
// An uncompressed BMP with a BITMAPINFOHEADER; 1, 4 and 8 bits get a grey palette.
std::vector<uint8_t> MakeBitmap(int widthPx, int heightPx, int bitsPerPixel = 24);
// A real cabinet holding one file, stored without compression.
std::vector<uint8_t> MakeCabinet(const std::string& fileName, const std::vector<uint8_t>& contents);
// A small complete setup's files in packing order: license.rtf, body.bmp,
// head.bmp, Setup.ini (naming the others), DEMO.CAB.
std::vector<Entry> SampleEntries();
std::string SampleSetupIni();

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Every file and folder below `dir`, relative to it with '/', sorted; empty
// when `dir` cannot be read.
std::vector<std::string> FilesBelow(const std::string& dir);

}  // namespace zqfixture

namespace zqfixture {

// Authenticode signing for tests, without a network: a throwaway
// self-signed certificate and key made with openssl in `dir`, and the
// command for `zqpack build --sign` that signs the setup "%1" in place with
// them through osslsigncode.  Empty, with *why set, when a tool is missing or
// fails.
std::string MakeSigningCommand(const std::string& dir, std::string* why);
// osslsigncode's check of a signed file against that certificate: 0 when it
// accepts the signature.
int VerifySignature(const std::string& dir, const std::string& file);

}  // namespace zqfixture
