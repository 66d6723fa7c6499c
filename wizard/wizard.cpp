#include "wizard/wizard.h"

#include "base/paths.h"
#include "base/state.h"
#include "format/cablist.h"
#include "format/messages.h"
#include "handoff/handoff.h"
#include "handoff/settings.h"
#include "resources/resource.h"
#include "wizard/license.h"
#include "wizard/pages.h"

constexpr int kLicenseFileChars = 256;

// Set by the first hand-off.  Its message boxes have no owner, so the wizard
// stays enabled behind them and takes every command: a second Next would run
// the hand-off again (appending the install directory to AppMgrDir once
// more), a confirmed Cancel would delete what it moves and end the wizard
// before it does.  From then on every command is ignored.
static bool HandOffStarted;

// The License view's own controls, in the order they are shown and hidden.
static const int kLicenseControls[] = {IDC_LICENSE_RULE, IDC_LICENSE_PROMPT, IDC_LICENSE_TEXT,
                                       IDC_ACCEPT, IDC_DECLINE};

static void ShowControl(HWND dialog, int id, int command) { ShowWindow(GetDlgItem(dialog, id), command); }

static void ShowLicenseControls(HWND dialog, int command) {
  for (int id : kLicenseControls) ShowControl(dialog, id, command);
}

static void EnableNext(HWND dialog, BOOL enable) { EnableWindow(GetDlgItem(dialog, IDC_NEXT), enable); }

// Title, license, pages, radio buttons.  Settings are read before the pages
// are created: the Welcome page formats the product values into its texts.
static void InitWizard(HWND dialog) {
  ReadSetupValue(Texts[TXT_SECTION_ZQI], Texts[TXT_KEY_PRODUCT_NAME], ProductName, kCaptionChars);
  ReadSetupValue(Texts[TXT_SECTION_ZQI], Texts[TXT_KEY_PRODUCT_VERSION], ProductVersion, kCaptionChars);
  // The title goes into the caption buffer, so the hand-off's boxes bear it;
  // a title longer than the buffer is cut.
  wsprintfA(ScratchText, Texts[TXT_TITLE_FMT], ProductName, ProductVersion);
  lstrcpynA(ErrorCaption, ScratchText, kCaptionChars);
  SetWindowTextA(dialog, ErrorCaption);

  char licenseFile[kLicenseFileChars];
  ReadSetupValue(Texts[TXT_SECTION_ZQI], Texts[TXT_KEY_LICENSE_FILE], licenseFile, kLicenseFileChars);
  if (WorkspaceFilePath(ScratchText, licenseFile)) {
    LoadLicenseFile(GetDlgItem(dialog, IDC_LICENSE_TEXT), ScratchText);
    DeleteFileA(ScratchText);
  }

  ShowControl(dialog, IDC_BACK, SW_HIDE);
  SetFocus(GetDlgItem(dialog, IDC_NEXT));
  WelcomePageWnd = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_WELCOME), dialog, WelcomePageProc, 0);
  ShowWindow(WelcomePageWnd, SW_SHOWNORMAL);
  HeaderPageWnd = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_HEADER), dialog, HeaderPageProc, 0);
  ShowWindow(HeaderPageWnd, SW_HIDE);
  ShowLicenseControls(dialog, SW_HIDE);
  SendDlgItemMessageA(dialog, IDC_ACCEPT, BM_SETCHECK, BST_UNCHECKED, 0);
  SendDlgItemMessageA(dialog, IDC_DECLINE, BM_SETCHECK, BST_CHECKED, 0);
  LicenseAccepted = 0;
}

static void EndWizard(HWND dialog) {
  DestroyWindow(WelcomePageWnd);
  DestroyWindow(HeaderPageWnd);
  EndDialog(dialog, 1);
}

static void ShowLicenseView(HWND dialog) {
  ShowWindow(WelcomePageWnd, SW_HIDE);
  ShowWindow(HeaderPageWnd, SW_SHOWNORMAL);
  ShowControl(dialog, IDC_BACK, SW_SHOWNORMAL);
  ShowLicenseControls(dialog, SW_SHOWNORMAL);
  // The focus leaves Next before Next may be disabled; in the viewer, Page
  // Down scrolls the text at once.
  SetFocus(GetDlgItem(dialog, IDC_LICENSE_TEXT));
  EnableNext(dialog, LicenseAccepted != 0);
}

// In the License view Next is disabled until the license is accepted: that,
// not a test here, holds the hand-off back.
static void OnNext(HWND dialog) {
  if (++PageIndex == 1) {
    ShowLicenseView(dialog);
    return;
  }
  PageIndex = 2;
  HandOffStarted = true;
  HandOffToAppMgr();
  EndWizard(dialog);
}

static void OnBack(HWND dialog) {
  if (PageIndex > 0) --PageIndex;
  ShowWindow(HeaderPageWnd, SW_HIDE);
  ShowControl(dialog, IDC_BACK, SW_HIDE);
  EnableNext(dialog, TRUE);
  ShowLicenseControls(dialog, SW_HIDE);
  ShowWindow(WelcomePageWnd, SW_SHOWNORMAL);
}

static void SetLicenseAccepted(HWND dialog, int accepted) {
  LicenseAccepted = accepted;
  EnableNext(dialog, accepted);
}

static void DeleteWorkspaceFile(const char* name, void*) {
  char path[kPathChars];
  if (name[0] != 0 && WorkspaceFilePath(path, name)) DeleteFileA(path);
}

// The license and bitmap files went when they were loaded: once the CAB
// files and Setup.ini are deleted, the Workspace is normally empty.
static void OnCancel(HWND dialog) {
  if (MessageBoxA(dialog, Messages[MSG_CANCEL_QUESTION], Texts[TXT_EXIT_SETUP],
                  MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
    return;
  char cabFiles[kCabFilesChars];
  ReadCabFiles(cabFiles);
  ForEachCabFile(cabFiles, DeleteWorkspaceFile, nullptr);
  DeleteWorkspaceFile(Texts[TXT_SETUP_INI], nullptr);
  RemoveDirectoryA(WorkspaceDir);
  EndWizard(dialog);
}

// Commands act on the control identifier alone; Esc (IDCANCEL) and every
// other command are ignored, so only Cancel and the last Next end the dialog,
// and only once: none is taken while the hand-off runs.
INT_PTR CALLBACK WizardProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    InitWizard(dialog);
  } else if (message == WM_COMMAND && !HandOffStarted) {
    switch (LOWORD(wParam)) {
      case IDC_NEXT: OnNext(dialog); break;
      case IDC_CANCEL: OnCancel(dialog); break;
      case IDC_BACK: OnBack(dialog); break;
      case IDC_ACCEPT: SetLicenseAccepted(dialog, 1); break;
      case IDC_DECLINE: SetLicenseAccepted(dialog, 0); break;
    }
  }
  return FALSE;  // also for WM_INITDIALOG: the focus given there stays
}

void RunWizard() {
  DialogBoxParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_WIZARD), GetDesktopWindow(), WizardProc, 0);
}
