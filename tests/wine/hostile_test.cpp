// Hostile inputs: DLLs planted beside the setup and in its current folder
// never load; entry names and settings that climb out of the Workspace or
// name streams or devices touch no file outside it; a file that holds the
// Workspace's name ends the run with the file-creation message and stays.
#include "rig.h"

// The setups come from zqfixture, which tests/wine/CMakeLists.txt must link;
// without it this file builds to one failing test that says so.
#if __has_include("fixture.h")
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "campaign/checks.h"
#include "campaign/setups.h"
#include "resources/resource.h"

namespace zqrig {
namespace {

using zqfixture::Bytes;
using zqfixture::Entry;

const char kInvalidData[] = "Invalid data in installer. The file may be corrupted.";
const char kSampleTitle[] = "Sample 1.00 for SmartPhone 2002 Setup";

class Hostile : public zqsetup::ProgramTest {
 protected:
  // Files whose bytes must not change, with the bytes they had.
  void Plant(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    zqfixture::WriteFileBytes(path.string(), Bytes(text));
    victims_[path] = text;
  }
  void ExpectVictimsUntouched(const std::string& when) const {
    for (const auto& [path, text] : victims_) {
      EXPECT_TRUE(fs::is_regular_file(path)) << when << ": " << path << " is gone";
      std::vector<uint8_t> now = zqcheck::FileBytes(path);
      EXPECT_EQ(std::string(now.begin(), now.end()), text) << when << ": " << path << " changed";
    }
  }

 private:
  std::map<fs::path, std::string> victims_;
};

// --- planted DLLs -------------------------------------------------------------

class PlantedDlls : public Hostile {};

const char* const kPlantedNames[] = {"COMCTL32.DLL", "VERSION.DLL", "RICHED32.DLL"};

// The markers in a folder, in lower case: "version.dll.loaded" when a running
// program loaded the copy, "version.dll.loaded-at-start" when the loader
// took it for an import while the process started.
std::vector<std::string> Markers(const fs::path& dir) {
  std::vector<std::string> found;
  for (std::string name : FilesIn(dir)) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.find(".loaded") != std::string::npos) found.push_back(name);
  }
  return found;
}

