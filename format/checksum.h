// PayloadChecksum: Adler-32 started from the signature value instead of 1;
// and the StubChecksum of a program proper, which leaves out the two fields
// that Authenticode signing rewrites.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "format/format.h"
#include "format/pe.h"

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

// Finds the fields in the kProgramBytes bytes of `program`: PE32 or PE32+ headers
// with at least five data directories, everything inside the program
// proper.  False when the headers cannot be read that way.  Inline: in the
// program proper its one caller is ComputeStubChecksumInPlace, and a call
// costs bytes it has not.
inline bool FindSignedFields(const uint8_t* program, SignedFields* fields) {
  // The larger PE32+ optional header up to the end of directory 4.
  constexpr uint32_t kPe32PlusDirsEnd = 112 + 5 * 8;
  PeHeaders h;
  if (!FindPeHeaders(program, kProgramBytes, kPe32PlusDirsEnd, &h) || PeLe32(program + h.directories - 4) < 5)
    return false;
  fields->CheckSumAt = h.optional + 64;
  fields->CertTableAt = h.directories + 4 * 8;
  return true;
}

// StubChecksum: the PayloadChecksum of the kProgramBytes bytes of a program
// proper with the fields above counted as zeros, so that signing leaves it
// unchanged.  A header that cannot be parsed leaves every byte counted as it
// is.  The build clears both fields in the programs proper: for them this is
// the plain PayloadChecksum over every byte that other packers compute.
// `program` is a scratch copy (the program's work buffer): the fields are
// cleared in it.  Tools that keep their copy use ComputeStubChecksum.
uint32_t ComputeStubChecksumInPlace(uint8_t* program);

inline uint32_t ComputeStubChecksum(const uint8_t* program) {
  uint8_t copy[kProgramBytes];
  memcpy(copy, program, kProgramBytes);
  return ComputeStubChecksumInPlace(copy);
}

// The PayloadChecksum of `length` bytes, from zlib's own Adler-32 of the
// same bytes (started from 1, as the inflater keeps it) without reading
// them again: Adler-32 sums of two ranges combine into that of both.
uint32_t PayloadChecksumFromAdler(uint32_t adler, uint32_t length);
