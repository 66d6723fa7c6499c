// module_progress_probe.exe SETUP WORKSPACE: the program's own extraction
// run on a setup file, with InstanceHandle the setup's image as the program
// has it, printing what its progress window was and did for the Wine test
// Extraction.ProgressWindowFollowsTheStream:
//   DIALOG style=HEX exstyle=HEX client=W,H want=W,H text="..."
//   BAR class="..." style=HEX exstyle=HEX rect=x,y,w,h want=x,y,w,h range=LOW,HIGH
//   EVENTS letters: R read of the setup file, C window created, P position
//          set, D window destroyed, r read of the data file
//   SENT p,p,...   SHOWN p,p,...   (positions sent, the bar's after each)
//   RESULT ok | RESULT "message"
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <stdio.h>

#include <string>

#include "app/dllsearch.h"
#include "base/state.h"
#include "payload/extract.h"
#include "payload/progress.h"
#include "resources/resource.h"

static std::string Events, Sent, Shown;
static HANDLE SetupFile = INVALID_HANDLE_VALUE;
static HWND Window;  // the progress window while it exists
static BOOL(WINAPI* RealReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

static BOOL WINAPI CountingReadFile(HANDLE file, LPVOID buffer, DWORD want, LPDWORD got, LPOVERLAPPED overlapped) {
  Events += file == SetupFile ? 'R' : 'r';
  return RealReadFile(file, buffer, want, got, overlapped);
}

// Points this program's import of ReadFile, through which the extraction
// code linked in reads, at CountingReadFile.
static bool CountReads() {
  BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  void* real = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ReadFile"));
  for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name; ++dll)
    for (auto* slot = reinterpret_cast<void**>(base + dll->FirstThunk); *slot; ++slot) {
      if (*slot != real) continue;
      DWORD old;
      VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
      RealReadFile = reinterpret_cast<decltype(RealReadFile)>(real);
      *slot = reinterpret_cast<void*>(CountingReadFile);
      VirtualProtect(slot, sizeof *slot, old, &old);
      return true;
    }
  return false;
}

// After each message the program's windows handled.
static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
  const CWPRETSTRUCT* m = reinterpret_cast<CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && m->message == WM_INITDIALOG) {
    Window = m->hwnd;
    Events += 'C';
  } else if (code == HC_ACTION && m->hwnd == Window && m->message == PM_SETPOS) {
    Events += 'P';
    Sent += (Sent.empty() ? "" : ",") + std::to_string(m->wParam);
    Shown += (Shown.empty() ? "" : ",") + std::to_string(SendDlgItemMessageA(Window, IDC_PROGRESS, PBM_GETPOS, 0, 0));
  } else if (code == HC_ACTION && m->hwnd == Window && m->message == WM_DESTROY) {
    Events += 'D';
    Window = nullptr;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

static std::string RectText(const RECT& r) {
  char text[64];
  snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
  return text;
}

// The window made from the image's resource 106, read back.
static void DescribeTemplate() {
  HWND dialog = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
  if (!dialog) {
    printf("DIALOG none (error %lu)\n", GetLastError());
    return;
  }
  RECT client, want = {0, 0, 200, 49};
  GetClientRect(dialog, &client);
  MapDialogRect(dialog, &want);
  char text[128] = "";
  GetWindowTextA(GetWindow(dialog, GW_CHILD), text, sizeof text);
  printf("DIALOG style=%08lX exstyle=%08lX client=%s want=%s text=\"%s\"\n", GetWindowLongA(dialog, GWL_STYLE),
         GetWindowLongA(dialog, GWL_EXSTYLE), RectText(client).c_str(), RectText(want).c_str(), text);
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
  RECT rect = {}, wantBar = {10, 24, 10 + 180, 24 + 15};
  GetWindowRect(bar, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  MapDialogRect(dialog, &wantBar);
  char cls[64] = "";
  GetClassNameA(bar, cls, sizeof cls);
  printf("BAR class=\"%s\" style=%08lX exstyle=%08lX rect=%s want=%s range=%ld,%ld\n", cls,
         GetWindowLongA(bar, GWL_STYLE), GetWindowLongA(bar, GWL_EXSTYLE), RectText(rect).c_str(),
         RectText(wantBar).c_str(), static_cast<long>(SendMessageA(bar, PBM_GETRANGE, TRUE, 0)),
         static_cast<long>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)));
  DestroyWindow(dialog);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    printf("usage: module_progress_probe SETUP WORKSPACE\n");
    return 2;
  }
  InitCommonControlsFromSystem();
  InstanceHandle = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  lstrcpynA(WorkspaceDir, argv[2], kPathChars);
  DescribeTemplate();
  if (!CountReads()) printf("ERROR ReadFile is not imported\n");
  SetWindowsHookExA(WH_CALLWNDPROCRET, Watch, nullptr, GetCurrentThreadId());

  RunResources run;
  InitRunResources(&run);
  run.OwnFile = SetupFile = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  const bool ok = ExtractPayload(&run);
  ReleaseRunResources(&run);
  printf("EVENTS %s\nSENT %s\nSHOWN %s\n", Events.c_str(), Sent.c_str(), Shown.c_str());
  printf(ok ? "RESULT ok\n" : "RESULT \"%s\"\n", PendingError);
  return 0;
}
