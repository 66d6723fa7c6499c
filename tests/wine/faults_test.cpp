// Faults of the machine around a run: a disk that fills during inflation or
// the split, a temporary folder that takes nothing or whose path is near or
// beyond the limits, Rich Edit missing, a registry value that fills its 260
// bytes, a read-only install medium, a license of megabytes and names beyond
// ASCII.  Each ends in its one expected outcome.
#include <cstdio>

#include "resources/resource.h"
#include "rig.h"

namespace zqrig {
namespace {

// The OS code in the box's text, which begins with one.
std::string OsCode(const Outcome& run) { return run.boxes.empty() ? "" : run.boxes[0].text.substr(12, 8); }

// A write to a full disk fails with "disk full" (0x70) or, as this Wine does
// when some of the bytes fit, succeeds short with no code of its own: then
// 00000000, like a short read.  Never a code some earlier call left behind.
::testing::AssertionResult DiskFullCode(const Outcome& run) {
  if (OsCode(run) == "00000070" || OsCode(run) == "00000000") return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted code 00000070 or 00000000, saw " << OsCode(run) << "\n" << run;
}

class Faults : public ProgramTest {
 protected:
  Launch Installed(const std::vector<Entry>& entries) const { return ProgramTest::Installed(WriteSetup(entries)); }

  // A folder below the test's whose Windows path has exactly `characters`
  // characters, made of components of at most 200.
  fs::path FolderOfLength(size_t characters) const {
    fs::path dir = folder().Root() / "t";
    for (size_t length = WinPath(dir).size(); length < characters;) {
      const size_t room = characters - length;
      if (room == 1) {  // one more character on the last component
        dir = dir.parent_path() / (dir.filename().string() + "p");
        length += 1;
      } else {
        dir /= std::string(std::min<size_t>(room - 1, 200), 'p');
        length += 1 + std::min<size_t>(room - 1, 200);
      }
    }
    return dir;
  }
};

// TEMP on a 1 MiB tmpfs, a payload that inflates to 4 MiB: the data file's
// write fails for the full disk, naming it; the data file is gone, the
// Workspace stays, empty.
TEST_P(Faults, FullDiskDuringInflation) {
  TmpfsMount tmpfs(folder().Temp(), "size=1m");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  Launch launch = Installed(Put(SampleFiles(), {"big.txt", zqfixture::TextLikeBytes(4u << 20, 3)}));
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(Refused(run, "Error Code: %08X\nError writing data to " + WinPath(folder().Temp()) + "\\_ZQI%s\\data%s.tmp."));
  EXPECT_TRUE(DiskFullCode(run));
  EXPECT_EQ(FilesIn(OnlyWorkspace()), std::vector<std::string>());
}

// The data file (about 720 KiB) fits the 1 MiB tmpfs, the split's copies do
// not: the write of DEMO.CAB fails, naming it.  The entries before it stay
// complete, DEMO.CAB stays cut short, the data file is gone.
TEST_P(Faults, FullDiskDuringTheSplit) {
  TmpfsMount tmpfs(folder().Temp(), "size=1m");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  const std::vector<Entry> entries =
      Put(SampleFiles(), {"DEMO.CAB", zqfixture::MakeCabinet("big.exe", zqfixture::RandomBytes(560u << 10, 9))});
  Launch launch = Installed(entries);
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(Refused(run, "Error Code: %08X\nError writing data to %s\\DEMO.CAB."));
  EXPECT_TRUE(DiskFullCode(run));
  const fs::path workspace = OnlyWorkspace();
  EXPECT_EQ(FilesIn(workspace), (std::vector<std::string>{"DEMO.CAB", "Setup.ini", "body.bmp", "head.bmp", "license.rtf"}));
  for (const Entry& entry : entries) {
    if (entry.name == "DEMO.CAB")
      EXPECT_LT(FileBytes(workspace / entry.name).size(), entry.contents.size()) << "DEMO.CAB is whole on a full disk";
    else
      EXPECT_EQ(FileBytes(workspace / entry.name), entry.contents) << entry.name;
  }
}

// TEMP on a tmpfs of three inodes: itself, the Workspace and the data file.
// The first entry's file cannot be created: the run ends naming it, with the
// disk's code, and the data file is gone.
TEST_P(Faults, EntryFileThatCannotBeCreated) {
  TmpfsMount tmpfs(folder().Temp(), "size=4m,nr_inodes=3");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  Launch launch = Installed(SampleFiles());
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(Refused(run, "Error Code: 00000070\nError creating file in " + WinPath(folder().Temp()) +
                               "\\_ZQI%s\\license.rtf."));
  EXPECT_EQ(FilesIn(OnlyWorkspace()), std::vector<std::string>());
}

// Nowhere to make the Workspace: TEMP on a read-only tmpfs, then TEMP in a
// folder that does not exist (ERROR_PATH_NOT_FOUND).  Each ends in "Error
// creating directory" naming the Workspace in that TEMP; nothing is made.
TEST_P(Faults, TemporaryFolderThatTakesNothing) {
  TmpfsMount tmpfs(folder().Temp(), "size=1m");
  if (!tmpfs.mounted() || !tmpfs.MakeReadOnly()) GTEST_SKIP() << tmpfs.why();
  Launch launch = Installed(SampleFiles());
  launch.script.Box().Answer("ok").Exit();
  EXPECT_TRUE(Refused(Drive(launch), "Error Code: %08X\nError creating directory " + WinPath(folder().Temp()) + "\\_ZQI%s."));
  EXPECT_EQ(FilesIn(folder().Temp()), std::vector<std::string>());

  const fs::path missing = folder().Root() / "missing" / "temp";
  launch.temp.clear();
  launch.env["TMP"] = launch.env["TEMP"] = WinPath(missing);
  EXPECT_TRUE(Refused(Drive(launch), "Error Code: 00000003\nError creating directory " + WinPath(missing) + "\\_ZQI%s."));
  EXPECT_FALSE(fs::exists(missing.parent_path()));
}

// TEMP near MAX_PATH; the data file's path is the Workspace's and 13
// characters.  At 259 every path fits: extraction completes, Cancel removes
// the Workspace.  At 262 the system refuses the data file (0xCE, name too
// long; Windows from 260 on, this Wine from 261) and the message names its
// whole path, not a cut one; the Workspace stays, empty.
TEST_P(Faults, TemporaryPathNearMaxPath) {
  const size_t kSuffixes = 9 + 13;  // \_ZQIxxxx and \dataxxxx.tmp
  const fs::path fits = FolderOfLength(259 - kSuffixes), tooLong = FolderOfLength(262 - kSuffixes);
  Launch launch = Installed(SampleFiles());
  launch.temp = fits;
  launch.script.Wizard().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(fits), std::vector<std::string>());

