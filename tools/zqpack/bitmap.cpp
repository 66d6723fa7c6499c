#include "bitmap.h"

#include "bytes.h"

BitmapLayout NewBitmap(int widthPx, int heightPx, int bitsPerPixel) {
  BitmapLayout b;
  const uint32_t paletteColours = bitsPerPixel <= 8 ? 1u << bitsPerPixel : 0;
  b.rowBytes = (static_cast<uint32_t>(widthPx) * bitsPerPixel + 31) / 32 * 4;
  const uint32_t pixelBytes = b.rowBytes * static_cast<uint32_t>(heightPx < 0 ? -heightPx : heightPx);
  b.paletteOffset = 14 + 40;
  b.pixelOffset = b.paletteOffset + paletteColours * 4;
  b.bytes.assign(b.pixelOffset + pixelBytes, 0);
  uint8_t* bmp = b.bytes.data();
  bmp[0] = 'B';
  bmp[1] = 'M';
  PutLe32(bmp + 2, static_cast<uint32_t>(b.bytes.size()));
  PutLe32(bmp + 10, b.pixelOffset);
  uint8_t* info = bmp + 14;
  PutLe32(info, 40);
  PutLe32(info + 4, static_cast<uint32_t>(widthPx));
  PutLe32(info + 8, static_cast<uint32_t>(heightPx));
  PutLe16(info + 12, 1);  // planes
  PutLe16(info + 14, static_cast<uint16_t>(bitsPerPixel));
  PutLe32(info + 20, pixelBytes);
  PutLe32(info + 32, paletteColours);
  return b;
}

std::vector<uint8_t> EncodeBitmap8(int widthPx, int heightPx, const std::vector<uint32_t>& palette,
                                   const std::vector<uint8_t>& indexRowsTopDown) {
  BitmapLayout b = NewBitmap(widthPx, heightPx, 8);
  for (size_t i = 0; i < palette.size() && i < 256; ++i) {
    uint8_t* entry = &b.bytes[b.paletteOffset + i * 4];
    entry[0] = static_cast<uint8_t>(palette[i]);
    entry[1] = static_cast<uint8_t>(palette[i] >> 8);
    entry[2] = static_cast<uint8_t>(palette[i] >> 16);
  }
  for (int y = 0; y < heightPx; ++y) {
    uint8_t* row = &b.bytes[b.pixelOffset + static_cast<size_t>(heightPx - 1 - y) * b.rowBytes];
    for (int x = 0; x < widthPx; ++x) row[x] = indexRowsTopDown[static_cast<size_t>(y) * widthPx + x];
  }
  return b.bytes;
}
