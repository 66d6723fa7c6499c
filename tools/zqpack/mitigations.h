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

#include "format/pe_layout.h"

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
ProgramMitigations ReadMitigations(const std::vector<uint8_t>& program);

// One line for people: "ASLR with relocations (864 bytes), NX, no SEH";
// "no ASLR, NX, SEH not excluded" for a program proper built before.
std::string DescribeMitigations(const ProgramMitigations& m);
