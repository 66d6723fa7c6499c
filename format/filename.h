// The plain-file-name rule: which names may only name a file in the folder
// they are joined to.  The program proper applies it to entry names and to
// the settings that name files; zqpack to what it packs.
#pragma once

// A name that Windows can only take as a file in the folder it is joined to:
// not empty, not only dots and blanks, no \ / : * ? " < > | or control
// character, not a reserved device name (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, with or without an extension).  Trailing blanks and dots are
// allowed: Windows drops them inside the same folder.
bool IsPlainFileName(const char* name);
