#include "format/checksum.h"

#include <string.h>
#include <zlib.h>

uint32_t PayloadChecksum(uint32_t running, const void* bytes, size_t length) {
  // adler32 takes a uInt length: feed very long ranges in pieces.
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  while (length > 0) {
    const uInt piece = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
    running = static_cast<uint32_t>(adler32(running, p, piece));
    p += piece;
    length -= piece;
  }
  return running;
}

uint32_t ComputeStubChecksumInPlace(uint8_t* program) {
  SignedFields f;
  if (FindSignedFields(program, &f)) {
    memset(program + f.CheckSumAt, 0, kCheckSumBytes);
    memset(program + f.CertTableAt, 0, kCertEntryBytes);
  }
  return PayloadChecksum(kPayloadSignature, program, kProgramBytes);
}

uint32_t PayloadChecksumFromAdler(uint32_t adler, uint32_t length) {
  // Adler-32 keeps two sums modulo 65521: a = start + the bytes, and
  // b = start's b + n x start's a + each byte weighted by its distance from
  // the end (n bytes, byte 1 counted n times).  From start (1, 0) and from
  // start (sa, sb) over the same bytes the sums therefore differ by
  // sa - 1 and sb + n x (sa - 1).  zlib's adler32_combine does the same for
  // any two ranges, at three times the size in the program proper.
  constexpr uint32_t kBase = 65521;
  constexpr uint32_t kStartA = kPayloadSignature & 0xFFFF, kStartB = kPayloadSignature >> 16;
  const uint32_t a = ((adler & 0xFFFF) + kStartA - 1) % kBase;
  const uint32_t b = ((adler >> 16) + kStartB + length % kBase * (kStartA - 1)) % kBase;
  return b << 16 | a;
}
