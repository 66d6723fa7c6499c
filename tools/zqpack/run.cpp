// zqpack run (see run.h).
//
// The world lives in <cache>/zqpack/wine/ ($XDG_CACHE_HOME, else ~/.cache):
//   slot-N/prefix/   a Wine prefix, made once and reused (--fresh: anew)
//   slot-N/home/     HOME of its Wine processes
//   slot-N/run/      this run's TEMP, the stand-in's log and Xvfb's log; the
//                    stand-in itself goes to the prefix's C:\Program Files
//   slot-N.lock      held while a run uses slot N
// A run takes the first slot no other run holds, so runs at once never share
// a prefix, a wineserver or a display.
#include "run.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "cabinet_report.h"
#include "drive.h"
#include "errors.h"
#include "fileio.h"
#include "mitigations.h"
#include "payload/format.h"
#include "resources/resource.h"
#include "setup_reader.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using zqworld::Arch;

namespace {

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const int kSlots = 16;
// Below the prefix's drive_c, where it is C:\Program Files\Windows CE Services.
const char kStandInFolder[] = "Program Files/Windows CE Services";
const char kStandInPath[] = "C:\\Program Files\\Windows CE Services\\CeAppMgr.exe";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// The architecture of the program proper (the first kStubBytes of the
// setup): PE32+ headers are the x86_64 build's, PE32 the i686 build's.
std::optional<Arch> ProgramArch(const std::string& setup) {
  std::vector<uint8_t> head(kStubBytes);
  std::ifstream in(setup, std::ios::binary);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  const PeLayout pe = ReadPeLayout(head);
  if (!pe.valid) return std::nullopt;
  return pe.pe32plus ? Arch::x86_64 : Arch::i686;
}

// The driver and the stand-in: out/<arch>/ beside out/zqpack in the build
// tree, /usr/lib/zqpack/<arch>/ beside /usr/bin/zqpack.
zqworld::Programs FindPrograms() {
  const fs::path self = fs::read_symlink("/proc/self/exe").parent_path();
  for (const fs::path& dir : {self, self.parent_path() / "lib" / "zqpack"})
    if (fs::exists(dir / "x86_64" / "zqdriver.exe")) return {dir};
  throw ZqError("the GUI driver and the stand-in Application Manager (x86_64/zqdriver.exe) are in neither " +
                self.string() + " nor " + (self.parent_path() / "lib" / "zqpack").string());
}

// What is missing and the Debian packages that bring it; empty when nothing is.
std::string Missing(const RunOptions& options, Arch arch) {
  std::string what, packages;
  auto need = [&](bool there, const std::string& thing, const std::string& package) {
    if (there) return;
    what += (what.empty() ? "" : ", ") + thing;
    packages += " " + package;
  };
  need(zqworld::OnPath("wine") && fs::exists(zqworld::kWine64) && fs::exists(zqworld::kWineServer),
       "Wine (no wine on the PATH)", "wine wine64");
  need(arch != Arch::i686 || fs::exists(zqworld::kWine32), "32-bit Wine for this i686 setup", "wine32:i386");
  need(options.interactive || zqworld::OnPath("Xvfb"), "Xvfb", "xvfb");
  need(options.screenshots.empty() || fs::exists("/usr/bin/import"), "ImageMagick's import", "imagemagick");
  return what.empty() ? "" : what + " is missing here: install the Debian packages:" + packages;
}

fs::path CacheDir() {
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache) return fs::path(cache) / "zqpack" / "wine";
  const char* home = std::getenv("HOME");
  if (!home || !*home) throw ZqError("neither XDG_CACHE_HOME nor HOME is set: no cache folder for the Wine prefix");
  return fs::path(home) / ".cache" / "zqpack" / "wine";
}

// The first slot no other run holds; its lock lasts as long as this process.
fs::path TakeSlot() {
  const fs::path cache = CacheDir();
  fs::create_directories(cache);
  for (int n = 0; n < kSlots; ++n) {
    const fs::path slot = cache / ("slot-" + std::to_string(n));
    const int fd = open((slot.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) return slot;
    if (fd >= 0) close(fd);
  }
  throw ZqError("all " + std::to_string(kSlots) + " Wine prefixes in " + cache.string() + " are in use");
}

// Whether $DISPLAY names a display that is there: a local ":N" needs its socket.
bool DisplayUsable(std::string* display) {
  const char* value = std::getenv("DISPLAY");
  if (!value || !*value) return false;
  *display = value;
  if (display->front() != ':') return true;
  const std::string number = display->substr(1, display->find('.') - 1);
  return fs::exists("/tmp/.X11-unix/X" + number);
}

struct Delivered {
  std::string name;
  uint64_t bytes = 0;
  std::string state;  // "same as packed", "differs from the packed file", "missing", "not packed"
};

struct Report {
  std::string setup, arch, display, prefix, reason;
  double prefixSeconds = -1;  // made by this run, else reused
  bool accepted = false;      // by zqpack's reader
  std::string wizardTitle;
  std::vector<std::string> views, screenshots;
  std::vector<zqworld::Box> boxes;
  std::optional<uint32_t> exitCode;
  std::vector<std::string> driverErrors;
  size_t appMgrStarts = 0;
  std::string commandLine, installFolder;
  std::vector<Delivered> files;
  bool workspaceGone = false;
  std::vector<std::string> besideAppMgr;  // what appeared beside the stand-in during the run
  bool ok = false;
  double seconds = 0;
};

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "%08X", value);
  return text;
}

