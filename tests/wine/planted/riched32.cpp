// A stand-in RICHED32.DLL for the DLL-planting test: planted beside a setup,
// it records that it was loaded by creating "riched32-planted.loaded" in its
// own folder.  It registers no window class, so a setup that loaded it would
// also fail to show its license viewer.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  while (length > 0 && path[length - 1] != '\\') --length;
  lstrcpyA(path + length, "riched32-planted.loaded");
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}
