// Faults of the machine around a run: a disk that fills during inflation or
// during the split, a temporary folder that takes nothing, temporary paths
// near and beyond the path limits, Rich Edit missing, a registry value that
// fills its 260 bytes, an install folder on a read-only medium, a license of
// several megabytes and names beyond ASCII.  Each ends in its one expected
// outcome: the message it calls for, or the run as usual.
#include "rig.h"

// The setups come from zqfixture, which tests/wine/CMakeLists.txt must link;
// without it this file builds to one failing test that says so.
#if __has_include("fixture.h")
#include <cstdio>

#include "campaign/checks.h"
#include "campaign/setups.h"
#include "resources/resource.h"

namespace zqrig {
namespace {

using zqfixture::Bytes;
using zqfixture::Entry;

const char kSampleTitle[] = "Sample 1.00 for SmartPhone 2002 Setup";

class Faults : public zqsetup::ProgramTest {
 protected:
  // setup.exe of these files in the test folder, its App Paths value naming
  // the stand-in.
  Launch Installed(const std::vector<Entry>& entries) const {
    return ProgramTest::Installed(zqsetup::WriteSetup(arch(), entries, folder().Root() / "setup.exe"));
  }

  // The only Workspace in `temp`, or a failure that lists what `temp` holds.
  fs::path OnlyWorkspace(const fs::path& temp) const {
    std::vector<fs::path> found = Workspaces(temp);
    if (found.size() == 1) return found[0];
    ADD_FAILURE() << "wanted one Workspace, " << temp << " holds " << ::testing::PrintToString(FilesIn(temp));
    return fs::path();
  }