// The views the driver went through, from its lines.
std::vector<std::string> Views(const zqworld::Outcome& run) {
  std::vector<std::string> views;
  for (const std::string& line : run.lines) {
    if (line.rfind("WIZARD ", 0) == 0) views.push_back("Welcome");
    if (line == "CLICKED id=" + std::to_string(IDC_NEXT) && views.size() == 1) views.push_back("License Agreement");
    if (line.rfind("BOX ", 0) == 0 && views.size() >= 2) views.push_back("the Cancel question");
  }
  return views;
}

// The hand-off against the packed files in `packed`.
void CheckHandOff(const fs::path& log, const fs::path& packed, const fs::path& prefix, bool waitForIt, Report* report) {
  const std::vector<zqworld::AppMgrStart> starts =
      waitForIt ? zqworld::AwaitAppMgr(log, 1, 10) : zqworld::ReadAppMgrLog(log);
  report->appMgrStarts = starts.size();
  if (starts.empty()) return;
  const zqworld::AppMgrStart& start = starts[0];
  report->commandLine = start.commandLine;
  const fs::path install = zqworld::UnixPath(start.ini, prefix).parent_path();
  report->installFolder = install.string();
  std::vector<std::string> names = {"Setup.ini"};
  for (const auto& cab : start.cabs) names.push_back(cab.first);
  for (const std::string& name : names) {
    Delivered file{name, 0, "missing"};
    fs::path source;
    std::error_code error;
    for (auto it = fs::directory_iterator(packed, error); !error && it != fs::directory_iterator(); it.increment(error))
      if (Lower(it->path().filename().string()) == Lower(name)) source = it->path();
    const fs::path target = install / name;
    if (source.empty()) {
      file.state = "not packed";
    } else if (fs::is_regular_file(install)) {
      file.state = "missing: a file stands where the install folder should be";
    } else if (fs::is_regular_file(target)) {
      const std::string bytes = ReadBytes(target);
      file.bytes = bytes.size();
      file.state = bytes == ReadBytes(source) ? "same as packed" : "differs from the packed file";
    }
    report->files.push_back(file);
  }
}

// Why the run is not what was asked for; empty when it is.
std::string WhatWentWrong(const RunOptions& options, const Report& r) {
  if (!r.driverErrors.empty()) return "the run went wrong: " + r.driverErrors.front();
  if (r.wizardTitle.empty()) {
    const std::string box = r.boxes.empty() ? "" : ": \"" + r.boxes[0].text + "\"";
    return "the setup showed no wizard" + box + (r.exitCode ? " (exit code " + Hex(*r.exitCode) + ")" : "");
  }
  if (!r.exitCode) return "the setup did not end";
  if (*r.exitCode != 0) return "the setup ended with exit code " + Hex(*r.exitCode);
  if (!r.workspaceGone) return "the setup left its Workspace behind";
  if (options.decline && r.appMgrStarts != 0) return "the Application Manager was started after Cancel";
  if (options.decline) return r.besideAppMgr.empty() ? "" : "Cancel delivered " + r.besideAppMgr.front();
  if (options.interactive && r.appMgrStarts == 0) return "the setup ended without a hand-off";
  if (r.appMgrStarts != 1)
    return "the Application Manager was started " + std::to_string(r.appMgrStarts) + " times, not once";
  for (const Delivered& file : r.files)
    if (file.state != "same as packed") return file.name + " in the install folder: " + file.state;
  return "";
}

