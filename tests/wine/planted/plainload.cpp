// The careless loader: LoadLibraryA on the name its command line gives, the
// way a program that does not limit its DLL search loads a library.  Its
// exit code is 0 when a module was loaded and 1 when none was.  The
// hostile-input tests run it beside planted DLLs to show that Wine, as they
// set it up, would take a planted copy: their checks could fail.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  return LoadLibraryA(commandLine) != nullptr ? 0 : 1;
}
