// The Wine test rig: the world of tools/wineworld shared by a test run, a
// folder per test, setups of zqfixture behind the real program proper, and
// checks that print the driver's transcript when they fail.  startup_test.cpp
// shows a typical test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "drive.h"
#include "fixture.h"
#include "format/messages.h"
#include "support.h"
#include "tools/common/helpers.h"

namespace zqrig {

namespace fs = std::filesystem;
using zq::Joined;
using zq::Lower;
using zqfixture::Bytes;
using zqfixture::Entry;
using zqfixture::SetupRecipe;

// The rig works in the world: its names are the tests' own.
using namespace zqworld;

// --- where things are -------------------------------------------------------

fs::path OutDir();                                        // out/
fs::path ProgramProper(Arch arch);                        // out/zqstub-<arch>.exe
fs::path RigProgram(Arch arch, const std::string& name);  // out/<arch>/<name>

// --- the shared world: display and prefix -----------------------------------

class Rig {
 public:
  // The rig of this test run: the world the CTest fixture set up, or one set
  // up now (and taken down when the process ends) when there is none.
  static Rig& Get();

  // Whether programs of this architecture run here; *why tells why not.
  // *broken is false only where the machine cannot run them at all (see
  // World::WhyNotRunning), the one case where a test may be skipped.
  bool CanRun(Arch arch, std::string* why = nullptr, bool* broken = nullptr) const;
  const zqworld::World& World() const { return world_; }

 private:
  zqworld::World world_;
};

// --- per test ---------------------------------------------------------------

// A test's folder: <rig folder>/tests/<test name>, kept after the test.
using ::TestFolder;

// Every file and folder below `dir`, as sorted relative paths ("a/b.cab").
std::vector<std::string> FilesIn(const fs::path& dir);

// Every file and folder below a root with its size and time, Workspaces'
// contents ("<temp>/_ZQI????") left out.
class Snapshot {
 public:
  explicit Snapshot(const fs::path& root, const std::string& temp = "temp");
  // "+x" appeared, "-x" went or changed; empty when nothing changed.
  std::vector<std::string> Changes(const Snapshot& later) const;

 private:
  std::vector<std::string> entries_;
};

// A tmpfs over a folder while the object lives (a full disk, a read-only
// medium).
class TmpfsMount {
 public:
  TmpfsMount(const fs::path& dir, const std::string& options);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  bool MakeReadOnly();
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
  std::string why_;
};

// --- setups -----------------------------------------------------------------

const char kSampleTitle[] = "Sample 1.00 for SmartPhone 2002 Setup";
// zqfixture::SampleSetupIni with some values replaced ({"LicenseFile", "x.txt"}).
std::string SampleIni(const std::map<std::string, std::string>& values = {});
// zqfixture::SampleEntries with this Setup.ini.
std::vector<Entry> SampleFiles(const std::string& ini = SampleIni());
// The sample with TWO.CAB as well, both CAB files carrying `edition`.
std::vector<Entry> TwoCabFiles(const std::string& ini = SampleIni({{"CabFiles", "DEMO.CAB,TWO.CAB"}}),
                               const std::string& edition = "1");
// Replaces the entry of the same name, or appends it.
std::vector<Entry> Put(std::vector<Entry> entries, const Entry& entry);
// A recipe of these files behind the real program proper.
SetupRecipe Recipe(Arch arch, std::vector<Entry> entries = SampleFiles());

// --- what the driver saw ----------------------------------------------------

struct Outcome : zqworld::Outcome {
  // Checks that print the transcript when they fail.
  ::testing::AssertionResult Clean() const;  // no ERROR or TIMEOUT line
  ::testing::AssertionResult ExitedWith(uint32_t code) const;
  ::testing::AssertionResult ShowedWizard() const;  // no box, the wizard
  // Exactly one box: this caption, a text that `pattern` matches ("%08X":
  // eight upper-case hexadecimal digits, "%s": any text), the stop icon, OK
  // alone, no owner.
  ::testing::AssertionResult ShowedErrorBox(const std::string& caption, const std::string& pattern) const;
};
std::ostream& operator<<(std::ostream& out, const Outcome& run);

// How every failure before the wizard ends: the error box "ZQ Installer
// Error" with `pattern`, then exit code FFFFFFFF.
::testing::AssertionResult Refused(const Outcome& run, const std::string& pattern);

// Runs the driver on `launch` and collects its lines.
Outcome Drive(const Launch& launch);

ProgramResult RunProgram(Arch arch, const fs::path& exe, const std::vector<std::string>& args,
                         const fs::path& cwd = fs::path());
// Runs out/zqpack, its scratch files in `scratch`, HOME and XDG_CACHE_HOME in
// the rig folder; its standard output (and error when `withErrors`).
ProgramResult RunZqpack(const std::vector<std::string>& args, const fs::path& scratch, bool withErrors = true,
                        const std::string& path = std::getenv("PATH"));

// --- GoogleTest glue --------------------------------------------------------

// A test run once per architecture, in a folder named after it.
class WineTest : public ::testing::TestWithParam<Arch> {
 protected:
  void SetUp() override;
  Arch arch() const { return GetParam(); }
  const TestFolder& folder() const { return *folder_; }
  // A launch of `exe`: TEMP folder().Temp(), the stand-in's log in
  // ZQ_APPMGR_LOG, the test folder current, no App Paths key.
  Launch Setup(const fs::path& exe) const;
  // The stand-in CeAppMgr.exe installed in folder().Make(relative).
  fs::path StandIn(const std::string& relative = "Program Files/App Mgr") const;

 private:
  std::optional<TestFolder> folder_;
};

// A test of the program proper: skipped while it is not built, failed when
// Wine's crash debugger ran.
class ProgramTest : public WineTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // setup.exe (or `name`) of this recipe or these files in the test folder.
  fs::path WriteSetup(const SetupRecipe& recipe, const std::string& name = "setup.exe") const;
  fs::path WriteSetup(const std::vector<Entry>& entries, const std::string& name = "setup.exe") const {
    return WriteSetup(Recipe(arch(), entries), name);
  }
  // A launch of `setup` whose App Paths value names the stand-in.
  Launch Installed(const fs::path& setup) const;
  // The one Workspace in `temp` (default TEMP), or an empty path and a
  // failure that lists what `temp` holds.
  fs::path OnlyWorkspace(fs::path temp = fs::path()) const;
  // Handed off without a box, exit code 0: `install` holds `listing` (by
  // default the CAB files and Setup.ini of `files`), those with the payload's
  // very bytes, and no Workspace is left in `temp` (default TEMP).
  void ExpectHandedOff(const Outcome& run, const fs::path& install, const std::vector<Entry>& files,
                       std::vector<std::string> listing = {}, fs::path temp = fs::path()) const;
};

std::string ArchParamName(const ::testing::TestParamInfo<Arch>& info);
void PrintTo(Arch arch, std::ostream* out);

}  // namespace zqrig

#define ZQ_WINE_TEST_SUITE(Suite)                                                                      \
  INSTANTIATE_TEST_SUITE_P(Wine, Suite, ::testing::Values(::zqrig::Arch::x86_64, ::zqrig::Arch::i686), \
                           ::zqrig::ArchParamName)
