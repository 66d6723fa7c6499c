// Extraction: checks the payload behind the program proper, inflates it into
// the delete-on-close data file with the progress window counting up, and
// writes one file per entry into the Workspace.
#pragma once
#include <windows.h>
#include <zlib.h>

#include "format/format.h"

// What the entry owns while start-up and extraction run.  Everything starts
// invalid or null; ReleaseRunResources frees exactly what exists and may run
// twice.
struct RunResources {
  HANDLE OwnFile;             // the program's own file, read sequentially
  HANDLE OutFile;             // the entry file being written
  HANDLE DataFile;            // inflated data; the system deletes it on close
  HWND ProgressWnd;           // the modeless progress dialog
  unsigned char* WorkBuffer;  // kWorkBufferBytes, GlobalAlloc
  PayloadEntry* EntryTable;   // the table as read, GlobalAlloc
  z_stream Inflater;          // zlib's state (with its window) while set up
};

void InitRunResources(RunResources* run);
void ReleaseRunResources(RunResources* run);

// Runs every step on run->OwnFile, positioned at its first byte.  False with
// a pending error at the first failure.
bool ExtractPayload(RunResources* run);
