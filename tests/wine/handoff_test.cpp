// The hand-off through the real wizard (Accept, Next): where the CAB files and
// Setup.ini land, the Application Manager's command line, the two failures the
// hand-off reports itself, and that it never touches files outside the
// Workspace or runs twice.
#include "rig.h"

// The setups come from zqfixture, which tests/wine/CMakeLists.txt must link;
// without it this file builds to one failing test that says so.
#if __has_include("fixture.h")
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "fixture.h"

namespace zqrig {
namespace {

using zqfixture::Bytes;
using zqfixture::Entry;

const char kTitle[] = "Demo 1.53 for SmartPhone 2002 Setup";
const std::vector<std::string> kMovedFiles = {"ONE.CAB", "Setup.ini", "TWO.CAB"};

// A Setup.ini naming the two CAB files; `zqLines` ends the ZQINSTALLER section.
std::string SetupIni(const std::string& cabFiles, const std::string& zqLines) {
  return "[CEAppManager]\r\nVersion = 1.0\r\nComponent = Demo App\r\n\r\n"
         "[Demo App]\r\nDescription = Demo application\r\nCabFiles = " +
         cabFiles +
         "\r\n\r\n"
         "[ZQINSTALLER]\r\nProductName = Demo\r\nProductVersion = 1.53\r\n"
         "LicenseFile = license.rtf\r\nHeadBitmap = head.bmp\r\nBodyBitmap = body.bmp\r\n" +
         zqLines;
}

// Starting a program reads its file, and reading moves an access time that
// lies before the file's modification time forward (also under relatime):
// the planted copy keeps an access time set in the past only if it never ran.
const time_t kLongAgo = 946684800;  // 2000-01-01

void SetAccessTimeLongAgo(const fs::path& path) {
  struct timespec times[2] = {{kLongAgo, 0}, {0, UTIME_OMIT}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool ReadSinceLongAgo(const fs::path& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && info.st_atime != kLongAgo;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class HandOff : public WineTest {
 protected:
  // The setup's files: license, bitmaps, Setup.ini, ONE.CAB and TWO.CAB
  // (whose contents carry `edition`, so a second run can be told apart).
  std::vector<Entry> Files(const std::string& ini, const std::string& edition = "1") const {
    return {{"license.rtf", Bytes("{\\rtf1\\ansi Demo license.\\par}")},
            {"body.bmp", zqfixture::MakeBitmap(164, 314)},
            {"head.bmp", zqfixture::MakeBitmap(55, 55)},
            {"Setup.ini", Bytes(ini)},
            {"ONE.CAB", zqfixture::MakeCabinet("one.exe", Bytes("one, edition " + edition))},
            {"TWO.CAB", zqfixture::MakeCabinet("two.exe", Bytes("two, edition " + edition))}};
  }

  // Setup.exe in the test folder: the program proper with these files.
  fs::path MakeSetup(const std::vector<Entry>& entries) const {
    zqfixture::SetupRecipe recipe;
    recipe.stub = zqfixture::ReadFileBytes(ProgramProper(arch()).string());
    recipe.entries = entries;
    fs::path exe = folder().Root() / "Setup.exe";
    zqfixture::WriteFileBytes(exe.string(), zqfixture::BuildSetup(recipe));
    return exe;
  }

  // A launch of `setup` with the App Paths value naming `appMgr`, through the
  // wizard to the last Next.
  Launch ToLastNext(const fs::path& setup, const fs::path& appMgr) const {
    Launch launch = Setup(setup);
    launch.appPaths = AppPaths::Pointing(appMgr);
    launch.script.Wizard().Click(1000).Click(1003).Click(1000);
    return launch;
  }

  // Checks that `dir` holds the moved files with the payload's very bytes.
  void ExpectMovedFiles(const fs::path& dir, const std::vector<Entry>& entries) const {
    for (const Entry& entry : entries) {
      if (entry.name != "Setup.ini" && entry.name.find(".CAB") == std::string::npos) continue;
      EXPECT_EQ(ReadText(dir / entry.name), std::string(entry.contents.begin(), entry.contents.end()))
          << entry.name << " in " << dir;
    }
  }

  std::string TempListing() const { return "TEMP holds " + ::testing::PrintToString(FilesIn(folder().Temp())); }
};

// With CeAppMgr.exe under "Program Files\App Mgr", the CAB files and Setup.ini
// move into App Mgr\Demo, the Workspace goes, and the Application Manager is
// started once on its quoted path.  A copy of the stand-in planted as
// <folder>\Program.exe is what an unquoted path would start instead.
TEST_P(HandOff, MovesFilesAndStartsAppMgrOnQuotedPath) {
  fs::path appMgr = StandIn("Program Files/App Mgr");
  fs::path planted = folder().Root() / "Program.exe";
  fs::copy_file(appMgr, planted);
  SetAccessTimeLongAgo(planted);
  std::vector<Entry> files = Files(SetupIni("ONE.CAB,TWO.CAB", "InstallDirectory = Demo"));
  Launch launch = ToLastNext(MakeSetup(files), appMgr);
  launch.script.Exit();
  Outcome run = Drive(launch);

  ASSERT_TRUE(run.Clean());
  EXPECT_TRUE(run.boxes.empty()) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  fs::path install = appMgr.parent_path() / "Demo";
  EXPECT_EQ(FilesIn(install), kMovedFiles);
  ExpectMovedFiles(install, files);
  EXPECT_TRUE(Workspaces(folder().Temp()).empty()) << TempListing();

  EXPECT_FALSE(ReadSinceLongAgo(planted)) << "the planted Program.exe was started";
  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 1u) << "the stand-in or its planted copy started " << starts.size() << " times\n" << run;
  EXPECT_EQ(starts[0].commandLine, "\"" + WinPath(appMgr) + "\" \"" + WinPath(install) + "\\Setup.ini\"") << starts[0];
  EXPECT_TRUE(starts[0].iniExists) << starts[0];
  std::vector<std::pair<std::string, bool>> cabs = {{"ONE.CAB", true}, {"TWO.CAB", true}};
  EXPECT_EQ(starts[0].cabs, cabs) << starts[0];
}

// A second run finds the install folder in place and replaces the files that
// the first one left there.
TEST_P(HandOff, SecondRunReplacesFiles) {
  fs::path appMgr = StandIn("Program Files/App Mgr");
  fs::path install = appMgr.parent_path() / "Demo";
  std::vector<Entry> first = Files(SetupIni("ONE.CAB,TWO.CAB", "InstallDirectory = Demo"), "1");
  Launch launch = ToLastNext(MakeSetup(first), appMgr);
  launch.script.Exit();
  Outcome firstRun = Drive(launch);
  ASSERT_TRUE(firstRun.ExitedWith(0));
  ExpectMovedFiles(install, first);

  std::vector<Entry> second = Files(SetupIni("ONE.CAB,TWO.CAB", "InstallDirectory = Demo\r\nIcon = second.ico"), "2");
  MakeSetup(second);
  Outcome secondRun = Drive(launch);
  ASSERT_TRUE(secondRun.Clean());
  EXPECT_TRUE(secondRun.boxes.empty()) << secondRun;
  EXPECT_TRUE(secondRun.ExitedWith(0));
  EXPECT_EQ(FilesIn(install), kMovedFiles);
  ExpectMovedFiles(install, second);
  EXPECT_TRUE(Workspaces(folder().Temp()).empty()) << TempListing();
  EXPECT_EQ(ReadAppMgrLog(folder().AppMgrLog()).size(), 2u) << secondRun;
}

// Without an InstallDirectory key the folder is named "NO"; with an empty
// value the files land beside CeAppMgr.exe, the Setup.ini path then holding
// two backslashes in a row.
TEST_P(HandOff, InstallDirectoryMissingOrEmpty) {
  fs::path appMgr = StandIn("Program Files/App Mgr");
  fs::path appMgrDir = appMgr.parent_path();
  std::vector<Entry> noKey = Files(SetupIni("ONE.CAB,TWO.CAB", ""));
  Launch launch = ToLastNext(MakeSetup(noKey), appMgr);
  launch.script.Exit();
  Outcome missing = Drive(launch);
  ASSERT_TRUE(missing.Clean());
  EXPECT_TRUE(missing.ExitedWith(0));
  EXPECT_EQ(FilesIn(appMgrDir / "NO"), kMovedFiles);
  ExpectMovedFiles(appMgrDir / "NO", noKey);

  std::vector<Entry> emptyValue = Files(SetupIni("ONE.CAB,TWO.CAB", "InstallDirectory ="));
  MakeSetup(emptyValue);
  Outcome empty = Drive(launch);
  ASSERT_TRUE(empty.Clean());
  EXPECT_TRUE(empty.boxes.empty()) << empty;
  EXPECT_TRUE(empty.ExitedWith(0));
  std::vector<std::string> beside = {"CeAppMgr.exe", "NO",      "NO/ONE.CAB", "NO/Setup.ini",
                                     "NO/TWO.CAB",   "ONE.CAB", "Setup.ini",  "TWO.CAB"};
  EXPECT_EQ(FilesIn(appMgrDir), beside);
  ExpectMovedFiles(appMgrDir, emptyValue);
  EXPECT_TRUE(Workspaces(folder().Temp()).empty()) << TempListing();

  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 2u) << empty;
  EXPECT_EQ(starts[0].ini, WinPath(appMgrDir / "NO") + "\\Setup.ini") << starts[0];
  EXPECT_EQ(starts[1].ini, WinPath(appMgrDir) + "\\\\Setup.ini") << starts[1];
  EXPECT_TRUE(starts[1].iniExists) << starts[1];
}

// Two levels whose first is missing: the folder cannot be created, the box
// says why under the wizard's title, nothing moves, the Application Manager
// is not started, and the exit code is still 0.
TEST_P(HandOff, UncreatableFolderIsReportedAndNothingMoves) {
  fs::path appMgr = StandIn("Program Files/App Mgr");
  Launch launch = ToLastNext(MakeSetup(Files(SetupIni("ONE.CAB,TWO.CAB", "InstallDirectory = Missing\\Demo"))), appMgr);
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);

  ASSERT_TRUE(run.Clean());
  // ERROR_PATH_NOT_FOUND, as Windows and Wine give it for a missing parent.
  EXPECT_TRUE(run.ShowedBox(
      kTitle, "Error Code: 00000003\nError creating directory " + WinPath(appMgr.parent_path()) + "\\Missing\\Demo."));
  ASSERT_EQ(run.boxes.size(), 1u) << run;
  EXPECT_EQ(run.boxes[0].icon, "hand") << run;
  EXPECT_EQ(run.boxes[0].buttons, std::vector<std::string>{"ok"}) << run;
  EXPECT_EQ(run.boxes[0].owner, "none") << run;
  EXPECT_TRUE(run.ExitedWith(0));

  EXPECT_FALSE(fs::exists(appMgr.parent_path() / "Missing"));
  std::vector<fs::path> workspaces = Workspaces(folder().Temp());
  ASSERT_EQ(workspaces.size(), 1u) << TempListing();
  EXPECT_EQ(FilesIn(workspaces[0]), kMovedFiles);
  EXPECT_TRUE(ReadAppMgrLog(folder().AppMgrLog()).empty());
}

// A file in place of the install folder counts as the folder: every copy
// fails, every source is deleted all the same, and the Application Manager
// is started on a Setup.ini that does not exist.
TEST_P(HandOff, FileInPlaceOfFolderFailsEveryCopyButStartsAppMgr) {
  fs::path appMgr = StandIn("Program Files/App Mgr");
  fs::path occupied = appMgr.parent_path() / "Demo";
  std::ofstream(occupied) << "not a folder";
  Launch launch = ToLastNext(MakeSetup(Files(SetupIni("ONE.CAB,TWO.CAB", "InstallDirectory = Demo"))), appMgr);
  launch.script.Exit();
  Outcome run = Drive(launch);

  ASSERT_TRUE(run.Clean());
  EXPECT_TRUE(run.boxes.empty()) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_TRUE(fs::is_regular_file(occupied));
  EXPECT_EQ(ReadText(occupied), "not a folder");
  EXPECT_TRUE(Workspaces(folder().Temp()).empty()) << TempListing();
  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 1u) << run;
  EXPECT_EQ(starts[0].ini, WinPath(occupied) + "\\Setup.ini") << starts[0];
  EXPECT_FALSE(starts[0].iniExists) << starts[0];
}

// CeAppMgr.exe deleted while the wizard is up: the files move, the Workspace
// goes, then "Can not launch CeAppMgr.exe" under the wizard's title; exit 0.
TEST_P(HandOff, AppMgrGoneSinceStartUpIsReportedAfterTheMove) {
  fs::path appMgr = StandIn("Program Files/App Mgr");
  std::vector<Entry> files = Files(SetupIni("ONE.CAB,TWO.CAB", "InstallDirectory = Demo"));
  Launch launch = ToLastNext(MakeSetup(files), appMgr);
  launch.script.actions.pop_back();  // the last Next comes once CeAppMgr.exe is gone
  launch.script.Sleep(300).Click(1000).Box().Answer("ok").Exit();

  // The wizard deletes the license file while it opens, after start-up has
  // read the App Paths value and after Setup.ini was extracted.
  std::atomic<bool> stop{false}, deleted{false};
  std::thread remover([&] {
    while (!stop) {
      for (const fs::path& workspace : Workspaces(folder().Temp()))
        if (fs::exists(workspace / "Setup.ini") && !fs::exists(workspace / "license.rtf")) {
          deleted = fs::remove(appMgr);
          return;
        }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  Outcome run = Drive(launch);
  stop = true;
  remover.join();

  ASSERT_TRUE(deleted) << "CeAppMgr.exe was not deleted while the wizard was up\n" << run;
  ASSERT_TRUE(run.Clean());
  EXPECT_TRUE(run.ShowedBox(kTitle, "Can not launch CeAppMgr.exe"));
  ASSERT_EQ(run.boxes.size(), 1u) << run;
  EXPECT_EQ(run.boxes[0].icon, "hand") << run;
  EXPECT_EQ(run.boxes[0].owner, "none") << run;
  EXPECT_TRUE(run.ExitedWith(0));
  fs::path install = appMgr.parent_path() / "Demo";
  EXPECT_EQ(FilesIn(install), kMovedFiles);
  ExpectMovedFiles(install, files);
  EXPECT_TRUE(Workspaces(folder().Temp()).empty()) << TempListing();
}

// The hand-off's box has no owner, so the wizard and its Next stay live
// behind it.  Next twice more while the box is open: still one box, one
// install folder (a second hand-off would append Demo to it once more).
TEST_P(HandOff, RunsOnceWhileItsBoxIsOpen) {
  fs::path appMgrDir = folder().Make("Program Files/App Mgr");
  Launch launch =
      ToLastNext(MakeSetup(Files(SetupIni("ONE.CAB,TWO.CAB", "InstallDirectory = Demo"))), appMgrDir / "CeAppMgr.exe");
  launch.script.Box().Click(1000).Click(1000).Answer("ok").NoBox(700).Exit();
  Outcome run = Drive(launch);

  ASSERT_TRUE(run.Clean());
  EXPECT_EQ(run.boxes.size(), 1u) << run;
  EXPECT_TRUE(run.ShowedBox(kTitle, "Can not launch CeAppMgr.exe"));
  EXPECT_TRUE(run.ExitedWith(0));
  std::vector<std::string> installed = {"Demo", "Demo/ONE.CAB", "Demo/Setup.ini", "Demo/TWO.CAB"};
  EXPECT_EQ(FilesIn(appMgrDir), installed);
}

// CabFiles items that are not plain file names ("..\outside.cab", a drive
// path) name no file: neither the hand-off nor Cancel moves or deletes
// anything outside the Workspace.
TEST_P(HandOff, ItemsThatAreNotPlainNamesNameNoFile) {
  fs::path appMgr = StandIn("Program Files/App Mgr");
  fs::path outside = folder().Temp() / "outside.cab";             // ..\outside.cab from the Workspace
  fs::path elsewhere = folder().Make("elsewhere") / "drive.cab";  // named by its drive path
  std::ofstream(outside) << "outside";
  std::ofstream(elsewhere) << "elsewhere";
  std::string items = "..\\outside.cab," + WinPath(elsewhere) + ",ONE.CAB";
  std::vector<Entry> files = Files(SetupIni(items, "InstallDirectory = Demo"));
  files.pop_back();  // no TWO.CAB: the Workspace empties
  Launch launch = ToLastNext(MakeSetup(files), appMgr);
  launch.script.Exit();
  Outcome handOff = Drive(launch);
  ASSERT_TRUE(handOff.Clean());
  EXPECT_TRUE(handOff.ExitedWith(0));
  std::vector<std::string> moved = {"ONE.CAB", "Setup.ini"};
  EXPECT_EQ(FilesIn(appMgr.parent_path() / "Demo"), moved);
  EXPECT_FALSE(fs::exists(appMgr.parent_path() / "outside.cab"));
  EXPECT_EQ(ReadText(outside), "outside");
  EXPECT_EQ(ReadText(elsewhere), "elsewhere");
  EXPECT_TRUE(Workspaces(folder().Temp()).empty()) << TempListing();

  launch.script = Script().Wizard().Click(1001).Answer("yes").Exit();
  Outcome cancel = Drive(launch);
  ASSERT_TRUE(cancel.Clean());
  EXPECT_TRUE(cancel.ExitedWith(0));
  EXPECT_EQ(ReadText(outside), "outside");
  EXPECT_EQ(ReadText(elsewhere), "elsewhere");
  EXPECT_TRUE(Workspaces(folder().Temp()).empty()) << TempListing();
}

ZQ_WINE_TEST_SUITE(HandOff);

}  // namespace
}  // namespace zqrig

#else

TEST(HandOffTests, NeedTheFixtureLibrary) {
  FAIL() << "tests/wine/CMakeLists.txt does not link zqfixture to the Wine tests";
}

#endif
