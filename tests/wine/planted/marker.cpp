// A DLL that the hostile-input tests plant under the names of system DLLs
// (COMCTL32.DLL, VERSION.DLL, RICHED32.DLL) beside a setup and in its current
// folder.  When loaded it creates a marker beside itself, so a test sees
// which copy was taken: "<its file name>.loaded" when a running program
// loaded it, "<its file name>.loaded-at-start" when the loader took it for
// an import while the process started (DllMain's third argument is then
// not null), before any code of the program ran.  It exports the one
// function the setup looks up in comctl32, so a loader that took it would
// not stop at once.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID atStart) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatA(path, atStart != nullptr ? ".loaded-at-start" : ".loaded");
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}

extern "C" __declspec(dllexport) void WINAPI InitCommonControls() {}
