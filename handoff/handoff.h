// The last step of a completed setup: the CAB files and Setup.ini move into
// the install folder beside CeAppMgr.exe, the Workspace goes, and the
// Application Manager starts on the moved Setup.ini.
#pragma once

// Shows its own two failures at once (folder creation, start) under the
// current ErrorCaption; the caller takes no result.  Appends to AppMgrDir in
// place, so a run must call it at most once.
void HandOffToAppMgr();

// Capacities of the values the hand-off and Cancel read, terminator included.
constexpr int kComponentChars = 256;
constexpr int kCabFilesChars = 512;
constexpr int kInstallDirectoryChars = 256;

// Reads Component, then CabFiles from the section it names, into cabFiles
// (kCabFilesChars).
void ReadCabFiles(char* cabFiles);