void PrintReport(const Report& r) {
  printf("setup: %s (%s)\n", r.setup.c_str(), r.arch.c_str());
  printf(
      "wine: prefix %s (%s), display %s\n", r.prefix.c_str(),
      r.prefixSeconds < 0 ? "reused" : ("made in " + std::to_string(static_cast<int>(r.prefixSeconds)) + " s").c_str(),
      r.display.c_str());
  if (!r.wizardTitle.empty()) printf("wizard: \"%s\"\n", r.wizardTitle.c_str());
  for (const std::string& view : r.views) printf("  view: %s\n", view.c_str());
  for (const zqworld::Box& box : r.boxes) printf("  box \"%s\": \"%s\"\n", box.caption.c_str(), box.text.c_str());
  for (const std::string& shot : r.screenshots) printf("  screenshot: %s\n", shot.c_str());
  printf("exit code: %s\n", r.exitCode ? Hex(*r.exitCode).c_str() : "none");
  if (r.appMgrStarts == 0) {
    printf("hand-off: the Application Manager was not started\n");
  } else {
    printf("hand-off: the Application Manager received\n  %s\n", r.commandLine.c_str());
    printf("install folder: %s\n", r.installFolder.c_str());
    for (const Delivered& file : r.files)
      printf("  %-16s %10llu bytes  %s\n", file.name.c_str(), static_cast<unsigned long long>(file.bytes),
             file.state.c_str());
  }
  printf("result: %s (%.1f s)\n", r.ok ? "ok" : ("FAILED: " + r.reason).c_str(), r.seconds);
}

