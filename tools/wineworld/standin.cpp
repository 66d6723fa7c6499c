// The stand-in Application Manager of a world and its log (see world.h).
#include <chrono>
#include <fstream>
#include <thread>

#include "world.h"

namespace zqworld {

fs::path InstallStandIn(const Programs& programs, Arch arch, const fs::path& folder) {
  fs::create_directories(folder);
  fs::copy_file(programs.Get(arch, "CeAppMgr.exe"), folder / "CeAppMgr.exe", fs::copy_options::overwrite_existing);
  return folder / "CeAppMgr.exe";
}

std::vector<AppMgrStart> ReadAppMgrLog(const fs::path& log) {
  std::vector<AppMgrStart> starts;
  std::ifstream in(log, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "START") starts.emplace_back();
    if (starts.empty()) continue;
    AppMgrStart& start = starts.back();
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
    const bool exists = rest.size() >= 9 && rest.compare(rest.size() - 9, 9, " exists=1") == 0;
    const std::string name = rest.size() >= 9 ? rest.substr(0, rest.size() - 9) : rest;
    if (word == "CMDLINE") start.commandLine = rest;
    if (word == "CAB") start.cabs.emplace_back(name, exists);
    if (word == "INI") {
      start.ini = name;
      start.iniExists = exists;
    }
  }
  return starts;
}

std::vector<AppMgrStart> AwaitAppMgr(const fs::path& log, size_t starts, double seconds) {
  for (int waited = 0; waited < seconds * 20 && !Interrupted(); ++waited) {
    std::ifstream in(log, std::ios::binary);
    size_t ends = 0;
    for (std::string line; std::getline(in, line);) ends += line == "END" || line == "END\r";
    if (ends >= starts) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ReadAppMgrLog(log);
}

std::ostream& operator<<(std::ostream& out, const AppMgrStart& start) {
  out << "command line \"" << start.commandLine << "\", Setup.ini \"" << start.ini << "\""
      << (start.iniExists ? " (exists)" : " (missing)");
  for (const auto& [name, exists] : start.cabs)
    out << ", CAB \"" << name << "\"" << (exists ? " (exists)" : " (missing)");
  return out;
}

}  // namespace zqworld
