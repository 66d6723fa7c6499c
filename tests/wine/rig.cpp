// The Wine test rig, host side (see rig.h).
//
// The rig folder (<host build>/wine-rig) holds the world
// of the running rig (tools/wineworld), made anew for every run by CTest's
// fixture (zqwineworld up --fresh), and tests/<name>/, one folder per test.
#include "rig.h"

#include <errno.h>
#include <sys/mount.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <stdexcept>

namespace zqrig {
namespace {

using zq::StartsWith;

fs::path RigDir() { return ZQ_RIG_DIR; }

// The first window of a new prefix, and the first use of the setup's dialog
// font, Rich Edit and Arial, take seconds (font caches, DLL set-up): pay that
// once per prefix, with the sample setup's wizard and Cancel, rather than
// inside a test's time limits.
void WarmUp(const zqworld::World& world) {
  const fs::path dir = RigDir() / "warm-up", setup = dir / "setup.exe";
  if (!fs::exists(ProgramProper(Arch::x86_64)) || !fs::exists(RigProgram(Arch::x86_64, "zqdriver.exe"))) return;
  fs::create_directories(dir / "temp");
  zqfixture::WriteFileBytes(setup.string(), zqfixture::BuildSetup(Recipe(Arch::x86_64)));
  Launch launch;
  launch.exe = setup;
  launch.temp = dir / "temp";
  launch.appPaths = AppPaths::Value("C:\\CeAppMgr.exe");
  launch.timeoutMs = 60000;
  launch.script = Script().Wizard().Click(1001).Box().Answer("yes").Exit();
  const zqworld::Outcome run = zqworld::Drive(world, {OutDir()}, launch);
  world.Settle();
  std::printf(
      "wine rig: first windows (warm-up) took %.1f s%s\n", run.seconds,
      run.errors.empty() && run.exitCode ? "" : (", and failed:\n" + run.Transcript() + run.stderrText).c_str());
}

std::string Quoted(const std::string& text) { return ::testing::PrintToString(text); }

// Whether `text` is `pattern` with "%08X" standing for eight upper-case
// hexadecimal digits and "%s" for any text.
bool MatchesMessage(const std::string& text, const std::string& pattern) {
  std::string re;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.compare(i, 4, "%08X") == 0) {
      re += "[0-9A-F]{8}", i += 3;
    } else if (pattern.compare(i, 2, "%s") == 0) {
      re += "[\\s\\S]*", i += 1;
    } else {
      if (std::strchr("\\^$.|?*+()[]{}", pattern[i])) re += '\\';
      re += pattern[i];
    }
  }
  return std::regex_match(text, std::regex(re));
}

}  // namespace

// --- paths ------------------------------------------------------------------

fs::path OutDir() { return ZQ_OUT_DIR; }

fs::path ProgramProper(Arch arch) { return OutDir() / (std::string("zqstub-") + ArchName(arch) + ".exe"); }

fs::path RigProgram(Arch arch, const std::string& name) { return OutDir() / ArchName(arch) / name; }

// --- Rig ---------------------------------------------------------------------

Rig& Rig::Get() {
  static Rig rig;
  if (!rig.world_.display.empty()) return rig;
  std::optional<zqworld::World> world = zqworld::World::In(RigDir());
  if (!world || !world->Ready()) {
    // No CTest fixture set one up: a world for this process alone.
    std::string why;
    world.emplace();
    if (!world->SetUpIn(RigDir(), {OutDir()}, true, &why)) {
      std::fprintf(stderr, "wine rig: %s\n", why.c_str());
      return rig;
    }
    std::atexit([] { zqworld::World::TakeDownIn(RigDir()); });
  }
  rig.world_ = *world;
  if (!fs::exists(world->prefix / "zq-warmed-up")) {
    WarmUp(*world);
    std::ofstream(world->prefix / "zq-warmed-up");
  }
  return rig;
}

bool Rig::CanRun(Arch arch, std::string* why, bool* broken) const {
  bool cannot = true;
  const std::string said = world_.display.empty() ? "the rig could not be set up (see the output above)"
                                                  : world_.WhyNotRunningIn(RigDir(), arch, {OutDir()}, &cannot);
  if (broken) *broken = !said.empty() && !cannot;
  if (said.empty()) return true;
  if (why) *why = said;
  return false;
}

// --- per test ---------------------------------------------------------------

std::vector<std::string> FilesIn(const fs::path& dir) { return zqfixture::FilesBelow(dir.string()); }

Snapshot::Snapshot(const fs::path& root, const std::string& temp) {
  const std::regex workspace("^" + (temp.empty() ? "" : temp + "/") + "_ZQI[^/]{4}(/.*)?$");
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string relative = fs::relative(it->path(), root).generic_string();
    if (std::regex_match(relative, workspace)) continue;
    std::error_code ignored;
    if (!it->is_regular_file(ignored)) {
      entries_.push_back(relative + "/");
      continue;
    }
    auto time = fs::last_write_time(it->path(), ignored).time_since_epoch().count();
    entries_.push_back(relative + " size=" + std::to_string(it->file_size(ignored)) + " time=" + std::to_string(time));
  }
  std::sort(entries_.begin(), entries_.end());
}

