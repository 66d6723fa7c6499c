// The pure checks of a payload that the reader's fixed buffers demand, and
// the plain-file-name rule.  Shared by the program proper and zqpack.
#pragma once
#include <stdint.h>

#include "payload/format.h"

// An EntryCount the reader can hold: not negative, table within the work
// buffer (at most kMaxEntryCount entries).
bool EntryCountFitsLimits(int32_t entryCount);

// The table's length in bytes; call only for a count that fits the limits.
uint32_t EntryTableBytes(int32_t entryCount);

// The name span DataOffset - NameOffset of an entry is 1 to kMaxNameBytes.
bool NameSpanFitsLimits(const PayloadEntry& entry);

// The name bytes as read hold their terminating zero.
bool NameIsTerminated(const char* nameBytes, uint32_t spanBytes);

// A name that Windows can only take as a file in the folder it is joined to:
// not empty, not only dots and blanks, no \ / : * ? " < > | or control
// character, not a reserved device name (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, with or without an extension).  Trailing blanks and dots are
// allowed: Windows drops them inside the same folder.
bool IsPlainFileName(const char* name);

// InflatedTotal x 100 / InflatedSize, computed in 64 bits so no 32-bit size
// overflows it; a quotient beyond 32 bits (a size understated more than 42
// times) comes back cut to its low 32 bits.  inflatedSize must not be 0.
uint32_t ProgressPercent(uint32_t inflatedTotal, uint32_t inflatedSize);
