#include "payload/progress.h"

#include <commctrl.h>

#include "resources/resource.h"

// The bar, looked up once: under Wine every GetDlgItem (inside
// SendDlgItemMessageA) is a round trip to the wineserver, and PM_SETPOS
// comes once per 64 KiB of output.  Written at WM_INITDIALOG.
static HWND ProgressBar;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      ProgressBar = GetDlgItem(dialog, IDC_PROGRESS);
      SendMessageA(ProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      return FALSE;  // no keyboard focus for a window that offers nothing
    case PM_SETPOS:
      SendMessageA(ProgressBar, PBM_SETPOS, wParam, 0);
      return TRUE;
  }
  return FALSE;
}
