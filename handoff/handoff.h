// The last step of a completed setup: the CAB files and Setup.ini move into
// the install folder beside CeAppMgr.exe, the Workspace goes, and the
// Application Manager starts on the moved Setup.ini.
#pragma once

// Shows its own two failures at once (folder creation, start) under the
// current ErrorCaption; the caller takes no result.  Appends to AppMgrDir in
// place, so a run must call it at most once.
void HandOffToAppMgr();

// The capacity of the InstallDirectory value, terminator included.
constexpr int kInstallDirectoryChars = 256;
