// The Wine test rig, host side: a display (Xvfb), a private Wine prefix, a
// folder per test, the stand-in Application Manager, and the GUI driver
// (tools/testrig/driver) whose output lines are parsed into Box, State and
// Outcome.  See smoke_test.cpp for a complete example.
//
//   class Startup : public zqrig::WineTest {};
//   TEST_P(Startup, MissingKeyIsReported) {
//     zqrig::Launch launch = Setup(zqrig::ProgramProper(arch()));
//     launch.appPaths = zqrig::AppPaths::Missing();
//     launch.script.Box().Answer("ok").Exit();
//     zqrig::Outcome run = Drive(launch);
//     EXPECT_TRUE(run.ShowedBox("ZQ Installer Error",
//                               "CeAppMgr.exe is not installed correctly."));
//     EXPECT_TRUE(run.ExitedWith(0xFFFFFFFF));
//   }
//   ZQ_WINE_TEST_SUITE(Startup);
//
// A failing check prints the driver's whole transcript beside what was wanted.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zqrig {

namespace fs = std::filesystem;

enum class Arch { x86_64, i686 };
const char* ArchName(Arch arch);

// --- where things are -------------------------------------------------------

fs::path OutDir();                                   // out/
fs::path ProgramProper(Arch arch);                   // out/zqstub-<arch>.exe
fs::path RigProgram(Arch arch, const std::string& name);  // out/<arch>/<name>
// The Wine path of an absolute Unix path: Z: followed by the path with
// backslashes ("/work/a b/x" -> "Z:\work\a b\x").
std::string WinPath(const fs::path& unixPath);

// Whether `text` is `pattern` with every "%08X" standing for an OS code:
// eight upper-case hexadecimal digits.
bool MatchesMessage(const std::string& text, const std::string& pattern);

// --- the shared world: display and prefix -----------------------------------

class Rig {
 public:
  // The rig of this test run: the one the CTest fixture set up, or one set
  // up now (and taken down when the process ends) when there is none.
  static Rig& Get();
  // For the CTest fixtures (zqwinerig-ctl): a fresh display and prefix, and
  // their end.  Both print what they did; they return a process exit code.
  static int SetUpForRun();
  static int TakeDownForRun();

  const std::string& Display() const { return display_; }
  const fs::path& Prefix() const { return prefix_; }
  // Whether programs of this architecture run here; *why tells why not.
  // The answer is found by running the stand-in with --version, once per run.
  bool CanRun(Arch arch, std::string* why) const;
  // The environment for running a Windows program of this architecture.
  std::vector<std::string> Environment(Arch arch) const;
  // The Wine loader for this architecture.
  static std::string Loader(Arch arch);

 private:
  Rig() = default;
  std::string display_;
  fs::path prefix_;
  bool owned_ = false;  // set up by this process, taken down at its end
  friend struct RigAccess;
};

// --- per test ---------------------------------------------------------------

// A fresh folder for one test under the build tree; emptied when made, kept
// afterwards for a look.
class TestFolder {
 public:
  explicit TestFolder(const std::string& name);
  const fs::path& Root() const { return root_; }
  fs::path Temp() const { return root_ / "temp"; }           // the setup's TMP/TEMP
  fs::path AppMgrLog() const { return root_ / "appmgr.log"; }
  fs::path Captures() const { return root_ / "captures"; }
  // A folder below Root(), created with its parents ("Program Files/App Mgr").
  fs::path Make(const std::string& relative) const;

 private:
  fs::path root_;
};

// Every file and folder below `dir`, as sorted relative paths ("a/b.cab"); for
// checks and for failure messages.
std::vector<std::string> FilesIn(const fs::path& dir);
// The setup's Workspaces ("_ZQI????" folders) in a temporary folder, sorted.
std::vector<fs::path> Workspaces(const fs::path& temp);

// Copies the stand-in CeAppMgr.exe into `folder` (created if needed) and
// returns its path.
fs::path InstallStandIn(Arch arch, const fs::path& folder);

