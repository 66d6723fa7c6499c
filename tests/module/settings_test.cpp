// Setup.ini reading through the real profile reader: defaults, empty values,
// capacities, the component indirection and the letter case of the file name.
#include <windows.h>

#include "app/state.h"
#include "handoff/handoff.h"
#include "handoff/settings.h"
#include "tests/module/check.h"

// A fresh Workspace under the temporary folder holding one settings file.
static void MakeWorkspace(const char* storedName, const char* contents) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  wsprintfA(WorkspaceDir, "%szq_settings_%lu", temp, GetCurrentProcessId());
  CreateDirectoryA(WorkspaceDir, nullptr);
  char path[MAX_PATH * 2];
  wsprintfA(path, "%s\\setup.ini", WorkspaceDir);
  DeleteFileA(path);
  wsprintfA(path, "%s\\Setup.ini", WorkspaceDir);
  DeleteFileA(path);
  if (storedName == nullptr) return;
  wsprintfA(path, "%s\\%s", WorkspaceDir, storedName);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, contents, lstrlenA(contents), &written, nullptr);
  CloseHandle(file);
}

static void RemoveWorkspace() {
  char path[MAX_PATH * 2];
  wsprintfA(path, "%s\\setup.ini", WorkspaceDir);
  DeleteFileA(path);
  wsprintfA(path, "%s\\Setup.ini", WorkspaceDir);
  DeleteFileA(path);
  RemoveDirectoryA(WorkspaceDir);
}

static void Defaults() {
  char value[256];
  MakeWorkspace(nullptr, nullptr);
  ReadSetupValue("ZQINSTALLER", "ProductName", value, sizeof value);
  CHECK_STR("missing file gives NO", value, "NO");

  MakeWorkspace("Setup.ini", "[Other]\r\nProductName = X\r\n");
  ReadSetupValue("ZQINSTALLER", "ProductName", value, sizeof value);
  CHECK_STR("missing section gives NO", value, "NO");

  MakeWorkspace("Setup.ini", "[ZQINSTALLER]\r\nProductVersion = 1.53\r\nLicenseFile =\r\n");
  ReadSetupValue("ZQINSTALLER", "ProductName", value, sizeof value);
  CHECK_STR("missing key gives NO", value, "NO");
  ReadSetupValue("ZQINSTALLER", "ProductVersion", value, sizeof value);
  CHECK_STR("blanks around the equals sign are dropped", value, "1.53");
  ReadSetupValue("ZQINSTALLER", "LicenseFile", value, sizeof value);
  CHECK_STR("nothing behind the equals sign gives the empty text", value, "");
}

static void ComponentIndirection() {
  char cabFiles[kCabFilesChars];
  MakeWorkspace("Setup.ini",
                "[CEAppManager]\r\nVersion = 1.0\r\nComponent = Demo App\r\n\r\n"
                "[Demo App]\r\nDescription = d\r\nCabFiles = DEMO.CAB,extra.cab");
  ReadCabFiles(cabFiles);
  CHECK_STR("CabFiles from the component's section", cabFiles, "DEMO.CAB,extra.cab");

  MakeWorkspace("Setup.ini", "[CEAppManager]\r\nComponent = Nowhere\r\n\r\n[Demo]\r\nCabFiles = a.cab");
  ReadCabFiles(cabFiles);
  CHECK_STR("a component naming a missing section gives NO", cabFiles, "NO");
}

static void Capacities() {
  char longName[301];
  for (int i = 0; i < 300; ++i) longName[i] = static_cast<char>('a' + i % 26);
  longName[300] = 0;
  char contents[512];
  wsprintfA(contents, "[ZQINSTALLER]\r\nBodyBitmap = %s\r\n", longName);
  MakeWorkspace("Setup.ini", contents);
  char wide[512];
  ReadSetupValue("ZQINSTALLER", "BodyBitmap", wide, sizeof wide);
  CHECK_STR("300 characters read whole at capacity 512", wide, longName);
  char narrow[256];
  ReadSetupValue("ZQINSTALLER", "BodyBitmap", narrow, sizeof narrow);
  longName[255] = 0;
  CHECK_STR("300 characters cut to 255 at capacity 256", narrow, longName);
}

static void LetterCase() {
  char value[256];
  MakeWorkspace("setup.ini", "[ZQINSTALLER]\r\nProductName = Lower\r\n");
  ReadSetupValue("ZQINSTALLER", "ProductName", value, sizeof value);
  CHECK_STR("setup.ini is found as Setup.ini", value, "Lower");
}

static void FileNamingSettings() {
  char path[1024];
  lstrcpyA(WorkspaceDir, "C:\\ws");
  CHECK_TRUE("plain name", WorkspaceFilePath(path, "license.rtf"));
  CHECK_STR("plain name joined", path, "C:\\ws\\license.rtf");
  CHECK_TRUE("trailing blank stays allowed", WorkspaceFilePath(path, "b.cab "));
  CHECK_TRUE("empty value keeps its old meaning", WorkspaceFilePath(path, ""));
  const char* unsafe[] = {"..\\x", "C:\\x", "x:y", "a/b", "CON", "NUL.txt", "..", "."};
  for (const char* name : unsafe) CHECK_TRUE("not a plain file name", !WorkspaceFilePath(path, name));
}

int main() {
  Defaults();
  ComponentIndirection();
  Capacities();
  LetterCase();
  RemoveWorkspace();
  FileNamingSettings();
  return FinishChecks();
}