void PrintJson(const Report& r) {
  json boxes = json::array(), files = json::array();
  for (const zqworld::Box& box : r.boxes) boxes.push_back({{"caption", box.caption}, {"text", box.text}});
  for (const Delivered& file : r.files)
    files.push_back({{"name", file.name}, {"bytes", file.bytes}, {"state", file.state}});
  const json document = {{"setup", r.setup},
                         {"arch", r.arch},
                         {"prefix", r.prefix},
                         {"prefixMade", r.prefixSeconds >= 0},
                         {"display", r.display},
                         {"wizardTitle", r.wizardTitle.empty() ? json(nullptr) : json(r.wizardTitle)},
                         {"views", r.views},
                         {"boxes", boxes},
                         {"screenshots", r.screenshots},
                         {"exitCode", r.exitCode ? json(Hex(*r.exitCode)) : json(nullptr)},
                         {"handOff",
                          {{"appMgrStarts", r.appMgrStarts},
                           {"commandLine", r.commandLine},
                           {"installFolder", r.installFolder},
                           {"files", files}}},
                         {"workspaceGone", r.workspaceGone},
                         {"ok", r.ok},
                         {"reason", r.reason},
                         {"seconds", r.seconds}};
  printf("%s\n", document.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

zqworld::Script WizardScript(const RunOptions& options) {
  zqworld::Script script;
  if (options.interactive) return script.Exit();
  const bool shots = !options.screenshots.empty();
  script.Wizard();
  if (shots) script.Capture("welcome");
  script.Click(IDC_NEXT);
  if (shots) script.Capture("license");
  script.Click(IDC_CANCEL).Box();
  if (shots) script.Capture("cancel-question");
  if (options.decline) return script.Answer("yes").Exit();
  return script.Answer("no").Click(IDC_ACCEPT).Click(IDC_NEXT).Exit();
}

// What check says of the setup's CAB files, on stderr before anything runs:
// an "ok" hand-off of a cabinet that no phone installs is no good setup.
void PrintCabinetFindings(const std::string& setup) {
  SetupReader reader(setup, TemporaryDirectory());
  if (reader.Check().verdict.accepted())
    fprintf(stderr, "%s", CabinetFindingsText(InspectSetupCabinets(reader)).c_str());
}

// The Wine world of this run, ended whatever happens.
struct RunWorld : zqworld::World {
  ~RunWorld() { End(); }
};

}  // namespace

int RunSetup(const RunOptions& options) {
  const Clock::time_point start = Clock::now();
  Report report;
  report.setup = options.setup;
  if (!fs::is_regular_file(options.setup)) throw ZqError("cannot read " + options.setup);
  const std::optional<Arch> arch = ProgramArch(options.setup);
  if (!arch) throw ZqError(options.setup + " does not begin with an i686 or x86_64 Windows program");
  report.arch = zqworld::ArchName(*arch);
  PrintCabinetFindings(options.setup);
  const std::string missing = Missing(options, *arch);
  if (!missing.empty()) throw ZqError(missing);
  const zqworld::Programs programs = FindPrograms();
  zqworld::StopChildrenOnSignals();

  const fs::path slot = TakeSlot(), run = slot / "run", packed = run / "packed";
  fs::remove_all(run);
  fs::create_directories(packed);
  SetupReader reader(options.setup, run.string());
  report.accepted = reader.Check().verdict.accepted();
  if (report.accepted) reader.ExtractTo(packed.string());

  RunWorld world;
  world.prefix = slot / "prefix";
  world.home = slot / "home";
  world.screen = "800x600x24";  // the virtual desktop's size, below
  report.prefix = world.prefix.string();
  std::string why;
  if (options.interactive) {
    if (!DisplayUsable(&world.display)) throw ZqError("--interactive needs a usable display in $DISPLAY");
  } else if (!world.StartXvfb(run / "xvfb.log", &why)) {
    throw ZqError(why);
  }
  report.display = world.display;
  const fs::path ready = slot / "prefix-ready";
  if (options.fresh || !fs::exists(ready)) {
    fs::remove(ready);
    const Clock::time_point made = Clock::now();
    if (!world.MakePrefix(programs, &why)) throw ZqError(zqworld::Interrupted() ? "interrupted" : why);
    std::ofstream(ready) << "";
    report.prefixSeconds = SecondsSince(made);
  }
  // On Xvfb no window manager draws captions: Wine's own virtual desktop
  // does, so that the screenshots show the wizard's title.
  const std::string desktop = options.interactive ? "none" : "800x600";
  if (ReadBytes(slot / "prefix-desktop") != desktop) {
    const std::string key = "HKCU\\Software\\Wine\\Explorer";
    if (options.interactive) {
      world.Wine({"reg", "delete", key, "/v", "Desktop", "/f"});
    } else {
      world.Wine({"reg", "add", key, "/v", "Desktop", "/d", "Default", "/f"});
      world.Wine({"reg", "add", key + "\\Desktops", "/v", "Default", "/d", desktop, "/f"});
    }
    std::ofstream(slot / "prefix-desktop") << desktop;
  }

  // The stand-in in a folder with blanks under Program Files, fresh for each
  // run.  The setup reads its path in ANSI, as it would on Windows, so it is
  // the prefix's C: path, ASCII whatever the name of the home it lies below.
  // The 64-bit stand-in and the 64-bit driver for setups of both
  // architectures, so that where qemu runs 32-bit programs only the setup
  // itself is emulated.
  const bool ownAppMgrDir = !options.appMgrDir.empty();
  const fs::path appMgrDir = ownAppMgrDir ? fs::absolute(options.appMgrDir) : world.prefix / "drive_c" / kStandInFolder;
  if (ownAppMgrDir)
    fs::remove(appMgrDir / "CeAppMgr.exe");
  else
    fs::remove_all(appMgrDir);
  std::set<fs::path> before;
  std::error_code absent;
  for (const auto& entry : fs::directory_iterator(appMgrDir, absent)) before.insert(entry.path());
  zqworld::Launch launch;
  launch.arch = *arch;
  launch.exe = fs::absolute(options.setup);
  launch.cwd = launch.exe.parent_path();
  launch.temp = run / "temp";
  const fs::path standIn = zqworld::InstallStandIn(programs, Arch::x86_64, appMgrDir);
  launch.appPaths = ownAppMgrDir ? zqworld::AppPaths::Pointing(standIn) : zqworld::AppPaths::Value(kStandInPath);
  launch.env["ZQ_APPMGR_LOG"] = zqworld::WinPath(run / "appmgr.log");
  launch.timeoutMs = options.interactive ? 3600 * 1000 : 60 * 1000;
  if (!options.screenshots.empty()) launch.captures = fs::absolute(options.screenshots);
  launch.script =
      report.accepted || options.interactive ? WizardScript(options) : zqworld::Script().Box().Answer("ok").Exit();
  const zqworld::Outcome outcome = zqworld::Drive(world, programs, launch);
  report.wizardTitle = outcome.wizardTitle;
  report.views = Views(outcome);
  report.boxes = outcome.boxes;
  report.exitCode = outcome.exitCode;
  report.driverErrors = outcome.errors;
  for (const fs::path& shot : outcome.screenshots)
    if (fs::exists(shot)) report.screenshots.push_back(shot.string());
  if (!world.EndCrashDebuggers().empty())
    report.driverErrors.insert(report.driverErrors.begin(), "the setup crashed (Wine's crash debugger started)");
  bool cannot = false;
  const std::string why32 = report.wizardTitle.empty() && report.boxes.empty() && *arch == Arch::i686
                                ? world.WhyNotRunning(Arch::i686, programs, &cannot)
                                : "";
  if (!why32.empty())
    report.driverErrors.insert(report.driverErrors.begin(),
                               "i686 programs do not run here: " + why32 +
                                   (cannot ? " (Debian: wine32:i386, and qemu-user-static where the kernel refuses "
                                             "32-bit programs)"
                                           : ""));
  report.workspaceGone = zqworld::Workspaces(launch.temp).empty();
  for (const auto& entry : fs::directory_iterator(appMgrDir))
    if (entry.path().filename() != "CeAppMgr.exe" && !before.count(entry.path()))
      report.besideAppMgr.push_back(entry.path().filename().string());
  CheckHandOff(run / "appmgr.log", packed, world.prefix, !options.decline && report.exitCode == 0u, &report);
  if (zqworld::Interrupted()) report.driverErrors.insert(report.driverErrors.begin(), "interrupted");
  report.reason = WhatWentWrong(options, report);
  report.ok = report.reason.empty();
  report.seconds = SecondsSince(start);
  options.json ? PrintJson(report) : PrintReport(report);
  return report.ok ? 0 : 1;
}
