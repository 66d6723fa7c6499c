// kBestLevel where zqpack is built without libdeflate (the Windows build).
#include "deflater.h"
#include "errors.h"

std::vector<uint8_t> DeflateSmallest(const std::vector<uint8_t>&) {
  throw ZqError("--best needs libdeflate, which this build of zqpack lacks: use --level 9");
}
