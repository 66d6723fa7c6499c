// A minimal check framework for the module tests, which run as Windows
// programs under Wine (GoogleTest is a Linux library here).  A failed check
// prints what it saw beside what it wanted; FinishChecks prints the closing
// line "N passed, N failed" and gives the exit code, non-zero on a failure.
#pragma once
#include <stdio.h>
#include <string.h>

inline int gChecksPassed = 0, gChecksFailed = 0;

inline bool CheckResult(bool ok, const char* group, const char* file, int line, const char* what) {
  ++(ok ? gChecksPassed : gChecksFailed);
  if (!ok) printf("FAIL %s (%s:%d): %s\n", group, file, line, what);
  return ok;
}

// got equals want (or, with whole false, holds it).
inline void CheckText(const char* got, const char* want, bool whole, const char* group, const char* file, int line,
                      const char* what) {
  const bool ok = whole ? strcmp(got, want) == 0 : strstr(got, want) != nullptr;
  if (!CheckResult(ok, group, file, line, what))
    printf("  saw:    \"%s\"\n  wanted%s: \"%s\"\n", got, whole ? "" : " within", want);
}

#define CHECK_TRUE(group, condition) CheckResult((condition), group, __FILE__, __LINE__, #condition " is false")
#define CHECK_STR(group, got, want) CheckText((got), (want), true, group, __FILE__, __LINE__, #got)
#define CHECK_HAS(group, got, part) CheckText((got), (part), false, group, __FILE__, __LINE__, #got)

inline int FinishChecks() {
  printf("%d passed, %d failed\n", gChecksPassed, gChecksFailed);
  fflush(stdout);
  return gChecksFailed == 0 ? 0 : 1;
}
