// The license viewer with the real Rich Edit 1.0 control: the format chosen
// by the path's last three characters, empty and missing files.
#include <windows.h>

#include "tests/module/check.h"
#include "wizard/license.h"

static const char kRtf[] = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 \\b Terms\\b0  apply.\\par}";

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

static void ViewerText(HWND viewer, char* text, int capacity) {
  text[0] = 0;
  GetWindowTextA(viewer, text, capacity);
}

static HWND NewViewer() {
  return CreateWindowExA(0, "RICHEDIT", "", WS_POPUP | ES_MULTILINE | ES_READONLY | WS_VSCROLL, 0, 0,
                         300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

static void FormatByEnding() {
  // Rich text: the viewer shows the words, not the markup.
  const char* richNames[] = {"zq_lic1.rtf", "zq_lic2.RTF", "zq_lic3.Rtf", "zq_lic4rtf"};
  for (const char* name : richNames) {
    HWND viewer = NewViewer();
    const char* path = WriteLicense(name, kRtf);
    CHECK_TRUE("rich text loads", LoadLicenseFile(viewer, path));
    char text[512];
    ViewerText(viewer, text, sizeof text);
    CHECK_TRUE("rich text shows its words", strstr(text, "Terms apply.") != nullptr);
    CHECK_TRUE("rich text hides its markup", strstr(text, "\\rtf1") == nullptr);
    DeleteFileA(path);
    DestroyWindow(viewer);
  }
  // Anything else is plain text: the RTF source shows as it is.
  const char* plainNames[] = {"zq_lic5.txt", "zq_lic6.rtf.txt", "zq_lic7.rt"};
  for (const char* name : plainNames) {
    HWND viewer = NewViewer();
    const char* path = WriteLicense(name, kRtf);
    CHECK_TRUE("plain text loads", LoadLicenseFile(viewer, path));
    char text[512];
    ViewerText(viewer, text, sizeof text);
    CHECK_TRUE("plain text shows the RTF source", strstr(text, "{\\rtf1") != nullptr);
    DeleteFileA(path);
    DestroyWindow(viewer);
  }
}

static void EmptyAndMissing() {
  HWND viewer = NewViewer();
  SetWindowTextA(viewer, "old text");
  const char* path = WriteLicense("zq_empty.txt", "");
  CHECK_TRUE("an empty plain file loads", LoadLicenseFile(viewer, path));
  char text[64];
  ViewerText(viewer, text, sizeof text);
  CHECK_STR("an empty plain file leaves the viewer empty", text, "");
  DeleteFileA(path);

  SetWindowTextA(viewer, "kept");
  CHECK_TRUE("a missing file fails", !LoadLicenseFile(viewer, path));
  ViewerText(viewer, text, sizeof text);
  CHECK_STR("a missing file leaves the viewer alone", text, "kept");
  DestroyWindow(viewer);
}

int main() {
  GetTempPathA(MAX_PATH, TempPath);
  if (LoadLibraryA("riched32.dll") == nullptr) {
    printf("FAIL riched32.dll does not load\n");
    return 1;
  }
  FormatByEnding();
  EmptyAndMissing();
  return FinishChecks();
}
