// What a CAB file tells the Application Manager: the cabinet opened with
// libmspack and every file in it decoded (a damaged block, a wrong block
// checksum or a cut cabinet is an error), then its Windows CE setup
// information read: the ".000" file (ce_setup.h) and/or a "_setup.xml"
// provisioning document (setup_xml.h).  Smartphone 2002 and 2003 read only
// the latter, so a cabinet with a ".000" file alone is one they refuse.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "ce_setup.h"
#include "setup_xml.h"

struct CabinetInfo {
  std::string error;                   // what makes the CAB unusable, or ""
  std::vector<std::string> warnings;   // what the Application Manager does with it instead
  std::vector<std::string> fileNames;  // in the cabinet's order
  bool hasCeSetup = false;             // a ".000" file, read in full
  CeSetup ceSetup;                     // its contents, when hasCeSetup
  bool hasSetupXml = false;            // a "_setup.xml", read in full
  SetupXml setupXml;                   // its contents, when hasSetupXml
};

// bytes: the whole CAB file.
CabinetInfo InspectCabinet(const std::vector<uint8_t>& bytes);

// info.error and what it means for the Application Manager, as check says it.
std::string CabinetErrorText(const CabinetInfo& info);

// A CAB file of a Setup.ini or of a setup, by the name the setup gives it.
struct CabinetReport {
  std::string name;
  CabinetInfo info;
};
