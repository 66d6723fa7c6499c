#include "base/state.h"

// Module handle of the program, for its dialog resources.  Start-up writes it.
HINSTANCE InstanceHandle;

// Caption of every error box: "ZQ Installer Error" from start-up, then the
// wizard title once the wizard opens, so the hand-off's boxes bear it.
char ErrorCaption[kCaptionChars];

// The formatted text of the pending failure, when it has placeholders.
char ErrorText[kPathChars];

// The message to show at the end, or null while nothing has failed.  Set once,
// by the first failure of start-up or extraction.
const char* PendingError;

// The Workspace: the temporary folder the payload is extracted into, without
// a trailing backslash.  Start-up writes it.
char WorkspaceDir[kPathChars];

// Full path of CeAppMgr.exe as the registry gives it (at most 260 bytes).
char AppMgrPath[kPathChars];

// The folder of CeAppMgr.exe, ending in a backslash; the hand-off appends
// the install directory in place, after which it names the install folder.
char AppMgrDir[kPathChars];

// The one scratch buffer: every module builds texts in it on the fly, paths
// and command lines as well as display texts (the wizard's title, the Welcome
// texts).  No value survives in it from one use to the next.
char ScratchText[kPathChars];

// Inflated bytes written to the data file so far, for the progress percentage.
uint32_t InflatedTotal;

// Read from Setup.ini by the wizard before its pages are created; the Welcome
// page formats them into its texts.
char ProductName[kCaptionChars];
char ProductVersion[kCaptionChars];

// The wizard's view: 0 Welcome, 1 License, 2 finished.  Written by WizardProc.
int PageIndex;

// 1 while the license is accepted (Next enabled in the License view), else 0.
int LicenseAccepted;

// The wizard's two child pages, created when the wizard opens.
HWND WelcomePageWnd;
HWND HeaderPageWnd;
