// Whether a file is what its role in a setup needs: a BMP file that
// LoadImageA(LR_LOADFROMFILE | LR_CREATEDIBSECTION) turns into a bitmap, or
// a cabinet that the Application Manager can open.  Judged from the headers.
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

// head: the file's first bytes (at least 36 if the file has them).
bool CheckCabinetHeader(const std::vector<uint8_t>& head, uint64_t fileBytes, std::string* reason);