  launch.temp = tooLong;
  launch.script = Script().Box().Answer("ok").Exit();
  Outcome refused = Drive(launch);
  const fs::path workspace = OnlyWorkspace(tooLong);
  EXPECT_TRUE(Refused(refused, "Error Code: 000000CE\nError creating file in " + WinPath(workspace) + "\\data%s.tmp."));
  EXPECT_EQ(WinPath(workspace).size() + 13, 262u);
  EXPECT_EQ(FilesIn(workspace), std::vector<std::string>());
}

// TEMP beyond the path limits (1100 characters): GetTempPathA fails and
// leaves no path.  The Workspace is then not made, rather than made in the
// current folder; "Error creating directory", and nothing appears anywhere.
TEST_P(Faults, TemporaryPathBeyondTheBuffers) {
  Launch launch = Installed(SampleFiles());
  launch.temp = FolderOfLength(1100);
  fs::create_directories(launch.temp);
  launch.timeoutMs = 10000;
  launch.script.Box().Answer("ok").Exit();
  const Snapshot before(folder().Root());
  EXPECT_TRUE(Refused(Drive(launch), "Error Code: %08X\nError creating directory %s."));
  EXPECT_EQ(before.Changes(Snapshot(folder().Root())), std::vector<std::string>());
}

// RICHED32.DLL disabled: extraction has completed when the library fails,
// so every file is in the Workspace byte for byte, and no data file.
TEST_P(Faults, RichEditMissing) {
  const std::vector<Entry> entries = SampleFiles();
  Launch launch = Installed(entries);
  launch.env["WINEDLLOVERRIDES"] = "riched32=d";
  launch.script.Box().Answer("ok").Exit();
  EXPECT_TRUE(Refused(Drive(launch), Messages[MSG_RICHEDIT_FAILED]));
  const fs::path workspace = OnlyWorkspace();
  EXPECT_EQ(FilesIn(workspace), (std::vector<std::string>{"DEMO.CAB", "Setup.ini", "body.bmp", "head.bmp", "license.rtf"}));
  for (const Entry& entry : entries) EXPECT_EQ(FileBytes(workspace / entry.name), entry.contents) << entry.name;
}

// The App Paths value fills all 260 bytes with no zero behind them (binary:
// its type is not looked at).  It is read as the 260 characters it holds:
// the files land in "Sample" beside the CeAppMgr.exe it names; no program
// starts from a path that long, so the hand-off then reports that.
TEST_P(Faults, AppPathsValueOf260BytesWithoutZero) {
  const fs::path dir = folder().Root() / "long";
  const fs::path appMgr = InstallStandIn(arch(), dir / std::string(260 - WinPath(dir).size() - 14, 'a'));
  const std::string value = WinPath(appMgr);
  ASSERT_EQ(value.size(), 260u);
  std::string hex;
  for (unsigned char c : value) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", c);
    hex += pair;
  }
  for (const char* view : {"/reg:64", "/reg:32"}) {
    ProgramResult added = RunProgram(arch(), "reg",
                                     {"add", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE",
                                      "/ve", "/t", "REG_BINARY", "/d", hex, "/f", view});
    ASSERT_EQ(added.status, 0) << added.out << added.err;
  }
  const std::vector<Entry> entries = SampleFiles();
  Launch launch = Setup(WriteSetup(entries));
  launch.appPaths = AppPaths::Keep();
  launch.script.Wizard().Click(IDC_NEXT).Click(IDC_ACCEPT).Click(IDC_NEXT).Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  EXPECT_TRUE(run.ShowedErrorBox(kSampleTitle, Messages[MSG_LAUNCH_FAILED]));
  EXPECT_TRUE(run.ExitedWith(0));
  const fs::path install = appMgr.parent_path() / "Sample";
  EXPECT_EQ(FilesIn(install), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
  EXPECT_EQ(FileBytes(install / "Setup.ini"), entries[3].contents);
  EXPECT_EQ(FileBytes(install / "DEMO.CAB"), entries[4].contents);
}

// The install folder cannot be made on a read-only medium: the hand-off says
// so under the wizard's title, moves nothing, starts nothing; exit code 0.
TEST_P(Faults, InstallFolderOnReadOnlyMedium) {
  const fs::path appMgrDir = folder().Root() / "AppMgr";
  TmpfsMount tmpfs(appMgrDir, "size=4m");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  const fs::path appMgr = InstallStandIn(arch(), appMgrDir);
  if (!tmpfs.MakeReadOnly()) GTEST_SKIP() << tmpfs.why();
  Launch launch = Setup(WriteSetup(SampleFiles()));
  launch.appPaths = AppPaths::Pointing(appMgr);
  launch.script.Wizard().Click(IDC_NEXT).Click(IDC_ACCEPT).Click(IDC_NEXT).Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.ShowedErrorBox(kSampleTitle, "Error Code: %08X\nError creating directory " +
                                                   WinPath(appMgrDir / "Sample") + "."));
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(OnlyWorkspace()), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
  EXPECT_EQ(FilesIn(appMgrDir), std::vector<std::string>{"CeAppMgr.exe"});
  EXPECT_FALSE(fs::exists(folder().AppMgrLog()));
}

