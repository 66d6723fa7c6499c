// Setup.ini in the Workspace: the one settings file of a setup.
#pragma once

// Reads one value of the Workspace's Setup.ini into dest (capacity bytes,
// terminator included) with the default "NO".  A missing file, section or key
// gives "NO"; a key with nothing behind the equals sign gives "".  Forms the
// file's path in ScratchText.
void ReadSetupValue(const char* section, const char* key, char* dest, int capacity);

// A file-naming setting (license, bitmap, CAB item) joined to the Workspace
// in dest (kPathChars).  False, dest empty, when the value is not a plain file
// name or the path does not fit: then it names no file at all.
bool WorkspaceFilePath(char* dest, const char* name);

// Capacities of the values the hand-off and Cancel read, terminator included.
constexpr int kComponentChars = 256;
constexpr int kCabFilesChars = 512;

// Reads Component, then CabFiles from the section it names, into cabFiles
// (kCabFilesChars).
void ReadCabFiles(char* cabFiles);
