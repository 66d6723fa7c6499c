#include "format/messages.h"
#include "resources/resource.h"
#include "wizard/pages.h"
#include "wizard/pagestyle.h"

// The header page exists once per run; its objects live here until
// WM_DESTROY deletes them.
static PageStyle HeaderStyle;

constexpr int kHeadBitmapValueChars = 256;
constexpr int kHeaderTitleHeightPx = 8;
constexpr LONG kHeadBitmapMaxWidthPx = 500;
constexpr LONG kHeadBitmapHeightPx = 55;  // whatever the bitmap's own height

static void InitHeaderPage(HWND page) {
  char value[kHeadBitmapValueChars];
  SetUpPageStyle(page, IDC_HEAD_TITLE, kHeaderTitleHeightPx, DEFAULT_CHARSET, &HeaderStyle);
  if (!LoadPageBitmap(Texts[TXT_KEY_HEAD_BITMAP], value, kHeadBitmapValueChars, &HeaderStyle)) return;
  // Flush with the page's right edge, at the top, under the two texts.
  const SIZE size = LimitedBitmapSize(HeaderStyle.Bitmap, kHeadBitmapMaxWidthPx, kHeadBitmapHeightPx);
  RECT client;
  GetClientRect(page, &client);
  SetWindowPos(GetDlgItem(page, IDC_HEAD_BITMAP), HWND_BOTTOM, client.right - size.cx, 0, size.cx,
               kHeadBitmapHeightPx, SWP_NOACTIVATE);
  SendDlgItemMessageA(page, IDC_HEAD_BITMAP, STM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(HeaderStyle.Bitmap));
}

INT_PTR CALLBACK HeaderPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  return AnswerPageMessage(&HeaderStyle, InitHeaderPage, page, message, wParam);
}