// A license of 3 MiB of text, no limit set on the viewer (this Wine's Rich
// Edit takes 2 to 5 s a megabyte, so the wizard gets a minute): the viewer
// shows all of it from its beginning, and once loaded the file is gone, so
// Cancel leaves no Workspace.  The i686 sample is 1 MiB, far beyond Rich
// Edit's default limit still: emulated, Rich Edit takes some 30 s a megabyte.
TEST_P(Faults, LicenseOfSeveralMegabytes) {
  const std::vector<uint8_t> license = zqfixture::TextLikeBytes((arch() == Arch::i686 ? 1u : 3u) << 20, 21);
  std::vector<Entry> entries = SampleFiles(SampleIni({{"LicenseFile", "license.txt"}}));
  entries[0] = {"license.txt", license};  // in place of license.rtf
  Launch launch = Installed(entries);
  launch.timeoutMs = 60000;
  launch.script.Wizard().Click(IDC_NEXT).State().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  Outcome run = Drive(launch);
  std::printf("a license of %zu bytes: the run took %.1f s\n", license.size(), run.seconds);
  // The transcript holds the whole text: only its start is printed.
  EXPECT_EQ(run.errors, std::vector<std::string>());
  ASSERT_TRUE(run.states.size() == 1 && run.states[0].Find(IDC_LICENSE_TEXT)) << run.Transcript().substr(0, 2000);
  const std::string& text = run.states[0].Find(IDC_LICENSE_TEXT)->text;
  const std::string firstLine(license.begin(), std::find(license.begin(), license.end(), '\r'));
  EXPECT_EQ(text.substr(0, firstLine.size()), firstLine) << text.substr(0, 300);
  EXPECT_GE(text.size(), license.size()) << "this Wine's viewer took only part of the text";
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(folder().Temp()), std::vector<std::string>()) << "the license was not deleted";
}

