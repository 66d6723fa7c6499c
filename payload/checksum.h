// PayloadChecksum: Adler-32 started from the signature value instead of 1.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "payload/format.h"

// Feeding a range in parts, each call starting from the previous result,
// gives the same value as one call over the whole range.  Start with
// kPayloadSignature; an empty range leaves it unchanged.
uint32_t PayloadChecksum(uint32_t running, const void* bytes, size_t length);
