#include "wizard/license.h"

#include <richedit.h>

#include "format/messages.h"

DWORD CALLBACK LicenseStreamCallback(DWORD_PTR cookie, LPBYTE buffer, LONG requested, LONG* got) {
  DWORD read = 0;
  const BOOL ok = ReadFile(reinterpret_cast<HANDLE>(cookie), buffer, static_cast<DWORD>(requested), &read, nullptr);
  *got = static_cast<LONG>(read);
  return ok ? 0 : static_cast<DWORD>(-1);
}

BOOL LoadLicenseFile(HWND viewer, const char* path) {
  // Only the last three characters decide, not the text behind the last dot.
  char ending[4];
  const int length = lstrlenA(path);
  lstrcpynA(ending, path + (length > 3 ? length - 3 : 0), sizeof ending);
  const WPARAM format = lstrcmpiA(ending, Texts[TXT_RTF]) == 0 ? SF_RTF : SF_TEXT;

  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  EDITSTREAM stream;
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(file);
  stream.dwError = 0;
  stream.pfnCallback = LicenseStreamCallback;
  SendMessageA(viewer, EM_STREAMIN, format, reinterpret_cast<LPARAM>(&stream));
  CloseHandle(file);
  return stream.dwError == 0;
}
