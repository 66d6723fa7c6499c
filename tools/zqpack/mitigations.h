// What a program proper declares against exploits, read from its PE
// headers: address-space randomisation (a dynamic base and the relocation
// table that makes it possible), high-entropy addresses, NX, no structured
// exception handlers, and stack cookies where the image records them (a load
// configuration that names a security cookie; GCC's cookies leave no trace
// in the headers).  list and verify show it, so a publisher sees what ships.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// IMAGE_DLLCHARACTERISTICS_* of the optional header.
constexpr uint16_t kHighEntropyVa = 0x0020;
constexpr uint16_t kDynamicBase = 0x0040;
constexpr uint16_t kNxCompat = 0x0100;
constexpr uint16_t kNoSeh = 0x0400;
constexpr uint16_t kTerminalServerAware = 0x8000;

struct PeSection {
  std::string name;
  uint32_t rva = 0, fileOffset = 0, fileBytes = 0;  // as the section table gives them
};

// The headers of a PE image, as far as the mitigations and the relocation
// proof need them.  File offsets are from the image's first byte.
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

struct ProgramMitigations {
  bool pe = false;  // false: not a PE image, nothing is known
  bool pe32plus = false;
  uint16_t dllCharacteristics = 0;
  uint32_t relocationBytes = 0;  // the base-relocation directory, 0 when none
  bool relocationsReadable = false;
  bool stackCookies = false;  // a load configuration that names a security cookie

  bool Has(uint16_t flag) const { return (dllCharacteristics & flag) != 0; }
  // Randomised: a dynamic base with a readable, non-empty relocation table.
  bool Aslr() const { return Has(kDynamicBase) && relocationBytes != 0 && relocationsReadable; }
};
ProgramMitigations ReadMitigations(const std::vector<uint8_t>& stub);

// One line for people: "ASLR with relocations (864 bytes), NX, no SEH";
// "no ASLR, NX, SEH not excluded" for a program proper built before.
std::string DescribeMitigations(const ProgramMitigations& m);
