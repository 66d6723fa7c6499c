// Setup.ini reading through the real profile reader: defaults, empty values,
// capacities, the component indirection, the letter case of the file name and
// which values name a file in the Workspace.
#include "handoff/settings.h"

#include <windows.h>

#include "app/state.h"
#include "handoff/handoff.h"
#include "tests/module/check.h"

// The Workspace under the temporary folder, without a settings file.
static void EmptyWorkspace() {
  char path[MAX_PATH * 2];
  GetTempPathA(MAX_PATH, path);
  wsprintfA(WorkspaceDir, "%szq_settings_%lu", path, GetCurrentProcessId());
  CreateDirectoryA(WorkspaceDir, nullptr);
  const char* const names[] = {"setup.ini", "Setup.ini"};
  for (const char* name : names) {
    wsprintfA(path, "%s\\%s", WorkspaceDir, name);
    DeleteFileA(path);
  }
}

// The Workspace holding one settings file (none when storedName is null).
static void MakeWorkspace(const char* storedName, const char* contents) {
  EmptyWorkspace();
  if (storedName == nullptr) return;
  char path[MAX_PATH * 2];
  wsprintfA(path, "%s\\%s", WorkspaceDir, storedName);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, contents, lstrlenA(contents), &written, nullptr);
  CloseHandle(file);
}

static void Values() {
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
      {"blanks around the equals sign are dropped", "Setup.ini", values, "ProductVersion", "1.53"},
      {"nothing behind the equals sign gives the empty text", "Setup.ini", values, "LicenseFile", ""},
      {"setup.ini is found as Setup.ini", "setup.ini", "[ZQINSTALLER]\r\nProductName = Lower\r\n", "ProductName",
       "Lower"},
      {"CabFiles from the component's section", "Setup.ini",
       "[CEAppManager]\r\nVersion = 1.0\r\nComponent = Demo App\r\n\r\n"
       "[Demo App]\r\nDescription = d\r\nCabFiles = DEMO.CAB,extra.cab",
       nullptr, "DEMO.CAB,extra.cab"},
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
}

static void Capacities() {
  char longName[301];
  for (int i = 0; i < 300; ++i) longName[i] = static_cast<char>('a' + i % 26);
  longName[300] = 0;
  char contents[512];
  wsprintfA(contents, "[ZQINSTALLER]\r\nBodyBitmap = %s\r\n", longName);
  MakeWorkspace("Setup.ini", contents);
  char wide[512], narrow[256];
  ReadSetupValue("ZQINSTALLER", "BodyBitmap", wide, sizeof wide);
  CHECK_STR("300 characters read whole at capacity 512", wide, longName);
  ReadSetupValue("ZQINSTALLER", "BodyBitmap", narrow, sizeof narrow);
  longName[255] = 0;
  CHECK_STR("300 characters cut to 255 at capacity 256", narrow, longName);
  EmptyWorkspace();
  RemoveDirectoryA(WorkspaceDir);
}

static void FileNamingSettings() {
  char path[1024];
  lstrcpyA(WorkspaceDir, "C:\\ws");
  CHECK_TRUE("plain name", WorkspaceFilePath(path, "license.rtf"));
  CHECK_STR("plain name joined", path, "C:\\ws\\license.rtf");
  CHECK_TRUE("trailing blank stays allowed", WorkspaceFilePath(path, "b.cab "));
  CHECK_TRUE("empty value keeps its old meaning", WorkspaceFilePath(path, ""));
  const char* const unsafe[] = {"..\\x", "C:\\x", "x:y", "a/b", "CON", "NUL.txt", "..", "."};
  for (const char* name : unsafe) CHECK_TRUE(name, !WorkspaceFilePath(path, name));
}

int main() {
  Values();
  Capacities();
  FileNamingSettings();
  return FinishChecks();
}
