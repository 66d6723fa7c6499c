// Whether a BMP file is one that LoadImageA(LR_LOADFROMFILE |
// LR_CREATEDIBSECTION) turns into a bitmap, judged from its headers.  CAB
// files: cabinet.h.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct BitmapSize {
  int32_t widthPx = 0;
  int32_t heightPx = 0;  // always positive (a top-down bitmap's is negated)
  int bitsPerPixel = 0;
};

// On success fills size; else returns false with why in reason.
bool CheckBitmapFile(const std::vector<uint8_t>& bytes, BitmapSize* size, std::string* reason);