// A marker DLL under each name beside the setup and in its current folder,
// Wine told to prefer native copies (WINEDLLOVERRIDES
// "riched32,comctl32,version=n,b"): the program takes the system's
// libraries, so it loads none of the copies and its wizard, with the real
// RICHEDIT viewer, comes up.  plainload.exe, asking for each name the plain
// way from the same folder, takes the planted copy: the check could fail.
//
// One copy is taken all the same under Wine: VERSION.DLL beside the setup,
// while the process starts, before the program's first instruction.  Wine's
// own user32.dll imports version.dll and Wine looks for it beside the
// program when native copies are preferred; Windows' user32.dll imports no
// version.dll.  Nothing the program's entry does can reach loads made
// before it runs, so that one marker is allowed, and reported, when
// boxdemo.exe (which imports user32 and nothing of note) gets it too.
TEST_P(PlantedDlls, NeverLoadFromBesideTheSetupOrTheCurrentFolder) {
  const fs::path marker = RigProgram(arch(), "planted_marker.dll");
  const fs::path plainload = RigProgram(arch(), "plainload.exe");
  if (!fs::exists(marker) || !fs::exists(plainload))
    GTEST_SKIP() << marker << " or " << plainload << " is not built (tests/wine/planted)";
  const fs::path download = folder().Make("Downloads"), current = folder().Make("Current");
  for (const fs::path& dir : {download, current})
    for (const char* name : kPlantedNames) fs::copy_file(marker, dir / name);
  const std::string preferNative = "riched32,comctl32,version=n,b";

  fs::copy_file(plainload, download / "plainload.exe");
  for (const char* name : kPlantedNames) {
    Launch careless = Setup(download / "plainload.exe");
    careless.env["WINEDLLOVERRIDES"] = preferNative;
    careless.args = name;
    careless.cwd = current;
    careless.script.Exit();
    Outcome control = Drive(careless);
    std::string loaded = std::string(name) + ".loaded";
    for (char& c : loaded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::vector<std::string> markers = Markers(download);
    ASSERT_NE(std::find(markers.begin(), markers.end(), loaded), markers.end())
        << "plainload.exe did not take the planted " << name << ", so this test could not fail\n"
        << control;
    for (const fs::path& dir : {download, current})
      for (const std::string& file : FilesIn(dir))
        if (file.find(".loaded") != std::string::npos) fs::remove(dir / file);
  }

  fs::copy_file(RigProgram(arch(), "boxdemo.exe"), download / "boxdemo.exe");
  Launch user32 = Setup(download / "boxdemo.exe");
  user32.env["WINEDLLOVERRIDES"] = preferNative;
  user32.args = "box 0 Planted VERSION.DLL";
  user32.cwd = current;
  user32.script.Box().Answer("ok").Exit();
  Drive(user32);
  const std::vector<std::string> byUser32 = Markers(download);
  const bool wineTakesVersion =
      std::find(byUser32.begin(), byUser32.end(), "version.dll.loaded-at-start") != byUser32.end();
  for (const std::string& file : FilesIn(download))
    if (file.find(".loaded") != std::string::npos) fs::remove(download / file);

  Launch launch = Installed(zqsetup::WriteSetup(arch(), zqsetup::SampleFiles(), download / "setup.exe"));
  launch.env["WINEDLLOVERRIDES"] = preferNative;
  launch.cwd = current;
  launch.script.Wizard().State().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  Outcome run = Drive(launch);
  std::vector<std::string> beside = Markers(download);
  const auto byWine = std::find(beside.begin(), beside.end(), "version.dll.loaded-at-start");
  if (byWine != beside.end() && wineTakesVersion) {
    std::printf("note: Wine's user32.dll took the planted VERSION.DLL while the process started\n");
    beside.erase(byWine);
  }
  EXPECT_EQ(beside, std::vector<std::string>()) << "copies beside the setup were loaded";
  EXPECT_EQ(Markers(current), std::vector<std::string>()) << "copies in the current folder were loaded";
  EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;
  ASSERT_EQ(run.states.size(), 1u) << run;
  const Control* viewer = run.states[0].Find(IDC_LICENSE_TEXT);
  ASSERT_NE(viewer, nullptr) << run.states[0].Transcript();
  EXPECT_EQ(viewer->cls, "RICHEDIT") << run.states[0].Transcript();
  EXPECT_TRUE(run.ExitedWith(0));
}

ZQ_WINE_TEST_SUITE(PlantedDlls);

// --- names that leave the Workspace ---------------------------------------------

class HostileNames : public Hostile {
 protected:
  // One Workspace in TEMP holding the sample's license and bitmaps; dropped
  // afterwards for the next run.
  void ExpectWorkspaceKeepsUnnamedFiles() const {
    const std::vector<fs::path> workspaces = Workspaces(folder().Temp());
    ASSERT_EQ(workspaces.size(), 1u) << "TEMP holds " << ::testing::PrintToString(FilesIn(folder().Temp()));
    EXPECT_EQ(FilesIn(workspaces[0]), (std::vector<std::string>{"body.bmp", "head.bmp", "license.rtf"}));
    fs::remove_all(workspaces[0]);
  }
};

// Entry names that climb out of the Workspace, name a drive, a stream or a
// device, each in a setup of its own behind a harmless first entry: the
// split refuses the name with the damaged-payload message.  The first file
// stays in the Workspace and nothing else appears or changes: not the file
// the name points at, not on drive C:, not beside the setup.
TEST_P(HostileNames, EntryNamesOutsideTheWorkspaceAreRefused) {
  const fs::path victim = folder().Root() / "victims" / "victim.txt";
  const fs::path driveC = Rig::Get().Prefix() / "drive_c";
  const std::vector<std::string> names = {
      "..\\victim.txt", WinPath(victim), "C:\\zqhostile-entry.txt", "x:y", "CON", "NUL.txt", ".."};
  for (const std::string& name : names) {
    SCOPED_TRACE("entry name " + name);
    const fs::path temp = folder().Make("temp-" + std::to_string(&name - names.data()));
    Plant(temp / "victim.txt", "untouched beside the Workspace");
    Plant(victim, "untouched elsewhere");
    std::vector<Entry> entries = {{"first.txt", Bytes("first"), false}, {name, Bytes("HOSTILE"), false}};
    for (const Entry& entry : zqsetup::SampleFiles()) entries.push_back(entry);
    Launch launch = Installed(zqsetup::WriteSetup(arch(), entries, folder().Root() / "setup.exe"));
    launch.temp = temp;
    launch.script.Box().Answer("ok").Exit();

    const zqcheck::Snapshot before(folder().Root(), temp.filename().string());
    const zqcheck::Snapshot systemBefore(driveC);
    Outcome run = Drive(launch);
    ASSERT_EQ(run.boxes.size(), 1u) << run;
    EXPECT_EQ(run.boxes[0].text, kInvalidData) << run;
    EXPECT_TRUE(run.ExitedWith(0xFFFFFFFF));
    const std::vector<fs::path> workspaces = Workspaces(temp);
    ASSERT_EQ(workspaces.size(), 1u) << ::testing::PrintToString(FilesIn(temp));
    EXPECT_EQ(FilesIn(workspaces[0]), std::vector<std::string>{"first.txt"});
    EXPECT_EQ(before.Changes(zqcheck::Snapshot(folder().Root(), temp.filename().string())), std::vector<std::string>());
    EXPECT_EQ(systemBefore.Changes(zqcheck::Snapshot(driveC)), std::vector<std::string>());
    ExpectVictimsUntouched("entry " + name);
  }
}

// Settings that name files (LicenseFile, BodyBitmap, HeadBitmap, CabFiles
// items) with values that climb out, name a drive, a stream of a Workspace
// file or a device.  Real files wait where the values point.  Through the
// hand-off: none of them is loaded (the viewer stays empty), deleted or
// moved; only DEMO.CAB and Setup.ini move; a device never blocks the run.
// The climbing values also through Cancel, which deletes.
TEST_P(HostileNames, SettingsOutsideTheWorkspaceNameNoFile) {
  const fs::path elsewhere = folder().Root() / "victims";
  struct Kind {
    std::string name, license, body, head, cab;
  };
  const std::vector<Kind> kinds = {
      {"climbing", "..\\victim.rtf", "..\\body-victim.bmp", "..\\head-victim.bmp", "..\\victim.cab"},
      {"absolute", WinPath(elsewhere / "victim.rtf"), WinPath(elsewhere / "body-victim.bmp"),
       WinPath(elsewhere / "head-victim.bmp"), WinPath(elsewhere / "victim.cab")},
      {"stream", "license.rtf:x", "body.bmp:x", "head.bmp:x", "DEMO.CAB:x"},
      {"device", "CON", "NUL.bmp", "AUX", "COM1.cab"},
  };
  const std::string victimLicense = "{\\rtf1\\ansi VICTIM LICENSE\\par}";
  for (const fs::path& dir : {folder().Temp(), elsewhere}) {
    Plant(dir / "victim.rtf", victimLicense);
    Plant(dir / "body-victim.bmp", "victim body bitmap");
    Plant(dir / "head-victim.bmp", "victim head bitmap");
    Plant(dir / "victim.cab", "victim cabinet");
  }
  const fs::path appMgr = StandIn();
  const fs::path install = appMgr.parent_path() / "Sample";

  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name + " values");
    const std::string ini = zqsetup::SampleIni({{"LicenseFile", kind.license},
                                                {"BodyBitmap", kind.body},
                                                {"HeadBitmap", kind.head},
                                                {"CabFiles", kind.cab + ",DEMO.CAB"}});
    const std::vector<Entry> entries = zqsetup::SampleFiles(ini);
    Launch launch = Setup(zqsetup::WriteSetup(arch(), entries, folder().Root() / "setup.exe"));
    launch.appPaths = AppPaths::Pointing(appMgr);
    launch.timeoutMs = 10000;
    launch.script.Wizard().Click(IDC_NEXT).State().Click(IDC_ACCEPT).Click(IDC_NEXT).Exit();
    std::error_code ignored;
    fs::remove_all(install, ignored);
    fs::remove(folder().AppMgrLog(), ignored);

    Outcome run = Drive(launch);
    EXPECT_TRUE(run.Clean());
    EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;
    if (run.states.size() == 1 && run.states[0].Find(IDC_LICENSE_TEXT))
      EXPECT_EQ(run.states[0].Find(IDC_LICENSE_TEXT)->text, "") << run.states[0].Transcript();
    else
      ADD_FAILURE() << "no license viewer seen\n" << run;
    EXPECT_TRUE(run.ExitedWith(0));
    EXPECT_EQ(FilesIn(install), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
    EXPECT_EQ(zqsetup::AwaitAppMgr(folder().AppMgrLog(), 1).size(), 1u);
    // The license and bitmaps of the payload, which no setting names now,
    // stay in the Workspace: the stream values name no file either.
    ExpectWorkspaceKeepsUnnamedFiles();
    ExpectVictimsUntouched(kind.name + " values, hand-off");

    if (kind.name != "climbing") continue;
    launch.script = Script().Wizard().Click(IDC_CANCEL).Box().Answer("yes").Exit();
    Outcome cancelled = Drive(launch);
    EXPECT_TRUE(cancelled.Clean());
    EXPECT_TRUE(cancelled.ExitedWith(0));
    ExpectWorkspaceKeepsUnnamedFiles();
    ExpectVictimsUntouched(kind.name + " values, Cancel");
  }
}

