// Start-up under Wine, the whole program: the failures before extraction with
// their exact texts, the error box and exit code -1, the Workspace each leaves
// behind, the size limit of the file, a Workspace that exists already, and a
// RICHED32.DLL planted beside the setup.  Texts are written out on purpose:
// these tests guard what the user reads.
#include "rig.h"

// The setups come from zqfixture, which tests/wine/CMakeLists.txt must link;
// without it this file builds to one failing test that says so.
#if __has_include("fixture.h")
#include <sys/mount.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "campaign/setups.h"
#include "fixture.h"

namespace zqrig {
namespace {

using zqfixture::SetupRecipe;

// The entry's one error box, as every failure before the wizard shows it:
// caption "ZQ Installer Error", the text, the stop icon, OK alone, no owner;
// then exit code -1 as GetExitCodeProcess reads it.
::testing::AssertionResult ReportedFailure(const Outcome& run, const std::string& pattern) {
  ::testing::AssertionResult failed = ::testing::AssertionFailure();
  if (run.boxes.size() != 1) return failed << "wanted one message box, saw " << run.boxes.size() << "\n" << run;
  const Box& box = run.boxes[0];
  if (box.caption != "ZQ Installer Error" || !MatchesMessage(box.text, pattern))
    return failed << "wanted caption \"ZQ Installer Error\", text " << ::testing::PrintToString(pattern)
                  << "\n     saw caption " << ::testing::PrintToString(box.caption) << ", text "
                  << ::testing::PrintToString(box.text) << "\n"
                  << run;
  if (box.icon != "hand" || box.buttons != std::vector<std::string>{"ok"} || box.owner != "none")
    return failed << "wanted the stop icon, OK alone and no owner, saw " << box.line << "\n" << run;
  return run.ExitedWith(0xFFFFFFFF);
}

class ProgramTest : public WineTest {
 protected:
  void SetUp() override {
    WineTest::SetUp();
    if (IsSkipped()) return;
    if (!fs::exists(ProgramProper(arch()))) GTEST_SKIP() << ProgramProper(arch()) << " is not built";
  }

  // The sample product (license, two bitmaps, Setup.ini, DEMO.CAB) behind
  // the program proper.
  SetupRecipe Sample() const {
    SetupRecipe recipe;
    recipe.stub = zqfixture::ReadFileBytes(ProgramProper(arch()).string());
    recipe.entries = zqfixture::SampleEntries();
    return recipe;
  }

  fs::path WriteSetup(const SetupRecipe& recipe, const fs::path& path) const {
    zqfixture::WriteFileBytes(path.string(), zqfixture::BuildSetup(recipe));
    return path;
  }
  fs::path WriteSetup(const SetupRecipe& recipe) const { return WriteSetup(recipe, folder().Root() / "setup.exe"); }

  // A launch of `setup` whose App Paths value names the stand-in.
  Launch Installed(const fs::path& setup) const {
    Launch launch = Setup(setup);
    launch.appPaths = AppPaths::Pointing(StandIn());
    return launch;
  }

  // The one Workspace in the test's TEMP, or an empty path (with a note on
  // what TEMP holds) when there is not exactly one.
  fs::path OnlyWorkspace() const {
    std::vector<fs::path> found = Workspaces(folder().Temp());
    if (found.size() == 1) return found[0];
    ADD_FAILURE() << "wanted one Workspace in TEMP, TEMP holds " << ::testing::PrintToString(FilesIn(folder().Temp()));
    return fs::path();
  }

