// The driver's output: one machine-readable line per result on stdout.
#include <cstdio>

#include "driver.h"

namespace zqdriver {

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c > 0x7E) {
          char code[8];
          std::snprintf(code, sizeof code, "\\x%02X", c);
          out += code;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void Emit(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Hex8(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(value));
  return text;
}

std::string RectText(const RECT& rect) {
  char text[64];
  std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", static_cast<long>(rect.left),
                static_cast<long>(rect.top), static_cast<long>(rect.right - rect.left),
                static_cast<long>(rect.bottom - rect.top));
  return text;
}

}  // namespace zqdriver
