// Faults of the machine around a run: a temporary folder that fills, takes
// nothing or whose path is near or beyond the limits, Rich Edit missing, a
// registry value that fills its 260 bytes.  Each ends in its one expected
// outcome.  (A license of a megabyte: tests/module/license_test.cpp; an
// install folder that cannot be made: HandOff.FailuresAreReported; folders
// named outside the code page: folder_names_test.cpp.)
#include <iomanip>
#include <sstream>

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
    for (size_t room; (room = characters - WinPath(dir).size()) > 0;)
      dir = room == 1 ? dir.parent_path() / (dir.filename().string() + "p")
                      : dir / std::string(std::min<size_t>(room - 1, 200), 'p');
    return dir;
  }
};

// TEMP that fails the run, each case with its message (exit FFFFFFFF) and
// what TEMP holds then ("": nothing; else the one Workspace and its files):
// - a 1 MiB tmpfs and a payload that inflates to 4 MiB: the data file's write
//   fails, naming it; the data file is gone;
// - the data file (about 720 KiB) fits 1 MiB, the split's copies do not: the
//   write of DEMO.CAB fails, naming it; the entries before it stay;
// - a tmpfs of three inodes (itself, the Workspace, the data file): the first
//   entry's file cannot be created, with the disk's code;
// - a read-only tmpfs, a missing folder: no Workspace can be made;
// - the data file's path at 262 characters: the system refuses it (0xCE,
//   name too long; Windows from 260 on, this Wine from 261) and the message
//   names its whole path, not a cut one (at 259 the run goes on: the row "");
// - 1100 characters: GetTempPathA fails and leaves no path; the Workspace is
//   then not made, rather than made in the current folder.
TEST_P(Faults, TemporaryFolderThatFailsEndsTheRun) {
  const std::vector<Entry> big = Put(SampleFiles(), {"big.txt", zqfixture::TextLikeBytes(4u << 20, 3)});
  const std::vector<Entry> bigCab =
      Put(SampleFiles(), {"DEMO.CAB", zqfixture::MakeCabinet("big.exe", zqfixture::RandomBytes(560u << 10, 9))});
  const std::vector<std::string> none, five = {"DEMO.CAB", "Setup.ini", "body.bmp", "head.bmp", "license.rtf"};
  const size_t kSuffixes = 9 + 13;  // \_ZQIxxxx and \dataxxxx.tmp
  const struct {
    const char* what;
    std::string tmpfs;  // mount options; "": none
    bool readOnly;
    size_t pathLength;  // of TEMP; 0: the test's own
    std::vector<Entry> entries;
    std::string pattern;                   // "<ws>" for the Workspace; "": the wizard
    const std::vector<std::string>* left;  // nullptr: TEMP is empty
  } rows[] = {
      {"full during inflation", "size=1m", false, 0, big, "Error Code: %08X\nError writing data to <ws>\\data%s.tmp.",
       &none},
      {"full during the split", "size=1m", false, 0, bigCab, "Error Code: %08X\nError writing data to <ws>\\DEMO.CAB.",
       &five},
      {"three inodes", "size=4m,nr_inodes=3", false, 0, SampleFiles(),
       "Error Code: 00000070\nError creating file in <ws>\\license.rtf.", &none},
      {"read-only", "size=1m", true, 0, SampleFiles(), "Error Code: %08X\nError creating directory <ws>.", nullptr},
      {"259 characters", "", false, 259 - kSuffixes, SampleFiles(), "", nullptr},
      {"262 characters", "", false, 262 - kSuffixes, SampleFiles(),
       "Error Code: 000000CE\nError creating file in <ws>\\data%s.tmp.", &none},
      {"1100 characters", "", false, 1100, SampleFiles(), "Error Code: %08X\nError creating directory %s.", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Launch launch = Installed(row.entries);
    if (row.pathLength) launch.temp = FolderOfLength(row.pathLength);
    fs::create_directories(launch.temp);
    std::optional<TmpfsMount> tmpfs;
    if (!row.tmpfs.empty()) {
      tmpfs.emplace(launch.temp, row.tmpfs);
      if (!tmpfs->mounted() || (row.readOnly && !tmpfs->MakeReadOnly())) GTEST_SKIP() << tmpfs->why();
    }
    launch.timeoutMs = 10000;
    const Snapshot before(folder().Root());
    if (row.pattern.empty()) {
      launch.script.Wizard().Click(IDC_CANCEL).Box().Answer("yes").Exit();
      EXPECT_TRUE(Drive(launch).ExitedWith(0));
    } else {
      launch.script.Box().Answer("ok").Exit();
      const Outcome run = Drive(launch);
      std::string pattern = row.pattern;
      const size_t ws = pattern.find("<ws>");
      if (ws != std::string::npos) pattern.replace(ws, 4, WinPath(launch.temp) + "\\_ZQI%s");
      EXPECT_TRUE(Refused(run, pattern));
      if (row.tmpfs.find("size=1m") == 0 && !row.readOnly) {
        EXPECT_TRUE(DiskFullCode(run));
      }
    }
    EXPECT_EQ(row.left ? FilesIn(OnlyWorkspace(launch.temp)) : FilesIn(launch.temp), row.left ? *row.left : none);
    if (row.pathLength == 1100) {
      EXPECT_EQ(before.Changes(Snapshot(folder().Root())), none) << "made outside TEMP";
    }
  }
  // A TEMP that does not exist (ERROR_PATH_NOT_FOUND): nothing is made.
  const fs::path missing = folder().Root() / "missing" / "temp";
  Launch launch = Installed(SampleFiles());
  launch.temp.clear();
  launch.env["TMP"] = launch.env["TEMP"] = WinPath(missing);
  launch.script.Box().Answer("ok").Exit();
  EXPECT_TRUE(
      Refused(Drive(launch), "Error Code: 00000003\nError creating directory " + WinPath(missing) + "\\_ZQI%s."));
  EXPECT_FALSE(fs::exists(missing.parent_path()));
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
  EXPECT_EQ(FilesIn(workspace),
            (std::vector<std::string>{"DEMO.CAB", "Setup.ini", "body.bmp", "head.bmp", "license.rtf"}));
  for (const Entry& entry : entries)
    EXPECT_EQ(zqfixture::ReadFileBytes(workspace / entry.name), entry.contents) << entry.name;
}

// The App Paths value fills all 260 bytes with no zero behind them (binary:
// its type is not looked at).  It is read as the 260 characters it holds:
// the files land in "Sample" beside the CeAppMgr.exe it names; no program
// starts from a path that long, so the hand-off then reports that.
TEST_P(Faults, AppPathsValueOf260BytesWithoutZero) {
  const fs::path appMgr = StandIn("long/" + std::string(260 - WinPath(folder().Root() / "long").size() - 14, 'a'));
  const std::string value = WinPath(appMgr);
  ASSERT_EQ(value.size(), 260u);
  std::ostringstream hex;
  for (unsigned char c : value) hex << std::hex << std::setw(2) << std::setfill('0') << int(c);
  for (const char* view : {"/reg:64", "/reg:32"}) {
    ProgramResult added =
        RunProgram(arch(), "reg",
                   {"add", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE", "/ve", "/t",
                    "REG_BINARY", "/d", hex.str(), "/f", view});
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
  EXPECT_EQ(zqfixture::ReadFileBytes(install / "Setup.ini"), entries[3].contents);
  EXPECT_EQ(zqfixture::ReadFileBytes(install / "DEMO.CAB"), entries[4].contents);
}

ZQ_WINE_TEST_SUITE(Faults);

}  // namespace
}  // namespace zqrig
