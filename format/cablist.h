// The CabFiles list of Setup.ini and the one way it is split.  Pure code: the
// program's hand-off and Cancel, zqpack's checks and the fuzz target share it.
#pragma once

// Called once per item, in list order, with the item's zero-terminated text.
// An empty item is handed over too; actions must let it change nothing.
typedef void (*CabFileAction)(const char* item, void* context);

// Walks the list in place: every comma is overwritten with a zero and the
// text between two commas (or an end and the nearest comma) is one item.  A
// comma that ends the list begins no further item.  Blanks stay part of the
// items.
void ForEachCabFile(char* list, CabFileAction action, void* context);
