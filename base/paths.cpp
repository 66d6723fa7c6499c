#include "base/paths.h"

#include <windows.h>

#include "base/state.h"
#include "format/messages.h"

bool JoinPath(char* dest, const char* dir, const char* name) {
  if (lstrlenA(dir) + 1 + lstrlenA(name) >= kPathChars) {
    dest[0] = 0;
    return false;
  }
  wsprintfA(dest, Texts[TXT_PATH_FMT], dir, name);
  return true;
}

bool AppendPath(char* dest, const char* text) {
  if (lstrlenA(dest) + lstrlenA(text) >= kPathChars) return false;
  lstrcatA(dest, text);
  return true;
}
