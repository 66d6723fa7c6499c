// zqpack cab's reading of a CAB Wizard .inf: the Windows INF syntax
// ([Section], key = value, ';' comments outside quotes, comma-separated
// fields, quotes removed, %name% replaced, %% a percent sign) and the keys
// that describe a Windows CE install cabinet, turned into the cabinet's
// setup information and the list of its members.  docs/cab-inf.md lists
// every section and key it honours.  Every failure is a ZqError that begins
// with "NAME:LINE: " where a line is concerned, else "NAME: ".
#pragma once
#include <string>
#include <vector>

#include "ce_setup.h"

// A file the cabinet carries: its member name ("NOTES.001"), the file name
// [SourceDisksFiles] lists, the folder its [SourceDisksNames] entry gives
// (as written, backslashes and all) and the .inf line that installs it.
struct CabSource {
  std::string member;
  std::string sourceName;
  std::string diskPath;
  int line = 0;
};

struct CabPlan {
  CeSetup setup;                      // the .000 file, texts in Windows-1252
  std::string installDir;             // %InstallDir% as DIRS holds it: "%CE1%\Notes"
  std::string setupMember;            // "NOTES.000"
  std::vector<CabSource> sources;     // one per setup.files entry, in that order
  bool hasSetupDll = false;           // then sources ends with the ".999" member
  std::vector<std::string> warnings;  // "NAME:LINE: text"
};

// text: the .inf's bytes (UTF-8, or Windows-1252 when not valid UTF-8);
// name: how messages name it; stem: the .000 member's name without its
// extension; cpu: the CPU tag whose sections override the untagged ones, or "".
CabPlan ReadCabInf(const std::string& text, const std::string& name, const std::string& stem, const std::string& cpu);

// Up to 8 letters and digits (and '_', '-') of name's part before its last
// dot, upper case, safe in an 8.3 name; "FILE" when none.
std::string MemberStem(const std::string& name);

// Windows-1252 and UTF-8.  ToWindows1252 returns false when text holds a
// character that Windows-1252 lacks (or is not UTF-8).
bool ToWindows1252(const std::string& utf8, std::string* out);
std::string Windows1252ToUtf8(const std::string& text);
