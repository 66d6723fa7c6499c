// The payload format: the one layout that every packer and this program share.
// Pure declarations: no windows.h, so the program proper, zqpack, the host
// tests and the fuzz targets all compile the same file.
#pragma once
#include <stdint.h>

// Layout of a setup file (all integers 32-bit little-endian, offsets from
// the first byte of the file):
//
//   0                      program proper, exactly kProgramBytes
//   32768                  PayloadHeader (28 bytes)
//   32796                  EntryCount x PayloadEntry (12 bytes each)
//   32796 + 12 x count     zlib stream, CompressedSize bytes
//   behind the stream      anything; never read
//
// The inflated data is, entry by entry in table order, the entry's name with
// its terminating zero byte followed by its contents.
constexpr uint32_t kProgramBytes = 32768;
constexpr uint32_t kPayloadSignature = 0x0049515A;  // "ZQI\0" read little-endian
constexpr uint32_t kHeaderBytes = 28;
constexpr uint32_t kEntryBytes = 12;
constexpr uint32_t kTableOffset = kProgramBytes + kHeaderBytes;
// A file must hold the program proper, the header and at least one entry.
constexpr uint32_t kMinFileBytes = kProgramBytes + kHeaderBytes + kEntryBytes + 1;

// The reader's fixed buffers, and the limits they put on every payload.
constexpr uint32_t kWorkBufferBytes = 131072;
constexpr uint32_t kInputChunkBytes = 65536;   // low half of the work buffer
constexpr uint32_t kOutputChunkBytes = 65536;  // high half of the work buffer
constexpr uint32_t kSplitChunkBytes = kWorkBufferBytes;
constexpr uint32_t kMaxTableBytes = kWorkBufferBytes;
constexpr int32_t kMaxEntryCount = kMaxTableBytes / kEntryBytes;  // 10922
constexpr uint32_t kMaxNameBytes = kWorkBufferBytes;

#pragma pack(push, 1)
// Header at offset 32768.  No checksum covers these 28 bytes themselves.
//   0 Signature   4 CompressedSize   8 InflatedSize   12 EntryCount
//  16 StubChecksum (bytes 0..32767)  20 TableChecksum (the table as stored)
//  24 DataChecksum (every inflated byte, in order)
struct PayloadHeader {
  uint32_t Signature;
  uint32_t CompressedSize;
  uint32_t InflatedSize;  // only the 100 % mark of the progress display
  int32_t EntryCount;
  uint32_t StubChecksum;
  uint32_t TableChecksum;
  uint32_t DataChecksum;
};

// One record of the entry table; offsets count from the first inflated byte.
//   0 NameOffset   4 DataOffset (the name, zero included, lies in between)
//   8 DataSize
struct PayloadEntry {
  uint32_t NameOffset;
  uint32_t DataOffset;
  uint32_t DataSize;
};
#pragma pack(pop)

static_assert(sizeof(PayloadHeader) == kHeaderBytes, "PayloadHeader is 28 bytes on disk");
static_assert(sizeof(PayloadEntry) == kEntryBytes, "PayloadEntry is 12 bytes on disk");