// Names with é (0xE9 in code page 1252): entry names, the settings that name
// them, the product, the install folder, the folders of CeAppMgr.exe and of
// TEMP.  The license loads, the title shows the name, the files move into
// "Démo" and the Application Manager finds them.  Wine stores é as UTF-8.
TEST_P(Faults, NamesBeyondAsciiInTheAnsiCodePage) {
  const std::string e = "\xE9", utf8 = "\xC3\xA9";
  std::vector<Entry> entries = SampleFiles(SampleIni({{"ProductName", "D" + e + "mo"},
                                                      {"LicenseFile", "licenc" + e + ".rtf"},
                                                      {"CabFiles", "d" + e + "mo.cab"},
                                                      {"InstallDirectory", "D" + e + "mo"}}));
  entries[0].name = "licenc" + e + ".rtf";
  entries[4].name = "d" + e + "mo.cab";  // DEMO.CAB
  const fs::path appMgr = InstallStandIn(arch(), folder().Root() / ("Appl" + utf8));
  const fs::path temp = folder().Root() / ("t" + utf8 + "mp");
  Launch launch = Setup(WriteSetup(entries));
  launch.appPaths = AppPaths::Pointing(appMgr);
  launch.temp = temp;
  launch.script.Wizard().Click(IDC_NEXT).State().Click(IDC_ACCEPT).Click(IDC_NEXT).Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.Clean());
  EXPECT_EQ(run.wizardTitle, "D" + e + "mo 1.00 for SmartPhone 2002 Setup") << run;
  ASSERT_TRUE(run.states.size() == 1 && run.states[0].Find(IDC_LICENSE_TEXT)) << run;
  EXPECT_NE(run.states[0].Find(IDC_LICENSE_TEXT)->text.find("Sample license."), std::string::npos) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  EXPECT_EQ(FilesIn(appMgr.parent_path() / ("D" + utf8 + "mo")), (std::vector<std::string>{"Setup.ini", "d" + utf8 + "mo.cab"}));
  EXPECT_EQ(FilesIn(temp), std::vector<std::string>());
  const std::vector<AppMgrStart> starts = AwaitAppMgr(folder().AppMgrLog(), 1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_TRUE(starts[0].iniExists) << starts[0];
  EXPECT_EQ(starts[0].cabs, (std::vector<std::pair<std::string, bool>>{{"d" + e + "mo.cab", true}})) << starts[0];
}

ZQ_WINE_TEST_SUITE(Faults);

}  // namespace
}  // namespace zqrig
