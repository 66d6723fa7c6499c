// What the Welcome and header pages share: one bold Arial title, black text
// on a white ground, and a bitmap from the Workspace that is deleted from disk
// as soon as it is loaded.
#pragma once
#include <windows.h>

// The three GDI objects a page owns from its initialisation to its
// destruction; null while absent.
struct PageStyle {
  HFONT TitleFont;
  HBRUSH Background;
  HBITMAP Bitmap;
};

// Creates the bold Arial title font of the given character height (pixels)
// and character set, gives it to the title control, and creates the white
// background brush.
void SetUpPageStyle(HWND page, int titleId, int titleHeight, BYTE charset, PageStyle* style);

// Reads the bitmap's file name from Setup.ini (key, into value of capacity
// bytes), loads it as a DIB section into style->Bitmap and deletes the file,
// whatever the load gave.  A value that is not a plain file name names no
// file: nothing is loaded or deleted.  False when no bitmap was loaded.
bool LoadPageBitmap(const char* key, char* value, int capacity, PageStyle* style);

// The bitmap's size in pixels, each side cut to its limit.
SIZE LimitedBitmapSize(HBITMAP bitmap, LONG maxWidth, LONG maxHeight);

// The dialog procedure both pages share: WM_INITDIALOG runs init and sets no
// focus; WM_CTLCOLORDLG and WM_CTLCOLORSTATIC paint black on white;
// WM_DESTROY deletes the font, the brush and the bitmap, where present.
INT_PTR AnswerPageMessage(PageStyle* style, void (*init)(HWND page), HWND page, UINT message, WPARAM wParam);
