// PayloadChecksum: Adler-32 started from the signature value instead of 1;
// and the StubChecksum of a program proper, which leaves out the two fields
// that Authenticode signing rewrites.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "payload/format.h"

// Feeding a range in parts, each call starting from the previous result,
// gives the same value as one call over the whole range.  Start with
// kPayloadSignature; an empty range leaves it unchanged.
uint32_t PayloadChecksum(uint32_t running, const void* bytes, size_t length);

// Where a signing tool writes inside the program proper: the PE optional
// header's CheckSum (4 bytes, at optional header + 64 in PE32 and PE32+)
// and the certificate-table entry of the data directories (index 4, 8 bytes:
// the table's file offset and size; at optional header + 128 in PE32, + 144
// in PE32+).  Offsets are from the first byte of the file.
struct SignedFields {
  uint32_t CheckSumAt;
  uint32_t CertTableAt;
};
constexpr uint32_t kCheckSumBytes = 4;
constexpr uint32_t kCertEntryBytes = 8;

// Finds the fields from e_lfanew (at 0x3C) in the kStubBytes bytes of
// `stub`: "PE\0\0" there, a PE32 or PE32+ optional header with at least five
// data directories, everything inside the program proper.  False when the
// header cannot be parsed that way.  Inline: in the program proper its one
// caller is ComputeStubChecksumInPlace, and a call costs bytes it has not.
//
// PE fields are little-endian, read from memory as the format's records are.
inline uint32_t SignedFieldLe32(const uint8_t* p) {
  uint32_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

inline bool FindSignedFields(const uint8_t* stub, SignedFields* fields) {
  constexpr uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
  constexpr uint32_t kOptionalHeaderAt = 4 + 20;  // behind "PE\0\0" and the file header
  constexpr uint32_t kPe32PlusDirsEnd = 112 + 5 * 8;
  const uint32_t pe = SignedFieldLe32(stub + 0x3C);
  if (pe > kStubBytes - kOptionalHeaderAt - kPe32PlusDirsEnd || SignedFieldLe32(stub + pe) != kPeSignature)
    return false;
  const uint32_t optional = pe + kOptionalHeaderAt;
  const uint32_t magic = stub[optional] | stub[optional + 1] << 8;
  // The data directories follow NumberOfRvaAndSizes: 96 bytes into a PE32
  // optional header, 112 into a PE32+ one (its ImageBase and stack and heap
  // sizes are 8 bytes wide).
  const uint32_t directories = optional + (magic == 0x20B ? 112 : 96);
  if ((magic != 0x10B && magic != 0x20B) || SignedFieldLe32(stub + directories - 4) < 5) return false;
  fields->CheckSumAt = optional + 64;
  fields->CertTableAt = directories + 4 * 8;
  return true;
}

// StubChecksum: the PayloadChecksum of the kStubBytes bytes of a program
// proper with the fields above counted as zeros, so that signing leaves it
// unchanged.  A header that cannot be parsed leaves every byte counted as it
// is.  The build clears both fields in the programs proper: for them this is
// the plain PayloadChecksum over every byte that other packers compute.
// `stub` is a scratch copy (the program's work buffer): the fields are
// cleared in it.  Tools that keep their copy use ComputeStubChecksum.
uint32_t ComputeStubChecksumInPlace(uint8_t* stub);

inline uint32_t ComputeStubChecksum(const uint8_t* stub) {
  uint8_t copy[kStubBytes];
  memcpy(copy, stub, kStubBytes);
  return ComputeStubChecksumInPlace(copy);
}

// The PayloadChecksum of `length` bytes, from zlib's own Adler-32 of the
// same bytes (started from 1, as the inflater keeps it) without reading
// them again: Adler-32 sums of two ranges combine into that of both.
uint32_t PayloadChecksumFromAdler(uint32_t adler, uint32_t length);
