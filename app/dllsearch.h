// The DLL search rule: code loads from the system folder only.  A DLL planted beside the setup
// or in the current folder must never load.
#pragma once
#include <windows.h>

// Limits the DLL search of this process to the system folder.  Runs before
// anything else loads a library.
void LimitDllSearch();

// Loads a DLL from the system folder by its full path; null when it fails.
HMODULE LoadSystemLibrary(const char* fileName);

// Registers the common controls (the progress bar class among them) through
// comctl32 loaded from the system folder.
void InitCommonControlsFromSystem();