// One start of the stand-in Application Manager, as it logged it.
struct AppMgrStart {
  std::string commandLine;                           // GetCommandLineA, verbatim
  std::string ini;                                   // the quoted Setup.ini path
  bool iniExists = false;
  std::string component, cabFiles;                   // read from that Setup.ini
  std::vector<std::pair<std::string, bool>> cabs;    // item, exists beside it
};
std::vector<AppMgrStart> ReadAppMgrLog(const fs::path& log);
std::ostream& operator<<(std::ostream& out, const AppMgrStart& start);

// --- the driver's script ----------------------------------------------------

// The actions of one run, in order (see tools/testrig/driver/main.cpp).
class Script {
 public:
  Script& Wizard() { return Add("wizard"); }
  Script& Box() { return Add("box"); }
  Script& Answer(const std::string& button) { return Add("answer:" + button); }
  Script& Click(int id) { return Add("click:" + std::to_string(id)); }
  Script& Command(int id) { return Add("command:" + std::to_string(id)); }
  Script& Key(const std::string& name) { return Add("key:" + name); }
  Script& Esc() { return Add("esc"); }
  Script& State() { return Add("state"); }
  Script& Windows() { return Add("windows"); }
  Script& NoBox(int ms) { return Add("nobox:" + std::to_string(ms)); }
  Script& Sleep(int ms) { return Add("sleep:" + std::to_string(ms)); }
  Script& Timeout(int ms) { return Add("timeout:" + std::to_string(ms)); }
  Script& Capture(const std::string& name) { return Add("capture:" + name); }
  Script& Exit() { return Add("exit"); }
  Script& Add(const std::string& action) {
    actions.push_back(action);
    return *this;
  }
  std::vector<std::string> actions;
};

// How the App Paths key of CeAppMgr.exe is before the setup starts.
struct AppPaths {
  enum class Kind { Keep, Value, NoValue, Missing };
  static AppPaths Keep() { return {Kind::Keep, {}}; }
  static AppPaths Missing() { return {Kind::Missing, {}}; }
  static AppPaths NoValue() { return {Kind::NoValue, {}}; }
  static AppPaths Value(const std::string& windowsText) { return {Kind::Value, windowsText}; }
  static AppPaths Pointing(const fs::path& unixPath) { return Value(WinPath(unixPath)); }
  // "C:\aaa...a\CeAppMgr.exe" of exactly `characters` characters (at least
  // 16), for the limit of the value's length.
  static AppPaths OfLength(size_t characters);
  Kind kind;
  std::string value;
};

// One run of a program under the driver.
struct Launch {
  Arch arch = Arch::x86_64;
  fs::path exe;                                  // Unix path of the program
  std::string args;                              // its command line behind the path
  fs::path cwd;                                  // its current directory
  fs::path temp;                                 // its TMP and TEMP
  AppPaths appPaths = AppPaths::Missing();
  std::map<std::string, std::string> env;        // more Windows environment
                                                 // (WINEDLLOVERRIDES is added to
                                                 // the rig's own overrides)
  fs::path captureDir;                           // where capture:NAME puts NAME.png
  int timeoutMs = 20000;                         // of every wait of the driver
  Script script;
};

// --- what the driver saw ----------------------------------------------------

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const Rect& other) const {
    return x == other.x && y == other.y && w == other.w && h == other.h;
  }
};
std::ostream& operator<<(std::ostream& out, const Rect& rect);

struct Box {
  std::string caption, text;
  std::vector<std::string> buttons;   // "ok", "yes", "no", ...
  std::string defaultButton;          // "no", or "none"
  std::string icon;                   // "hand", "question", ..., "none"
  std::string owner;                  // "none", "wizard" or a handle
  std::string wizard;                 // "none", "enabled" or "disabled"
  std::string focus;                  // ID of the focused button
  std::string line;                   // the driver's line
};

