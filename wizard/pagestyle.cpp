#include "wizard/pagestyle.h"

#include "base/state.h"
#include "format/messages.h"
#include "handoff/settings.h"

static const COLORREF kWhite = RGB(255, 255, 255);
static const COLORREF kBlack = RGB(0, 0, 0);

void SetUpPageStyle(HWND page, int titleId, int titleHeight, BYTE charset, PageStyle* style) {
  style->TitleFont = CreateFontA(-titleHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, charset,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                                 VARIABLE_PITCH, "Arial");
  SendDlgItemMessageA(page, titleId, WM_SETFONT, reinterpret_cast<WPARAM>(style->TitleFont), 1);
  style->Background = CreateSolidBrush(kWhite);
}

bool LoadPageBitmap(const char* key, char* value, int capacity, PageStyle* style) {
  ReadSetupValue(Texts[TXT_SECTION_ZQI], key, value, capacity);
  if (!WorkspaceFilePath(ScratchText, value)) return false;
  style->Bitmap = static_cast<HBITMAP>(
      LoadImageA(nullptr, ScratchText, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  DeleteFileA(ScratchText);
  return style->Bitmap != nullptr;
}

SIZE LimitedBitmapSize(HBITMAP bitmap, LONG maxWidth, LONG maxHeight) {
  BITMAP info;
  ZeroMemory(&info, sizeof info);
  GetObjectA(bitmap, sizeof info, &info);
  SIZE size = {info.bmWidth > maxWidth ? maxWidth : info.bmWidth,
               info.bmHeight > maxHeight ? maxHeight : info.bmHeight};
  return size;
}

INT_PTR AnswerPageMessage(PageStyle* style, void (*init)(HWND page), HWND page, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG:
      init(page);
      return FALSE;
    case WM_CTLCOLORSTATIC:
      SetTextColor(reinterpret_cast<HDC>(wParam), kBlack);
      SetBkColor(reinterpret_cast<HDC>(wParam), kWhite);
      return reinterpret_cast<INT_PTR>(style->Background);
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(style->Background);
    case WM_DESTROY:
      // The handles stay as they are: a page exists once per run.
      if (style->TitleFont != nullptr) DeleteObject(style->TitleFont);
      if (style->Background != nullptr) DeleteObject(style->Background);
      if (style->Bitmap != nullptr) DeleteObject(style->Bitmap);
      return FALSE;
  }
  return FALSE;
}
