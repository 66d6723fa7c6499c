// The license viewer with the real Rich Edit 1.0 control: the format chosen
// by the path's last three characters, empty and missing files, a text of a
// megabyte shown whole.
#include "wizard/license.h"

#include <windows.h>

#include "tests/module/check.h"

static char Path[MAX_PATH * 2], Text[512];
static int ShownChars;

static const char* WriteLicense(const char* name, const char* contents) {
  GetTempPathA(MAX_PATH, Path);
  lstrcatA(Path, name);
  WriteWholeFile(Path, contents, lstrlenA(contents));
  return Path;
}

// Loads path into a fresh viewer that shows oldText; Text gets what it shows then.
static bool Load(const char* path, const char* oldText) {
  HWND viewer = CreateWindowExA(0, "RICHEDIT", oldText, WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0, 300, 200, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  const bool loaded = LoadLicenseFile(viewer, path);
  Text[0] = 0;
  GetWindowTextA(viewer, Text, sizeof Text);
  ShownChars = GetWindowTextLengthA(viewer);
  DestroyWindow(viewer);
  return loaded;
}

int main() {
  if (LoadLibraryA("riched32.dll") == nullptr) return printf("FAIL riched32.dll does not load\n"), 1;
  // Rich text shows its words, not its markup; anything else shows the source as it is.
  const struct {
    const char* name;
    bool rich;
  } files[] = {{"zq_lic.RTF", true},
               {"zq_lic4rtf", true},
               {"zq_lic.txt", false},
               {"zq_lic.rtf.txt", false},
               {"zq_lic.rt", false}};
  for (const auto& f : files) {
    CHECK_TRUE(f.name,
               Load(WriteLicense(f.name, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 \\b Terms\\b0  apply.}"), ""));
    CHECK_HAS(f.name, Text, f.rich ? "Terms apply." : "{\\rtf1");
    CHECK_TRUE(f.name, (strstr(Text, "\\rtf1") == nullptr) == f.rich);
    DeleteFileA(Path);
  }
  CHECK_TRUE("an empty plain file loads", Load(WriteLicense("zq_empty.txt", ""), "old text"));
  CHECK_STR("an empty plain file leaves the viewer empty", Text, "");
  DeleteFileA(Path);
  CHECK_TRUE("a missing file fails", !Load(Path, "kept"));
  CHECK_STR("a missing file leaves the viewer alone", Text, "kept");
  // Far beyond Rich Edit's default limit of 32767 characters.
  static char big[1 << 20];
  for (int i = 0; i + 1 < static_cast<int>(sizeof big); ++i)
    big[i] = i % 72 == 71 ? '\n' : static_cast<char>('a' + i % 26);
  CHECK_TRUE("a text of a megabyte loads", Load(WriteLicense("zq_big.txt", big), ""));
  CHECK_TRUE("a text of a megabyte shows whole", ShownChars >= static_cast<int>(sizeof big) - 1);
  DeleteFileA(Path);
  return FinishChecks();
}
