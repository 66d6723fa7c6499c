// zqpack's BMP and cabinet header checks over arbitrary bytes: no read past
// the file, and what they accept is what LoadImageA and the Application
// Manager need: a known header, a positive size, the colour table and (for
// uncompressed images) every pixel row inside the file; a cabinet whose
// declared size the file holds and whose file list starts inside it.
#include <algorithm>
#include <string>
#include <vector>

#include "bytes.h"
#include "filecheck.h"
#include "support.h"

namespace {

void CheckBitmap(const std::vector<uint8_t>& bytes) {
  BitmapSize size;
  std::string reason;
  if (!CheckBitmapFile(bytes, &size, &reason)) {
    FUZZ_EXPECT(!reason.empty(), "refused without a reason");
    return;
  }
  const std::string what = std::to_string(size.widthPx) + " x " + std::to_string(size.heightPx) + " x " +
                           std::to_string(size.bitsPerPixel) + " in " + std::to_string(bytes.size()) + " bytes";
  FUZZ_EXPECT(bytes.size() >= 26 && bytes[0] == 'B' && bytes[1] == 'M', what);
  const uint32_t infoBytes = GetLe32(&bytes[14]);
  FUZZ_EXPECT(infoBytes == 12 || infoBytes == 40 || infoBytes == 108 || infoBytes == 124, what);
  FUZZ_EXPECT(14 + uint64_t(infoBytes) <= bytes.size(), what);
  FUZZ_EXPECT(size.widthPx > 0 && size.heightPx > 0, what);
  const int bits = size.bitsPerPixel;
  FUZZ_EXPECT(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32, what);
  const uint32_t pixelOffset = GetLe32(&bytes[10]);
  FUZZ_EXPECT(pixelOffset < bytes.size(), what + ", pixels at " + std::to_string(pixelOffset));
  const uint32_t compression = infoBytes == 12 ? 0 : GetLe32(&bytes[30]);
  const uint64_t rowBytes = (uint64_t(size.widthPx) * bits + 31) / 32 * 4;
  if (compression == 0 || compression == 3)
    FUZZ_EXPECT(pixelOffset + rowBytes * uint64_t(size.heightPx) <= bytes.size(),
                what + ", pixels at " + std::to_string(pixelOffset));
}

void CheckCabinet(const std::vector<uint8_t>& bytes) {
  const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + static_cast<long>(std::min<size_t>(36, bytes.size())));
  std::string reason;
  if (!CheckCabinetHeader(head, bytes.size(), &reason)) {
    FUZZ_EXPECT(!reason.empty(), "refused without a reason");
    return;
  }
  FUZZ_EXPECT(head.size() == 36 && head[0] == 'M' && head[1] == 'S' && head[2] == 'C' && head[3] == 'F',
              "accepted " + std::to_string(bytes.size()) + " bytes");
  const uint32_t cabinetBytes = GetLe32(&head[8]);
  const uint32_t filesOffset = GetLe32(&head[16]);
  FUZZ_EXPECT(cabinetBytes <= bytes.size() && filesOffset >= 36 && filesOffset < cabinetBytes,
              "cbCabinet " + std::to_string(cabinetBytes) + ", coffFiles " + std::to_string(filesOffset) + " in " +
                  std::to_string(bytes.size()) + " bytes");
  FUZZ_EXPECT(head[25] == 1 && GetLe16(&head[26]) > 0 && GetLe16(&head[28]) > 0, "version, folders or files");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the input on the heap, so a read past its end is caught.
  const std::vector<uint8_t> bytes(data, data + size);
  CheckBitmap(bytes);
  CheckCabinet(bytes);
  return 0;
}
