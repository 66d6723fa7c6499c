// zqpack.exe for Windows: no cabinet writer (libgcab is built for Linux).
#include "errors.h"
#include "make_cab.h"

CabResult MakeCab(const CabOptions&) {
  throw ZqError("makes cabinets with the Linux zqpack only (through libgcab); on Windows use your SDK's CAB tool");
}
