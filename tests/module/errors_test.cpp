// Error reporting as the program itself formats it (not zqpack's copy of the
// messages): system codes as eight upper-case digits, the damaged-payload
// sentence behind its message, and a text that a long path makes longer
// than ErrorText cut to its 1023 characters; the first failure stays.
#include "app/errors.h"

#include <windows.h>

#include "app/state.h"
#include "tests/module/check.h"

int main() {
  const struct {
    DWORD code;
    const char* text;
  } codes[] = {{ERROR_ACCESS_DENIED, "Error Code: 00000005\nError creating directory C:\\w."},
               {ERROR_ALREADY_EXISTS, "Error Code: 000000B7\nError creating directory C:\\w."}};
  for (const auto& c : codes) {
    PendingError = nullptr;
    RecordFailure(MSG_CREATE_DIRECTORY, c.code, "C:\\w");
    CHECK_STR("system code", PendingError, c.text);
  }

  PendingError = nullptr;
  RecordCorruption(MSG_BAD_TABLE_CRC);
  CHECK_STR("damaged payload", PendingError, "Invalid CRC in data block. The file may be corrupted.");
  RecordFailure(MSG_CREATE_DIRECTORY, 5, "C:\\later");
  CHECK_STR("first failure kept", PendingError, "Invalid CRC in data block. The file may be corrupted.");

  static char longPath[2000];
  for (int i = 0; i < 1999; ++i) longPath[i] = 'a' + i % 26;
  PendingError = nullptr;
  RecordFailure(MSG_WRITE_FILE, 112, longPath);
  CHECK_TRUE("cut to the buffer", lstrlenA(PendingError) == kPathChars - 1);
  CHECK_TRUE("cut to the buffer", CompareStringA(LOCALE_INVARIANT, 0, PendingError, 44,
                                                 "Error Code: 00000070\nError writing data to ab", 44) == CSTR_EQUAL);
  return FinishChecks();
}
