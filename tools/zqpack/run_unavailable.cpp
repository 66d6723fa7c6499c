// zqpack.exe for Windows: a setup runs there as it is, without Wine.
#include "errors.h"
#include "run.h"

int RunSetup(const RunOptions&) { throw ZqError("runs setups under Wine on Linux only; on Windows start the setup"); }
