// zqbench-startup-floor: the least that a setup with the program's windows
// does before its wizard is up, with no payload at all.  It registers the
// common controls, shows and removes a progress box, loads Rich Edit 1.0 and
// runs a modal dialog with a Rich Edit viewer until Cancel is answered with
// Yes, as the setup does.  What the demo setup takes beyond it is the
// setup's own start-up work: the Workspace, its checks, reading the settings,
// the pages, their bitmaps and fonts, and the license.
#include <windows.h>
#include <commctrl.h>

namespace {

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) SendDlgItemMessageA(dialog, 1013, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  return FALSE;
}

INT_PTR CALLBACK WizardProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetDlgItemTextA(dialog, 1005, "{\\rtf1 License text.}");
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == 1001 &&
      MessageBoxA(dialog, "Are you sure?", "Start-up floor", MB_YESNO | MB_ICONQUESTION) == IDYES)
    EndDialog(dialog, 0);
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  InitCommonControls();
  HWND progress = CreateDialogParamA(instance, MAKEINTRESOURCEA(201), nullptr, ProgressProc, 0);
  SendDlgItemMessageA(progress, 1013, PBM_SETPOS, 100, 0);
  DestroyWindow(progress);
  if (!LoadLibraryA("RICHED32.DLL")) return 1;
  return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(202), nullptr, WizardProc, 0));
}
