#include "payload/checksum.h"

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

uint32_t ComputeStubChecksumInPlace(uint8_t* stub) {
  SignedFields f;
  if (FindSignedFields(stub, &f)) {
    memset(stub + f.CheckSumAt, 0, kCheckSumBytes);
    memset(stub + f.CertTableAt, 0, kCertEntryBytes);
  }
  return PayloadChecksum(kPayloadSignature, stub, kStubBytes);
}
