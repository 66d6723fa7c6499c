// Error reporting as the program itself formats it (not zqpack's copy of the
// messages): system codes as eight upper-case digits, the damaged-payload
// sentence behind its message, a text cut to ErrorText's 1023 characters,
// and the first failure kept.
#include "base/errors.h"

#include <windows.h>

#include "base/state.h"
#include "tests/module/check.h"

int main() {
  PendingError = nullptr;
  RecordFailure(MSG_CREATE_DIRECTORY, ERROR_ALREADY_EXISTS, "C:\\w");
  CHECK_STR("system code", PendingError, "Error Code: 000000B7\nError creating directory C:\\w.");
  PendingError = nullptr;
  RecordCorruption(MSG_BAD_TABLE_CRC);
  RecordFailure(MSG_CREATE_DIRECTORY, 5, "C:\\later");
  CHECK_STR("damaged payload, kept", PendingError, "Invalid CRC in data block. The file may be corrupted.");

  static char longPath[2000];
  for (int i = 0; i < 1999; ++i) longPath[i] = static_cast<char>('a' + i % 26);
  PendingError = nullptr;
  RecordFailure(MSG_WRITE_FILE, 112, longPath);
  CHECK_TRUE("cut to the buffer", lstrlenA(PendingError) == kPathChars - 1);
  CHECK_TRUE("cut to the buffer", strncmp(PendingError, "Error Code: 00000070\nError writing data to ab", 44) == 0);
  return FinishChecks();
}
