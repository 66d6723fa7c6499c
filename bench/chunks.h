// The program proper's inflate loop, for the floor (floor.cpp, under Wine)
// and the native timing of zlib's builds (inflate_loop.cpp): 65536-byte
// input chunks read into the low half of the 131072-byte work buffer, a
// fresh 65536-byte output space in its high half per inflate call.
#pragma once

#include <zlib.h>

#include "payload/format.h"

// Inflates `compressed` bytes that `read(buffer, want)` delivers (0: cannot
// read) with an initialised `stream`, and gives every output chunk to
// `put(bytes, length)`.  False on a read or data error.
template <typename Read, typename Put>
bool InflateChunks(z_stream& stream, unsigned char* work, unsigned long compressed, Read read, Put put) {
  unsigned char* const output = work + kInputChunkBytes;
  for (unsigned long remaining = compressed; remaining > 0;) {
    const unsigned got = read(work, remaining < kInputChunkBytes ? unsigned(remaining) : kInputChunkBytes);
    if (got == 0) return false;
    stream.next_in = work;
    stream.avail_in = got;
    for (;;) {
      stream.next_out = output;
      stream.avail_out = kOutputChunkBytes;
      const int result = inflate(&stream, Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR || result == Z_DATA_ERROR || result == Z_NEED_DICT) return false;
      const unsigned produced = kOutputChunkBytes - stream.avail_out;
      if (produced == 0) break;
      put(output, produced);
      if (result == Z_BUF_ERROR || stream.avail_in == 0) break;
    }
    remaining -= got;
  }
  return true;
}
