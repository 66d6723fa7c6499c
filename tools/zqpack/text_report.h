// zqpack's output for people: what list, verify and check print, beside the
// same figures for scripts in json_report.h.
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

#include "cabinet.h"
#include "settings_check.h"
#include "setup_reader.h"

// "1 file", "2 files".
std::string FileCount(size_t count);

// list: the setup's size, one line per header field and checksum with its
// state, the signature, the program proper's mitigations, the verdict, a
// table of the entries and what each CAB file among them tells the
// Application Manager.
std::string SetupListText(const std::string& setup, const SetupReport& report,
                          const std::vector<CabinetReport>& cabinets);

// verify, on a setup the program extracts: its files and bytes, the
// Authenticode signature and the program proper's mitigations.
std::string SetupVerifyText(const std::string& setup, const SetupReport& report);

// check: one line per finding, with verbose what each CAB file tells the
// Application Manager, and (unless quiet) the counts.
std::string SettingsCheckText(const std::string& ini, const SettingsCheck& check, bool verbose, bool quiet);
