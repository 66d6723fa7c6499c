// zqpack cab: a Windows CE install cabinet from a CAB Wizard .inf (inf.h):
// its .000 file, its _setup.xml and the files, in that order, written by
// libgcab beside the output and renamed into place once the cabinet has been
// read back as 'zqpack check' reads it.  A failure leaves the output as it
// was and no temporary file.  Linux only (make_cab_unavailable.cpp).
#pragma once
#include <string>
#include <vector>

#include "cabinet.h"

struct CabOptions {
  std::string inf;
  std::string output;  // "" for NAME.CAB (NAME.TAG.CAB) beside the .inf
  std::string cpu;     // a CPU tag of the .inf, or ""
  bool compress = false;
  std::vector<std::string> fileDirs;  // where sources not found beside the .inf are looked for
};

struct CabResult {
  CabinetReport report;               // the cabinet written, read back
  std::vector<std::string> warnings;  // "NAME:LINE: warning: text"
};

// ZqError on any failure.
CabResult MakeCab(const CabOptions& options);
