// Bounded path building.  A path that does not fit its buffer is never cut
// into another path: the caller skips the operation it was for.
#pragma once

// Forms "%s\\%s" (dir, name) in dest, a buffer of kPathChars.  Returns false,
// leaving dest empty, when the result would not fit.
bool JoinPath(char* dest, const char* dir, const char* name);

// Appends text to dest (a buffer of kPathChars) when it fits; else returns
// false and leaves dest as it was.
bool AppendPath(char* dest, const char* text);
