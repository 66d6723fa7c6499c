#include "handoff/handoff.h"

#include <windows.h>

#include "base/errors.h"
#include "base/paths.h"
#include "base/state.h"
#include "format/cablist.h"
#include "handoff/settings.h"

// Copies a Workspace file onto the install folder, then deletes the source
// whether or not the copy worked: the payload still holds every file.  A
// name that is not a plain file name, or a path that does not fit, names no
// file and nothing happens.
static void MoveToInstallFolder(const char* sourceName, const char* targetName) {
  char source[kPathChars];
  char target[kPathChars];
  if (sourceName[0] == 0 || !WorkspaceFilePath(source, sourceName)) return;
  if (!JoinPath(target, AppMgrDir, targetName)) return;
  CopyFileA(source, target, FALSE);
  DeleteFileA(source);
}

static void MoveCabFile(const char* item, void*) { MoveToInstallFolder(item, item); }

// The command line quotes the Application Manager's path: unquoted, a path
// such as C:\Program Files\... would start a planted C:\Program.exe.
static bool StartAppMgr() {
  const int kQuotingChars = 16;  // two pairs of quotes, a blank, "\\Setup.ini", the zero
  if (lstrlenA(AppMgrPath) + lstrlenA(AppMgrDir) + kQuotingChars > kPathChars) return false;
  wsprintfA(ScratchText, Texts[TXT_COMMAND_LINE_FMT], AppMgrPath, AppMgrDir);
  return WinExec(ScratchText, SW_SHOW) > 31;
}

// Appends the install directory to AppMgrDir (which ends in a backslash) and
// creates that folder, one level.  0 when it exists now, else the OS code.
// An object of that name that is there already counts as success.
static DWORD CreateInstallFolder(const char* installDirectory) {
  if (!AppendPath(AppMgrDir, installDirectory)) return ERROR_FILENAME_EXCED_RANGE;
  if (CreateDirectoryA(AppMgrDir, nullptr)) return 0;
  const DWORD code = GetLastError();
  return code == ERROR_ALREADY_EXISTS ? 0 : code;
}

void HandOffToAppMgr() {
  char cabFiles[kCabFilesChars];
  char installDirectory[kInstallDirectoryChars];
  ReadCabFiles(cabFiles);
  ReadSetupValue(Texts[TXT_SECTION_ZQI], Texts[TXT_KEY_INSTALL_DIRECTORY], installDirectory,
                 kInstallDirectoryChars);

  const DWORD code = CreateInstallFolder(installDirectory);
  if (code != 0) {
    wsprintfA(ErrorText, Messages[MSG_CREATE_DIRECTORY], code, AppMgrDir);
    ShowErrorBox(ErrorText);
    return;  // nothing has moved
  }
  ForEachCabFile(cabFiles, MoveCabFile, nullptr);
  MoveToInstallFolder(Texts[TXT_SETUP_INI], Texts[TXT_SETUP_INI]);
  RemoveDirectoryA(WorkspaceDir);
  if (!StartAppMgr()) ShowErrorBox(Messages[MSG_LAUNCH_FAILED]);
}