struct Control {
  std::string parent;                 // "wizard", "welcome", "header", "page"
  int id = 0;                         // -1 for 0xFFFF
  std::string cls, page, text;
  int z = 0;                          // 0 = top of its parent's Z-order
  bool visible = false;               // its own WS_VISIBLE
  bool shown = false;                 // IsWindowVisible
  bool enabled = false;
  int checked = -1;                   // -1 for controls that cannot be checked
  Rect rect;                          // pixels of the wizard's client area
  uint32_t style = 0;
  std::string font;                   // "dialog", "own", "none", "?"
  std::string face;
  long height = 0, weight = 0;
  int charset = -1;
  std::string line;
};

struct State {
  std::string title, focus, focusParent;  // focus: control ID, "wizard", "none"
  int unitsX = 0, unitsY = 0;             // dialog base units
  int clientW = 0, clientH = 0;
  bool enabled = false;
  std::vector<Control> controls;
  std::vector<std::string> lines;
  // The first control with this ID (in a page: parent "welcome"/"header").
  const Control* Find(int id, const std::string& parent = std::string()) const;
  const Control* Page(const std::string& name) const;   // the page window
  // A template rectangle in dialog units, in pixels as the dialog manager
  // makes it: x, y, cx and cy each converted with the dialog's base units.
  Rect Pixels(int x, int y, int w, int h) const;
  std::string Transcript() const;
};

struct Outcome {
  std::vector<std::string> lines;     // all the driver printed
  std::string stderrText;
  std::vector<Box> boxes;
  std::vector<State> states;
  std::vector<std::string> errors;    // ERROR and TIMEOUT lines
  std::vector<std::string> captures;  // PNG files taken
  std::optional<uint32_t> exitCode;   // from EXIT
  std::string wizardTitle;            // from WIZARD
  bool killed = false;                // the driver ended the program
  int driverStatus = -1;              // the driver's own exit status
  double seconds = 0;                 // wall time of the whole run

  std::string Transcript() const;
  // Checks that print the transcript when they fail.
  ::testing::AssertionResult Clean() const;  // no ERROR or TIMEOUT line
  ::testing::AssertionResult ExitedWith(uint32_t code) const;
  ::testing::AssertionResult ShowedBox(const std::string& caption, const std::string& text,
                                       size_t index = 0) const;
};
std::ostream& operator<<(std::ostream& out, const Outcome& run);

// Runs the driver on `launch` and collects its lines.
Outcome Drive(const Launch& launch);

// Runs a console Windows program under Wine with the rig's environment and
// returns its exit status and output (for module tests).
struct ProgramResult {
  int status = -1;  // the low 8 bits of the exit code, as Unix sees it
  std::string out, err;
};
ProgramResult RunProgram(Arch arch, const fs::path& exe, const std::vector<std::string>& args,
                         const fs::path& cwd = fs::path(), int timeoutSeconds = 60);

// --- GoogleTest glue --------------------------------------------------------

// A test run once per architecture; skipped where that architecture cannot
// run.  Its folder is named after the test.
class WineTest : public ::testing::TestWithParam<Arch> {
 protected:
  void SetUp() override;
  Arch arch() const { return GetParam(); }
  const TestFolder& folder() const { return *folder_; }
  // A launch of `exe` in this test's world: TMP/TEMP = folder().Temp(), the
  // stand-in's log in ZQ_APPMGR_LOG, captures into folder().Captures(), the
  // current directory the test folder, and no App Paths key.
  Launch Setup(const fs::path& exe) const;
  // The stand-in CeAppMgr.exe installed in folder().Make(relative).
  fs::path StandIn(const std::string& relative = "Windows CE Services") const;

 private:
  std::optional<TestFolder> folder_;
};

std::string ArchParamName(const ::testing::TestParamInfo<Arch>& info);
void PrintTo(Arch arch, std::ostream* out);

}  // namespace zqrig

#define ZQ_WINE_TEST_SUITE(Suite)                                                          \
  INSTANTIATE_TEST_SUITE_P(Wine, Suite,                                                   \
                           ::testing::Values(::zqrig::Arch::x86_64, ::zqrig::Arch::i686), \
                           ::zqrig::ArchParamName)
