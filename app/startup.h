// The first half of the entry: from process start until the program's own
// file is open for reading, filling the process-wide state on the way.
#pragma once
#include <windows.h>

#include "payload/extract.h"

// Start-up, in this order: common controls, error caption, module handle,
// Workspace, the Application Manager's path from the registry, the own file
// opened into run->OwnFile.  False with a pending error when one failed.
bool StartUp(RunResources* run);

// The Workspace's name from a tick count: "_ZQI" and its low 16 bits as four
// upper-case hexadecimal digits.  dest holds at least 9 characters.
void FormatWorkspaceName(char* dest, DWORD tickCount);

// AppMgrDir from AppMgrPath: cut directly behind the last backslash, or empty
// when the path has none.
void CutAppMgrDir();

// Loads Rich Edit 1.0 from the system folder; null with a pending error.
HMODULE LoadRichEdit();