  // The one box, `id` with a text that holds `path`, then exit code -1.
  static ::testing::AssertionResult EndedWith(const Outcome& run, MessageId id, const std::string& path = "") {
    if (run.boxes.size() != 1) return ::testing::AssertionFailure() << "wanted one box\n" << run;
    const std::string& text = run.boxes[0].text;
    if (!zqcheck::IsMessage(text, id) || text.find(path) == std::string::npos)
      return ::testing::AssertionFailure() << "wanted " << ::testing::PrintToString(Messages[id]) << " naming "
                                           << ::testing::PrintToString(path) << "\n"
                                           << run;
    return run.ExitedWith(0xFFFFFFFF);
  }
};

// A write to a full disk either fails with "disk full" (0x70) or, as this
// Wine does when some of the bytes still fit, succeeds with fewer bytes and
// no code of its own: the program then reports 00000000, like a short read.
// Never the code some earlier call left behind.
::testing::AssertionResult DiskFullCode(const std::string& code) {
  if (code == "00000070" || code == "00000000") return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted 00000070 or 00000000, saw " << code;
}

// The OS code in a message that begins with one.
std::string OsCode(const Outcome& run) {
  const std::string head = "Error Code: ";
  return run.boxes.empty() || run.boxes[0].text.rfind(head, 0) != 0 ? std::string()
                                                                    : run.boxes[0].text.substr(head.size(), 8);
}

// --- disks ------------------------------------------------------------------

class FaultsDisk : public Faults {};

// TEMP on a 1 MiB tmpfs, a payload that inflates to 4 MiB: the data file's
// write fails for the full disk (here a short write; DiskFullCode), naming
// the data file.  Its handle closed, the data file is gone; the Workspace
// stays, empty.
TEST_P(FaultsDisk, FullDiskDuringInflation) {
  zqsetup::TmpfsMount tmpfs(folder().Temp(), "size=1m");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  std::vector<Entry> entries = zqsetup::SampleFiles();
  entries.push_back({"big.txt", zqfixture::TextLikeBytes(4u << 20, 3), false});
  Launch launch = Installed(entries);
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(EndedWith(run, MSG_WRITE_FILE, WinPath(folder().Temp()) + "\\_ZQI"));
  EXPECT_TRUE(DiskFullCode(OsCode(run))) << run;
  EXPECT_NE(run.boxes.empty() ? std::string::npos : run.boxes[0].text.find("\\data"), std::string::npos) << run;
  const fs::path workspace = OnlyWorkspace(folder().Temp());
  if (!workspace.empty()) {
    EXPECT_EQ(FilesIn(workspace), std::vector<std::string>());
  }
}

// The data file (about 720 KiB) fits the 1 MiB tmpfs, the split's copies do
// not: the write of DEMO.CAB fails for the full disk, naming it.  The entries
// before it stay complete, DEMO.CAB stays cut short, the data file is gone.
TEST_P(FaultsDisk, FullDiskDuringTheSplit) {
  zqsetup::TmpfsMount tmpfs(folder().Temp(), "size=1m");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  std::vector<Entry> entries = zqsetup::SampleFiles();
  for (Entry& entry : entries)
    if (entry.name == "DEMO.CAB")
      entry.contents = zqfixture::MakeCabinet("big.exe", zqfixture::RandomBytes(560u << 10, 9));
  Launch launch = Installed(entries);
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(EndedWith(run, MSG_WRITE_FILE, "\\DEMO.CAB."));
  EXPECT_TRUE(DiskFullCode(OsCode(run))) << run;
  const fs::path workspace = OnlyWorkspace(folder().Temp());
  if (workspace.empty()) return;
  EXPECT_EQ(FilesIn(workspace),
            (std::vector<std::string>{"DEMO.CAB", "Setup.ini", "body.bmp", "head.bmp", "license.rtf"}));
  for (const Entry& entry : entries) {
    const std::vector<uint8_t> written = zqcheck::FileBytes(workspace / entry.name);
    if (entry.name == "DEMO.CAB")
      EXPECT_LT(written.size(), entry.contents.size()) << "DEMO.CAB is complete on a full disk";
    else
      EXPECT_EQ(written, entry.contents) << entry.name;
  }
}

// Nowhere to make the Workspace: TEMP on a read-only tmpfs, then TEMP in a
// folder that does not exist.  Each ends in "Error creating directory"
// naming the Workspace in that TEMP, and nothing is made anywhere.
TEST_P(FaultsDisk, TemporaryFolderThatTakesNothing) {
  zqsetup::TmpfsMount tmpfs(folder().Temp(), "size=1m");
  if (!tmpfs.mounted() || !tmpfs.MakeReadOnly()) GTEST_SKIP() << tmpfs.why();
  Launch launch = Installed(zqsetup::SampleFiles());
  launch.script.Box().Answer("ok").Exit();
  Outcome readOnly = Drive(launch);
  EXPECT_TRUE(EndedWith(readOnly, MSG_CREATE_DIRECTORY, WinPath(folder().Temp()) + "\\_ZQI"));
  EXPECT_EQ(FilesIn(folder().Temp()), std::vector<std::string>());

  const fs::path missing = folder().Root() / "missing" / "temp";
  launch.temp.clear();
  launch.env["TMP"] = launch.env["TEMP"] = WinPath(missing);
  Outcome noParent = Drive(launch);
  EXPECT_TRUE(EndedWith(noParent, MSG_CREATE_DIRECTORY, WinPath(missing) + "\\_ZQI"));
  EXPECT_EQ(OsCode(noParent), "00000003") << noParent;  // ERROR_PATH_NOT_FOUND
  EXPECT_FALSE(fs::exists(missing.parent_path()));
}

// --- paths --------------------------------------------------------------------

class FaultsPaths : public Faults {
 protected:
  // A folder below the test's whose Windows path has exactly `characters`
  // characters, made of components of at most 200.
  fs::path FolderOfLength(size_t characters) const {
    fs::path dir = folder().Root() / "t";
    size_t length = WinPath(dir).size();
    while (length < characters) {
      const size_t room = characters - length;
      if (room == 1) {  // one more character on the last component
        dir = dir.parent_path() / (dir.filename().string() + "p");
        length += 1;
        continue;
      }
      const size_t add = std::min<size_t>(room - 1, 200);
      dir /= std::string(add, 'p');
      length += 1 + add;
    }
    return dir;
  }
};

// TEMP near MAX_PATH.  The data file's path is the Workspace's and 13
// characters (\data, four digits, .tmp).  At 259 characters every
// path fits: extraction completes, Cancel empties and removes the Workspace.
// A few characters more and the system refuses the data file (0xCE, name
// too long; Windows from 260 characters on, this Wine from 261) and the
// message names its whole path, not a cut one; the Workspace stays, empty.
TEST_P(FaultsPaths, TemporaryPathNearMaxPath) {
  const size_t kWorkspaceSuffix = 9, kDataFileSuffix = 13;  // \_ZQIxxxx and \dataxxxx.tmp
  const fs::path fits = FolderOfLength(259 - kDataFileSuffix - kWorkspaceSuffix);
  Launch launch = Installed(zqsetup::SampleFiles());
  launch.temp = fits;
  launch.script.Wizard().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(fits), std::vector<std::string>());

