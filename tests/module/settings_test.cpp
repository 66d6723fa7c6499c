// Setup.ini read through the real profile reader: "NO" for what is missing,
// the component indirection, the letter case of the file name; and which
// values may name a file in the Workspace.
#include "handoff/settings.h"

#include <windows.h>

#include <initializer_list>

#include "base/state.h"
#include "handoff/handoff.h"
#include "tests/module/check.h"

// The Workspace holding one settings file (none when storedName is null).
static void MakeWorkspace(const char* storedName, const char* contents) {
  char path[MAX_PATH * 2];
  GetTempPathA(MAX_PATH, path);
  wsprintfA(WorkspaceDir, "%szq_settings_%lu", path, GetCurrentProcessId());
  CreateDirectoryA(WorkspaceDir, nullptr);
  for (const char* name : {"setup.ini", "Setup.ini", storedName}) {
    if (name == nullptr) continue;
    wsprintfA(path, "%s\\%s", WorkspaceDir, name);
    DeleteFileA(path);
    if (name != storedName) continue;
    WriteWholeFile(path, contents, lstrlenA(contents));
  }
}

int main() {
  const char* const values = "[ZQINSTALLER]\r\nProductVersion = 1.53\r\nLicenseFile =\r\n";
  const struct {
    const char* what;
    const char* storedName;
    const char* contents;
    const char* key;  // of [ZQINSTALLER]; null: CabFiles of the component
    const char* want;
  } rows[] = {
      {"missing file gives NO", nullptr, nullptr, "ProductName", "NO"},
      {"missing section gives NO", "Setup.ini", "[Other]\r\nProductName = X\r\n", "ProductName", "NO"},
      {"missing key gives NO", "Setup.ini", values, "ProductName", "NO"},
      {"nothing behind the equals sign gives the empty text", "Setup.ini", values, "LicenseFile", ""},
      {"setup.ini is found as Setup.ini", "setup.ini", "[ZQINSTALLER]\r\nProductName = L\r\n", "ProductName", "L"},
      {"CabFiles from the component's section", "Setup.ini",
       "[CEAppManager]\r\nComponent = Demo App\r\n\r\n[Demo App]\r\nCabFiles = DEMO.CAB,extra.cab", nullptr,
       "DEMO.CAB,extra.cab"},
      {"a component naming a missing section gives NO", "Setup.ini",
       "[CEAppManager]\r\nComponent = Nowhere\r\n\r\n[Demo]\r\nCabFiles = a.cab", nullptr, "NO"},
  };
  for (const auto& row : rows) {
    MakeWorkspace(row.storedName, row.contents);
    char value[kCabFilesChars];
    if (row.key != nullptr)
      ReadSetupValue("ZQINSTALLER", row.key, value, 256);
    else
      ReadCabFiles(value);
    CHECK_STR(row.what, value, row.want);
  }
  MakeWorkspace(nullptr, nullptr);
  RemoveDirectoryA(WorkspaceDir);

  char path[1024];
  lstrcpyA(WorkspaceDir, "C:\\ws");
  CHECK_TRUE("plain name", WorkspaceFilePath(path, "license.rtf"));
  CHECK_STR("plain name joined", path, "C:\\ws\\license.rtf");
  CHECK_TRUE("trailing blank stays allowed", WorkspaceFilePath(path, "b.cab "));
  CHECK_TRUE("empty value names the Workspace itself", WorkspaceFilePath(path, ""));
  for (const char* name : {"..\\x", "C:\\x", "x:y", "a/b", "CON", "NUL.txt", "..", "."})
    CHECK_TRUE(name, !WorkspaceFilePath(path, name));
  return FinishChecks();
}
