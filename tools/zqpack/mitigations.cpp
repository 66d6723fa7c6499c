#include "mitigations.h"

ProgramMitigations ReadMitigations(const std::vector<uint8_t>& program) {
  ProgramMitigations m;
  const PeLayout pe = ReadPeLayout(program);
  if (!pe.valid) return m;
  m.pe = true;
  m.pe32plus = pe.pe32plus;
  m.dllCharacteristics = pe.dllCharacteristics;
  m.relocationBytes = pe.relocBytes;
  std::vector<BaseRelocation> relocations;
  m.relocationsReadable = ReadBaseRelocations(program, pe, &relocations) && !relocations.empty();
  // IMAGE_LOAD_CONFIG_DIRECTORY's SecurityCookie: the VA of the cookie that
  // the loader seeds, at 0x3C (PE32) or 0x58 (PE32+).
  const uint32_t cookieAt = pe.pe32plus ? 0x58 : 0x3C, cookieWidth = pe.pe32plus ? 8 : 4;
  const int64_t config = pe.FileOffset(pe.loadConfigRva, pe.loadConfigBytes);
  if (pe.loadConfigBytes >= cookieAt + cookieWidth && config >= 0)
    m.stackCookies = (pe.pe32plus ? PeLe64(&program[config + cookieAt]) : PeLe32(&program[config + cookieAt])) != 0;
  return m;
}

std::string DescribeMitigations(const ProgramMitigations& m) {
  if (!m.pe) return "unknown (not a PE image)";
  std::string text;
  if (m.Aslr())
    text = "ASLR with relocations (" + std::to_string(m.relocationBytes) + " bytes)";
  else if (m.Has(kDynamicBase))
    text = "no ASLR (dynamic base without a usable relocation table)";
  else
    text = "no ASLR";
  if (m.pe32plus) text += m.Has(kHighEntropyVa) ? ", high-entropy VA" : ", no high-entropy VA";
  text += m.Has(kNxCompat) ? ", NX" : ", no NX";
  // SEH handlers are registered on the stack in 32-bit code only; 64-bit
  // exception handling is table-based.
  if (!m.pe32plus) text += m.Has(kNoSeh) ? ", no SEH" : ", SEH not excluded";
  if (m.stackCookies) text += ", stack cookies";
  return text;
}
