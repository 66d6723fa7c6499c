// module_progress_probe.exe SETUP WORKSPACE FIRST LAST: the program's own
// extraction run on a setup file, with InstanceHandle the setup's image as
// the program has it, checking its progress window (for the Wine test
// Extraction.ProgressWindowFollowsTheStream): resource 106 as the dialog
// manager makes it; one window from before the first read of the stream to
// after its last, one read per 64 KiB of stream; a position after every
// output chunk, from FIRST to LAST, the bar showing at most 100.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "app/dllsearch.h"
#include "base/state.h"
#include "payload/extract.h"
#include "payload/progress.h"
#include "resources/resource.h"
#include "tests/module/check.h"

// R read of the setup file, C window created, P position set, D window
// destroyed, r read of the data file.
static std::string Events;
static std::vector<long> Sent, Shown;
static HANDLE SetupFile = INVALID_HANDLE_VALUE;
static HWND Window;  // the progress window while it exists

// Every read of the program's code linked in, counted.
static BOOL WINAPI CountingReadFile(HANDLE file, LPVOID buffer, DWORD want, LPDWORD got, LPOVERLAPPED overlapped) {
  static auto* real = Kernel32(&ReadFile, "ReadFile");
  Events += file == SetupFile ? 'R' : 'r';
  return real(file, buffer, want, got, overlapped);
}
ZQ_REPLACE_IMPORT(ReadFile, 20, CountingReadFile);

// After each message the program's windows handled.
static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
  const CWPRETSTRUCT* m = reinterpret_cast<CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && m->message == WM_INITDIALOG) {
    Window = m->hwnd;
    Events += 'C';
  } else if (code == HC_ACTION && m->hwnd == Window && m->message == PM_SETPOS) {
    Events += 'P';
    Sent.push_back(static_cast<long>(m->wParam));
    Shown.push_back(static_cast<long>(SendDlgItemMessageA(Window, IDC_PROGRESS, PBM_GETPOS, 0, 0)));
  } else if (code == HC_ACTION && m->hwnd == Window && m->message == WM_DESTROY) {
    Events += 'D';
    Window = nullptr;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The window made from the image's resource 106: the template's sizes in
// pixels, its text, the bar's class and the range the program sets.
static void CheckTemplate() {
  HWND dialog = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
  CHECK_TRUE("resource 106 makes a window", dialog != nullptr);
  RECT client, want = {0, 0, 200, 49};
  GetClientRect(dialog, &client);
  MapDialogRect(dialog, &want);
  CHECK_TRUE("the window's size", EqualRect(&client, &want));
  char text[128] = "";
  GetWindowTextA(GetWindow(dialog, GW_CHILD), text, sizeof text);
  CHECK_STR("the window's text", text, "Please wait while setup is extracting data...");
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
  RECT rect = {}, wantBar = {10, 24, 10 + 180, 24 + 15};
  GetWindowRect(bar, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  MapDialogRect(dialog, &wantBar);
  CHECK_TRUE("the bar's place", EqualRect(&rect, &wantBar));
  char cls[64] = "";
  GetClassNameA(bar, cls, sizeof cls);
  CHECK_STR("the bar's class", cls, "msctls_progress32");
  CHECK_TRUE("the bar's range",
             SendMessageA(bar, PBM_GETRANGE, TRUE, 0) == 0 && SendMessageA(bar, PBM_GETRANGE, FALSE, 0) == 100);
  DestroyWindow(dialog);
}

int main(int argc, char** argv) {
  if (argc != 5) return printf("usage: module_progress_probe SETUP WORKSPACE FIRST LAST\n"), 2;
  InitCommonControlsFromSystem();
  InstanceHandle = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  lstrcpynA(WorkspaceDir, argv[2], kPathChars);
  CheckTemplate();
  SetWindowsHookExA(WH_CALLWNDPROCRET, Watch, nullptr, GetCurrentThreadId());

  RunResources run;
  InitRunResources(&run);
  run.OwnFile = SetupFile = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  PayloadHeader header;
  DWORD got = 0;
  SetFilePointer(SetupFile, kProgramBytes, nullptr, FILE_BEGIN);
  ReadFile(SetupFile, &header, sizeof header, &got, nullptr);
  SetFilePointer(SetupFile, 0, nullptr, FILE_BEGIN);
  Events.clear();
  CHECK_TRUE(PendingError ? PendingError : "extraction", ExtractPayload(&run));
  ReleaseRunResources(&run);

  // Reads of the program proper, header and table; the window; the stream's
  // chunks, each followed by positions; the window's end; the data file.
  const size_t created = Events.find('C'), destroyed = Events.find('D');
  bool ordered = created != std::string::npos && destroyed > created + 1 && created > 0 && Events[created + 1] == 'R' &&
                 Events.find_first_not_of('R') == created &&
                 Events.find_first_not_of('r', destroyed + 1) == std::string::npos;
  size_t reads = 0;
  for (size_t i = created + 1; ordered && i < destroyed; ++i) {
    reads += Events[i] == 'R';
    ordered = Events[i] == 'R' ? Events[i + 1] == 'P' : Events[i] == 'P';
  }
  CHECK_TRUE(Events.c_str(), ordered && destroyed + 1 < Events.size());
  CHECK_TRUE("one read per 64 KiB of stream",
             reads == (header.CompressedSize + kInputChunkBytes - 1) / kInputChunkBytes);
  CHECK_TRUE("the first position", !Sent.empty() && Sent.front() == atol(argv[3]));
  CHECK_TRUE("the last position", !Sent.empty() && Sent.back() == atol(argv[4]));
  bool shown = Shown.size() == Sent.size();
  for (size_t i = 0; shown && i < Sent.size(); ++i) shown = Shown[i] == (Sent[i] < 100 ? Sent[i] : 100);
  CHECK_TRUE("the bar shows each position, at most 100", shown);
  return FinishChecks();
}
