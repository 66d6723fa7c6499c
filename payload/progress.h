// The extraction progress window: a modeless dialog with one line of text and
// a bar counting 0 to 100 percent.  No message loop runs while it exists, so
// it acts only on what is sent to it.
#pragma once
#include <windows.h>

// Sets the bar's position in percent (wParam).  Sent to the dialog, never to
// the bar, where the same number means PBM_SETRANGE.
constexpr UINT PM_SETPOS = WM_USER + 1;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
