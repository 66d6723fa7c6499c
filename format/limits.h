// The limits that the reader's fixed buffers put on a payload.  Pure code,
// shared by the program proper and zqpack.
#pragma once
#include <stdint.h>

#include "format/format.h"

// An EntryCount the reader can hold: not negative, table within the work
// buffer (at most kMaxEntryCount entries).
bool EntryCountFitsLimits(int32_t entryCount);

// The table's length in bytes; call only for a count that fits the limits.
uint32_t EntryTableBytes(int32_t entryCount);

// The name span DataOffset - NameOffset of an entry is 1 to kMaxNameBytes.
bool NameSpanFitsLimits(const PayloadEntry& entry);

// The name bytes as read hold their terminating zero.
bool NameIsTerminated(const char* nameBytes, uint32_t spanBytes);
