// The one reader of PE headers, part two: the layout of an image (its
// flags, data directories, sections and relocations) for zqpack's
// mitigations report and architecture check, the build's padding step
// (tools/zqpe) and the benchmark's measures.  Pure code, no windows.h.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "format/pe.h"

inline uint64_t PeLe64(const uint8_t* p) { return PeLe32(p) | uint64_t(PeLe32(p + 4)) << 32; }

// IMAGE_DLLCHARACTERISTICS_* of the optional header.
constexpr uint16_t kHighEntropyVa = 0x0020;
constexpr uint16_t kDynamicBase = 0x0040;
constexpr uint16_t kNxCompat = 0x0100;
constexpr uint16_t kNoSeh = 0x0400;
constexpr uint16_t kTerminalServerAware = 0x8000;

struct PeSection {
  std::string name;
  uint32_t rva = 0, fileOffset = 0, fileBytes = 0;  // as the section table gives them
  uint32_t virtualBytes = 0;                        // its size in memory (VirtualSize)
};

// The headers of a PE image, as far as the mitigations, the relocation proof
// and the measures of the build need them.  File offsets are from the
// image's first byte.
struct PeLayout {
  bool valid = false;  // PE32 or PE32+ headers and section table inside the bytes
  bool pe32plus = false;
  uint32_t imageBaseAt = 0, checkSumAt = 0;  // file offsets of the fields
  uint64_t imageBase = 0;
  uint32_t headerBytes = 0;  // SizeOfHeaders
  uint16_t dllCharacteristics = 0;
  uint32_t relocRva = 0, relocBytes = 0;            // data directory 5
  uint32_t loadConfigRva = 0, loadConfigBytes = 0;  // data directory 10
  std::vector<PeSection> sections;

  // The file offset of the bytes at rva, when a section holds width of them
  // in the file; -1 otherwise.
  int64_t FileOffset(uint32_t rva, uint32_t width) const;
};
PeLayout ReadPeLayout(const std::vector<uint8_t>& image);

// One entry of the base-relocation table: the address to adjust and how
// wide it is (IMAGE_REL_BASED_HIGHLOW 3: 4 bytes; DIR64 10: 8 bytes).
struct BaseRelocation {
  uint32_t rva;
  uint16_t type;
};
constexpr uint16_t kRelHighLow = 3;
constexpr uint16_t kRelDir64 = 10;

// The entries of the table, the padding entries (type 0) left out.  False
// when a block leaves the directory or the file, or an entry has a type
// other than HIGHLOW and DIR64 (which no x86 linker writes).
bool ReadBaseRelocations(const std::vector<uint8_t>& image, const PeLayout& pe, std::vector<BaseRelocation>* out);
