#include "payload/limits.h"

bool EntryCountFitsLimits(int32_t entryCount) {
  return entryCount >= 0 && entryCount <= kMaxEntryCount;
}

uint32_t EntryTableBytes(int32_t entryCount) {
  return static_cast<uint32_t>(entryCount) * kEntryBytes;
}

bool NameSpanFitsLimits(const PayloadEntry& entry) {
  return entry.DataOffset > entry.NameOffset &&
         entry.DataOffset - entry.NameOffset <= kMaxNameBytes;
}

bool NameIsTerminated(const char* nameBytes, uint32_t spanBytes) {
  for (uint32_t i = 0; i < spanBytes; ++i)
    if (nameBytes[i] == 0) return true;
  return false;
}

static char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// The part in front of the first dot, without the blanks Windows drops behind
// it, compared with one device name.
static bool BaseIs(const char* name, uint32_t baseLength, const char* device) {
  uint32_t i = 0;
  for (; device[i] != 0; ++i)
    if (i >= baseLength || UpperAscii(name[i]) != device[i]) return false;
  return i == baseLength;
}

static bool IsReservedDeviceName(const char* name) {
  uint32_t base = 0;
  while (name[base] != 0 && name[base] != '.') ++base;
  while (base > 0 && name[base - 1] == ' ') --base;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices)
    if (BaseIs(name, base, device)) return true;
  if (base == 4) {
    // COM1-COM9 and LPT1-LPT9, and with the superscript digits 1, 2 and 3 of
    // the ANSI code page (0xB9, 0xB2, 0xB3), which Windows reserves too.
    const unsigned char digit = static_cast<unsigned char>(name[3]);
    const bool isDigit = (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    if (isDigit && (BaseIs(name, 3, "COM") || BaseIs(name, 3, "LPT"))) return true;
  }
  return false;
}

bool IsPlainFileName(const char* name) {
  bool hasSubstance = false;  // something besides the dots and blanks Windows drops
  for (const char* p = name; *p != 0; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32) return false;
    switch (c) {
      case '\\': case '/': case ':': case '*': case '?':
      case '"': case '<': case '>': case '|':
        return false;
      case '.': case ' ':
        break;
      default:
        hasSubstance = true;
    }
  }
  return hasSubstance && !IsReservedDeviceName(name);
}

uint32_t ProgressPercent(uint32_t inflatedTotal, uint32_t inflatedSize) {
  // Shift-and-subtract division of the 64-bit product: a plain 64-bit '/'
  // would pull libgcc's division routine (and its unwind tables) into the
  // 32-bit program proper.  64 rounds per output chunk cost nothing.
  uint64_t numerator = static_cast<uint64_t>(inflatedTotal) * 100u;
  uint64_t quotient = 0;
  uint64_t remainder = 0;
  for (int bit = 0; bit < 64; ++bit) {
    remainder = (remainder << 1) | (numerator >> 63);
    numerator <<= 1;
    quotient <<= 1;
    if (remainder >= inflatedSize) {
      remainder -= inflatedSize;
      quotient |= 1;
    }
  }
  return static_cast<uint32_t>(quotient);
}