std::vector<std::string> Snapshot::Changes(const Snapshot& later) const {
  std::vector<std::string> changes;
  for (const std::string& entry : entries_)
    if (!std::binary_search(later.entries_.begin(), later.entries_.end(), entry)) changes.push_back("-" + entry);
  for (const std::string& entry : later.entries_)
    if (!std::binary_search(entries_.begin(), entries_.end(), entry)) changes.push_back("+" + entry);
  return changes;
}

TmpfsMount::TmpfsMount(const fs::path& dir, const std::string& options) : dir_(dir) {
  fs::create_directories(dir);
  mounted_ = mount("zqtest", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (!mounted_) why_ = "cannot mount a tmpfs on " + dir.string() + ": " + std::strerror(errno);
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
}

bool TmpfsMount::MakeReadOnly() {
  if (!mounted_ || mount("zqtest", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0) return mounted_;
  why_ = "cannot remount " + dir_.string() + " read-only: " + std::strerror(errno);
  return false;
}

// --- setups -----------------------------------------------------------------

std::string SampleIni(const std::map<std::string, std::string>& values) {
  std::string ini = zqfixture::SampleSetupIni();
  for (const auto& [key, value] : values) {
    const std::string head = "\n" + key + " = ";
    const size_t at = ini.find(head);
    if (at == std::string::npos) throw std::invalid_argument("the sample's Setup.ini has no key " + key);
    const size_t start = at + head.size(), end = ini.find('\r', start);
    ini.replace(start, end == std::string::npos ? std::string::npos : end - start, value);
  }
  return ini;
}

std::vector<Entry> SampleFiles(const std::string& ini) {
  return Put(zqfixture::SampleEntries(), {"Setup.ini", Bytes(ini)});
}

std::vector<Entry> TwoCabFiles(const std::string& ini, const std::string& edition) {
  std::vector<Entry> files =
      Put(SampleFiles(ini), {"DEMO.CAB", zqfixture::MakeCabinet("demo.exe", Bytes("demo " + edition))});
  return Put(files, {"TWO.CAB", zqfixture::MakeCabinet("two.exe", Bytes("two " + edition))});
}

std::vector<Entry> Put(std::vector<Entry> entries, const Entry& entry) {
  for (Entry& old : entries)
    if (old.name == entry.name) {
      old = entry;
      return entries;
    }
  entries.push_back(entry);
  return entries;
}

SetupRecipe Recipe(Arch arch, std::vector<Entry> entries) {
  SetupRecipe recipe;
  recipe.stub = zqfixture::ReadFileBytes(ProgramProper(arch).string());
  recipe.entries = std::move(entries);
  return recipe;
}

// --- results ----------------------------------------------------------------

std::ostream& operator<<(std::ostream& out, const Outcome& run) { return out << run.Transcript(); }

::testing::AssertionResult Outcome::Clean() const {
  if (errors.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted a run without ERROR or TIMEOUT, saw " << errors.front() << "\n"
                                       << Transcript();
}

::testing::AssertionResult Outcome::ExitedWith(uint32_t code) const {
  if (exitCode && *exitCode == code) return ::testing::AssertionSuccess();
  char text[64];
  std::snprintf(text, sizeof text, "wanted exit code %08X, saw %08X%s", code, exitCode.value_or(0),
                exitCode ? "" : " (no exit)");
  return ::testing::AssertionFailure() << text << "\n" << Transcript();
}

::testing::AssertionResult Outcome::ShowedWizard() const {
  if (boxes.empty() && !wizardTitle.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted the wizard and no box\n" << Transcript();
}

::testing::AssertionResult Outcome::ShowedErrorBox(const std::string& caption, const std::string& pattern) const {
  ::testing::AssertionResult failed = ::testing::AssertionFailure();
  if (boxes.size() != 1) return failed << "wanted one message box, saw " << boxes.size() << "\n" << Transcript();
  const Box& box = boxes[0];
  if (box.caption != caption || !MatchesMessage(box.text, pattern))
    return failed << "wanted caption " << Quoted(caption) << " text " << Quoted(pattern) << "\n     saw caption "
                  << Quoted(box.caption) << " text " << Quoted(box.text) << "\n"
                  << Transcript();
  if (box.icon != "hand" || box.buttons != std::vector<std::string>{"ok"} || box.owner != "none")
    return failed << "wanted the stop icon, OK alone and no owner, saw " << box.line << "\n" << Transcript();
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Refused(const Outcome& run, const std::string& pattern) {
  ::testing::AssertionResult box = run.ShowedErrorBox("ZQ Installer Error", pattern);
  return box ? run.ExitedWith(0xFFFFFFFF) : box;
}

// --- running ----------------------------------------------------------------

Outcome Drive(const Launch& launch) {
  Outcome run;
  static_cast<zqworld::Outcome&>(run) = zqworld::Drive(Rig::Get().World(), {OutDir()}, launch);
  return run;
}

ProgramResult RunProgram(Arch arch, const fs::path& exe, const std::vector<std::string>& args, const fs::path& cwd) {
  return Rig::Get().World().RunProgram(arch, exe, args, cwd);
}

ProgramResult RunZqpack(const std::vector<std::string>& args, const fs::path& scratch, bool withErrors,
                        const std::string& path) {
  // zqpack run keeps its Wine prefix in the rig folder, made once per build tree.
  std::vector<std::string> env = {"PATH=" + path, "HOME=" + (RigDir() / "home").string(),
                                  "XDG_CACHE_HOME=" + (RigDir() / "zqpack-cache").string()};
  for (const std::string& var : zqworld::BaseEnvironment())
    if (!StartsWith(var, "HOME=") && !StartsWith(var, "XDG_") && !StartsWith(var, "PATH=")) env.push_back(var);
  ProgramResult result = RunZqpackIn(args, scratch.string(), env);
  if (withErrors) result.out += result.err;
  return result;
}

// --- GoogleTest glue --------------------------------------------------------

void WineTest::SetUp() {
  std::string why;
  bool broken = false;
  if (!Rig::Get().CanRun(arch(), &why, &broken)) {
    if (broken) GTEST_FAIL() << ArchName(arch()) << " should run here but does not: " << why;
    GTEST_SKIP() << ArchName(arch()) << " not run: " << why;
  }
  folder_.emplace(RigDir() / "tests", CurrentTestName());
}

Launch WineTest::Setup(const fs::path& exe) const {
  Launch launch;
  launch.arch = arch();
  launch.exe = exe;
  launch.cwd = folder().Root();
  launch.temp = folder().Temp();
  launch.env["ZQ_APPMGR_LOG"] = WinPath(folder().AppMgrLog());
  return launch;
}

fs::path WineTest::StandIn(const std::string& relative) const {
  // Which build the setup starts does not matter to it; where qemu runs
  // 32-bit programs the 64-bit one saves an emulated start.
  return zqworld::InstallStandIn({OutDir()}, Arch::x86_64, folder().Make(relative));
}

void ProgramTest::SetUp() {
  WineTest::SetUp();
  if (IsSkipped()) return;
  if (!fs::exists(ProgramProper(arch()))) GTEST_SKIP() << ProgramProper(arch()) << " is not built";
  Rig::Get().World().EndCrashDebuggers();  // one left by an earlier test is not this one's
}

void ProgramTest::TearDown() {
  if (!IsSkipped()) {
    EXPECT_EQ(Rig::Get().World().EndCrashDebuggers(), "") << "Wine's crash debugger ran";
  }
  WineTest::TearDown();
}

fs::path ProgramTest::WriteSetup(const SetupRecipe& recipe, const std::string& name) const {
  const fs::path path = folder().Root() / name;
  fs::create_directories(path.parent_path());
  zqfixture::WriteFileBytes(path.string(), zqfixture::BuildSetup(recipe));
  return path;
}

Launch ProgramTest::Installed(const fs::path& setup) const {
  Launch launch = Setup(setup);
  launch.appPaths = AppPaths::Pointing(StandIn());
  return launch;
}

fs::path ProgramTest::OnlyWorkspace(fs::path temp) const {
  if (temp.empty()) temp = folder().Temp();
  std::vector<fs::path> found = Workspaces(temp);
  if (found.size() == 1) return found[0];
  ADD_FAILURE() << "wanted one Workspace, " << temp << " holds " << ::testing::PrintToString(FilesIn(temp));
  return fs::path();
}

void ProgramTest::ExpectHandedOff(const Outcome& run, const fs::path& install, const std::vector<Entry>& files,
                                  std::vector<std::string> listing, fs::path temp) const {
  if (temp.empty()) temp = folder().Temp();
  auto handedOver = [](const std::string& name) {
    return name == "Setup.ini" || name.find(".CAB") != std::string::npos;
  };
  if (listing.empty()) {
    for (const Entry& entry : files)
      if (handedOver(entry.name)) listing.push_back(entry.name);
    std::sort(listing.begin(), listing.end());
  }
  EXPECT_TRUE(run.Clean());
  EXPECT_TRUE(run.boxes.empty()) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(install), listing);
  for (const Entry& entry : files)
    if (handedOver(entry.name)) {
      EXPECT_TRUE(zqfixture::ReadFileBytes(install / entry.name) == entry.contents) << entry.name << " in " << install;
    }
  EXPECT_EQ(Workspaces(temp), std::vector<fs::path>()) << Joined(FilesIn(temp));
}

void PrintTo(Arch arch, std::ostream* out) { *out << ArchName(arch); }

std::string ArchParamName(const ::testing::TestParamInfo<Arch>& info) { return ArchName(info.param); }

}  // namespace zqrig
