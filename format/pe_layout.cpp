#include "format/pe_layout.h"

namespace {

constexpr uint32_t kSectionHeaderBytes = 40;

bool Fits(const std::vector<uint8_t>& image, uint64_t at, uint64_t bytes) { return at + bytes <= image.size(); }

}  // namespace

int64_t PeLayout::FileOffset(uint32_t rva, uint32_t width) const {
  for (const PeSection& s : sections)
    if (rva >= s.rva && uint64_t(rva) + width <= uint64_t(s.rva) + s.fileBytes) return s.fileOffset + (rva - s.rva);
  return -1;
}

PeLayout ReadPeLayout(const std::vector<uint8_t>& image) {
  PeLayout pe;
  PeHeaders h;
  if (!FindPeHeaders(image.data(), image.size(), 112, &h)) return pe;
  pe.pe32plus = h.pe32plus;
  const uint32_t directoryCount = PeLe32(&image[h.directories - 4]);
  const uint16_t sectionCount = PeLe16(&image[h.at + 6]);
  const uint64_t sectionTable = h.optional + PeLe16(&image[h.at + 20]);  // SizeOfOptionalHeader
  if (directoryCount < 11 || !Fits(image, h.directories, 11 * 8) ||
      !Fits(image, sectionTable, uint64_t(sectionCount) * kSectionHeaderBytes))
    return pe;
  pe.imageBaseAt = h.optional + (pe.pe32plus ? 24 : 28);
  pe.imageBase = pe.pe32plus ? PeLe64(&image[pe.imageBaseAt]) : PeLe32(&image[pe.imageBaseAt]);
  pe.checkSumAt = h.optional + 64;
  pe.headerBytes = PeLe32(&image[h.optional + 60]);
  pe.dllCharacteristics = PeLe16(&image[h.optional + 70]);
  pe.relocRva = PeLe32(&image[h.directories + 5 * 8]);
  pe.relocBytes = PeLe32(&image[h.directories + 5 * 8 + 4]);
  pe.loadConfigRva = PeLe32(&image[h.directories + 10 * 8]);
  pe.loadConfigBytes = PeLe32(&image[h.directories + 10 * 8 + 4]);
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = &image[sectionTable + i * kSectionHeaderBytes];
    PeSection section;
    section.name.assign(reinterpret_cast<const char*>(s), 8);
    section.name.resize(section.name.find('\0') == std::string::npos ? 8 : section.name.find('\0'));
    section.virtualBytes = PeLe32(s + 8);
    section.rva = PeLe32(s + 12);
    section.fileBytes = PeLe32(s + 16);
    section.fileOffset = PeLe32(s + 20);
    if (!Fits(image, section.fileOffset, section.fileBytes)) return pe;
    pe.sections.push_back(section);
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
    const uint32_t page = PeLe32(&image[table + at]), blockBytes = PeLe32(&image[table + at + 4]);
    if (blockBytes < 8 || blockBytes % 2 != 0 || blockBytes > pe.relocBytes - at) return false;
    for (uint32_t e = 8; e < blockBytes; e += 2) {
      const uint16_t entry = PeLe16(&image[table + at + e]);
      const uint16_t type = entry >> 12;
      if (type == 0) continue;
      if (type != kRelHighLow && type != kRelDir64) return false;
      out->push_back({page + (entry & 0x0FFF), type});
    }
    at += blockBytes;
  }
  return true;
}
