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

// The Workspace: a folder named from the tick count in the temporary
// folder.  A folder of that name that exists already is taken over.
static bool CreateWorkspace() {
  const DWORD tempChars = GetTempPathA(kPathChars, WorkspaceDir);
  FormatWorkspaceName(ScratchText, GetTickCount());
  // A temporary folder that cannot be had (the call failed, or its path is
  // too long for the buffer) is never replaced by the current folder, where
  // the Workspace would land beside whatever the user keeps there.
  if (tempChars == 0 || tempChars >= static_cast<DWORD>(kPathChars))
    return RecordFailure(MSG_CREATE_DIRECTORY, tempChars == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE,
                         ScratchText);
  if (!AppendPath(WorkspaceDir, ScratchText))
    return RecordFailure(MSG_CREATE_DIRECTORY, ERROR_FILENAME_EXCED_RANGE, WorkspaceDir);
  if (!CreateDirectoryA(WorkspaceDir, nullptr)) {
    const DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS) return RecordFailure(MSG_CREATE_DIRECTORY, code, WorkspaceDir);
  }
  return true;
}

// The Application Manager's path from its App Paths key, and its folder.
// The key is opened for reading only: full access on
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

// The setup's own file, opened for reading into run->OwnFile.
static bool OpenOwnFile(RunResources* run) {
  GetModuleFileNameA(InstanceHandle, ScratchText, kPathChars);
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
