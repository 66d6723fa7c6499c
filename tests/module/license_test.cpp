// The license viewer with the real Rich Edit 1.0 control: the format chosen
// by the path's last three characters, empty and missing files.
#include "wizard/license.h"

#include <windows.h>

#include "tests/module/check.h"

static char TempPath[MAX_PATH];

static const char* WriteLicense(const char* name, const char* contents) {
  static char path[MAX_PATH * 2];
  wsprintfA(path, "%s%s", TempPath, name);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, contents, lstrlenA(contents), &written, nullptr);
  CloseHandle(file);
  return path;
}

// Loads path into a fresh viewer that shows oldText; text gets what it shows then.
static bool Load(const char* path, const char* oldText, char* text, int capacity) {
  HWND viewer = CreateWindowExA(0, "RICHEDIT", oldText, WS_POPUP | ES_MULTILINE | ES_READONLY | WS_VSCROLL, 0, 0, 300,
                                200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  const bool loaded = LoadLicenseFile(viewer, path);
  text[0] = 0;
  GetWindowTextA(viewer, text, capacity);
  DestroyWindow(viewer);
  return loaded;
}

int main() {
  GetTempPathA(MAX_PATH, TempPath);
  if (LoadLibraryA("riched32.dll") == nullptr) {
    printf("FAIL riched32.dll does not load\n");
    return 1;
  }
  // Rich text shows its words, not its markup; anything else shows the source as it is.
  const struct {
    const char* name;
    bool rich;
  } files[] = {{"zq_lic1.rtf", true},  {"zq_lic2.RTF", true},      {"zq_lic3.Rtf", true}, {"zq_lic4rtf", true},
               {"zq_lic5.txt", false}, {"zq_lic6.rtf.txt", false}, {"zq_lic7.rt", false}};
  char text[512];
  for (const auto& f : files) {
    const char* path = WriteLicense(f.name, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 \\b Terms\\b0  apply.\\par}");
    CHECK_TRUE(f.name, Load(path, "", text, sizeof text));
    CHECK_HAS(f.name, text, f.rich ? "Terms apply." : "{\\rtf1");
    if (f.rich) CHECK_TRUE(f.name, strstr(text, "\\rtf1") == nullptr);
    DeleteFileA(path);
  }

  const char* empty = WriteLicense("zq_empty.txt", "");
  CHECK_TRUE("an empty plain file loads", Load(empty, "old text", text, sizeof text));
  CHECK_STR("an empty plain file leaves the viewer empty", text, "");
  DeleteFileA(empty);
  CHECK_TRUE("a missing file fails", !Load(empty, "kept", text, sizeof text));
  CHECK_STR("a missing file leaves the viewer alone", text, "kept");
  return FinishChecks();
}
