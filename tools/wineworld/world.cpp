// A Wine world on Linux: its display and its prefix (see world.h).
#include "world.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tools/common/helpers.h"

namespace zqworld {
namespace {

using Clock = std::chrono::steady_clock;
using zq::ReadFile;
using zq::SecondsSince;
using zq::StartsWith;

}  // namespace

bool World::StartXvfb(const fs::path& log, std::string* why) {
  int numberPipe[2];
  if (pipe(numberPipe) != 0) return false;
  fs::create_directories(log.parent_path());
  pid_t pid = fork();
  if (pid == 0) {
    setsid();  // a Ctrl-C for the caller is not one for the display
    int null = open("/dev/null", O_RDWR);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != numberPipe[1]) close(fd);
    std::string fd = std::to_string(numberPipe[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(numberPipe[1]);
  std::string number;
  pollfd fds = {numberPipe[0], POLLIN, 0};
  Clock::time_point start = Clock::now();
  while (SecondsSince(start) < 15 && number.find('\n') == std::string::npos && !Interrupted()) {
    if (poll(&fds, 1, 200) <= 0) continue;
    char buffer[32];
    ssize_t got = read(numberPipe[0], buffer, sizeof buffer);
    if (got <= 0) break;
    number.append(buffer, static_cast<size_t>(got));
  }
  close(numberPipe[0]);
  xvfbPid = pid;
  if (number.find('\n') == std::string::npos) {
    End();
    *why = "Xvfb did not start: " + ReadFile(log);
    return false;
  }
  display = ":" + number.substr(0, number.find('\n'));
  return true;
}

ProgramResult World::Wine(const std::vector<std::string>& args, int limitSeconds) const {
  std::vector<std::string> argv = {kWine64};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, Environment(Arch::x86_64), limitSeconds);
}

ProgramResult World::RunProgram(Arch arch, const fs::path& exe, const std::vector<std::string>& args,
                                const fs::path& cwd, int limitSeconds) const {
  std::vector<std::string> argv = {Loader(arch), exe.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, Environment(arch), limitSeconds, cwd);
}

bool World::MakePrefix(const Programs& programs, std::string* why) {
  std::error_code ignored;
  fs::remove_all(prefix, ignored);
  fs::create_directories(prefix.parent_path());
  // A persistent server while the world lasts: every later wine start is quicker.
  Run({kWineServer, "-p"}, Environment(Arch::x86_64), 30);
  ProgramResult boot = Wine({"wineboot", "-i"}, 240);
  if (boot.status != 0 || !fs::exists(prefix / "drive_c" / "windows" / "system32")) {
    *why = "wineboot -i failed with status " + std::to_string(boot.status) + ": " + boot.out + boot.err;
    return false;
  }
  // The driver's probe where the 64-bit driver finds it for a 32-bit setup
  // (tools/testrig/driver/probe.cpp): one path, two DLLs.
  const fs::path windows = prefix / "drive_c" / "windows";
  fs::copy_file(programs.Get(Arch::x86_64, "zqprobe.dll"), windows / "system32" / "zqprobe.dll",
                fs::copy_options::overwrite_existing, ignored);
  fs::copy_file(programs.Get(Arch::i686, "zqprobe.dll"), windows / "syswow64" / "zqprobe.dll",
                fs::copy_options::overwrite_existing, ignored);
  Settle();
  return true;
}

std::string World::WhyNotRunning(Arch arch, const Programs& programs, bool* cannot) const {
  *cannot = true;
  const std::string loader = Loader(arch);
  if (!fs::exists(loader)) return loader + " is not installed";
  const ProgramResult result = RunProgram(arch, programs.Get(arch, "CeAppMgr.exe"), {"--version"});
  if (result.status == 0) return "";
  std::string said = (result.err.empty() ? result.out : result.err).substr(0, 300);
  while (!said.empty() && std::isspace(static_cast<unsigned char>(said.back()))) said.pop_back();
  // Spawn's own words when execve fails: the kernel refused the loader.
  if (said.find("Exec format error") != std::string::npos)
    return "the kernel refuses " + loader + " (32-bit programs) and no qemu handler serves it";
  *cannot = false;
  return loader + " cannot run a " + ArchName(arch) + " program here (exit status " + std::to_string(result.status) +
         ": " + said + ")";
}

std::string World::WhyNotRunningIn(const fs::path& dir, Arch arch, const Programs& programs, bool* cannot) const {
  // "1", "0 <why>" (cannot run here) or "2 <why>" (should run here, but did not).
  const fs::path cache = dir / (std::string("arch-") + ArchName(arch));
  std::string known = ReadFile(cache);
  if (known.empty()) {
    const fs::path standIn = programs.Get(arch, "CeAppMgr.exe");
    bool no = false;
    const std::string why = !fs::exists(standIn) || !fs::exists(programs.Get(arch, "zqdriver.exe"))
                                ? "the driver and the stand-in are not built in " + standIn.parent_path().string()
                                : WhyNotRunning(arch, programs, &no);
    known = why.empty() ? "1" : (no ? "0 " : "2 ") + why;
    std::ofstream(cache, std::ios::binary | std::ios::trunc) << known;
  }
  *cannot = known[0] == '0';
  return known == "1" ? "" : known.substr(2);
}

// Found through /proc by the prefix in their environment, so that other
// worlds are not looked at; ended by their ids.
std::string World::EndCrashDebuggers() const {
  const std::string wanted = "WINEPREFIX=" + prefix.string();
  std::string ended;
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc", error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string pid = it->path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (!StartsWith(ReadFile(it->path() / "comm"), "winedbg")) continue;
    const std::string environment = ReadFile(it->path() / "environ");
    if (environment.find(wanted + '\0') != 0 && environment.find('\0' + wanted + '\0') == std::string::npos) continue;
    kill(std::stoi(pid), SIGKILL);
    ended += (ended.empty() ? "" : ", ") + pid;
  }
  return ended;
}

void World::Settle() const { Run({kWineServer, "-w"}, Environment(Arch::x86_64), 60); }

void World::End() {
  if (!prefix.empty() && fs::exists(prefix))
    Run({kWineServer, "-k"}, Environment(Arch::x86_64), 30, fs::path(), nullptr, false);
  if (xvfbPid > 0) {
    kill(xvfbPid, SIGTERM);
    for (int i = 0; i < 100 && kill(xvfbPid, 0) == 0; ++i) {
      waitpid(xvfbPid, nullptr, WNOHANG);  // when it is this process's child
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    xvfbPid = 0;
  }
}

std::vector<fs::path> Workspaces(const fs::path& temp) {
  std::vector<fs::path> found;
  std::error_code error;
  for (auto it = fs::directory_iterator(temp, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    std::string name = it->path().filename().string();
    if (it->is_directory() && name.size() == 8 && StartsWith(name, "_ZQI")) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool World::UseUserDisplay() {
  const char* value = std::getenv("DISPLAY");
  if (!value || !*value) return false;
  display = value;
  if (display.front() != ':') return true;
  const std::string number = display.substr(1, display.find('.') - 1);
  return fs::exists("/tmp/.X11-unix/X" + number);
}

bool World::UsePrefixIn(const fs::path& dir, const Programs& programs, bool fresh, const std::string& desktop,
                        std::string* why, double* madeSeconds) {
  prefix = dir / "prefix";
  home = dir / "home";
  const fs::path ready = dir / "prefix-ready", desktopMark = dir / "prefix-desktop";
  if (madeSeconds) *madeSeconds = -1;
  if (fresh || !fs::exists(ready)) {
    fs::remove(ready);
    fs::remove(desktopMark);  // a new prefix has Wine's default
    const Clock::time_point start = Clock::now();
    if (!MakePrefix(programs, why)) return false;
    std::ofstream(ready) << "";
    if (madeSeconds) *madeSeconds = SecondsSince(start);
  }
  if (desktop.empty() || ReadFile(desktopMark) == desktop) return true;
  const std::string key = "HKCU\\Software\\Wine\\Explorer";
  if (desktop == "none") {
    Wine({"reg", "delete", key, "/v", "Desktop", "/f"});
  } else {
    Wine({"reg", "add", key, "/v", "Desktop", "/d", "Default", "/f"});
    Wine({"reg", "add", key + "\\Desktops", "/v", "Default", "/d", desktop, "/f"});
  }
  std::ofstream(desktopMark) << desktop;
  return true;
}

Lock::Lock(const fs::path& file, bool wait) {
  fs::create_directories(file.parent_path());
  fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ >= 0 && flock(fd_, wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

Lock::~Lock() {
  if (fd_ >= 0) close(fd_);
}

Lock& Lock::operator=(Lock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

fs::path TakeSlot(const fs::path& dir, int count, Lock* lock) {
  for (int n = 0; n < count; ++n) {
    const fs::path slot = dir / ("slot-" + std::to_string(n));
    *lock = Lock(slot.string() + ".lock", false);
    if (lock->held()) return slot;
  }
  return fs::path();
}

bool World::SetUpIn(const fs::path& dir, const Programs& programs, bool fresh, std::string* why) {
  fs::create_directories(dir);
  const Lock lock(dir / "world.lock", true);
  EndIn(dir);
  for (Arch arch : {Arch::x86_64, Arch::i686}) fs::remove(dir / (std::string("arch-") + ArchName(arch)));
  prefix = dir / "prefix";
  home = dir / "home";
  if (!StartXvfb(dir / "xvfb.log", why) || !UsePrefixIn(dir, programs, fresh, "", why)) {
    End();
    return false;
  }
  // No window manager runs on Xvfb: unmanaged windows spare Wine a 2 s wait
  // for one on every window that is hidden or destroyed.
  Wine({"reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"});
  Settle();
  std::ofstream(dir / "world.env", std::ios::trunc) << "DISPLAY=" << display << "\nXVFB_PID=" << xvfbPid << "\n";
  return true;
}

std::optional<World> World::In(const fs::path& dir) {
  std::ifstream in(dir / "world.env");
  if (!in) return std::nullopt;
  World world;
  world.prefix = dir / "prefix";
  world.home = dir / "home";
  for (std::string line; std::getline(in, line);) {
    const size_t equals = line.find('=');
    const std::string key = line.substr(0, equals), value = equals == std::string::npos ? "" : line.substr(equals + 1);
    if (key == "DISPLAY") world.display = value;
    if (key == "XVFB_PID") world.xvfbPid = static_cast<pid_t>(std::atoi(value.c_str()));
  }
  if (world.xvfbPid <= 0 || kill(world.xvfbPid, 0) != 0 ||
      !StartsWith(ReadFile("/proc/" + std::to_string(world.xvfbPid) + "/comm"), "Xvfb"))
    world.xvfbPid = 0;
  return world;
}

bool World::Ready() const { return xvfbPid > 0 && fs::exists(prefix / "drive_c" / "windows" / "system32"); }

bool World::TakeDownIn(const fs::path& dir) {
  const Lock lock(dir / "world.lock", true);
  return EndIn(dir);
}

bool World::EndIn(const fs::path& dir) {
  std::optional<World> world = In(dir);
  if (world) world->End();
  fs::remove(dir / "world.env");
  return world.has_value();
}

}  // namespace zqworld
