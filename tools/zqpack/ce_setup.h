// The setup information of a Windows CE install cabinet: the cabinet's file
// whose name ends in ".000", which tells the Application Manager what the
// application is called, which devices take it and where each of the
// cabinet's numbered files goes.  Read from bytes alone (no cabinet code), so
// that the fuzz target reaches it directly.
//
// The file, little-endian, offsets from its first byte:
//   0   "MSCE"                    8  the file's whole length
//   20  target architecture       24/28  least CE version, major/minor
//   32/36  greatest CE version    40/44  least/greatest build
//   48..58  six 16-bit counts: STRINGS, DIRS, FILES, REGHIVES, REGKEYS, LINKS
//   60..80  their six 32-bit offsets, in the same order
//   84/86 APPNAME, 88/90 PROVIDER, 92/94 UNSUPPORTED: 16-bit offset and
//         16-bit length (terminating zero included) of each
// Sections: STRINGS entry: id, length, text.  DIRS entry: id, byte length,
// string ids ending with 0.  FILES entry: file number, directory id,
// unknown 16 bits, 32-bit flags, name length, name.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

constexpr uint32_t kCeHeaderBytes = 100;

struct CeVersion {
  uint32_t major = 0;
  uint32_t minor = 0;  // 0.0: no limit
};

// One installed file: the cabinet's file whose extension is number, the
// name it gets on the device and its folder (string ids joined with "\").
struct CeFile {
  uint16_t number = 0;
  std::string folder;
  std::string name;
};

struct CeSetup {
  std::string appName;
  std::string provider;
  uint32_t architecture = 0;
  CeVersion leastVersion, greatestVersion;
  std::vector<std::string> unsupported;  // platform names, as written
  std::vector<CeFile> files;             // in FILES order
};

// On success fills setup; else returns false with what is damaged in reason.
// Every count, offset and length is checked against bytes.
bool ReadCeSetup(const std::vector<uint8_t>& bytes, CeSetup* setup, std::string* reason);

// "StrongARM", "ARM 920", ...; "none" for 0, "unknown" for others.
std::string CeArchitectureName(uint32_t architecture);

// "any", "4.20 and later", "up to 5.0", "4.20 to 5.0".
std::string CeVersionRange(const CeSetup& setup);

// Whether the UNSUPPORTED list names the Smartphone platform (any case).
bool RefusesSmartphone(const CeSetup& setup);
