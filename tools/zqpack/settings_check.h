// zqpack check: reads a Setup.ini as the program will, finds the files it
// names beside it, and reports what the program would do wrong or silently
// differently (every missing setting quietly becomes "NO").
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

#include "cabinet.h"
#include "setup_writer.h"

enum class Severity { Error, Warning };

struct Finding {
  Severity severity;
  std::string section;  // as the program names it when it reads the key
  std::string key;
  std::string text;
};

struct SettingsCheck {
  std::vector<Finding> findings;
  // What a build packs, in this order: license, body bitmap, head bitmap,
  // Setup.ini, CAB files; each file once, only the ones that were found.
  std::vector<PackItem> files;
  std::vector<CabinetReport> cabinets;  // each CAB file found, in CabFiles order

  size_t Count(Severity severity) const;
};

// ZqError when the settings file cannot be read at all.
SettingsCheck CheckSettings(const std::string& iniPath);

// "PATH: [SECTION] KEY: error: TEXT (see setup-ini.md#key)"
std::string FormatFinding(const std::string& iniPath, const Finding& finding);

// Where setup-ini.md (docs/ in the sources, the package's documentation
// folder when installed) describes key: "setup-ini.md#key" in lower case.
std::string SettingReference(const std::string& key);

// The Welcome page's body template without its two "%s": the text it adds
// to ProductName and ProductVersion.
constexpr size_t kWelcomeBodyFixedChars = 132;
constexpr size_t kWelcomeBodyBufferChars = 511;  // 512-byte buffer
constexpr size_t kTitleBufferChars = 255;        // ErrorCaption, 256 bytes
constexpr int kBodyBitmapMaxWidthPx = 500;
constexpr int kBodyBitmapMaxHeightPx = 314;
constexpr int kHeadBitmapHeightPx = 55;
constexpr int kHeadBitmapMaxWidthPx = 500;
