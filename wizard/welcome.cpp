#include "base/state.h"
#include "format/messages.h"
#include "resources/resource.h"
#include "wizard/pages.h"
#include "wizard/pagestyle.h"

// The Welcome page exists once per run; its objects live here until
// WM_DESTROY deletes them.
static PageStyle WelcomeStyle;

constexpr int kWelcomeTextChars = 512;  // a template, a formatted text, the BodyBitmap value
constexpr int kWelcomeTitleHeightPx = 18;
constexpr LONG kBodyBitmapMaxWidthPx = 500;
constexpr LONG kBodyBitmapMaxHeightPx = 314;

// Replaces the control's "%s" template with its formatted text.  The product
// values are arguments, never formats, so a percent sign in them stays as it
// is; a text longer than its buffer is cut to fit.
static void FormatControlText(HWND page, int id, char* templateText, char* text) {
  GetDlgItemTextA(page, id, templateText, kWelcomeTextChars);
  wsprintfA(ScratchText, templateText, ProductName, ProductVersion);
  lstrcpynA(text, ScratchText, kWelcomeTextChars);
  SetDlgItemTextA(page, id, text);
}

static void InitWelcomePage(HWND page) {
  char first[kWelcomeTextChars];
  char second[kWelcomeTextChars];
  FormatControlText(page, IDC_WELCOME_TITLE, first, second);
  FormatControlText(page, IDC_WELCOME_BODY, first, second);
  SetUpPageStyle(page, IDC_WELCOME_TITLE, kWelcomeTitleHeightPx, ANSI_CHARSET, &WelcomeStyle);
  if (!LoadPageBitmap(Texts[TXT_KEY_BODY_BITMAP], first, kWelcomeTextChars, &WelcomeStyle)) return;
  // The static keeps its place at the top-left corner, takes the bitmap's
  // size, and lies under the texts it overlaps.
  const SIZE size = LimitedBitmapSize(WelcomeStyle.Bitmap, kBodyBitmapMaxWidthPx, kBodyBitmapMaxHeightPx);
  SetWindowPos(GetDlgItem(page, IDC_BODY_BITMAP), HWND_BOTTOM, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOACTIVATE);
  SendDlgItemMessageA(page, IDC_BODY_BITMAP, STM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(WelcomeStyle.Bitmap));
}

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  return AnswerPageMessage(&WelcomeStyle, InitWelcomePage, page, message, wParam);
}
