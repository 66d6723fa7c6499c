// A minimal check framework for the module tests, which run as Windows
// programs under Wine (GoogleTest is a Linux library here).  Each failed check
// prints what it saw beside what it wanted; main prints the closing line
// "N passed, N failed" and exits non-zero on any failure.
#pragma once
#include <stdio.h>
#include <string.h>

struct CheckCounts {
  int passed = 0;
  int failed = 0;
};
inline CheckCounts& Counts() {
  static CheckCounts counts;
  return counts;
}

#define CHECK_STR(group, got, want)                                                       \
  do {                                                                                    \
    const char* got_ = (got);                                                             \
    const char* want_ = (want);                                                           \
    if (strcmp(got_, want_) == 0) {                                                       \
      ++Counts().passed;                                                                  \
    } else {                                                                              \
      ++Counts().failed;                                                                  \
      printf("FAIL %s (%s:%d): %s\n  saw:    \"%s\"\n  wanted: \"%s\"\n", group, __FILE__, \
             __LINE__, #got, got_, want_);                                                \
    }                                                                                     \
  } while (0)

#define CHECK_TRUE(group, condition)                                                          \
  do {                                                                                        \
    if (condition) {                                                                          \
      ++Counts().passed;                                                                      \
    } else {                                                                                  \
      ++Counts().failed;                                                                      \
      printf("FAIL %s (%s:%d): %s is false\n", group, __FILE__, __LINE__, #condition);        \
    }                                                                                         \
  } while (0)

inline int FinishChecks() {
  printf("%d passed, %d failed\n", Counts().passed, Counts().failed);
  fflush(stdout);
  return Counts().failed == 0 ? 0 : 1;
}
