// Start-up's pure pieces with the real Win32 string routines: the Workspace
// name, the cut of the Application Manager's folder, and the paths joined
// only when they fit their buffers with the zero.
#include "app/startup.h"

#include <windows.h>

#include "app/dllsearch.h"
#include "base/paths.h"
#include "base/state.h"
#include "tests/module/check.h"

int main() {
  char name[16];
  FormatWorkspaceName(name, 65541);  // only the low 16 bits count
  CHECK_STR("workspace name", name, "_ZQI0005");
  FormatWorkspaceName(name, 0x1234BEEF);
  CHECK_STR("workspace name", name, "_ZQIBEEF");
  const char* const cuts[][2] = {
      {"D:\\Tools\\AppMgr\\CeAppMgr.exe", "D:\\Tools\\AppMgr\\"},
      {"CeAppMgr.exe", ""},
      {"D:\\Tools\\AppMgr\\", "D:\\Tools\\AppMgr\\"},
  };
  for (const auto& c : cuts) {
    lstrcpyA(AppMgrDir, "stale text that must go");
    lstrcpyA(AppMgrPath, c[0]);
    CutAppMgrDir();
    CHECK_STR(c[0], AppMgrDir, c[1]);
  }
  static char dir[kPathChars], dest[kPathChars + 8];
  memset(dir, 'd', kPathChars - 3);
  CHECK_TRUE("dir\\n of 1023 characters", JoinPath(dest, dir, "n") && lstrlenA(dest) == kPathChars - 1);
  dir[kPathChars - 3] = 'd';
  CHECK_TRUE("dir\\n of 1024 characters", !JoinPath(dest, dir, "n") && dest[0] == 0);
  // A library found only in the current folder is never loaded by name,
  // even while the process's search rule still includes that folder.
  char systemDll[MAX_PATH + 16];
  GetSystemDirectoryA(systemDll, MAX_PATH);
  lstrcatA(systemDll, "\\version.dll");
  CHECK_TRUE("a copy planted in the current folder", CopyFileA(systemDll, "zqplanted.dll", FALSE));
  CHECK_TRUE("LoadSystemLibrary leaves it alone", LoadSystemLibrary("zqplanted.dll") == nullptr);
  HMODULE planted = LoadLibraryA("zqplanted.dll");
  CHECK_TRUE("the planted copy loads by its name", planted != nullptr);
  FreeLibrary(planted);
  DeleteFileA("zqplanted.dll");
  return FinishChecks();
}
