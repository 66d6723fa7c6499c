// The setup information of a Windows CE install cabinet: the cabinet's file
// whose name ends in ".000", which tells the Application Manager what the
// application is called, which devices take it, where each of the
// cabinet's numbered files goes, which registry values and shortcuts it
// makes.  Read from bytes alone (no cabinet code), so that the fuzz target
// reaches it directly; written by zqpack cab.  Texts are Windows-1252.
//
// The file, little-endian, no padding anywhere, offsets from its first byte:
//   0   "MSCE"    4  0    8  the file's whole length    12  0    16  1
//   20  processor type (0: any)
//   24/28  least CE version, major/minor   32/36  greatest (0.0: no limit)
//   40/44  least/greatest build (0: no limit)
//   48..58  six 16-bit counts: STRINGS, DIRS, FILES, REGHIVES, REGKEYS, LINKS
//   60..80  their six 32-bit offsets, in the same order
//   84/86 APPNAME, 88/90 PROVIDER, 92/94 UNSUPPORTED: 16-bit offset and
//         16-bit length (terminating zero included) of each; UNSUPPORTED is
//         names each ended by a zero, then an empty one; 0/0 when absent
//   96/98  0, 0                          100  the sections
// Sections, their entries back to back; string ids count from 1, and every
// list of ids ends with 0:
//   STRINGS   id, length with the zero, text
//   DIRS      id, byte length, string ids (joined with ""; the first may
//             be "%CEn%", left for the device to expand)
//   FILES     file number (the member's extension), dir id, file number
//             again, 32-bit copy flags, name length with the zero, name
//   REGHIVES  id, root (1 HKCR, 2 HKCU, 3 HKLM, 4 HKU), 0, byte length,
//             string ids (the key path)
//   REGKEYS   id, hive id, substitution (1: the data holds %CEn% or
//             %InstallDir% for the device to expand), 32-bit type and
//             flags, byte length, the value name with its zero, the data
//   LINKS     id, 0, base folder (0 %InstallDir%, n %CEn%), target (kind
//             1: a file number; kind 0: a dir id, 0 for %InstallDir%),
//             kind, byte length, string ids (the shortcut's name)
// The 16-bit offsets of the header texts keep the whole file under 64 KiB.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

constexpr uint32_t kCeHeaderBytes = 100;
constexpr size_t kCeSetupMaxBytes = 65535;
constexpr uint16_t kCeMaxFiles = 998;  // .001 to .998; .999 is the Setup DLL

// Copy flags of FILES, as the .inf writes them.
constexpr uint32_t kCeWarnIfSkip = 0x1, kCeNoSkip = 0x2, kCeNoOverwrite = 0x10, kCeReplaceOnly = 0x400,
                   kCeSelfRegister = 0x10000000, kCeNoDateDialog = 0x20000000, kCeNoDateCheck = 0x40000000,
                   kCeShared = 0x80000000;
// REGKEYS types, with the one flag beside them.
constexpr uint32_t kCeRegString = 0x0, kCeRegBinary = 0x1, kCeRegMultiString = 0x10000, kCeRegDword = 0x10001,
                   kCeRegTypeMask = 0x10001, kCeRegNoClobber = 0x2;

struct CeVersion {
  uint32_t major = 0;
  uint32_t minor = 0;  // 0.0: no limit
};

// One installed file: the cabinet's file whose extension is number, the
// name it gets on the device and its folder (string ids joined with "").
struct CeFile {
  uint16_t number = 0;
  std::string folder;
  std::string name;
  uint32_t flags = 0;
};

// One registry value; data as the device writes it: a string with its zero,
// a DWORD's 4 bytes, strings each with its zero and an empty one, or bytes.
struct CeRegValue {
  uint16_t root = 0;  // 1 HKCR, 2 HKCU, 3 HKLM, 4 HKU
  std::string key;    // the path below the root, "" between levels
  std::string name;   // "" for the key's default value
  uint32_t type = 0;  // kCeReg* with kCeRegNoClobber
  bool substitute = false;
  std::vector<uint8_t> data;
};

// A shortcut in folder base (0 %InstallDir%, n %CEn%) named name (below it,
// with "" when in a sub-folder); to file number target, or (toFile false)
// to folder targetFolder ("" for %InstallDir%).
struct CeLink {
  std::string name;
  uint16_t base = 0;
  bool toFile = true;
  uint16_t target = 0;
  std::string targetFolder;
};

struct CeSetup {
  std::string appName;
  std::string provider;
  uint32_t architecture = 0;
  CeVersion leastVersion, greatestVersion;
  uint32_t leastBuild = 0, greatestBuild = 0;
  std::vector<std::string> unsupported;  // platform names, as written
  std::vector<CeFile> files;             // in FILES order
  std::vector<CeRegValue> registry;      // in REGKEYS order
  std::vector<CeLink> links;             // in LINKS order
};

// On success fills setup; else returns false with what is damaged in reason.
// Every count, offset and length is checked against bytes.
bool ReadCeSetup(const std::vector<uint8_t>& bytes, CeSetup* setup, std::string* reason);

// The file for setup: strings shared by every path that uses them, DIRS in
// the order the files and links first name them, one hive per root and key.
std::vector<uint8_t> WriteCeSetup(const CeSetup& setup);

// The short name of a registry root ("HKLM"); "" when unknown.
const char* CeRootName(uint16_t root);

// "StrongARM", "ARM 920", ...; "none" for 0, "unknown" for others.
std::string CeArchitectureName(uint32_t architecture);

// "any", "4.20 and later", "up to 5.0", "4.20 to 5.0".
std::string CeVersionRange(const CeSetup& setup);

// Whether the UNSUPPORTED list names the Smartphone platform (any case).
bool RefusesSmartphone(const CeSetup& setup);
