// Start-up's pure pieces with the real Win32 string routines: the Workspace
// name and the cut of the Application Manager's folder.
#include "app/startup.h"

#include <windows.h>

#include "app/state.h"
#include "tests/module/check.h"

int main() {
  const struct {
    DWORD id;
    const char* name;
  } names[] = {{65541, "_ZQI0005"}, {0x1234BEEF, "_ZQIBEEF"}, {0, "_ZQI0000"}};  // only the low 16 bits count
  for (const auto& n : names) {
    char name[16];
    FormatWorkspaceName(name, n.id);
    CHECK_STR("workspace name", name, n.name);
  }

  const struct {
    const char* path;
    const char* dir;
  } cuts[] = {
      {"D:\\Tools\\AppMgr\\CeAppMgr.exe", "D:\\Tools\\AppMgr\\"},
      {"CeAppMgr.exe", ""},
      {"D:\\Tools\\AppMgr\\", "D:\\Tools\\AppMgr\\"},
      {"C:\\Program Files\\Microsoft ActiveSync\\CEAPPMGR.EXE", "C:\\Program Files\\Microsoft ActiveSync\\"},
  };
  for (const auto& c : cuts) {
    lstrcpyA(AppMgrDir, "stale text that must go");
    lstrcpyA(AppMgrPath, c.path);
    CutAppMgrDir();
    CHECK_STR(c.path, AppMgrDir, c.dir);
  }
  return FinishChecks();
}
