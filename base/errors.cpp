#include "base/errors.h"

#include <stdarg.h>

#include "base/state.h"

bool RecordFailure(MessageId id, ...) {
  if (PendingError != nullptr) return false;
  va_list args;
  va_start(args, id);
  // wvsprintfA writes at most 1024 characters, the size of ErrorText: a text
  // that a long path makes longer is cut to fit.
  wvsprintfA(ErrorText, Messages[id], args);
  va_end(args);
  PendingError = ErrorText;
  return false;
}

bool RecordCorruption(MessageId id) {
  return RecordFailure(id, Messages[MSG_MAY_BE_CORRUPTED]);
}

void ShowErrorBox(const char* text) {
  MessageBoxA(nullptr, text, ErrorCaption, MB_OK | MB_ICONHAND);
}
