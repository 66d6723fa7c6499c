// The hand-off through the real wizard (Accept, Next): where the CAB files and
// Setup.ini land, the Application Manager's command line, the failures the
// hand-off reports itself, that it runs once, and that settings naming files
// outside the Workspace touch none of them.
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

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

  // Handed off without a box, exit code 0: `install` holds the CAB files
  // and Setup.ini with the payload's very bytes, and the Workspace is gone.
  void ExpectHandedOff(const Outcome& run, const fs::path& install, const std::vector<Entry>& files,
                       const std::vector<std::string>& listing = kMovedFiles) const {
    EXPECT_TRUE(run.Clean());
    EXPECT_TRUE(run.boxes.empty()) << run;
    EXPECT_TRUE(run.ExitedWith(0));
    EXPECT_EQ(FilesIn(install), listing);
    for (const Entry& entry : files)
      if (entry.name == "Setup.ini" || entry.name.find(".CAB") != std::string::npos) {
        EXPECT_TRUE(FileBytes(install / entry.name) == entry.contents) << entry.name << " in " << install;
      }
    EXPECT_EQ(Workspaces(folder().Temp()), std::vector<fs::path>()) << Joined(FilesIn(folder().Temp()));
  }
};

// CeAppMgr.exe under "Program Files\App Mgr": the files move into App
// Mgr\Sample and the Application Manager starts once on its quoted path.  A
// copy planted as <folder>\Program.exe is what an unquoted path would start;
// starting a program moves its access time, set long ago, forward.
TEST_P(HandOff, MovesFilesAndStartsAppMgrOnQuotedPath) {
  const fs::path appMgr = StandIn(), planted = folder().Root() / "Program.exe";
  fs::copy_file(appMgr, planted);
  const time_t kLongAgo = 946684800;  // 2000-01-01
  struct timespec times[2] = {{kLongAgo, 0}, {0, UTIME_OMIT}};
  utimensat(AT_FDCWD, planted.c_str(), times, 0);
  const std::vector<Entry> files = TwoCabFiles();
  Launch launch = ToLastNext(files, appMgr);
  launch.script.Exit();
  Outcome run = Drive(launch);
  ExpectHandedOff(run, AppMgrDir() / "Sample", files);

  struct stat info {};
  EXPECT_TRUE(stat(planted.c_str(), &info) == 0 && info.st_atime == kLongAgo) << "the planted Program.exe was started";
  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 1u) << run;
  EXPECT_EQ(starts[0].commandLine, "\"" + WinPath(appMgr) + "\" \"" + WinPath(AppMgrDir() / "Sample") + "\\Setup.ini\"")
      << starts[0];
  EXPECT_TRUE(starts[0].iniExists) << starts[0];
  EXPECT_EQ(starts[0].cabs, (std::vector<std::pair<std::string, bool>>{{"DEMO.CAB", true}, {"TWO.CAB", true}}))
      << starts[0];
}

// InstallDirectory: a second run replaces what the first left; without the
// key the folder is "NO"; an empty value puts the files beside CeAppMgr.exe,
// the Setup.ini path then holding two backslashes in a row.
TEST_P(HandOff, InstallDirectoryIsFoundOrMade) {
  std::string noKey = Ini({});
  noKey.erase(noKey.find("InstallDirectory"), noKey.find('\n', noKey.find("InstallDirectory")) + 1 -
                                                  noKey.find("InstallDirectory"));
  struct Row {
    const char* what;
    std::vector<Entry> files;
    std::string install;
  };
  const Row rows[] = {
      {"first run", TwoCabFiles(Ini({}), "1"), "Sample"},
      {"second run", TwoCabFiles(Ini({{"Description", "second"}}), "2"), "Sample"},
      {"no key", TwoCabFiles(noKey), "NO"},
      {"empty value", TwoCabFiles(Ini({{"InstallDirectory", ""}})), ""},
  };
  const std::vector<std::string> beside = {"CeAppMgr.exe", "DEMO.CAB",  "NO",      "NO/DEMO.CAB",
                                           "NO/Setup.ini", "NO/TWO.CAB", "Setup.ini", "TWO.CAB"};
  const fs::path appMgr = StandIn();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.install.empty()) fs::remove_all(AppMgrDir() / "Sample");
    Launch launch = ToLastNext(row.files, appMgr);
    launch.script.Exit();
    ExpectHandedOff(Drive(launch), AppMgrDir() / row.install, row.files, row.install.empty() ? beside : kMovedFiles);
  }
  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 4u);
  EXPECT_EQ(starts[2].ini, WinPath(AppMgrDir() / "NO") + "\\Setup.ini") << starts[2];
  EXPECT_EQ(starts[3].ini, WinPath(AppMgrDir()) + "\\\\Setup.ini") << starts[3];
  EXPECT_TRUE(starts[3].iniExists) << starts[3];
}

