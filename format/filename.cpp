#include "format/filename.h"

#include <stdint.h>

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
