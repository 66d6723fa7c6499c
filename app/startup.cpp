#include "app/startup.h"

#include "app/errors.h"
#include "app/paths.h"
#include "app/state.h"
#include "app/dllsearch.h"

void FormatWorkspaceName(char* dest, DWORD tickCount) {
  wsprintfA(dest, Texts[TXT_WORKSPACE_FMT], tickCount & 0xFFFF);
}

void CutAppMgrDir() {
  lstrcpyA(AppMgrDir, AppMgrPath);
  int i = lstrlenA(AppMgrDir);
  while (i > 0 && AppMgrDir[i - 1] != '\\') --i;
  AppMgrDir[i] = 0;  // behind the backslash, or at 0 when there is none
}

// The ANSI path of the file or folder that the wide path names, into dest
// (kPathChars).  The ANSI calls give '?' for every character the code page
// lacks (a user's profile folder named in another script), a path no call can
// open; the short (8.3) form names the same place in ASCII wherever the volume
// keeps short names.  A path converts when every character has its own in the
// code page: no '?' and no look-alike ("best fit") stands in for one.  Fails
// naming the folder's role (MSG_TEMP_FOLDER, MSG_OWN_FOLDER) when neither form
// converts.
static bool TakeAnsiPath(char* dest, WCHAR* wide, MessageId role) {
  for (bool shortened = false;; shortened = true) {
    BOOL lossy = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, dest, kPathChars, nullptr, &lossy);
    // An ANSI code page of UTF-8 refuses the flag and the used-default test,
    // and converts every path.
    if (bytes == 0) bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, dest, kPathChars, nullptr, nullptr);
    if (bytes != 0 && !lossy) return true;
    // The short form may take the long one's buffer.
    if (shortened || GetShortPathNameW(wide, wide, kPathChars) - 1 >= static_cast<DWORD>(kPathChars - 1))
      return RecordFailure(MSG_NO_ANSI_PATH, Messages[role]);
  }
}

// Steps 4 to 6.  A folder of that name that exists already is taken over.
static bool CreateWorkspace() {
  WCHAR wide[kPathChars];
  const DWORD tempChars = GetTempPathW(kPathChars, wide);
  FormatWorkspaceName(ScratchText, GetTickCount());
  // A temporary folder that cannot be had (the call failed, or its path is
  // too long for the buffer) is never replaced by the current folder, where
  // the Workspace would land beside whatever the user keeps there.
  if (tempChars == 0 || tempChars >= static_cast<DWORD>(kPathChars))
    return RecordFailure(MSG_CREATE_DIRECTORY, tempChars == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE,
                         ScratchText);
  if (!TakeAnsiPath(WorkspaceDir, wide, MSG_TEMP_FOLDER)) return false;
  if (!AppendPath(WorkspaceDir, ScratchText))
    return RecordFailure(MSG_CREATE_DIRECTORY, ERROR_FILENAME_EXCED_RANGE, WorkspaceDir);
  if (!CreateDirectoryA(WorkspaceDir, nullptr)) {
    const DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS) return RecordFailure(MSG_CREATE_DIRECTORY, code, WorkspaceDir);
  }
  return true;
}

// Steps 7 to 10.  The key is opened for reading only: full access on
// HKEY_LOCAL_MACHINE needs administrator rights, which would make an
// installed Application Manager look missing.
static bool LocateAppMgr() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Texts[TXT_APP_PATHS_KEY], 0, KEY_READ, &key) != ERROR_SUCCESS)
    return RecordFailure(MSG_APPMGR_NOT_INSTALLED);
  DWORD type;
  DWORD size = kAppMgrValueBytes;
  const LONG result = RegQueryValueExA(key, nullptr, nullptr, &type,
                                       reinterpret_cast<BYTE*>(AppMgrPath), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    AppMgrPath[0] = 0;
    return RecordFailure(MSG_APPMGR_NOT_FOUND);
  }
  CutAppMgrDir();
  return true;
}

// Steps 11 and 12.
static bool OpenOwnFile(RunResources* run) {
  WCHAR wide[kPathChars];
  // The call's result is the path's length, or 0 when it failed, or the
  // buffer's size when it cut the path: the last two leave the path empty,
  // and opening it fails below.
  wide[GetModuleFileNameW(InstanceHandle, wide, kPathChars) % kPathChars] = 0;
  if (!TakeAnsiPath(ScratchText, wide, MSG_OWN_FOLDER)) return false;
  run->OwnFile = CreateFileA(ScratchText, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (run->OwnFile == INVALID_HANDLE_VALUE) return RecordFailure(MSG_OPEN_SELF, GetLastError());
  return true;
}

bool StartUp(RunResources* run) {
  InitCommonControlsFromSystem();
  wsprintfA(ErrorCaption, Texts[TXT_ERROR_CAPTION_FMT], Texts[TXT_PRODUCT]);
  InstanceHandle = GetModuleHandleA(nullptr);
  return CreateWorkspace() && LocateAppMgr() && OpenOwnFile(run);
}

HMODULE LoadRichEdit() {
  HMODULE richEdit = LoadSystemLibrary(Texts[TXT_RICHED32]);
  if (richEdit == nullptr) RecordFailure(MSG_RICHEDIT_FAILED);
  return richEdit;
}
