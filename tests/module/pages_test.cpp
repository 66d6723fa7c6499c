// The pages' drawing objects: once the wizard has ended (a confirmed Cancel),
// the title font, the white brush and the bitmap of each page are deleted.
// The wizard runs from the program proper's own image, beside this program.
#include <windows.h>

#include "base/state.h"
#include "resources/resource.h"
#include "tests/module/check.h"
#include "wizard/wizard.h"

// Per page: title font, background brush, bitmap, as the pages had them.
static HGDIOBJ Objects[2][3];

static void WriteFileOf(const char* name, const void* bytes, DWORD size) {
  char path[kPathChars];
  wsprintfA(path, "%s\\%s", WorkspaceDir, name);
  WriteWholeFile(path, bytes, size);
}

// A 2 x 2 pixel, 24-bit bitmap file.
static void WriteBitmap(const char* name) {
  BYTE file[70] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24};
  WriteFileOf(name, file, sizeof file);
}

// Inside the wizard's modal loops: note the objects and Cancel, then answer
// the question Yes.
static void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
  static int step = 0;
  if (step == 0 && WelcomePageWnd && HeaderPageWnd) {
    const HWND pages[2] = {WelcomePageWnd, HeaderPageWnd};
    const int titles[2] = {IDC_WELCOME_TITLE, IDC_HEAD_TITLE}, bitmaps[2] = {IDC_BODY_BITMAP, IDC_HEAD_BITMAP};
    for (int i = 0; i < 2; ++i) {
      HDC dc = GetDC(pages[i]);
      Objects[i][0] = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(pages[i], titles[i], WM_GETFONT, 0, 0));
      Objects[i][1] = reinterpret_cast<HGDIOBJ>(
          SendMessageA(pages[i], WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(pages[i])));
      Objects[i][2] =
          reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(pages[i], bitmaps[i], STM_GETIMAGE, IMAGE_BITMAP, 0));
      ReleaseDC(pages[i], dc);
    }
    PostMessageA(GetParent(WelcomePageWnd), WM_COMMAND, IDC_CANCEL, 0);
    step = 1;
  } else if (step == 1) {
    if (HWND box = FindWindowA(nullptr, "Exit Setup")) {
      PostMessageA(box, WM_COMMAND, IDYES, 0);
      step = 2;
    }
  }
}

int main() {
  // out\<arch>\this.exe -> out\zqstub-<arch>.exe
  char image[MAX_PATH];
  GetModuleFileNameA(nullptr, image, MAX_PATH);
  *strrchr(image, '\\') = 0;
  char* arch = strrchr(image, '\\');
  *arch++ = 0;
  char stub[MAX_PATH * 2];
  wsprintfA(stub, "%s\\zqstub-%s.exe", image, arch);
  InstanceHandle = LoadLibraryExA(stub, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!InstanceHandle || !LoadLibraryA("riched32.dll")) {
    printf("FAIL cannot load %s or riched32.dll\n", stub);
    return 1;
  }
  GetCurrentDirectoryA(kPathChars - 16, WorkspaceDir);
  lstrcatA(WorkspaceDir, "\\workspace");
  CreateDirectoryA(WorkspaceDir, nullptr);
  const char ini[] = "[ZQINSTALLER]\r\nBodyBitmap = body.bmp\r\nHeadBitmap = head.bmp\r\n";
  WriteFileOf("Setup.ini", ini, sizeof ini - 1);
  WriteBitmap("body.bmp");
  WriteBitmap("head.bmp");

  SetTimer(nullptr, 0, 50, Step);
  RunWizard();
  const char* const names[2][3] = {{"Welcome title font", "Welcome brush", "Welcome bitmap"},
                                   {"header title font", "header brush", "header bitmap"}};
  for (int page = 0; page < 2; ++page)
    for (int i = 0; i < 3; ++i) {
      CHECK_TRUE(names[page][i], Objects[page][i] != nullptr);
      CHECK_TRUE(names[page][i], GetObjectType(Objects[page][i]) == 0);
    }
  return FinishChecks();
}
