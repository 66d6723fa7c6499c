// The progress display's arithmetic, pure so the host tests reach it.
#pragma once
#include <stdint.h>

// InflatedTotal x 100 / InflatedSize, computed in 64 bits so no 32-bit size
// overflows it; a quotient beyond 32 bits (a size understated more than 42
// times) comes back cut to its low 32 bits.  inflatedSize must not be 0.
uint32_t ProgressPercent(uint32_t inflatedTotal, uint32_t inflatedSize);