// Two levels whose first is missing: the box says why under the wizard's
// title, nothing moves, the Application Manager is not started, exit code 0.
TEST_P(HandOff, UncreatableFolderIsReportedAndNothingMoves) {
  Launch launch = ToLastNext(TwoCabFiles(Ini({{"InstallDirectory", "Missing\\Sample"}})));
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  // ERROR_PATH_NOT_FOUND, as Windows and Wine give it for a missing parent.
  EXPECT_TRUE(run.ShowedErrorBox(kSampleTitle, "Error Code: 00000003\nError creating directory " +
                                                   WinPath(AppMgrDir()) + "\\Missing\\Sample."));
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_FALSE(fs::exists(AppMgrDir() / "Missing"));
  EXPECT_EQ(FilesIn(OnlyWorkspace()), kMovedFiles);
  EXPECT_TRUE(ReadAppMgrLog(folder().AppMgrLog()).empty());
}

// A file in place of the install folder counts as the folder: every copy
// fails, every source is deleted all the same, and the Application Manager
// is started on a Setup.ini that does not exist.
TEST_P(HandOff, FileInPlaceOfFolderFailsEveryCopyButStartsAppMgr) {
  const fs::path appMgr = StandIn(), occupied = AppMgrDir() / "Sample";
  std::ofstream(occupied) << "not a folder";
  Launch launch = ToLastNext(TwoCabFiles(), appMgr);
  launch.script.Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  EXPECT_TRUE(run.boxes.empty()) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_TRUE(FileBytes(occupied) == Bytes("not a folder"));
  EXPECT_EQ(Workspaces(folder().Temp()), std::vector<fs::path>());
  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 1u) << run;
  EXPECT_EQ(starts[0].ini, WinPath(occupied) + "\\Setup.ini") << starts[0];
  EXPECT_FALSE(starts[0].iniExists) << starts[0];
}

// CeAppMgr.exe deleted while the wizard is up (once the wizard has consumed
// the license, after start-up read the App Paths value): the files move, the
// Workspace goes, then "Can not launch CeAppMgr.exe"; exit code 0.
TEST_P(HandOff, AppMgrGoneSinceStartUpIsReportedAfterTheMove) {
  const fs::path appMgr = StandIn();
  const std::vector<Entry> files = TwoCabFiles();
  Launch launch = ToLastNext(files, appMgr);
  launch.script.actions.pop_back();  // the last Next comes once CeAppMgr.exe is gone
  launch.script.Sleep(300).Click(IDC_NEXT).Box().Answer("ok").Exit();
  std::atomic<bool> stop{false}, deleted{false};
  std::thread remover([&] {
    for (; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(5)))
      for (const fs::path& workspace : Workspaces(folder().Temp()))
        if (fs::exists(workspace / "Setup.ini") && !fs::exists(workspace / "license.rtf")) {
          deleted = fs::remove(appMgr);
          return;
        }
  });
  Outcome run = Drive(launch);
  stop = true;
  remover.join();
  ASSERT_TRUE(deleted) << "CeAppMgr.exe was not deleted while the wizard was up\n" << run;
  EXPECT_TRUE(run.ShowedErrorBox(kSampleTitle, "Can not launch CeAppMgr.exe"));
  run.boxes.clear();
  ExpectHandedOff(run, AppMgrDir() / "Sample", files);
}

// The hand-off's box has no owner, so the wizard and its buttons stay live
// behind it.  Next twice more, Back and Cancel while it is open: still one
// box (Cancel asks nothing), one install folder (a second hand-off would
// append Sample to it once more) holding every file, one end of the wizard.
TEST_P(HandOff, RunsOnceWhileItsBoxIsOpen) {
  Launch launch = ToLastNext(TwoCabFiles(), folder().Make("Program Files/App Mgr") / "CeAppMgr.exe");
  launch.script.Box().Click(IDC_NEXT).Click(IDC_NEXT).Click(IDC_BACK).Click(IDC_CANCEL).Answer("ok").NoBox(700).Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  EXPECT_TRUE(run.ShowedErrorBox(kSampleTitle, "Can not launch CeAppMgr.exe"));
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(AppMgrDir()), (std::vector<std::string>{"Sample", "Sample/DEMO.CAB", "Sample/Setup.ini",
                                                             "Sample/TWO.CAB"}));
}

