// The module tests' checks: they run as Windows programs under Wine, where
// GoogleTest is not at hand.  A failed check prints what it saw beside what
// it wanted; FinishChecks prints "N passed, N failed" and gives the exit code.
#pragma once
#include <stdio.h>
#include <string.h>
#include <windows.h>

inline int gChecksPassed = 0, gChecksFailed = 0;

// got equals want (whole) or holds it; with got null, ok alone decides.
inline void Check(bool ok, const char* got, const char* want, bool whole, const char* what, int line) {
  if (got != nullptr) ok = whole ? strcmp(got, want) == 0 : strstr(got, want) != nullptr;
  ++(ok ? gChecksPassed : gChecksFailed);
  if (!ok) printf("FAIL %s (line %d)\n", what, line);
  if (!ok && got != nullptr) printf("  saw:    \"%s\"\n  wanted%s: \"%s\"\n", got, whole ? "" : " within", want);
}

#define CHECK_TRUE(what, condition) Check((condition), nullptr, nullptr, true, what, __LINE__)
#define CHECK_STR(what, got, want) Check(true, (got), (want), true, what, __LINE__)
#define CHECK_HAS(what, got, part) Check(true, (got), (part), false, what, __LINE__)

// A file made anew with these bytes, for a test's set-up.
inline void WriteWholeFile(const char* path, const void* bytes, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes, size, &written, nullptr);
  CloseHandle(file);
}

// Defines this program's import slot of a kernel32 function, which the linker
// takes before kernel32's own: the program's code linked in calls
// `replacement` instead (stdcall: `argumentBytes` in the i686 name).
#ifdef _WIN64
#define ZQ_IMPORT_SLOT(function, argumentBytes) asm("__imp_" #function)
#else
#define ZQ_IMPORT_SLOT(function, argumentBytes) asm("__imp__" #function "@" #argumentBytes)
#endif
#define ZQ_REPLACE_IMPORT(function, argumentBytes, replacement)            \
  extern "C" void* function##Slot ZQ_IMPORT_SLOT(function, argumentBytes); \
  void* function##Slot = reinterpret_cast<void*>(&replacement)

// The function `replacement` stands in for, as kernel32 has it.
template <typename Function>
Function* Kernel32(Function*, const char* name) {
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

inline int FinishChecks() {
  printf("%d passed, %d failed\n", gChecksPassed, gChecksFailed);
  fflush(stdout);
  return gChecksFailed == 0 ? 0 : 1;
}
