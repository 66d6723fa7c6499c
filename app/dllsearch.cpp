#include "app/dllsearch.h"

#include "base/paths.h"
#include "base/state.h"

void LimitDllSearch() {
  // SetDefaultDllDirectories is missing before Windows 7 with KB2533623, so
  // it is looked up; SetDllDirectoryA("") at least drops the current folder.
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* fileName) {
  // A local buffer: callers may hold a path in ScratchText.
  char path[MAX_PATH + 16];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  if (length + 1 + lstrlenA(fileName) >= static_cast<int>(sizeof path)) return nullptr;
  lstrcatA(path, "\\");
  lstrcatA(path, fileName);
  return LoadLibraryA(path);
}

void InitCommonControlsFromSystem() {
  // comctl32 stays loaded for the life of the process: the progress window
  // needs its classes.
  HMODULE comctl = LoadSystemLibrary("comctl32.dll");
  if (comctl == nullptr) return;
  typedef void(WINAPI * InitCommonControlsFn)();
  auto init = reinterpret_cast<InitCommonControlsFn>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControls")));
  if (init != nullptr) init();
}
