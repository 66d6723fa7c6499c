// A Wine world on Linux for running setups: child processes with a time
// limit (process.cpp), the Windows environment of its programs
// (environment.cpp), a display (a private Xvfb or the user's own) and a
// private Wine prefix, made, locked, reused and refreshed here alone
// (world.cpp), and the stand-in Application Manager (standin.cpp).  `zqpack run` and the Wine test rig both build on
// it; drive.h works a setup inside it through the GUI driver.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace zqworld {

namespace fs = std::filesystem;

enum class Arch { x86_64, i686 };
const char* ArchName(Arch arch);

// Debian's Wine: the loaders of each architecture and the server.
extern const char kWine64[];
extern const char kWine32[];
extern const char kWineServer[];
std::string Loader(Arch arch);

// The Wine path of an absolute Unix path: "/work/a b/x" -> "Z:\work\a b\x".
std::string WinPath(const fs::path& unixPath);
// The Unix path of a "Z:\..." path, or of a "C:\..." path in this prefix
// (given); empty for any other drive.
fs::path UnixPath(const std::string& winPath, const fs::path& prefix = fs::path());

// --- child processes --------------------------------------------------------

struct ProgramResult {
  int status = -1;  // the low 8 bits of the exit code, as Unix sees it; 128+signal
  std::string out, err;
  bool timedOut = false;  // killed at its time limit or on SIGINT/SIGTERM
};

// SIGINT, SIGTERM and SIGHUP end the running child (see Run) instead of this
// process; Interrupted() tells the caller to clean up and stop.
void StopChildrenOnSignals();
bool Interrupted();

// Runs argv[0] (a path) with this environment and folder to its end, or kills
// it after `limitSeconds` or on a signal (unless `stoppable` is false: the
// clean-up's own programs).  Every stdout line goes to onLine as it comes, if
// given, else into out.
ProgramResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env, int limitSeconds,
                  const fs::path& cwd = fs::path(), const std::function<void(const std::string&)>& onLine = nullptr,
                  bool stoppable = true);

// This process's environment without WINE* and DISPLAY.
std::vector<std::string> BaseEnvironment();
// Whether a program of this name is found on the PATH of this process.
bool OnPath(const std::string& name);

// --- the world --------------------------------------------------------------

// The folders of the Windows programs that serve a world: x86_64/ and i686/,
// each with zqdriver.exe, zqprobe.dll and CeAppMgr.exe (out/ in the source
// tree, /usr/lib/zqpack in the Debian package).
struct Programs {
  fs::path dir;
  fs::path Get(Arch arch, const std::string& name) const { return dir / ArchName(arch) / name; }
};

// A display and a prefix.  The prefix's Wine processes get `home` as HOME and
// XDG folders, so nothing of the user's own Wine set-up is read or written.
class World {
 public:
  std::string display;  // ":N"
  pid_t xvfbPid = 0;    // Xvfb of this world, when it started one
  fs::path prefix;      // WINEPREFIX
  fs::path home;
  std::string screen = "1024x768x24";  // of the Xvfb display

