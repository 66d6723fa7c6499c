// Start-up's pure pieces with the real Win32 string routines: the Workspace
// name and the cut of the Application Manager's folder.
#include <windows.h>

#include "app/startup.h"
#include "app/state.h"
#include "tests/module/check.h"

static void WorkspaceName() {
  char name[16];
  FormatWorkspaceName(name, 65541);  // 0x10005: only the low 16 bits count
  CHECK_STR("workspace name", name, "_ZQI0005");
  FormatWorkspaceName(name, 0x1234BEEF);
  CHECK_STR("workspace name", name, "_ZQIBEEF");
  FormatWorkspaceName(name, 0);
  CHECK_STR("workspace name", name, "_ZQI0000");
}

static void AppMgrDirCut() {
  struct Case {
    const char* path;
    const char* dir;
  } cases[] = {
      {"D:\\Tools\\AppMgr\\CeAppMgr.exe", "D:\\Tools\\AppMgr\\"},
      {"CeAppMgr.exe", ""},
      {"D:\\Tools\\AppMgr\\", "D:\\Tools\\AppMgr\\"},
      {"C:\\Program Files\\Microsoft ActiveSync\\CEAPPMGR.EXE", "C:\\Program Files\\Microsoft ActiveSync\\"},
  };
  for (const Case& c : cases) {
    lstrcpyA(AppMgrDir, "stale text that must go");
    lstrcpyA(AppMgrPath, c.path);
    CutAppMgrDir();
    CHECK_STR("AppMgrDir cut", AppMgrDir, c.dir);
  }
}

int main() {
  WorkspaceName();
  AppMgrDirCut();
  return FinishChecks();
}
