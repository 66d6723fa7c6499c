#include "format/cablist.h"

void ForEachCabFile(char* list, CabFileAction action, void* context) {
  char* end = list;
  while (*end != 0) ++end;
  char* itemStart = list;
  bool lastHandedOver = false;  // the list ended in a comma
  for (char* cursor = list; cursor < end; ++cursor) {
    if (*cursor != ',') continue;
    *cursor = 0;
    action(itemStart, context);
    if (cursor + 1 < end)
      itemStart = cursor + 1;
    else
      lastHandedOver = true;
  }
  if (!lastHandedOver) action(itemStart, context);
}