  const size_t kTooLong = 262;
  const fs::path tooLong = FolderOfLength(kTooLong - kDataFileSuffix - kWorkspaceSuffix);
  launch.temp = tooLong;
  launch.script = Script().Box().Answer("ok").Exit();
  Outcome refused = Drive(launch);
  const fs::path workspace = OnlyWorkspace(tooLong);
  if (workspace.empty()) return;
  const std::string dataFile = WinPath(workspace) + "\\data";
  EXPECT_TRUE(EndedWith(refused, MSG_CREATE_FILE, dataFile));
  EXPECT_EQ(OsCode(refused), "000000CE") << refused;  // ERROR_FILENAME_EXCED_RANGE
  const size_t at = refused.boxes.empty() ? std::string::npos : refused.boxes[0].text.find(dataFile);
  if (at != std::string::npos) {
    EXPECT_EQ(refused.boxes[0].text.size() - at, kTooLong + 1) << "the path and the period";
  }
  EXPECT_EQ(FilesIn(workspace), std::vector<std::string>());
}

// TEMP beyond the path limits (1100 characters): GetTempPathA fails (this
// Wine: 0, code 0xCE; Windows: the length it would need) and leaves no path.
// The Workspace is then not made, rather than made in the current folder;
// the run ends in "Error creating directory", and nothing appears anywhere,
// the current folder included.
TEST_P(FaultsPaths, TemporaryPathBeyondTheBuffers) {
  const fs::path temp = FolderOfLength(1100);
  fs::create_directories(temp);
  Launch launch = Installed(zqsetup::SampleFiles());
  launch.temp = temp;
  launch.timeoutMs = 10000;
  launch.script.Box().Answer("ok").Exit();
  const zqcheck::Snapshot before(folder().Root());
  Outcome run = Drive(launch);
  EXPECT_TRUE(EndedWith(run, MSG_CREATE_DIRECTORY));
  EXPECT_EQ(before.Changes(zqcheck::Snapshot(folder().Root())), std::vector<std::string>());
}

// --- the system's pieces ------------------------------------------------------------

class FaultsSystem : public Faults {};

// RICHED32.DLL disabled (WINEDLLOVERRIDES "riched32=d"): extraction has completed when the
// library fails, so the message comes with every file in the Workspace, byte
// for byte, and no data file.
TEST_P(FaultsSystem, RichEditMissing) {
  const std::vector<Entry> entries = zqsetup::SampleFiles();
  Launch launch = Installed(entries);
  launch.env["WINEDLLOVERRIDES"] = "riched32=d";
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(EndedWith(run, MSG_RICHEDIT_FAILED));
  const fs::path workspace = OnlyWorkspace(folder().Temp());
  if (workspace.empty()) return;
  EXPECT_EQ(FilesIn(workspace),
            (std::vector<std::string>{"DEMO.CAB", "Setup.ini", "body.bmp", "head.bmp", "license.rtf"}));
  for (const Entry& entry : entries)
    EXPECT_EQ(zqcheck::FileBytes(workspace / entry.name), entry.contents) << entry.name;
}

// The App Paths value fills all 260 bytes with no zero behind them (a binary
// value: its type is not looked at).  It is read as the 260 characters it
// holds and no more: the CAB file and Setup.ini land in "Sample" beside the
// CeAppMgr.exe it names.  No program starts from a path that long (the
// system's limit is 259 characters), so the hand-off then reports that.
TEST_P(FaultsSystem, AppPathsValueOf260BytesWithoutZero) {
  const std::string tail = "\\CeAppMgr.exe";
  const fs::path dir = folder().Root() / "long";
  const fs::path appMgr = InstallStandIn(arch(), dir / std::string(260 - WinPath(dir).size() - tail.size() - 1, 'a'));
  const std::string value = WinPath(appMgr);
  ASSERT_EQ(value.size(), 260u);
  std::string hex;
  for (unsigned char c : value) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", c);
    hex += pair;
  }
  for (const char* view : {"/reg:64", "/reg:32"}) {
    ProgramResult added =
        RunProgram(arch(), "reg",
                   {"add", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE", "/ve", "/t",
                    "REG_BINARY", "/d", hex, "/f", view});
    ASSERT_EQ(added.status, 0) << added.out << added.err;
  }
  const std::vector<Entry> entries = zqsetup::SampleFiles();
  Launch launch = Setup(zqsetup::WriteSetup(arch(), entries, folder().Root() / "setup.exe"));
  launch.appPaths = AppPaths::Keep();
  launch.script.Wizard().Click(IDC_NEXT).Click(IDC_ACCEPT).Click(IDC_NEXT).Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  EXPECT_TRUE(run.ShowedBox(kSampleTitle, Messages[MSG_LAUNCH_FAILED]));
  EXPECT_TRUE(run.ExitedWith(0));
  const fs::path install = appMgr.parent_path() / "Sample";
  EXPECT_EQ(FilesIn(install), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
  for (const char* name : {"DEMO.CAB", "Setup.ini"})
    EXPECT_EQ(zqcheck::FileBytes(install / name), zqsetup::Find(entries, name)->contents) << name;
}

// The install folder beside CeAppMgr.exe cannot be made: its folder is a
// read-only medium.  The hand-off says so under the wizard's title, moves
// nothing (the CAB file and Setup.ini stay in the Workspace), does not start
// the Application Manager, and the exit code is 0.
TEST_P(FaultsSystem, InstallFolderOnReadOnlyMedium) {
  const fs::path appMgrDir = folder().Root() / "AppMgr";
  zqsetup::TmpfsMount tmpfs(appMgrDir, "size=4m");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  const fs::path appMgr = InstallStandIn(arch(), appMgrDir);
  if (!tmpfs.MakeReadOnly()) GTEST_SKIP() << tmpfs.why();
  Launch launch = Setup(zqsetup::WriteSetup(arch(), zqsetup::SampleFiles(), folder().Root() / "setup.exe"));
  launch.appPaths = AppPaths::Pointing(appMgr);
  launch.script.Wizard().Click(IDC_NEXT).Click(IDC_ACCEPT).Click(IDC_NEXT).Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  ASSERT_EQ(run.boxes.size(), 1u) << run;
  EXPECT_EQ(run.boxes[0].caption, kSampleTitle) << run;
  EXPECT_TRUE(zqcheck::IsMessage(run.boxes[0].text, MSG_CREATE_DIRECTORY)) << run;
  EXPECT_NE(run.boxes[0].text.find(WinPath(appMgrDir / "Sample") + "."), std::string::npos) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  const fs::path workspace = OnlyWorkspace(folder().Temp());
  if (!workspace.empty()) {
    EXPECT_EQ(FilesIn(workspace), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
  }
  EXPECT_EQ(FilesIn(appMgrDir), std::vector<std::string>{"CeAppMgr.exe"});
  EXPECT_FALSE(fs::exists(folder().AppMgrLog()));
}

// --- contents -----------------------------------------------------------------

class FaultsContents : public Faults {};

// A license of 3 MiB of text.  The program sets the viewer no limit: this
// Wine's Rich Edit takes the whole text, at some 2 to 5 s a megabyte, so
// the wizard gets a minute.  It comes up, the viewer shows the license's
// beginning, and the file is gone once loaded, so Cancel leaves no
// Workspace.
TEST_P(FaultsContents, LicenseOfSeveralMegabytes) {
  const std::vector<uint8_t> license = zqfixture::TextLikeBytes(3u << 20, 21);
  std::vector<Entry> entries = zqsetup::SampleFiles(zqsetup::SampleIni({{"LicenseFile", "license.txt"}}));
  for (Entry& entry : entries)
    if (entry.name == "license.rtf") entry = {"license.txt", license, false};
  Launch launch = Installed(entries);
  launch.timeoutMs = 60000;
  launch.script.Wizard().Click(IDC_NEXT).State().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  Outcome run = Drive(launch);
  std::printf("a license of %zu bytes: the run took %.1f s\n", license.size(), run.seconds);
  // The transcript holds the whole text: only its start is printed.
  EXPECT_EQ(run.errors, std::vector<std::string>());
  const std::string firstLine(license.begin(), std::find(license.begin(), license.end(), '\r'));
  ASSERT_EQ(run.states.size(), 1u) << run.Transcript().substr(0, 2000);
  const Control* viewer = run.states[0].Find(IDC_LICENSE_TEXT);
  ASSERT_NE(viewer, nullptr) << run.Transcript().substr(0, 2000);
  EXPECT_EQ(viewer->text.substr(0, firstLine.size()), firstLine) << viewer->text.substr(0, 300);
  EXPECT_GE(viewer->text.size(), license.size()) << "this Wine's viewer took only part of the text";
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(folder().Temp()), std::vector<std::string>()) << "the license was not deleted";
}

// Names with é (0xE9 in the ANSI code page 1252): entry names, the settings
// that name them, the product name, the install folder, the folder of
// CeAppMgr.exe and the temporary folder.  The license loads, the title shows
// the name, the CAB file and Setup.ini move into "Démo", and the Application
// Manager finds them.  On the Unix side Wine stores é as UTF-8.
TEST_P(FaultsContents, NamesBeyondAsciiInTheAnsiCodePage) {
  const std::string e = "\xE9", utf8 = "\xC3\xA9";
  const std::string ini = zqsetup::SampleIni({{"ProductName", "D" + e + "mo"},
                                              {"LicenseFile", "licenc" + e + ".rtf"},
                                              {"CabFiles", "d" + e + "mo.cab"},
                                              {"InstallDirectory", "D" + e + "mo"}});
  std::vector<Entry> entries = zqsetup::SampleFiles(ini);
  for (Entry& entry : entries) {
    if (entry.name == "license.rtf") entry.name = "licenc" + e + ".rtf";
    if (entry.name == "DEMO.CAB") entry.name = "d" + e + "mo.cab";
  }
  const fs::path appMgr = InstallStandIn(arch(), folder().Root() / ("Appl" + utf8));
  const fs::path temp = folder().Root() / ("t" + utf8 + "mp");
  Launch launch = Setup(zqsetup::WriteSetup(arch(), entries, folder().Root() / "setup.exe"));
  launch.appPaths = AppPaths::Pointing(appMgr);
  launch.temp = temp;
  launch.script.Wizard().Click(IDC_NEXT).State().Click(IDC_ACCEPT).Click(IDC_NEXT).Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  EXPECT_EQ(run.wizardTitle, "D" + e + "mo 1.00 for SmartPhone 2002 Setup") << run;
  ASSERT_EQ(run.states.size(), 1u) << run;
  const Control* viewer = run.states[0].Find(IDC_LICENSE_TEXT);
  ASSERT_NE(viewer, nullptr) << run.states[0].Transcript();
  EXPECT_NE(viewer->text.find("Sample license."), std::string::npos) << run.states[0].Transcript();
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(appMgr.parent_path() / ("D" + utf8 + "mo")),
            (std::vector<std::string>{"Setup.ini", "d" + utf8 + "mo.cab"}));
  EXPECT_EQ(FilesIn(temp), std::vector<std::string>());
  const std::vector<AppMgrStart> starts = zqsetup::AwaitAppMgr(folder().AppMgrLog(), 1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_TRUE(starts[0].iniExists) << starts[0];
  EXPECT_EQ(starts[0].cabs, (std::vector<std::pair<std::string, bool>>{{"d" + e + "mo.cab", true}})) << starts[0];
}

ZQ_WINE_TEST_SUITE(FaultsDisk);
ZQ_WINE_TEST_SUITE(FaultsPaths);
ZQ_WINE_TEST_SUITE(FaultsSystem);
ZQ_WINE_TEST_SUITE(FaultsContents);

}  // namespace
}  // namespace zqrig

#else

TEST(FaultTests, NeedTheFixtureLibrary) {
  FAIL() << "tests/wine/CMakeLists.txt does not link zqfixture to the Wine tests";
}

#endif