  void ExpectEmptyWorkspace() const {
    fs::path workspace = OnlyWorkspace();
    if (workspace.empty()) return;
    EXPECT_TRUE(FilesIn(workspace).empty()) << workspace << " holds " << ::testing::PrintToString(FilesIn(workspace));
  }
};

// --- the Application Manager's registry value ---------------------------------

class StartupFailure : public ProgramTest {};

// No App Paths key: the message, and the Workspace made before the key was
// looked up stays, empty; the payload is never read.
TEST_P(StartupFailure, MissingKeyIsReported) {
  Launch launch = Setup(WriteSetup(Sample()));
  launch.appPaths = AppPaths::Missing();
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(ReportedFailure(run, "CeAppMgr.exe is not installed correctly."));
  ExpectEmptyWorkspace();
}

TEST_P(StartupFailure, KeyWithoutDefaultValueIsReported) {
  Launch launch = Setup(WriteSetup(Sample()));
  launch.appPaths = AppPaths::NoValue();
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(ReportedFailure(run, "Can not find CeAppMgr.exe."));
  ExpectEmptyWorkspace();
}

// The value is read into 260 bytes: 259 characters and the zero fit, and the
// run goes on to the wizard; one character more cannot be read.
TEST_P(StartupFailure, ValueOf259CharactersIsReadAnd260IsNot) {
  fs::path setup = WriteSetup(Sample());
  Launch launch = Setup(setup);
  launch.appPaths = AppPaths::OfLength(259);
  launch.script.Wizard();
  Outcome fits = Drive(launch);
  EXPECT_TRUE(fits.boxes.empty() && !fits.wizardTitle.empty()) << "a value of 259 characters: wanted the wizard\n"
                                                               << fits;

  fs::remove_all(folder().Temp());
  launch.appPaths = AppPaths::OfLength(260);
  launch.script = Script().Box().Answer("ok").Exit();
  Outcome tooLong = Drive(launch);
  EXPECT_TRUE(ReportedFailure(tooLong, "Can not find CeAppMgr.exe."));
  ExpectEmptyWorkspace();
}

ZQ_WINE_TEST_SUITE(StartupFailure);

// --- the file's size ----------------------------------------------------------

class StartupFileSize : public ProgramTest {};

// Program proper, header and one entry make 32808 bytes: not enough.  At
// 32809 bytes the size test passes and the run fails later, at the stream
// that the file cannot hold.  Neither leaves a file in the Workspace.
TEST_P(StartupFileSize, FileOf32808BytesIsRefusedAnd32809Passes) {
  SetupRecipe recipe = Sample();
  recipe.entries.resize(1);
  recipe.cutTo = 32808;
  Launch launch = Installed(WriteSetup(recipe));
  launch.script.Box().Answer("ok").Exit();
  Outcome refused = Drive(launch);
  EXPECT_TRUE(ReportedFailure(refused, "Invalid file size in installer. The file may be corrupted."));
  ExpectEmptyWorkspace();

  fs::remove_all(folder().Temp());
  recipe.cutTo = 32809;
  WriteSetup(recipe);
  Outcome passed = Drive(launch);
  EXPECT_TRUE(ReportedFailure(passed, "Error Code: %08X\nError reading data from installer."));
  ExpectEmptyWorkspace();
}

ZQ_WINE_TEST_SUITE(StartupFileSize);

// --- the Workspace ------------------------------------------------------------


class StartupWorkspace : public ProgramTest {};

// Every name the tick count can give exists already, so the run must take
// one over: no new folder appears, and the files land in one of them.  (The
// folders live on a tmpfs: 65536 of them on the build disk would take long
// to delete.)
TEST_P(StartupWorkspace, ExistingFolderIsTakenOver) {
  zqsetup::TmpfsMount tmpfs(folder().Temp(), "size=64m,nr_inodes=100000");
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs over TEMP: " << tmpfs.why();
  char folderName[16];
  for (unsigned tick = 0; tick <= 0xFFFF; ++tick) {
    std::snprintf(folderName, sizeof folderName, "_ZQI%04X", tick);
    fs::create_directory(folder().Temp() / folderName);
  }
  Launch launch = Installed(WriteSetup(Sample()));
  launch.script.Wizard();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.boxes.empty() && !run.wizardTitle.empty()) << "wanted the wizard\n" << run;

