// A tiny Windows program that gives the Wine rig's own tests something known
// to drive, independent of the setup program.
//
//   boxdemo.exe box CODE CAPTION TEXT [STYLE]
//       MessageBoxA(no owner, TEXT, CAPTION, STYLE or MB_OK|MB_ICONHAND),
//       then exits with CODE, or with the box's result (IDOK 1 ... IDNO 7)
//       when CODE is "answer".  "\n", "\t", "\"" and "\\" in CAPTION and TEXT
//       stand for a line feed, a tab, a quotation mark and a backslash.
//   boxdemo.exe wizard CODE
//       A modal dialog shaped like the setup's wizard: Next (1000, disabled
//       until Accept 1003 is checked), Cancel (1001), Decline (1004, checked
//       at first), a RICHEDIT 1005 holding two lines and given the focus, and
//       a child page with a bold Arial title 1007 and a body 1006.  Cancel
//       asks "Quit the demo?" under "Exit Demo" (MB_YESNO|MB_ICONQUESTION|
//       MB_DEFBUTTON2, owned by the dialog); Yes exits with 7, Next with CODE.
//       Esc (IDCANCEL) is ignored.
//
// CODE is decimal, negative decimal or 0x-hexadecimal.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

const int kFrameId = 201;
const int kPageId = 202;
const UINT kCancelledCode = 7;
UINT g_nextCode = 0;       // exit code after Next
HFONT g_titleFont = nullptr;

std::string Unescape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p != '\\' || !p[1]) {
      out += *p;
      continue;
    }
    ++p;
    switch (*p) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      default: out += *p; break;
    }
  }
  return out;
}

UINT ParseCode(const char* text) {
  if (text[0] == '-') return static_cast<UINT>(std::strtol(text, nullptr, 10));
  return static_cast<UINT>(std::strtoul(text, nullptr, 0));
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    g_titleFont = CreateFontA(-18, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, PROOF_QUALITY,
                              VARIABLE_PITCH, "Arial");
    SendDlgItemMessageA(page, 1007, WM_SETFONT, reinterpret_cast<WPARAM>(g_titleFont), 1);
  }
  return FALSE;
}

INT_PTR CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowTextA(frame, "Rig Demo");
      HWND page = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kPageId), frame,
                                     PageProc, 0);
      ShowWindow(page, SW_SHOWNORMAL);
      SetDlgItemTextA(frame, 1005, "Line one\r\nLine two");
      CheckDlgButton(frame, 1004, BST_CHECKED);
      SetFocus(GetDlgItem(frame, 1005));
      EnableWindow(GetDlgItem(frame, 1000), FALSE);
      return FALSE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case 1000:
          EndDialog(frame, 1);
          break;
        case 1001:
          if (MessageBoxA(frame, "Quit the demo?", "Exit Demo",
                          MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES) {
            g_nextCode = kCancelledCode;
            EndDialog(frame, 1);
          }
          break;
        case 1003:
          EnableWindow(GetDlgItem(frame, 1000), TRUE);
          break;
        case 1004:
          EnableWindow(GetDlgItem(frame, 1000), FALSE);
          break;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "box" && (argc == 5 || argc == 6)) {
    UINT style = argc == 6 ? ParseCode(argv[5]) : MB_OK | MB_ICONHAND;
    int answer = MessageBoxA(nullptr, Unescape(argv[4]).c_str(), Unescape(argv[3]).c_str(), style);
    ExitProcess(std::string(argv[2]) == "answer" ? static_cast<UINT>(answer) : ParseCode(argv[2]));
  }
  if (mode == "wizard" && argc == 3) {
    g_nextCode = ParseCode(argv[2]);
    if (!LoadLibraryA("riched32.dll")) return 3;
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kFrameId), GetDesktopWindow(),
                    FrameProc, 0);
    if (g_titleFont) DeleteObject(g_titleFont);
    ExitProcess(g_nextCode);
  }
  MessageBoxA(nullptr, "usage: boxdemo box CODE CAPTION TEXT [STYLE] | wizard CODE", "boxdemo",
              MB_OK);
  return 2;
}
