// zqpack's machine-readable output (--json): the figures that list, verify
// and check show to people, as one JSON document each.  The key names below
// are an interface: scripts read them, so they only ever grow.
#pragma once
#include <string>

#include "cabinet.h"
#include "settings_check.h"
#include "setup_reader.h"

// list --json and verify --json: the setup's size, header fields, each
// checksum with its verdict, the program's verdict with its message (or
// null), the entries and what each CAB file among them tells the Application
// Manager ("cabinets", empty when the setup is refused).
std::string SetupReportJson(const std::string& setup, const SetupReport& report,
                            const std::vector<CabinetReport>& cabinets = {});

// check --json: every finding with its severity, section, key and the
// reference to its key in setup-ini.md; the counts; the files a build packs;
// what each CAB file tells the Application Manager.
std::string SettingsCheckJson(const std::string& ini, const SettingsCheck& check);
