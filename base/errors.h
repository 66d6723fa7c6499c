// Failures are reported one way: the code that meets one records a pending
// message, all later work of start-up and extraction is skipped, and the
// entry shows it once at its end.
#pragma once
#include <windows.h>

#include "format/messages.h"

// Formats message `id` with its arguments into ErrorText and makes it the
// pending error.  Only the first failure of a run is kept.  Always returns
// false, so a failing step can `return RecordFailure(...)`.
bool RecordFailure(MessageId id, ...);

// A damaged-payload message: its "%s" takes "The file may be corrupted.".
bool RecordCorruption(MessageId id);

// The stop-icon box with one OK button and ErrorCaption, owned by nobody.
void ShowErrorBox(const char* text);
