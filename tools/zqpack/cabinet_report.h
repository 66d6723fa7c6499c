// What each CAB file tells the Application Manager, for people (check
// --verbose, list) and for scripts (the "cabinets" of check --json and
// list --json), and the CAB files found inside a built setup.
#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cabinet.h"
#include "setup_reader.h"

// "CAB NAME" and one indented line per field.
std::string CabinetText(const CabinetReport& cab);

// {"name", "error", "warnings", "cabinetFiles", "setupXml", "ceSetup",
// "setupXmlContents"}: "ceSetup" null without a .000 file, else "application", "provider",
// "architecture" {"id", "name"}, "ceVersion" {"least", "greatest", "range"},
// "unsupported" and "installs" [{"number", "folder", "name"}];
// "setupXmlContents" null without a _setup.xml, else "install" (its Install
// parms, name: value) and "extracts" [{"source", "folder", "name"}].
nlohmann::ordered_json CabinetsJson(const std::vector<CabinetReport>& cabs);

// What check reports of the cabinets, for a command that has no Setup.ini:
// "zqpack: NAME: error: ..." and "zqpack: NAME: warning: ..." lines.
std::string CabinetFindingsText(const std::vector<CabinetReport>& cabs);

// After reader.Check() accepted the setup: every entry that is a cabinet
// (it begins with "MSCF"), inspected from a scratch folder that is removed
// again.
std::vector<CabinetReport> InspectSetupCabinets(SetupReader& reader);
