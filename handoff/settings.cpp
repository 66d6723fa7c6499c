#include "handoff/settings.h"

#include <windows.h>

#include "base/paths.h"
#include "base/state.h"
#include "format/filename.h"
#include "format/messages.h"

void ReadSetupValue(const char* section, const char* key, char* dest, int capacity) {
  // The profile reader ignores letter case in file names like the file
  // system: a stored setup.ini is found as Setup.ini.
  if (!JoinPath(ScratchText, WorkspaceDir, Texts[TXT_SETUP_INI])) {
    lstrcpynA(dest, Texts[TXT_NO], capacity);
    return;
  }
  GetPrivateProfileStringA(section, key, Texts[TXT_NO], dest, capacity, ScratchText);
}

bool WorkspaceFilePath(char* dest, const char* name) {
  // An empty name means the Workspace folder itself, which no file
  // operation affects.
  if (name[0] != 0 && !IsPlainFileName(name)) {
    dest[0] = 0;
    return false;
  }
  return JoinPath(dest, WorkspaceDir, name);
}

void ReadCabFiles(char* cabFiles) {
  char component[kComponentChars];
  ReadSetupValue(Texts[TXT_SECTION_APPMGR], Texts[TXT_KEY_COMPONENT], component, kComponentChars);
  ReadSetupValue(component, Texts[TXT_KEY_CAB_FILES], cabFiles, kCabFilesChars);
}
