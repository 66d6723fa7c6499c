// The license viewer: the license file streamed into the Rich Edit 1.0
// control, as rich text when the path ends in "rtf" (any case), else as
// plain text.
#pragma once
#include <windows.h>

// TRUE when the file opened and streamed without error.  The caller deletes
// the file afterwards, whatever this returns.
BOOL LoadLicenseFile(HWND viewer, const char* path);

// The viewer's read callback: 0 to go on (0 bytes read ends the stream), -1
// when the read failed.
DWORD CALLBACK LicenseStreamCallback(DWORD_PTR cookie, LPBYTE buffer, LONG requested, LONG* got);
