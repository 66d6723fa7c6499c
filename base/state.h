// The process-wide state: fixed-size buffers and a few scalars, all zero at
// process start and alive until the process ends.  Every global is defined
// and commented in state.cpp.
#pragma once
#include <windows.h>
#include <stdint.h>

constexpr int kPathChars = 1024;     // every path buffer, terminator included
constexpr int kCaptionChars = 256;   // ErrorCaption, ProductName, ProductVersion
constexpr DWORD kAppMgrValueBytes = 260;  // most the registry read may fill

extern HINSTANCE InstanceHandle;
extern char ErrorCaption[kCaptionChars];
extern char ErrorText[kPathChars];
extern const char* PendingError;
extern char WorkspaceDir[kPathChars];
extern char AppMgrPath[kPathChars];
extern char AppMgrDir[kPathChars];
extern char ScratchText[kPathChars];
extern uint32_t InflatedTotal;
extern char ProductName[kCaptionChars];
extern char ProductVersion[kCaptionChars];
extern int PageIndex;
extern int LicenseAccepted;
extern HWND WelcomePageWnd;
extern HWND HeaderPageWnd;