  size_t workspaces = 0;
  std::vector<std::string> used, others;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder().Temp())) {
    std::string name = entry.path().filename().string();
    if (!entry.is_directory() || name.size() != 8 || name.rfind("_ZQI", 0) != 0) {
      others.push_back(name);
      continue;
    }
    ++workspaces;
    if (!fs::is_empty(entry.path())) used.push_back(name);
  }
  EXPECT_EQ(workspaces, 65536u) << "a Workspace was added or lost";
  EXPECT_TRUE(others.empty()) << "TEMP holds more: " << ::testing::PrintToString(others);
  ASSERT_EQ(used.size(), 1u) << "Workspaces holding files: " << ::testing::PrintToString(used);
  EXPECT_EQ(FilesIn(folder().Temp() / used[0]), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
}

ZQ_WINE_TEST_SUITE(StartupWorkspace);

// --- DLL search -----------------------------------------------------------------

class StartupDllSearch : public ProgramTest {};

const char kPlantedMarker[] = "riched32-planted.loaded";

// Tells Wine to prefer a native riched32 wherever one is found, for programs
// of these names only (the prefix is shared by every test).  Through the
// registry: WINEDLLOVERRIDES given to the driver's --env does not reach the
// loader of the program it starts.
void PreferNativeRichEdit(Arch arch, const fs::path& folder, const std::vector<std::string>& exeNames) {
  std::string reg = "Windows Registry Editor Version 5.00\r\n";
  for (const std::string& exe : exeNames)
    reg += "\r\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\" + exe +
           "\\DllOverrides]\r\n\"riched32\"=\"native,builtin\"\r\n";
  fs::path file = folder / "prefer-native.reg";
  std::ofstream(file, std::ios::binary) << reg;
  ProgramResult result = RunProgram(arch, "reg", {"import", WinPath(file)});
  ASSERT_EQ(result.status, 0) << "reg import: " << result.out << result.err;
}

// A RICHED32.DLL beside the setup and in its current folder, with Wine told
// to prefer a native copy: the program loads the system's library, so no
// marker appears and the wizard (whose license viewer needs the real
// RICHEDIT class) comes up.  A program that loads "riched32.dll" the plain
// way, boxdemo.exe in the same folder, shows that the planted copy would be
// taken.
TEST_P(StartupDllSearch, PlantedRichEditIsNeverLoaded) {
  fs::path planted = RigProgram(arch(), "planted_riched32.dll");
  ASSERT_TRUE(fs::exists(planted)) << planted << " is not built (tests/wine/planted/riched32.cpp)";
  fs::path download = folder().Make("Downloads");
  for (const fs::path& dir : {download, folder().Root()})
    fs::copy_file(planted, dir / "RICHED32.DLL", fs::copy_options::overwrite_existing);
  fs::copy_file(RigProgram(arch(), "boxdemo.exe"), download / "zqplanted-boxdemo.exe");
  PreferNativeRichEdit(arch(), folder().Root(), {"zqplanted-boxdemo.exe", "zqplanted-setup.exe"});

  Launch naive = Setup(download / "zqplanted-boxdemo.exe");
  naive.args = "wizard 0";
  naive.script.Exit();
  Outcome control = Drive(naive);
  ASSERT_TRUE(fs::exists(download / kPlantedMarker))
      << "boxdemo.exe did not load the planted copy, so this test could not fail\n"
      << control;
  fs::remove(download / kPlantedMarker);

  Launch launch = Installed(WriteSetup(Sample(), download / "zqplanted-setup.exe"));
  launch.script.Wizard();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.boxes.empty() && !run.wizardTitle.empty()) << "wanted the wizard\n" << run;
  EXPECT_FALSE(fs::exists(download / kPlantedMarker)) << "the copy beside the setup was loaded";
  EXPECT_FALSE(fs::exists(folder().Root() / kPlantedMarker)) << "the copy in the current folder was loaded";
}

ZQ_WINE_TEST_SUITE(StartupDllSearch);

}  // namespace
}  // namespace zqrig

#else

TEST(StartupTests, NeedTheFixtureLibrary) {
  FAIL() << "tests/wine/CMakeLists.txt does not link zqfixture to the Wine tests";
}

#endif
