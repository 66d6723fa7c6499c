// A Wine world on Linux (see world.h).
#include "world.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace zqworld {

const char kWine64[] = "/usr/lib/wine/wine64";
const char kWine32[] = "/usr/lib/wine/wine";
const char kWineServer[] = "/usr/lib/wine/wineserver";

namespace {

// No Mono or Gecko prompts (no network needed), no desktop menu entries.
const char kDllOverrides[] = "mscoree,mshtml=;winemenubuilder.exe=d";

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::atomic<int> gSignal{0};

bool StartsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Spawned {
  pid_t pid = -1;
  int out = -1, err = -1;  // the child's stdout and stderr
};

// Starts argv[0] with the given environment, its output into pipes.
Spawned Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& cwd) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    std::vector<char*> args, envp;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (const std::string& var : env) envp.push_back(const_cast<char*>(var.c_str()));
    envp.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    std::string why = "cannot start " + argv[0] + ": " + std::strerror(errno) + "\n";
    ssize_t ignored = write(2, why.data(), why.size());
    (void)ignored;
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  return {pid, outPipe[0], errPipe[0]};
}

}  // namespace

const char* ArchName(Arch arch) { return arch == Arch::x86_64 ? "x86_64" : "i686"; }

std::string Loader(Arch arch) { return arch == Arch::x86_64 ? kWine64 : kWine32; }

std::string WinPath(const fs::path& unixPath) {
  std::string text = fs::absolute(unixPath).lexically_normal().string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return "Z:" + text;
}

fs::path UnixPath(const std::string& winPath, const fs::path& prefix) {
  if (winPath.size() < 3 || winPath[1] != ':') return fs::path();
  const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(winPath[0])));
  if (drive != 'Z' && (drive != 'C' || prefix.empty())) return fs::path();
  std::string text = winPath.substr(2);
  std::replace(text.begin(), text.end(), '\\', '/');
  return drive == 'Z' ? fs::path(text) : fs::path((prefix / "drive_c").string() + text);
}

// --- child processes --------------------------------------------------------

void StopChildrenOnSignals() {
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) signal(signalNumber, [](int number) { gSignal = number; });
}

bool Interrupted() { return gSignal != 0; }

// Reads both pipes until the child has ended and they hold nothing more.
// Wine's helper processes inherit the pipes and may hold them open for
// seconds after the child ended, so the end of the child, not of the pipes,
// ends the wait.
ProgramResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env, int limitSeconds,
                  const fs::path& cwd, const std::function<void(const std::string&)>& onLine, bool stoppable) {
  ProgramResult result;
  Spawned child = Spawn(argv, env, cwd);
  if (child.pid < 0) return result;
  std::string pending;
  Clock::time_point start = Clock::now();
  bool ended = false;
  int status = 0;
  // Lines lose a "\r" before their "\n" (Windows programs); the last one
  // keeps its lack of a line end.
  auto line = [&](std::string text, bool ended) {
    if (ended && !text.empty() && text.back() == '\r') text.pop_back();
    if (onLine) {
      onLine(text);
    } else {
      result.out += text + (ended ? "\n" : "");
    }
  };
  while (child.out >= 0 || child.err >= 0) {
    if (!ended && waitpid(child.pid, &status, WNOHANG) == child.pid) ended = true;
    pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    int ready = poll(fds, 2, ended ? 0 : 50);
    if (!result.timedOut && !ended && (SecondsSince(start) > limitSeconds || (stoppable && Interrupted()))) {
      kill(child.pid, SIGKILL);
      result.timedOut = true;
    }
    if (ready <= 0) {
      if (ended) break;  // nothing more is waiting in the pipes
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        close(fds[i].fd);
        (i == 0 ? child.out : child.err) = -1;
      } else if (i == 1) {
        result.err.append(buffer, static_cast<size_t>(got));
      } else {
        pending.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
          line(pending.substr(0, end), true);
      }
    }
  }
  if (child.out >= 0) close(child.out);
  if (child.err >= 0) close(child.err);
  if (!pending.empty()) line(pending, false);
  if (!ended) waitpid(child.pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return result;
}

