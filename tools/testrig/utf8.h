// The rig's programs hold texts as UTF-8 and hand paths to Win32 in their
// wide form: a setup, a TEMP or a log below a folder named in any script
// passes through unharmed, whatever the ANSI code page.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring Wide(const std::string& utf8) {
  const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], chars);
  return wide;
}

inline std::string Utf8(const std::wstring& wide) {
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], bytes, nullptr, nullptr);
  return utf8;
}
