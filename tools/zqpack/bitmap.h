// Uncompressed BMP files as LoadImageA(LR_LOADFROMFILE) reads them: a
// BITMAPFILEHEADER (14 bytes), a BITMAPINFOHEADER (40 bytes), a palette of
// 2^bits entries for 8 bits or fewer (4 bytes each: blue, green, red, 0),
// then the rows, bottom row first, each padded to a multiple of 4 bytes.
#pragma once
#include <stdint.h>

#include <vector>

struct BitmapLayout {
  std::vector<uint8_t> bytes;  // headers filled in; palette and pixels zero
  uint32_t paletteOffset = 0;
  uint32_t pixelOffset = 0;
  uint32_t rowBytes = 0;
};

// heightPx < 0 makes a top-down bitmap.
BitmapLayout NewBitmap(int widthPx, int heightPx, int bitsPerPixel);

// An 8-bit bitmap of widthPx x heightPx from a palette (0xRRGGBB, at most
// 256 colours) and a colour index per pixel, rows from the top.
std::vector<uint8_t> EncodeBitmap8(int widthPx, int heightPx, const std::vector<uint32_t>& palette,
                                   const std::vector<uint8_t>& indexRowsTopDown);
