#include "format/limits.h"

bool EntryCountFitsLimits(int32_t entryCount) {
  return entryCount >= 0 && entryCount <= kMaxEntryCount;
}

uint32_t EntryTableBytes(int32_t entryCount) {
  return static_cast<uint32_t>(entryCount) * kEntryBytes;
}

bool NameSpanFitsLimits(const PayloadEntry& entry) {
  return entry.DataOffset > entry.NameOffset &&
         entry.DataOffset - entry.NameOffset <= kMaxNameBytes;
}

bool NameIsTerminated(const char* nameBytes, uint32_t spanBytes) {
  for (uint32_t i = 0; i < spanBytes; ++i)
    if (nameBytes[i] == 0) return true;
  return false;
}
