#include "mitigations.h"

#include "bytes.h"

namespace {

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kSectionHeaderBytes = 40;

bool Fits(const std::vector<uint8_t>& image, uint64_t at, uint64_t bytes) { return at + bytes <= image.size(); }

uint64_t GetLe64(const uint8_t* p) { return GetLe32(p) | uint64_t(GetLe32(p + 4)) << 32; }

}  // namespace

int64_t PeLayout::FileOffset(uint32_t rva, uint32_t width) const {
  for (const PeSection& s : sections)
    if (rva >= s.rva && uint64_t(rva) + width <= uint64_t(s.rva) + s.fileBytes) return s.fileOffset + (rva - s.rva);
  return -1;
}

PeLayout ReadPeLayout(const std::vector<uint8_t>& image) {
  PeLayout pe;
  if (!Fits(image, 0x3C, 4)) return pe;
  const uint32_t at = GetLe32(&image[0x3C]);
  const uint64_t optional = uint64_t(at) + 24;  // behind "PE\0\0" and the file header
  if (!Fits(image, optional, 112) || GetLe32(&image[at]) != kPeSignature) return pe;
  const uint16_t magic = GetLe16(&image[optional]);
  if (magic != 0x10B && magic != 0x20B) return pe;
  pe.pe32plus = magic == 0x20B;
  // PE32+ widens ImageBase and the stack and heap sizes to 8 bytes: its
  // data directories start 16 bytes later.
  const uint64_t directories = optional + (pe.pe32plus ? 112 : 96);
  const uint32_t directoryCount = GetLe32(&image[directories - 4]);
  const uint16_t sectionCount = GetLe16(&image[at + 6]);
  const uint64_t sectionTable = optional + GetLe16(&image[at + 20]);  // SizeOfOptionalHeader
  if (directoryCount < 11 || !Fits(image, directories, 11 * 8) ||
      !Fits(image, sectionTable, uint64_t(sectionCount) * kSectionHeaderBytes))
    return pe;
  pe.imageBaseAt = static_cast<uint32_t>(optional + (pe.pe32plus ? 24 : 28));
  pe.imageBase = pe.pe32plus ? GetLe64(&image[pe.imageBaseAt]) : GetLe32(&image[pe.imageBaseAt]);
  pe.checkSumAt = static_cast<uint32_t>(optional + 64);
  pe.headerBytes = GetLe32(&image[optional + 60]);
  pe.dllCharacteristics = GetLe16(&image[optional + 70]);
  pe.relocRva = GetLe32(&image[directories + 5 * 8]);
  pe.relocBytes = GetLe32(&image[directories + 5 * 8 + 4]);
  pe.loadConfigRva = GetLe32(&image[directories + 10 * 8]);
  pe.loadConfigBytes = GetLe32(&image[directories + 10 * 8 + 4]);
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint8_t* h = &image[sectionTable + i * kSectionHeaderBytes];
    PeSection s;
    s.name.assign(reinterpret_cast<const char*>(h), 8);
    s.name.resize(s.name.find('\0') == std::string::npos ? 8 : s.name.find('\0'));
    s.rva = GetLe32(h + 12);
    s.fileBytes = GetLe32(h + 16);
    s.fileOffset = GetLe32(h + 20);
    if (!Fits(image, s.fileOffset, s.fileBytes)) return pe;
    pe.sections.push_back(s);
  }
  pe.valid = true;
  return pe;
}

bool ReadBaseRelocations(const std::vector<uint8_t>& image, const PeLayout& pe, std::vector<BaseRelocation>* out) {
  out->clear();
  const int64_t table = pe.FileOffset(pe.relocRva, pe.relocBytes);
  if (pe.relocBytes == 0 || table < 0) return pe.relocBytes == 0;
  // Blocks of one 4 KB page each: the page's RVA, the block's size, then
  // 16-bit entries (type in the top 4 bits, offset into the page below).
  for (uint32_t at = 0; at < pe.relocBytes;) {
    if (pe.relocBytes - at < 8) return false;
    const uint32_t page = GetLe32(&image[table + at]), blockBytes = GetLe32(&image[table + at + 4]);
    if (blockBytes < 8 || blockBytes % 2 != 0 || blockBytes > pe.relocBytes - at) return false;
    for (uint32_t e = 8; e < blockBytes; e += 2) {
      const uint16_t entry = GetLe16(&image[table + at + e]);
      const uint16_t type = entry >> 12;
      if (type == 0) continue;
      if (type != kRelHighLow && type != kRelDir64) return false;
      out->push_back({page + (entry & 0x0FFF), type});
    }
    at += blockBytes;
  }
  return true;
}

ProgramMitigations ReadMitigations(const std::vector<uint8_t>& stub) {
  ProgramMitigations m;
  const PeLayout pe = ReadPeLayout(stub);
  if (!pe.valid) return m;
  m.pe = true;
  m.pe32plus = pe.pe32plus;
  m.dllCharacteristics = pe.dllCharacteristics;
  m.relocationBytes = pe.relocBytes;
  std::vector<BaseRelocation> relocations;
  m.relocationsReadable = ReadBaseRelocations(stub, pe, &relocations) && !relocations.empty();
  // IMAGE_LOAD_CONFIG_DIRECTORY's SecurityCookie: the VA of the cookie that
  // the loader seeds, at 0x3C (PE32) or 0x58 (PE32+).
  const uint32_t cookieAt = pe.pe32plus ? 0x58 : 0x3C, cookieWidth = pe.pe32plus ? 8 : 4;
  const int64_t config = pe.FileOffset(pe.loadConfigRva, pe.loadConfigBytes);
  if (pe.loadConfigBytes >= cookieAt + cookieWidth && config >= 0)
    m.stackCookies = (pe.pe32plus ? GetLe64(&stub[config + cookieAt]) : GetLe32(&stub[config + cookieAt])) != 0;
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
