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

inline int FinishChecks() {
  printf("%d passed, %d failed\n", gChecksPassed, gChecksFailed);
  fflush(stdout);
  return gChecksFailed == 0 ? 0 : 1;
}