// Settings that name files (LicenseFile, BodyBitmap, HeadBitmap, a CabFiles
// item) with values that climb out, name a drive, a stream of a Workspace
// file or a device, real files waiting where they point: through the
// hand-off none is loaded, moved or changed, only DEMO.CAB and Setup.ini
// move, a device never blocks the run; through Cancel none is deleted.
TEST_P(HandOff, SettingsOutsideTheWorkspaceNameNoFile) {
  const fs::path elsewhere = folder().Make("victims");
  struct Kind {
    std::string name, license, body, head, cab;
  };
  const Kind kinds[] = {
      {"climbing", "..\\victim.rtf", "..\\body-victim.bmp", "..\\head-victim.bmp", "..\\victim.cab"},
      {"absolute", WinPath(elsewhere / "victim.rtf"), WinPath(elsewhere / "body-victim.bmp"),
       WinPath(elsewhere / "head-victim.bmp"), WinPath(elsewhere / "victim.cab")},
      {"stream", "license.rtf:x", "body.bmp:x", "head.bmp:x", "DEMO.CAB:x"},
      {"device", "CON", "NUL.bmp", "AUX", "COM1.cab"},
  };
  for (const fs::path& dir : {folder().Temp(), elsewhere})
    for (const char* name : {"victim.rtf", "body-victim.bmp", "head-victim.bmp", "victim.cab"})
      zqfixture::WriteFileBytes((dir / name).string(), Bytes(std::string("{\\rtf1 VICTIM ") + name + "}"));
  const Snapshot temp(folder().Temp(), ""), other(elsewhere, "");
  const fs::path appMgr = StandIn();

  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name + " values");
    Launch launch = ToLastNext(SampleFiles(SampleIni({{"LicenseFile", kind.license},
                                                      {"BodyBitmap", kind.body},
                                                      {"HeadBitmap", kind.head},
                                                      {"CabFiles", kind.cab + ",DEMO.CAB"}})),
                               appMgr);
    launch.timeoutMs = 10000;
    launch.script.actions.pop_back();  // the license view described before the last Next
    launch.script.State().Click(IDC_NEXT).Exit();
    for (bool cancel : {false, true}) {
      fs::remove_all(AppMgrDir() / "Sample");
      fs::remove(folder().AppMgrLog());
      Outcome run = Drive(launch);
      EXPECT_TRUE(run.Clean());
      EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;
      EXPECT_TRUE(run.ExitedWith(0));
      if (!cancel) {
        ASSERT_TRUE(run.states.size() == 1 && run.states[0].Find(IDC_LICENSE_TEXT)) << run;
        EXPECT_EQ(run.states[0].Find(IDC_LICENSE_TEXT)->text, "") << run.states[0].Transcript();
        EXPECT_EQ(FilesIn(AppMgrDir()), (std::vector<std::string>{"CeAppMgr.exe", "Sample", "Sample/DEMO.CAB",
                                                                   "Sample/Setup.ini"}));
        EXPECT_EQ(AwaitAppMgr(folder().AppMgrLog(), 1).size(), 1u);
      }
      // The license and bitmaps, which no setting names now, stay.
      EXPECT_EQ(FilesIn(OnlyWorkspace()), (std::vector<std::string>{"body.bmp", "head.bmp", "license.rtf"}));
      for (const fs::path& workspace : Workspaces(folder().Temp())) fs::remove_all(workspace);
      EXPECT_EQ(temp.Changes(Snapshot(folder().Temp(), "")), std::vector<std::string>());
      EXPECT_EQ(other.Changes(Snapshot(elsewhere, "")), std::vector<std::string>());
      if (kind.name == "device" || kind.name == "stream") break;
      launch.script = Script().Wizard().Click(IDC_CANCEL).Box().Answer("yes").Exit();
    }
  }
}

ZQ_WINE_TEST_SUITE(HandOff);

}  // namespace
}  // namespace zqrig
