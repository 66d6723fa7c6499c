// zqpack's reader of a Windows CE cabinet's setup information (the .000
// file, tools/zqpack/ce_setup.h) over arbitrary bytes.  It must never crash
// or read out of bounds; what it accepts begins with "MSCE", states its own
// length, and so is refused once its last byte is cut off.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "ce_setup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  CeSetup setup;
  std::string reason;
  if (!ReadCeSetup(bytes, &setup, &reason)) return 0;
  if (size < kCeHeaderBytes || memcmp(data, "MSCE", 4) != 0) abort();
  CeArchitectureName(setup.architecture);
  CeVersionRange(setup);
  RefusesSmartphone(setup);
  bytes.pop_back();
  if (ReadCeSetup(bytes, &setup, &reason)) abort();
  return 0;
}
