#include "filecheck.h"

#include "bytes.h"

static constexpr uint32_t kFileHeaderBytes = 14;  // BITMAPFILEHEADER
static constexpr uint32_t kCoreHeaderBytes = 12;  // BITMAPCOREHEADER
static constexpr uint32_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER
static constexpr uint32_t kV4HeaderBytes = 108;
static constexpr uint32_t kV5HeaderBytes = 124;
// A DIB section larger than this is refused for memory long before it loads.
static constexpr uint64_t kMaxPixelBytes = 1u << 30;

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_JPEG = 4, BI_PNG = 5 };

static bool Refuse(std::string* reason, const std::string& why) {
  *reason = why;
  return false;
}

bool CheckBitmapFile(const std::vector<uint8_t>& bytes, BitmapSize* size, std::string* reason) {
  const uint64_t fileBytes = bytes.size();
  if (fileBytes < 2 || bytes[0] != 'B' || bytes[1] != 'M')
    return Refuse(reason, "not a BMP file (it does not begin with \"BM\")");
  if (fileBytes < kFileHeaderBytes + kCoreHeaderBytes) return Refuse(reason, "too short for a BMP file");
  const uint32_t pixelOffset = GetLe32(&bytes[10]);
  const uint8_t* info = &bytes[kFileHeaderBytes];
  const uint32_t infoBytes = GetLe32(info);
  if (infoBytes != kCoreHeaderBytes && infoBytes != kInfoHeaderBytes && infoBytes != kV4HeaderBytes &&
      infoBytes != kV5HeaderBytes)
    return Refuse(reason, "a bitmap header of " + std::to_string(infoBytes) + " bytes, which Windows does not read");
  if (kFileHeaderBytes + infoBytes > fileBytes) return Refuse(reason, "the file ends inside the bitmap header");

  int64_t width, height;
  uint32_t planes, bits, compression = BI_RGB, colours = 0, paletteEntryBytes;
  if (infoBytes == kCoreHeaderBytes) {
    width = GetLe16(info + 4);
    height = GetLe16(info + 6);
    planes = GetLe16(info + 8);
    bits = GetLe16(info + 10);
    paletteEntryBytes = 3;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
      return Refuse(reason, std::to_string(bits) + " bits per pixel in an OS/2 bitmap header");
  } else {
    width = static_cast<int32_t>(GetLe32(info + 4));
    height = static_cast<int32_t>(GetLe32(info + 8));
    planes = GetLe16(info + 12);
    bits = GetLe16(info + 14);
    compression = GetLe32(info + 16);
    colours = GetLe32(info + 32);
    paletteEntryBytes = 4;
  }
  if (planes != 1) return Refuse(reason, std::to_string(planes) + " colour planes, not 1");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return Refuse(reason, std::to_string(bits) + " bits per pixel");
  if (width <= 0 || height == 0) return Refuse(reason, "an empty image");
  const bool topDown = height < 0;
  if (topDown) height = -height;

  switch (compression) {
    case BI_RGB:
      break;
    case BI_RLE8:
    case BI_RLE4:
      if (bits != (compression == BI_RLE8 ? 8u : 4u) || topDown)
        return Refuse(reason, "run-length compression that does not fit its pixel format");
      break;
    case BI_BITFIELDS:
      if (bits != 16 && bits != 32)
        return Refuse(reason, "colour masks on a bitmap of " + std::to_string(bits) + " bits");
      break;
    case BI_JPEG:
    case BI_PNG:
      return Refuse(reason, "a JPEG or PNG image inside a BMP file, which LoadImageA cannot load");
    default:
      return Refuse(reason, "unknown compression " + std::to_string(compression));
  }

  if (bits <= 8 && colours > (1u << bits))
    return Refuse(reason, std::to_string(colours) + " palette colours for " + std::to_string(bits) + " bits per pixel");
  const uint64_t masksBytes = infoBytes == kInfoHeaderBytes && compression == BI_BITFIELDS ? 12 : 0;
  const uint64_t paletteBytes = bits <= 8 ? uint64_t(colours != 0 ? colours : 1u << bits) * paletteEntryBytes : 0;
  if (kFileHeaderBytes + infoBytes + masksBytes + paletteBytes > fileBytes)
    return Refuse(reason, "the file ends inside the colour table");

  const uint64_t rowBytes = (uint64_t(width) * bits + 31) / 32 * 4;
  const uint64_t pixelBytes = rowBytes * uint64_t(height);
  if (pixelBytes > kMaxPixelBytes)
    return Refuse(reason, "an image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  if (pixelOffset >= fileBytes) return Refuse(reason, "the pixel data lies behind the end of the file");
  if ((compression == BI_RGB || compression == BI_BITFIELDS) && pixelOffset + pixelBytes > fileBytes)
    return Refuse(reason, "the file ends inside the pixel data");

  size->widthPx = static_cast<int32_t>(width);
  size->heightPx = static_cast<int32_t>(height);
  size->bitsPerPixel = static_cast<int>(bits);
  return true;
}
