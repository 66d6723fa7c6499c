// The hand-off through the real wizard (Accept, Next): where the CAB files and
// Setup.ini land, the Application Manager's command line, the failures of the
// hand-off, that it runs once, and that settings naming files outside the
// Workspace touch none of them.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "resources/resource.h"
#include "rig.h"

namespace zqrig {
namespace {

const std::vector<std::string> kMovedFiles = {"DEMO.CAB", "Setup.ini", "TWO.CAB"};

std::string Ini(std::map<std::string, std::string> values) {
  values.emplace("CabFiles", "DEMO.CAB,TWO.CAB");
  return SampleIni(values);
}

class HandOff : public ProgramTest {
 protected:
  // A launch of setup.exe of `files`, the App Paths value naming `appMgr`
  // (default: the stand-in), through the wizard to the last Next.
  Launch ToLastNext(const std::vector<Entry>& files, fs::path appMgr = fs::path()) const {
    Launch launch = Setup(WriteSetup(files));
    launch.appPaths = AppPaths::Pointing(appMgr.empty() ? StandIn() : appMgr);
    launch.script.Wizard().Click(IDC_NEXT).Click(IDC_ACCEPT).Click(IDC_NEXT);
    return launch;
  }
  fs::path AppMgrDir() const { return folder().Root() / "Program Files/App Mgr"; }
};

// CeAppMgr.exe under "Program Files\App Mgr": the files move into App
// Mgr\Sample and the Application Manager starts once on its quoted path.  A
// copy planted as <folder>\Program.exe is what an unquoted path would start;
// starting a program moves its access time, set long ago, forward.  A second
// run replaces what the first left; an empty InstallDirectory puts the files
// beside CeAppMgr.exe, the Setup.ini path then holding two backslashes.
// (InstallDirectory missing as "NO": tests/module/settings_test.cpp.)
TEST_P(HandOff, MovesFilesAndStartsAppMgrOnQuotedPath) {
  const fs::path appMgr = StandIn(), planted = folder().Root() / "Program.exe";
  fs::copy_file(appMgr, planted);
  const time_t kLongAgo = 946684800;  // 2000-01-01
  struct timespec times[2] = {{kLongAgo, 0}, {0, UTIME_OMIT}};
  utimensat(AT_FDCWD, planted.c_str(), times, 0);
  const struct {
    std::vector<Entry> files;
    std::string install;
  } rows[] = {
      {TwoCabFiles(Ini({}), "1"), "Sample"},
      {TwoCabFiles(Ini({{"Description", "second"}}), "2"), "Sample"},
      {TwoCabFiles(Ini({{"InstallDirectory", ""}})), ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("install folder \"" + row.install + "\"");
    Launch launch = ToLastNext(row.files, appMgr);
    launch.script.Exit();
    const std::vector<std::string> beside = {"CeAppMgr.exe", "DEMO.CAB", "Setup.ini", "TWO.CAB"};
    if (row.install.empty()) fs::remove_all(AppMgrDir() / "Sample");
    ExpectHandedOff(Drive(launch), AppMgrDir() / row.install, row.files, row.install.empty() ? beside : kMovedFiles);
  }
  struct stat info {};
  EXPECT_TRUE(stat(planted.c_str(), &info) == 0 && info.st_atime == kLongAgo) << "the planted Program.exe was started";
  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[0].commandLine, "\"" + WinPath(appMgr) + "\" \"" + WinPath(AppMgrDir() / "Sample") + "\\Setup.ini\"")
      << starts[0];
  EXPECT_EQ(starts[0].cabs, (std::vector<std::pair<std::string, bool>>{{"DEMO.CAB", true}, {"TWO.CAB", true}}))
      << starts[0];
  EXPECT_EQ(starts[2].ini, WinPath(AppMgrDir()) + "\\\\Setup.ini") << starts[2];
  EXPECT_TRUE(starts[0].iniExists && starts[2].iniExists) << starts[0] << "\n" << starts[2];
}

// Failures of the hand-off, each ending with exit code 0:
// - the install folder's first level is missing: the box says why under the
//   wizard's title, nothing moves, the Application Manager is not started;
// - a file holds the install folder's name: it counts as the folder, every
//   copy fails, every source is deleted all the same, and the Application
//   Manager is started on a Setup.ini that does not exist;
// - CeAppMgr.exe is not there: the files move, the Workspace goes, then
//   "Can not launch CeAppMgr.exe".  That box has no owner, so the wizard stays
//   live behind it: Next twice more, Back and Cancel while it is open still
//   give one box (Cancel asks nothing) and one install folder (a second
//   hand-off would append Sample to it once more).
TEST_P(HandOff, FailuresAreReported) {
  const fs::path appMgr = StandIn(), missing = folder().Make("Elsewhere") / "CeAppMgr.exe";
  const std::string notMade =
      "Error Code: 00000003\nError creating directory " + WinPath(AppMgrDir()) + "\\Missing\\Sample.";
  const struct {
    const char* what;
    std::string installDirectory;
    bool occupied, standIn;
    std::string box;                 // "": none
    std::vector<std::string> moved;  // what the install folder holds
    size_t starts;
  } rows[] = {
      {"a missing first level", "Missing\\Sample", false, true, notMade, {}, 0},
      {"a file in place of the folder", "Sample", true, true, "", {}, 1},
      {"no CeAppMgr.exe", "Sample", false, false, "Can not launch CeAppMgr.exe", kMovedFiles, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(folder().Temp());
    fs::remove_all(AppMgrDir() / "Sample");
    fs::remove(folder().AppMgrLog());
    std::string relative = row.installDirectory;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const fs::path install = (row.standIn ? AppMgrDir() : missing.parent_path()) / relative;
    if (row.occupied) std::ofstream(install) << "not a folder";
    Launch launch =
        ToLastNext(TwoCabFiles(Ini({{"InstallDirectory", row.installDirectory}})), row.standIn ? appMgr : missing);
    if (!row.box.empty()) launch.script.Box();
    if (!row.standIn) launch.script.Click(IDC_NEXT).Click(IDC_NEXT).Click(IDC_BACK).Click(IDC_CANCEL);
    if (!row.box.empty()) launch.script.Answer("ok").NoBox(700);
    launch.script.Exit();
    const Outcome run = Drive(launch);
    EXPECT_TRUE(run.Clean());
    EXPECT_TRUE(row.box.empty() ? ::testing::AssertionResult(run.boxes.empty()) << run
                                : run.ShowedErrorBox(kSampleTitle, row.box));
    EXPECT_TRUE(run.ExitedWith(0));
    EXPECT_EQ(fs::exists(install), row.occupied || !row.moved.empty());
    if (row.occupied) {
      EXPECT_TRUE(zqfixture::ReadFileBytes(install) == Bytes("not a folder"));
    } else {
      EXPECT_EQ(FilesIn(install), row.moved);
    }
    // What did not move stays in the Workspace; else the Workspace is gone.
    const bool kept = row.moved.empty() && !row.occupied;
    EXPECT_EQ(FilesIn(folder().Temp()).size(), kept ? 4u : 0u) << Joined(FilesIn(folder().Temp()));
    std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
    ASSERT_EQ(starts.size(), row.starts) << run;
    if (row.starts) {
      EXPECT_EQ(starts[0].ini, WinPath(install) + "\\Setup.ini") << starts[0];
      EXPECT_FALSE(starts[0].iniExists) << starts[0];
    }
  }
}

// Settings that name files (LicenseFile, BodyBitmap, HeadBitmap, CabFiles
// items) with values that name a device, climb out, name a drive or a stream
// of a Workspace file, real files waiting where they point: through the
// hand-off none is loaded, moved or changed, only DEMO.CAB and Setup.ini
// move, a device never blocks the run; through Cancel none is deleted.
TEST_P(HandOff, SettingsOutsideTheWorkspaceNameNoFile) {
  const fs::path elsewhere = folder().Make("victims");
  for (const fs::path& dir : {folder().Temp(), elsewhere})
    for (const char* name : {"body-victim.bmp", "head-victim.bmp", "victim.cab"})
      zqfixture::WriteFileBytes((dir / name).string(), Bytes(std::string("VICTIM ") + name));
  const Snapshot temp(folder().Temp(), ""), other(elsewhere, "");
  const std::string cabs = "..\\victim.cab," + WinPath(elsewhere / "victim.cab") + ",DEMO.CAB:x,COM1.cab,DEMO.CAB";
  Launch launch = ToLastNext(SampleFiles(SampleIni({{"LicenseFile", "CON"},
                                                    {"BodyBitmap", "..\\body-victim.bmp"},
                                                    {"HeadBitmap", WinPath(elsewhere / "head-victim.bmp")},
                                                    {"CabFiles", cabs}})),
                             StandIn());
  launch.timeoutMs = 10000;
  launch.script.actions.pop_back();  // the license view described before the last Next
  launch.script.State().Click(IDC_NEXT).Exit();
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "Cancel" : "hand-off");
    const Outcome run = Drive(launch);
    EXPECT_TRUE(run.Clean());
    EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;
    EXPECT_TRUE(run.ExitedWith(0));
    if (!cancel) {
      ASSERT_TRUE(run.states.size() == 1 && run.states[0].Find(IDC_LICENSE_TEXT)) << run;
      EXPECT_EQ(run.states[0].Find(IDC_LICENSE_TEXT)->text, "") << run.states[0].Transcript();
      EXPECT_EQ(FilesIn(AppMgrDir()),
                (std::vector<std::string>{"CeAppMgr.exe", "Sample", "Sample/DEMO.CAB", "Sample/Setup.ini"}));
      EXPECT_EQ(AwaitAppMgr(folder().AppMgrLog(), 1).size(), 1u);
    }
    // The license and bitmaps, which no setting names now, stay.
    EXPECT_EQ(FilesIn(OnlyWorkspace()), (std::vector<std::string>{"body.bmp", "head.bmp", "license.rtf"}));
    for (const fs::path& workspace : Workspaces(folder().Temp())) fs::remove_all(workspace);
    EXPECT_EQ(temp.Changes(Snapshot(folder().Temp(), "")), std::vector<std::string>());
    EXPECT_EQ(other.Changes(Snapshot(elsewhere, "")), std::vector<std::string>());
    launch.script = Script().Wizard().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  }
}

ZQ_WINE_TEST_SUITE(HandOff);

}  // namespace
}  // namespace zqrig