std::vector<std::string> BaseEnvironment() {
  std::vector<std::string> env;
  for (char** var = environ; *var; ++var)
    if (!StartsWith(*var, "WINE") && !StartsWith(*var, "DISPLAY=")) env.push_back(*var);
  return env;
}

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "";
  for (size_t start = 0; start <= rest.size();) {
    size_t end = rest.find(':', start);
    if (end == std::string::npos) end = rest.size();
    const std::string dir = rest.substr(start, end - start);
    if (!dir.empty() && access((fs::path(dir) / name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool QemuServesI386() {
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc/sys/fs/binfmt_misc", error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string entry = ReadFile(it->path());
    const size_t interpreter = entry.find("\ninterpreter ");
    if (StartsWith(entry, "enabled\n") && interpreter != std::string::npos &&
        entry.find("qemu", interpreter) != std::string::npos && entry.find("\nmagic 7f454c4601") != std::string::npos)
      return true;
  }
  return false;
}

// --- the world --------------------------------------------------------------

std::vector<std::string> World::Environment(Arch arch) const {
  // Wine and fontconfig write below HOME (caches, menu entries, links to the
  // user's folders): they get the world's own.  The user's X cookie stays
  // reachable for a display of the user's own.
  std::vector<std::string> env;
  std::string xauthority;
  for (const std::string& var : BaseEnvironment()) {
    if (StartsWith(var, "HOME=") && !std::getenv("XAUTHORITY")) xauthority = var.substr(5) + "/.Xauthority";
    if (!StartsWith(var, "HOME=") && !StartsWith(var, "XDG_")) env.push_back(var);
  }
  if (!xauthority.empty() && fs::exists(xauthority)) env.push_back("XAUTHORITY=" + xauthority);
  fs::create_directories(home);
  env.insert(env.end(),
             {"HOME=" + home.string(), "XDG_CACHE_HOME=" + (home / ".cache").string(),
              "XDG_CONFIG_HOME=" + (home / ".config").string(), "XDG_DATA_HOME=" + (home / ".local/share").string(),
              "WINEPREFIX=" + prefix.string(), "WINELOADER=" + Loader(arch), "WINEDEBUG=-all",
              std::string("WINEDLLOVERRIDES=") + kDllOverrides, "DISPLAY=" + display});
  // Where qemu runs 32-bit programs, Wine's reservation of their address
  // space takes some 65,000 mmap calls that qemu serves slowly: about 50 s
  // per process start.  A reserved guest space of this size cuts that to
  // about 2.5 s; smaller ones make Wine fail at start.  64-bit processes get
  // it too, as they start 32-bit ones (wineboot's, the setup's) that inherit
  // it; natively it means nothing.
  static const bool emulated = QemuServesI386();
  if (emulated) env.push_back("QEMU_RESERVED_VA=0x81000000");
  return env;
}

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

bool World::SetUpIn(const fs::path& dir, const Programs& programs, bool fresh, std::string* why) {
  TakeDownIn(dir);
  prefix = dir / "prefix";
  home = dir / "home";
  if (fresh) fs::remove(dir / "prefix-ready");
  if (!StartXvfb(dir / "xvfb.log", why) || (!fs::exists(dir / "prefix-ready") && !MakePrefix(programs, why))) {
    End();
    return false;
  }
  std::ofstream(dir / "prefix-ready") << "";
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

bool World::TakeDownIn(const fs::path& dir) {
  std::optional<World> world = In(dir);
  if (world) world->End();
  fs::remove(dir / "world.env");
  return world.has_value();
}

// --- the stand-in Application Manager ---------------------------------------

fs::path InstallStandIn(const Programs& programs, Arch arch, const fs::path& folder) {
  fs::create_directories(folder);
  fs::copy_file(programs.Get(arch, "CeAppMgr.exe"), folder / "CeAppMgr.exe", fs::copy_options::overwrite_existing);
  return folder / "CeAppMgr.exe";
}

std::vector<AppMgrStart> ReadAppMgrLog(const fs::path& log) {
  std::vector<AppMgrStart> starts;
  std::ifstream in(log, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "START") starts.emplace_back();
    if (starts.empty()) continue;
    AppMgrStart& start = starts.back();
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
    const bool exists = rest.size() >= 9 && rest.compare(rest.size() - 9, 9, " exists=1") == 0;
    const std::string name = rest.size() >= 9 ? rest.substr(0, rest.size() - 9) : rest;
    if (word == "CMDLINE") start.commandLine = rest;
    if (word == "CAB") start.cabs.emplace_back(name, exists);
    if (word == "INI") {
      start.ini = name;
      start.iniExists = exists;
    }
  }
  return starts;
}

std::vector<AppMgrStart> AwaitAppMgr(const fs::path& log, size_t starts, double seconds) {
  for (int waited = 0; waited < seconds * 20 && !Interrupted(); ++waited) {
    std::ifstream in(log, std::ios::binary);
    size_t ends = 0;
    for (std::string line; std::getline(in, line);) ends += line == "END" || line == "END\r";
    if (ends >= starts) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ReadAppMgrLog(log);
}

std::ostream& operator<<(std::ostream& out, const AppMgrStart& start) {
  out << "command line \"" << start.commandLine << "\", Setup.ini \"" << start.ini << "\""
      << (start.iniExists ? " (exists)" : " (missing)");
  for (const auto& [name, exists] : start.cabs)
    out << ", CAB \"" << name << "\"" << (exists ? " (exists)" : " (missing)");
  return out;
}

}  // namespace zqworld
