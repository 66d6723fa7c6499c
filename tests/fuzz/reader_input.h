// The input of the setup_reader target: one flags byte, then the bytes that
// follow the 32768-byte program proper.  The flags let the fuzzer reach the
// split without forging checksums.  Shared with the seed maker.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum ReaderInputFlags : uint8_t {
  kFixStubChecksum = 1,
  kFixTableChecksum = 2,
  kFixDataChecksum = 4,
  kDeflateBody = 8,  // the bytes behind the table are the inflated data, deflated by the target
  kKeepSizes = 16,   // with kDeflateBody: CompressedSize and InflatedSize as given, not the real ones
  kLevelShift = 5,   // bits 5 and 6, times 3: the compression level (0, 3, 6, 9) for kDeflateBody
  kLongBody = 128,   // with kDeflateBody: the data repeated to kLongBodyBytes, for several 64 KiB chunks
};

constexpr size_t kLongBodyBytes = 200000;