  // Starts Xvfb on a free display of its own choosing, its output in `log`.
  bool StartXvfb(const fs::path& log, std::string* why);
  // The user's own display from $DISPLAY, when it is there: a local ":N"
  // needs its socket.
  bool UseUserDisplay();
  // The prefix kept in dir/prefix, its HOME dir/home, once the display is
  // there: made anew when `fresh` or when no earlier making of it completed
  // (dir/prefix-ready), else reused.  `desktop` "WxH" shows its windows in
  // Wine's virtual desktop of that size, "none" in windows of their own, ""
  // leaves the setting as it is (dir/prefix-desktop remembers the last one).
  // *madeSeconds: how long making it took, -1 when it was reused.
  bool UsePrefixIn(const fs::path& dir, const Programs& programs, bool fresh, const std::string& desktop,
                   std::string* why, double* madeSeconds = nullptr);
  // Makes the prefix anew (wineboot -i) with the driver's probe placed where
  // the 64-bit driver finds it for setups of both architectures.
  bool MakePrefix(const Programs& programs, std::string* why);
  // The Unix environment of a Wine process of this architecture.
  std::vector<std::string> Environment(Arch arch) const;
  // Runs `wine64 ARGS...` (reg, wineboot) in the prefix.
  ProgramResult Wine(const std::vector<std::string>& args, int limitSeconds = 60) const;
  // Runs a console Windows program to its end.
  ProgramResult RunProgram(Arch arch, const fs::path& exe, const std::vector<std::string>& args,
                           const fs::path& cwd = fs::path(), int limitSeconds = 60) const;
  // Why programs of this architecture do not run here ("" when they do),
  // from a start of the stand-in with --version; *cannot: true where the
  // machine cannot run them at all (no loader; 32-bit programs refused by the
  // kernel and served by no emulator), false where they should run but fail.
  std::string WhyNotRunning(Arch arch, const Programs& programs, bool* cannot) const;
  // The same, also where the driver or the stand-in is not built (*cannot
  // false), found once for the world kept in `dir` (dir/arch-<name>) until
  // SetUpIn sets one up there anew.
  std::string WhyNotRunningIn(const fs::path& dir, Arch arch, const Programs& programs, bool* cannot) const;
  // Ends the crash debuggers of the prefix (Wine starts winedbg on an
  // unhandled exception; its dialog keeps the program alive); their ids.
  std::string EndCrashDebuggers() const;
  // Waits until every process of the prefix has ended (Wine's services
  // outlive a new prefix's first programs by seconds).
  void Settle() const;
  // Ends every Wine process of the prefix and the Xvfb of this world.
  void End();

  // A world kept in `dir` for the processes that use it after this one:
  // Xvfb (its log xvfb.log), prefix/ (made anew when `fresh`, else once),
  // home/, and world.env, which In() reads and TakeDownIn() ends.  Ends the
  // world an earlier set-up left there first.
  bool SetUpIn(const fs::path& dir, const Programs& programs, bool fresh, std::string* why);
  // The world set up in `dir`, its Xvfb dropped when that no longer runs.
  static std::optional<World> In(const fs::path& dir);
  // Whether its Xvfb runs and its prefix is made.
  bool Ready() const;
  // Ends it; false when there was none.  Setting up and taking down hold
  // dir/world.lock, so that two processes never do either at once.
  static bool TakeDownIn(const fs::path& dir);

 private:
  static bool EndIn(const fs::path& dir);
};

// An exclusive lock (flock) on a file, created when missing, held while the
// object lives: worlds kept in a folder are set up and used under one.
class Lock {
 public:
  Lock() = default;
  // Waits for the lock when `wait`; else holds it only when no one else does.
  Lock(const fs::path& file, bool wait);
  ~Lock();
  Lock(Lock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Lock& operator=(Lock&& other) noexcept;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The first of `count` folders dir/slot-N that no other process holds, its
// lock (dir/slot-N.lock) in *lock; empty when every one is held.  Processes
// that run at once so never share a prefix, a wineserver or a display.
fs::path TakeSlot(const fs::path& dir, int count, Lock* lock);

// Whether the kernel runs 32-bit programs through a qemu handler of
// binfmt_misc (tools/install-deps.sh registers one where it refuses them).
bool QemuServesI386();

// The setup's Workspaces ("_ZQI????" folders) in a temporary folder, sorted.
std::vector<fs::path> Workspaces(const fs::path& temp);

// --- the stand-in Application Manager ---------------------------------------

// Copies CeAppMgr.exe of this architecture into `folder` (created); its path.
fs::path InstallStandIn(const Programs& programs, Arch arch, const fs::path& folder);

// One start of the stand-in, as it logged it (tools/testrig/appmgr.cpp).
struct AppMgrStart {
  std::string commandLine;  // GetCommandLineW, verbatim (UTF-8)
  std::string ini;          // the quoted Setup.ini path
  bool iniExists = false;
  std::vector<std::pair<std::string, bool>> cabs;  // item, exists beside it
};
std::vector<AppMgrStart> ReadAppMgrLog(const fs::path& log);
// Waits up to `seconds` for the log to hold `starts` complete records: the
// stand-in runs on after the setup has ended.
std::vector<AppMgrStart> AwaitAppMgr(const fs::path& log, size_t starts, double seconds = 10);
std::ostream& operator<<(std::ostream& out, const AppMgrStart& start);

}  // namespace zqworld
