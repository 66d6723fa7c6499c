#include "cabinet_report.h"

#include <string.h>

#include <filesystem>
#include <set>

#include "errors.h"
#include "fileio.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

static std::string Line(const char* label, const std::string& value) {
  std::string line = "  ";
  line += label;
  line.resize(16, ' ');
  return line + value + "\n";
}

static std::string CeSetupText(const CeSetup& s) {
  std::string text = Line("application", s.appName);
  text += Line("provider", s.provider);
  text += Line("architecture", CeArchitectureName(s.architecture) + " (" + std::to_string(s.architecture) + ")");
  text += Line("Windows CE", CeVersionRange(s));
  std::string unsupported;
  for (const std::string& name : s.unsupported) unsupported += (unsupported.empty() ? "" : ", ") + name;
  text += Line("unsupported", unsupported.empty() ? "none named" : unsupported);
  for (size_t i = 0; i < s.files.size(); ++i) {
    const CeFile& f = s.files[i];
    text += Line(i == 0 ? "installs" : "", f.folder + "\\" + f.name + " (file " + std::to_string(f.number) + ")");
  }
  return text;
}

// Every Install parm as written (AppName, versions, builds, InstallDir,
// the counts), then where each extracted member goes.
static std::string SetupXmlText(const SetupXml& xml) {
  std::string text;
  for (size_t i = 0; i < xml.install.size(); ++i)
    text += Line(i == 0 ? "_setup.xml" : "", xml.install[i].first + " = " + xml.install[i].second);
  for (size_t i = 0; i < xml.files.size(); ++i) {
    const SetupXmlFile& f = xml.files[i];
    text += Line(i == 0 ? "extracts" : "", f.folder + "\\" + f.name + " (from " + f.source + ")");
  }
  return text;
}

std::string CabinetText(const CabinetReport& cab) {
  const CabinetInfo& info = cab.info;
  std::string text = "CAB " + cab.name + "\n";
  if (!info.error.empty()) return text + Line("error", info.error);
  const char* kinds[2][2] = {{"none", "_setup.xml"}, {".000 file", ".000 file and _setup.xml"}};
  text += Line("setup info", kinds[info.hasCeSetup][info.hasSetupXml]);
  if (info.hasCeSetup) text += CeSetupText(info.ceSetup);
  if (info.hasSetupXml) text += SetupXmlText(info.setupXml);
  return text;
}

static json CeSetupJson(const CeSetup& s) {
  auto version = [](const CeVersion& v) {
    return v.major == 0 && v.minor == 0 ? json(nullptr) : json(std::to_string(v.major) + "." + std::to_string(v.minor));
  };
  json installs = json::array();
  for (const CeFile& f : s.files) installs.push_back({{"number", f.number}, {"folder", f.folder}, {"name", f.name}});
  return {
      {"application", s.appName},
      {"provider", s.provider},
      {"architecture", {{"id", s.architecture}, {"name", CeArchitectureName(s.architecture)}}},
      {"ceVersion",
       {{"least", version(s.leastVersion)}, {"greatest", version(s.greatestVersion)}, {"range", CeVersionRange(s)}}},
      {"unsupported", s.unsupported},
      {"installs", installs}};
}

static json SetupXmlJson(const SetupXml& xml) {
  json install = json::object();
  for (const auto& [name, value] : xml.install) install.emplace(name, value);  // the first of a name, as the device
  json extracts = json::array();
  for (const SetupXmlFile& f : xml.files)
    extracts.push_back({{"source", f.source}, {"folder", f.folder}, {"name", f.name}});
  return {{"install", install}, {"extracts", extracts}};
}

json CabinetsJson(const std::vector<CabinetReport>& cabs) {
  json list = json::array();
  for (const CabinetReport& cab : cabs) {
    const CabinetInfo& info = cab.info;
    list.push_back({{"name", cab.name},
                    {"error", info.error.empty() ? json(nullptr) : json(info.error)},
                    {"warnings", info.warnings},
                    {"cabinetFiles", info.fileNames},
                    {"setupXml", info.hasSetupXml},
                    {"ceSetup", info.hasCeSetup ? CeSetupJson(info.ceSetup) : json(nullptr)},
                    {"setupXmlContents", info.hasSetupXml ? SetupXmlJson(info.setupXml) : json(nullptr)}});
  }
  return list;
}

std::string CabinetFindingsText(const std::vector<CabinetReport>& cabs) {
  std::string text;
  for (const CabinetReport& cab : cabs) {
    if (!cab.info.error.empty()) text += "zqpack: " + cab.name + ": error: " + CabinetErrorText(cab.info) + "\n";
    for (const std::string& warning : cab.info.warnings) text += "zqpack: " + cab.name + ": warning: " + warning + "\n";
  }
  return text;
}

std::vector<CabinetReport> InspectSetupCabinets(SetupReader& reader) {
  std::error_code ec;
  fs::path scratch;
  for (int n = 0; scratch.empty(); ++n) {
    const fs::path candidate = fs::path(TemporaryDirectory()) / ("zqpack-cabs-" + std::to_string(n));
    if (fs::create_directory(candidate, ec)) scratch = candidate;
    if (ec) throw ZqError("cannot create a scratch folder in " + TemporaryDirectory() + ": " + ec.message());
  }
  std::vector<CabinetReport> cabs;
  std::set<std::string> seen;  // a later entry of the same name replaced the earlier one
  try {
    for (const std::string& path : reader.ExtractTo(scratch.string())) {
      if (!seen.insert(path).second) continue;
      std::vector<uint8_t> bytes = ReadWholeFile(path);
      fs::remove(path, ec);
      if (bytes.size() >= 4 && memcmp(bytes.data(), "MSCF", 4) == 0)
        cabs.push_back(CabinetReport{fs::path(path).filename().string(), InspectCabinet(bytes)});
    }
  } catch (...) {
    fs::remove_all(scratch, ec);
    throw;
  }
  fs::remove_all(scratch, ec);
  return cabs;
}
