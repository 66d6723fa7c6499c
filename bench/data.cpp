// zqbench-data: the benchmark's payloads.
//   zqbench-data files BYTES DIR [text]  the files of a setup of about BYTES
//       inflated bytes, written into DIR; with text, the cabinets hold only
//       text-like bytes (the compressible payload of the size comparison)
//   zqbench-data restub SETUP STUB OUT   SETUP with another program proper
//       (StubChecksum recomputed), so that one deflate serves every build
// The files are those of a real setup: license.rtf, body.bmp, head.bmp,
// Setup.ini naming two CAB files, and APP.CAB and DATA.CAB (real cabinets,
// stored) that fill the rest, in turns of 64 KiB of text-like bytes (which
// deflate shrinks to about a third) and 64 KiB of random bytes (which it
// cannot shrink), as a program's code and its compressed media would.
#include <stdio.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "bytes.h"
#include "fixture.h"
#include "format/checksum.h"
#include "format/format.h"

namespace {

constexpr size_t kMixBlockBytes = 65536;

const char kSetupIni[] =
    "[CEAppManager]\r\n"
    "Version = 1.0\r\n"
    "Component = Bench App\r\n"
    "\r\n"
    "[Bench App]\r\n"
    "Description = The benchmark's payload\r\n"
    "CabFiles = APP.CAB,DATA.CAB\r\n"
    "\r\n"
    "[ZQINSTALLER]\r\n"
    "ProductName = Bench\r\n"
    "ProductVersion = 1.00\r\n"
    "InstallDirectory = Bench\r\n"
    "LicenseFile = license.rtf\r\n"
    "HeadBitmap = head.bmp\r\n"
    "BodyBitmap = body.bmp\r\n";

std::vector<uint8_t> MixedBytes(size_t count, uint32_t seed, bool textOnly) {
  std::vector<uint8_t> bytes;
  bytes.reserve(count);
  for (uint32_t block = 0; bytes.size() < count; ++block) {
    const size_t n = std::min(kMixBlockBytes, count - bytes.size());
    const std::vector<uint8_t> part = block % 2 == 0 || textOnly ? zqfixture::TextLikeBytes(n, seed + block)
                                                                 : zqfixture::RandomBytes(n, seed + block);
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  return bytes;
}

std::vector<uint8_t> LicenseRtf() {
  std::vector<uint8_t> rtf = zqfixture::Bytes("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs16 ");
  const std::vector<uint8_t> text = zqfixture::TextLikeBytes(6000, 1);
  rtf.insert(rtf.end(), text.begin(), text.end());
  const std::vector<uint8_t> end = zqfixture::Bytes("\\par}");
  rtf.insert(rtf.end(), end.begin(), end.end());
  return rtf;
}

int WriteFiles(size_t totalBytes, const std::string& dir, bool textOnly) {
  std::vector<zqfixture::Entry> small = {
      {"license.rtf", LicenseRtf(), false},
      {"body.bmp", zqfixture::MakeBitmap(164, 314), false},
      {"head.bmp", zqfixture::MakeBitmap(55, 55), false},
      {"Setup.ini", zqfixture::Bytes(kSetupIni), false},
  };
  size_t used = 0;
  for (const zqfixture::Entry& e : small) used += e.name.size() + 1 + e.contents.size();
  // Two cabinets share the rest; their headers and block records are small.
  const size_t cabBytes = totalBytes > used + 4096 ? (totalBytes - used) / 2 : 2048;
  const size_t overhead = 36 + 8 + 16 + 8 + 8 * (cabBytes / 32768 + 1);
  const size_t contentBytes = cabBytes > overhead + 64 ? cabBytes - overhead : 64;
  small.push_back({"APP.CAB", zqfixture::MakeCabinet("app.exe", MixedBytes(contentBytes, 100, textOnly)), false});
  small.push_back({"DATA.CAB", zqfixture::MakeCabinet("data.bin", MixedBytes(contentBytes, 200000, textOnly)), false});
  for (const zqfixture::Entry& e : small) zqfixture::WriteFileBytes(dir + "/" + e.name, e.contents);
  return 0;
}

int Restub(const std::string& setupPath, const std::string& stubPath, const std::string& outPath) {
  std::vector<uint8_t> setup = zqfixture::ReadFileBytes(setupPath);
  const std::vector<uint8_t> stub = zqfixture::ReadFileBytes(stubPath);
  if (stub.size() != kProgramBytes) throw std::runtime_error(stubPath + " is not a program proper of 32768 bytes");
  if (setup.size() < kMinFileBytes) throw std::runtime_error(setupPath + " is too short for a setup");
  std::copy(stub.begin(), stub.end(), setup.begin());
  const uint32_t checksum = ComputeStubChecksum(stub.data());
  PutLe32(&setup[kProgramBytes + 16], checksum);  // PayloadHeader::StubChecksum
  zqfixture::WriteFileBytes(outPath, setup);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "files" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "text")))
      return WriteFiles(std::strtoull(argv[2], nullptr, 10), argv[3], argc == 5);
    if (command == "restub" && argc == 5) return Restub(argv[2], argv[3], argv[4]);
  } catch (const std::exception& e) {
    fprintf(stderr, "zqbench-data: %s\n", e.what());
    return 1;
  }
  fprintf(stderr, "usage: zqbench-data files BYTES DIR [text] | restub SETUP STUB OUT\n");
  return 2;
}
