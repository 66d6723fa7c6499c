#include "format/percent.h"

uint32_t ProgressPercent(uint32_t inflatedTotal, uint32_t inflatedSize) {
  // Shift-and-subtract division of the 64-bit product: a plain 64-bit '/'
  // would pull libgcc's division routine (and its unwind tables) into the
  // 32-bit program proper.  64 rounds per output chunk cost nothing.
  uint64_t numerator = static_cast<uint64_t>(inflatedTotal) * 100u;
  uint64_t quotient = 0;
  uint64_t remainder = 0;
  for (int bit = 0; bit < 64; ++bit) {
    remainder = (remainder << 1) | (numerator >> 63);
    numerator <<= 1;
    quotient <<= 1;
    if (remainder >= inflatedSize) {
      remainder -= inflatedSize;
      quotient |= 1;
    }
  }
  return static_cast<uint32_t>(quotient);
}