// A file holds the name of every Workspace the tick count can give (65536
// empty files on a tmpfs, quick to make and to drop).  Creating the folder
// reports "already exists", which the program takes as a folder to use; the
// data file cannot be made inside a file, so the run ends with that message.
// Every one of the files stays as it was and nothing else appears.
TEST_P(HostileNames, WorkspaceNameHeldByAFileEndsTheRun) {
  zqsetup::TmpfsMount tmpfs(folder().Temp(), "size=64m,nr_inodes=100000");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  char name[16];
  for (unsigned tick = 0; tick <= 0xFFFF; ++tick) {
    std::snprintf(name, sizeof name, "_ZQI%04X", tick);
    zqfixture::WriteFileBytes((folder().Temp() / name).string(), {});
  }
  Launch launch = Installed(zqsetup::WriteSetup(arch(), zqsetup::SampleFiles(), folder().Root() / "setup.exe"));
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  ASSERT_EQ(run.boxes.size(), 1u) << run;
  const std::string text = run.boxes[0].text;
  EXPECT_TRUE(zqcheck::IsMessage(text, MSG_CREATE_FILE)) << run;
  const std::string inTemp = WinPath(folder().Temp()) + "\\_ZQI";
  const size_t at = text.find(inTemp);
  EXPECT_TRUE(at != std::string::npos && text.compare(at + inTemp.size() + 4, 5, "\\data") == 0)
      << "wanted the data file in a Workspace of " << inTemp << "\n"
      << run;
  EXPECT_TRUE(run.ExitedWith(0xFFFFFFFF));

  size_t files = 0;
  std::vector<std::string> others;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder().Temp())) {
    if (entry.is_regular_file() && entry.file_size() == 0 && entry.path().filename().string().rfind("_ZQI", 0) == 0)
      ++files;
    else
      others.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(files, 65536u);
  EXPECT_EQ(others, std::vector<std::string>());
}

ZQ_WINE_TEST_SUITE(HostileNames);

}  // namespace
}  // namespace zqrig

#else

TEST(HostileTests, NeedTheFixtureLibrary) {
  FAIL() << "tests/wine/CMakeLists.txt does not link zqfixture to the Wine tests";
}

#endif
