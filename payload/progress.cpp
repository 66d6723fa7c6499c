#include "payload/progress.h"

#include <commctrl.h>

#include "resources/resource.h"

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      return FALSE;  // no keyboard focus for a window that offers nothing
    case PM_SETPOS:
      SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, wParam, 0);
      return TRUE;
  }
  return FALSE;
}
