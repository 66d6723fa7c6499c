// The program's entry: no C runtime start-up, one exit path.
#include <windows.h>

#include "app/dllsearch.h"
#include "app/startup.h"
#include "base/errors.h"
#include "base/state.h"
#include "payload/extract.h"
#include "wizard/wizard.h"

extern "C" void WINAPI ZqEntry() {
  RunResources run;
  InitRunResources(&run);
  HMODULE richEdit = nullptr;
  int ExitCode = 0;

  // Before anything can load a library: the system folder only.
  LimitDllSearch();

  // Start-up (the own file opened), extraction, then Rich Edit.  The first
  // failure records its message and skips the rest.
  if (StartUp(&run) && ExtractPayload(&run)) richEdit = LoadRichEdit();

  // The one exit path: progress window, files, buffers; whatever exists.
  ReleaseRunResources(&run);

  if (PendingError == nullptr) {
    RunWizard();
    FreeLibrary(richEdit);
  } else {
    ShowErrorBox(PendingError);
    ExitCode = -1;
  }
  ExitProcess(static_cast<UINT>(ExitCode));
}
