// The Wine test rig, host side (see rig.h).
//
// The rig folder (ZQ_RIG_DIR, default <host build>/wine-rig) holds:
//   rig.env        DISPLAY, XVFB_PID and PREFIX of the running rig
//   rig.lock       taken while a rig is set up or taken down
//   prefix/        the private WINEPREFIX, made anew for every test run
//   arch-<name>    whether that architecture runs ("1", or "0 <why>")
//   xvfb.log       Xvfb's own output
//   home/          HOME of every Wine process (caches, menus)
//   tests/<name>/  one folder per test
#include "rig.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zqrig {
namespace {

const char kWine64[] = "/usr/lib/wine/wine64";
const char kWine32[] = "/usr/lib/wine/wine";
const char kWineServer[] = "/usr/lib/wine/wineserver";
// No Mono or Gecko prompts (no network here), no desktop menu entries.
const char kDllOverrides[] = "mscoree,mshtml=;winemenubuilder.exe=d";
const int kDriverHardLimitSeconds = 300;  // beyond every wait of one script

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

fs::path RigDir() {
  if (const char* dir = std::getenv("ZQ_RIG_DIR")) return dir;
  return ZQ_RIG_DEFAULT_DIR;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool StartsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

// --- child processes ----------------------------------------------------------

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

// Reads both pipes until the child has ended and they hold nothing more,
// handing stdout lines to `onLine` as they come; kills the child after
// `limitSeconds`.  Wine's helper processes inherit the pipes and may hold
// them open for seconds after the child ended, so the end of the child, not
// of the pipes, ends the wait.  Returns the exit status (0-255, or
// 128+signal).
template <typename OnLine>
int Collect(Spawned child, int limitSeconds, std::string* err, OnLine onLine, bool* timedOut = nullptr) {
  std::string pending;
  Clock::time_point start = Clock::now();
  bool killed = false, ended = false;
  int status = 0;
  while (child.out >= 0 || child.err >= 0) {
    if (!ended && waitpid(child.pid, &status, WNOHANG) == child.pid) ended = true;
    pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    int ready = poll(fds, 2, ended ? 0 : 50);
    if (!killed && !ended && SecondsSince(start) > limitSeconds) {
      kill(child.pid, SIGKILL);
      killed = true;
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
        err->append(buffer, static_cast<size_t>(got));
      } else {
        pending.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
          std::string line = pending.substr(0, end);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          pending.erase(0, end + 1);
          onLine(line);
        }
      }
    }
  }
  if (child.out >= 0) close(child.out);
  if (child.err >= 0) close(child.err);
  if (!pending.empty()) onLine(pending);
  if (!ended) waitpid(child.pid, &status, 0);
  if (timedOut) *timedOut = killed;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Runs argv to its end.
ProgramResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env, int limitSeconds,
                  const fs::path& cwd = fs::path()) {
  ProgramResult result;
  result.status = Collect(Spawn(argv, env, cwd), limitSeconds, &result.err,
                          [&](const std::string& line) { result.out += line + "\n"; });
  return result;
}

std::vector<std::string> BaseEnvironment() {
  std::vector<std::string> env;
  for (char** var = environ; *var; ++var)
    if (!StartsWith(*var, "WINE") && !StartsWith(*var, "DISPLAY=")) env.push_back(*var);
  return env;
}

bool ProcessIs(pid_t pid, const char* name) {
  return kill(pid, 0) == 0 && StartsWith(ReadFile("/proc/" + std::to_string(pid) + "/comm"), name);
}

// --- the rig's state file ---------------------------------------------------

struct RigState {
  std::string display;
  pid_t xvfbPid = 0;
  fs::path prefix;
};

std::optional<RigState> ReadRigState() {
  std::ifstream in(RigDir() / "rig.env");
  if (!in) return std::nullopt;
  RigState state;
  for (std::string line; std::getline(in, line);) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "DISPLAY") state.display = value;
    if (key == "XVFB_PID") state.xvfbPid = static_cast<pid_t>(std::atoi(value.c_str()));
    if (key == "PREFIX") state.prefix = value;
  }
  return state;
}

bool RigStateUsable(const RigState& state) {
  return !state.display.empty() && ProcessIs(state.xvfbPid, "Xvfb") &&
         fs::exists(state.prefix / "drive_c" / "windows" / "system32");
}

class RigLock {
 public:
  RigLock() {
    fs::create_directories(RigDir());
    fd_ = open((RigDir() / "rig.lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~RigLock() {
    if (fd_ >= 0) close(fd_);
  }

 private:
  int fd_ = -1;
};

// Whether an enabled binfmt_misc handler hands i386 programs to qemu (as
// tools/install-deps.sh registers it where the kernel refuses them).
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

std::vector<std::string> WineEnvironment(const std::string& display, const fs::path& prefix,
                                         const std::string& loader) {
  // Wine and fontconfig write below HOME (caches, menu entries, links to the
  // user's folders): give them a home inside the rig folder.
  std::vector<std::string> env;
  for (const std::string& var : BaseEnvironment())
    if (!StartsWith(var, "HOME=") && !StartsWith(var, "XDG_")) env.push_back(var);
  fs::path home = RigDir() / "home";
  fs::create_directories(home);
  env.insert(env.end(),
             {"HOME=" + home.string(), "XDG_CACHE_HOME=" + (home / ".cache").string(),
              "XDG_CONFIG_HOME=" + (home / ".config").string(), "XDG_DATA_HOME=" + (home / ".local/share").string(),
              "WINEPREFIX=" + prefix.string(), "WINELOADER=" + loader, "WINEDEBUG=-all",
              std::string("WINEDLLOVERRIDES=") + kDllOverrides, "DISPLAY=" + display});
  // Where qemu runs 32-bit programs, Wine's reservation of their address
  // space takes some 65,000 mmap calls that qemu serves slowly: about 50 s
  // per process start.  A reserved guest space of this size cuts that to
  // about 2.5 s; smaller ones make Wine fail at start.  64-bit processes get
  // it too, as they start 32-bit ones (wineboot, the driver, the setup's own
  // children) that inherit it; natively it means nothing.
  static const bool emulated = QemuServesI386();
  if (emulated) env.push_back("QEMU_RESERVED_VA=0x81000000");
  return env;
}

// Starts Xvfb on the first free display it finds itself (-displayfd).
bool StartXvfb(RigState* state, std::string* why) {
  int numberPipe[2];
  if (pipe(numberPipe) != 0) return false;
  fs::path log = RigDir() / "xvfb.log";
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int null = open("/dev/null", O_RDWR);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != numberPipe[1]) close(fd);
    std::string fd = std::to_string(numberPipe[1]);
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
          "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(numberPipe[1]);
  std::string number;
  pollfd fds = {numberPipe[0], POLLIN, 0};
  Clock::time_point start = Clock::now();
  while (SecondsSince(start) < 15 && number.find('\n') == std::string::npos) {
    if (poll(&fds, 1, 200) <= 0) continue;
    char buffer[32];
    ssize_t got = read(numberPipe[0], buffer, sizeof buffer);
    if (got <= 0) break;
    number.append(buffer, static_cast<size_t>(got));
  }
  close(numberPipe[0]);
  if (number.find('\n') == std::string::npos) {
    kill(pid, SIGTERM);
    *why = "Xvfb did not start: " + ReadFile(log);
    return false;
  }
  state->display = ":" + number.substr(0, number.find('\n'));
  state->xvfbPid = pid;
  return true;
}

// Wine's services (services.exe, winedevice, plugplay, the desktop) outlive
// a new prefix's first programs by seconds while they start and stop; a
// setup started in that window was seen to hang before its first step.
// Waits until every process of the prefix has ended.
void SettleServices(const std::vector<std::string>& env) { Run({kWineServer, "-w"}, env, 60); }

bool MakePrefix(const RigState& state, std::string* why) {
  std::vector<std::string> env = WineEnvironment(state.display, state.prefix, kWine64);
  std::error_code ignored;
  fs::remove_all(state.prefix, ignored);
  fs::create_directories(state.prefix.parent_path());
  // A persistent server for the whole run: every later wine start is quicker.
  Run({kWineServer, "-p"}, env, 30);
  Clock::time_point start = Clock::now();
  ProgramResult boot = Run({kWine64, "wineboot", "-i"}, env, 240);
  if (boot.status != 0 || !fs::exists(state.prefix / "drive_c" / "windows" / "system32")) {
    *why = "wineboot -i failed with status " + std::to_string(boot.status) + ": " + boot.out + boot.err;
    return false;
  }
  std::printf("wine rig: wineboot -i took %.1f s\n", SecondsSince(start));
  // The driver's probe where the 64-bit driver finds it for a 32-bit setup
  // (tools/testrig/driver/probe.cpp): one path, two DLLs.
  const fs::path windows = state.prefix / "drive_c" / "windows";
  fs::copy_file(RigProgram(Arch::x86_64, "zqprobe.dll"), windows / "system32" / "zqprobe.dll",
                fs::copy_options::overwrite_existing, ignored);
  fs::copy_file(RigProgram(Arch::i686, "zqprobe.dll"), windows / "syswow64" / "zqprobe.dll",
                fs::copy_options::overwrite_existing, ignored);
  // No window manager runs on Xvfb: unmanaged windows spare Wine a 2 s wait
  // for the manager on every window that is hidden or destroyed.
  Run({kWine64, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"}, env, 60);
  SettleServices(env);
  return true;
}

// The first window of a new prefix, and the first use of the setup's dialog
// font, Rich Edit and Arial, take seconds (font caches, DLL set-up): pay that
// here, with the sample setup's wizard and Cancel, rather than inside the
// first test's time limits.
void WarmUp(const RigState& state) {
  const fs::path dir = RigDir() / "warm-up", setup = dir / "setup.exe";
  const fs::path driver = RigProgram(Arch::x86_64, "zqdriver.exe");
  if (!fs::exists(ProgramProper(Arch::x86_64)) || !fs::exists(driver)) return;
  fs::create_directories(dir / "temp");
  zqfixture::WriteFileBytes(setup.string(), zqfixture::BuildSetup(Recipe(Arch::x86_64)));
  Clock::time_point start = Clock::now();
  const ProgramResult run =
      Run({kWine64, driver.string(), "--exe", WinPath(setup), "--temp", WinPath(dir / "temp"), "--appmgr",
           "C:\\CeAppMgr.exe", "--timeout", "60000", "wizard", "click:1001", "box", "answer:yes", "exit"},
          WineEnvironment(state.display, state.prefix, kWine64), 120);
  SettleServices(WineEnvironment(state.display, state.prefix, kWine64));
  std::printf("wine rig: first windows (warm-up) took %.1f s%s\n", SecondsSince(start),
              run.out.find("DONE errors=0") == std::string::npos ? (", and failed:\n" + run.out).c_str() : "");
}

void TakeDown(const RigState& state) {
  if (!state.prefix.empty() && fs::exists(state.prefix))
    Run({kWineServer, "-k"}, WineEnvironment(state.display, state.prefix, kWine64), 30);
  if (state.xvfbPid > 0 && ProcessIs(state.xvfbPid, "Xvfb")) {
    kill(state.xvfbPid, SIGTERM);
    for (int i = 0; i < 50 && kill(state.xvfbPid, 0) == 0; ++i) {
      waitpid(state.xvfbPid, nullptr, WNOHANG);  // our own child when set up lazily
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

// --- parsing the driver's lines ---------------------------------------------

// text[*pos] is the opening quote of a C-escaped string.
std::string Unescape(const std::string& text, size_t* pos) {
  std::string out;
  size_t i = *pos + 1;
  for (; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'n')
      out += '\n';
    else if (c == 'r')
      out += '\r';
    else if (c == 't')
      out += '\t';
    else if (c != 'x')
      out += c;
    else if (i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  *pos = i + 1;
  return out;
}

// "WORD key=value key="quoted value" ..." -> the word and the fields.
std::map<std::string, std::string> Fields(const std::string& line, std::string* word) {
  std::map<std::string, std::string> fields;
  size_t pos = line.find(' ');
  *word = line.substr(0, pos);
  while (pos != std::string::npos && pos < line.size()) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    size_t equals = line.find('=', pos);
    if (equals == std::string::npos) break;
    std::string key = line.substr(pos, equals - pos);
    pos = equals + 1;
    if (pos < line.size() && line[pos] == '"') {
      fields[key] = Unescape(line, &pos);
    } else {
      size_t end = line.find(' ', pos);
      fields[key] = line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end;
    }
  }
  return fields;
}

int ToInt(const std::string& text, int fallback = 0) {
  try {
    return static_cast<int>(std::stoll(text, nullptr, 0));
  } catch (...) {
    return fallback;
  }
}

uint32_t Hex32(const std::string& text) {
  try {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  } catch (...) {
    return 0;
  }
}

void ParseLines(Outcome* run) {
  State* open = nullptr;
  for (const std::string& line : run->lines) {
    std::string word;
    std::map<std::string, std::string> f = Fields(line, &word);
    if (open) {
      open->lines.push_back(line);
      if (word == "CTRL") {
        Control c;
        c.parent = f["parent"];
        c.id = ToInt(f["id"]);
        if (c.id == 0xFFFF) c.id = -1;
        c.cls = f["class"];
        c.page = f["page"];
        c.text = f["text"];
        c.z = ToInt(f["z"]);
        c.shown = f["shown"] == "1";
        c.enabled = f["enabled"] == "1";
        c.checked = f.count("checked") ? ToInt(f["checked"], -1) : -1;
        std::sscanf(f["rect"].c_str(), "%d,%d,%d,%d", &c.rect.x, &c.rect.y, &c.rect.w, &c.rect.h);
        c.style = Hex32(f["style"]);
        c.font = f["font"];
        c.face = f["face"];
        c.height = ToInt(f["height"]);
        c.weight = ToInt(f["weight"]);
        c.charset = f.count("charset") ? ToInt(f["charset"]) : -1;
        c.line = line;
        open->controls.push_back(c);
        continue;
      }
      open = nullptr;  // END, or a cut block: go on with this line as usual
      if (word == "END") continue;
    }
    if (word == "STATE") {
      run->states.emplace_back();
      open = &run->states.back();
      open->lines.push_back(line);
      open->title = f["title"];
      open->focus = f["focus"];
      open->style = Hex32(f["style"]);
      std::sscanf(f["units"].c_str(), "%d,%d", &open->unitsX, &open->unitsY);
      std::sscanf(f["client"].c_str(), "%d,%d", &open->clientW, &open->clientH);
    } else if (word == "BOX") {
      Box box{f["caption"], f["text"], {}, f["default"], f["icon"], f["owner"], line};
      std::stringstream buttons(f["buttons"] == "none" ? "" : f["buttons"]);
      for (std::string button; std::getline(buttons, button, ',');) box.buttons.push_back(button);
      run->boxes.push_back(box);
    } else if (word == "EXIT") {
      run->exitCode = Hex32(line.substr(5));
    } else if (word == "WIZARD") {
      run->wizardTitle = f["title"];
    } else if (word == "ERROR" || word == "TIMEOUT") {
      run->errors.push_back(line);
    }
  }
}

std::string Quoted(const std::string& text) { return ::testing::PrintToString(text); }

}  // namespace

// --- paths ------------------------------------------------------------------

const char* ArchName(Arch arch) { return arch == Arch::x86_64 ? "x86_64" : "i686"; }

fs::path OutDir() {
  if (const char* dir = std::getenv("ZQ_OUT_DIR")) return dir;
  return ZQ_OUT_DEFAULT_DIR;
}

fs::path ProgramProper(Arch arch) { return OutDir() / (std::string("zqstub-") + ArchName(arch) + ".exe"); }

fs::path RigProgram(Arch arch, const std::string& name) { return OutDir() / ArchName(arch) / name; }

std::string WinPath(const fs::path& unixPath) {
  std::string text = fs::absolute(unixPath).lexically_normal().string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return "Z:" + text;
}

// --- Rig --------------------------------------------------------------------

int Rig::SetUpForRun() {
  RigLock lock;
  if (std::optional<RigState> old = ReadRigState()) TakeDown(*old);
  fs::remove(RigDir() / "rig.env");
  for (Arch arch : {Arch::x86_64, Arch::i686}) fs::remove(RigDir() / (std::string("arch-") + ArchName(arch)));
  RigState state;
  state.prefix = RigDir() / "prefix";
  std::string why;
  Clock::time_point start = Clock::now();
  if (!StartXvfb(&state, &why) || !MakePrefix(state, &why)) {
    std::fprintf(stderr, "wine rig: %s\n", why.c_str());
    TakeDown(state);
    return 1;
  }
  WarmUp(state);
  WriteFile(RigDir() / "rig.env", "DISPLAY=" + state.display + "\nXVFB_PID=" + std::to_string(state.xvfbPid) +
                                      "\nPREFIX=" + state.prefix.string() + "\n");
  std::printf("wine rig: display %s, prefix %s, ready in %.1f s\n", state.display.c_str(), state.prefix.c_str(),
              SecondsSince(start));
  for (Arch arch : {Arch::x86_64, Arch::i686}) {
    bool broken = false;
    bool runs = Get().CanRun(arch, &why, &broken);
    std::printf("wine rig: %s %s\n", ArchName(arch),
                runs ? "runs here" : ((broken ? "should run here but fails: " : "cannot run here: ") + why).c_str());
  }
  std::fflush(stdout);
  return 0;
}

int Rig::TakeDownForRun() {
  RigLock lock;
  std::optional<RigState> state = ReadRigState();
  if (!state) {
    std::printf("wine rig: nothing to take down\n");
    return 0;
  }
  TakeDown(*state);
  fs::remove(RigDir() / "rig.env");
  std::printf("wine rig: display %s stopped, wineserver ended\n", state->display.c_str());
  return 0;
}

Rig& Rig::Get() {
  static Rig rig;
  if (!rig.display_.empty()) return rig;
  std::optional<RigState> state = ReadRigState();
  bool owned = false;
  if (!state || !RigStateUsable(*state)) {
    // No fixture ran: set up a rig for this process alone.
    state.reset();
    if (SetUpForRun() == 0 && (state = ReadRigState())) owned = true;
  }
  if (state) {
    rig.display_ = state->display;
    rig.prefix_ = state->prefix;
    if (owned) std::atexit([] { Rig::TakeDownForRun(); });
  }
  return rig;
}

std::string Rig::Loader(Arch arch) { return arch == Arch::x86_64 ? kWine64 : kWine32; }

std::vector<std::string> Rig::Environment(Arch arch) const { return WineEnvironment(display_, prefix_, Loader(arch)); }

bool Rig::CanRun(Arch arch, std::string* why, bool* broken) const {
  // The cache holds "1", "0 <why>" (cannot run here) or "2 <why>" (should
  // run here, but did not).
  fs::path cache = RigDir() / (std::string("arch-") + ArchName(arch));
  std::string known = ReadFile(cache);
  if (known.empty()) {
    fs::path standIn = RigProgram(arch, "CeAppMgr.exe");
    if (display_.empty()) {
      known = "2 the rig could not be set up (see the output above)";
    } else if (!fs::exists(standIn) || !fs::exists(RigProgram(arch, "zqdriver.exe"))) {
      known = "2 the rig programs are not built in " + standIn.parent_path().string();
    } else if (!fs::exists(Loader(arch))) {
      known = "0 " + Loader(arch) + " is not installed";
    } else {
      ProgramResult result = RunProgram(arch, standIn, {"--version"});
      std::string said = (result.err.empty() ? result.out : result.err).substr(0, 300);
      while (!said.empty() && std::isspace(static_cast<unsigned char>(said.back()))) said.pop_back();
      // Spawn's own words when execve fails: the kernel refused the loader.
      const bool refused = said.find("Exec format error") != std::string::npos;
      known = result.status == 0 ? "1"
              : refused ? "0 the kernel refuses " + Loader(arch) + " (32-bit programs) and no qemu handler serves it"
                        : "2 " + Loader(arch) + " cannot run a " + ArchName(arch) + " program here (exit status " +
                              std::to_string(result.status) + ": " + said + ")";
    }
    while (!known.empty() && std::isspace(static_cast<unsigned char>(known.back()))) known.pop_back();
    WriteFile(cache, known);
  }
  if (broken) *broken = known[0] == '2';
  if (known == "1") return true;
  if (why) *why = known.size() > 2 ? known.substr(2) : "unknown";
  return false;
}

// --- per test ---------------------------------------------------------------

TestFolder::TestFolder(const std::string& name) {
  std::string safe = name;
  for (char& c : safe)
    if (c == '/' || c == ' ') c = '_';
  root_ = RigDir() / "tests" / safe;
  std::error_code ignored;
  fs::remove_all(root_, ignored);
  fs::create_directories(Temp());
}

fs::path TestFolder::Make(const std::string& relative) const {
  fs::create_directories(root_ / relative);
  return root_ / relative;
}

std::vector<std::string> FilesIn(const fs::path& dir) { return zqfixture::FilesBelow(dir.string()); }

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

std::vector<uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Joined(const std::vector<std::string>& items, const std::string& separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text.empty() ? "(nothing)" : text;
}

fs::path InstallStandIn(Arch arch, const fs::path& folder) {
  // Which build the setup starts does not matter to it; where qemu runs
  // 32-bit programs the 64-bit one saves an emulated start.
  if (Rig::Get().CanRun(Arch::x86_64)) arch = Arch::x86_64;
  fs::create_directories(folder);
  fs::copy_file(RigProgram(arch, "CeAppMgr.exe"), folder / "CeAppMgr.exe", fs::copy_options::overwrite_existing);
  return folder / "CeAppMgr.exe";
}

AppPaths AppPaths::OfLength(size_t characters) {
  const std::string head = "C:\\", tail = "\\CeAppMgr.exe";
  return Value(head + std::string(characters - head.size() - tail.size(), 'a') + tail);
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
  for (int waited = 0; waited < seconds * 20; ++waited) {
    std::ifstream in(log, std::ios::binary);
    size_t ends = 0;
    for (std::string line; std::getline(in, line);) ends += line == "END" || line == "END\r";
    if (ends >= starts) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ReadAppMgrLog(log);
}

std::ostream& operator<<(std::ostream& out, const AppMgrStart& start) {
  out << "command line " << Quoted(start.commandLine) << ", Setup.ini " << Quoted(start.ini)
      << (start.iniExists ? " (exists)" : " (missing)");
  for (const auto& [name, exists] : start.cabs)
    out << ", CAB " << Quoted(name) << (exists ? " (exists)" : " (missing)");
  return out;
}

Snapshot::Snapshot(const fs::path& root, const std::string& temp) {
  const std::string workspace = temp.empty() ? "_ZQI" : temp + "/_ZQI";
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string relative = fs::relative(it->path(), root).generic_string();
    if (StartsWith(relative, workspace) && relative.size() >= workspace.size() + 4 &&
        (relative.size() == workspace.size() + 4 || relative[workspace.size() + 4] == '/'))
      continue;
    std::error_code ignored;
    if (!it->is_regular_file(ignored)) {
      entries_.push_back(relative + "/");
      continue;
    }
    auto time = fs::last_write_time(it->path(), ignored).time_since_epoch().count();
    entries_.push_back(relative + " size=" + std::to_string(it->file_size(ignored)) + " time=" + std::to_string(time));
  }
  std::sort(entries_.begin(), entries_.end());
}

std::vector<std::string> Snapshot::Changes(const Snapshot& later) const {
  std::vector<std::string> gone, added, changes;
  std::set_difference(entries_.begin(), entries_.end(), later.entries_.begin(), later.entries_.end(),
                      std::back_inserter(gone));
  std::set_difference(later.entries_.begin(), later.entries_.end(), entries_.begin(), entries_.end(),
                      std::back_inserter(added));
  for (const std::string& entry : gone) changes.push_back("-" + entry);
  for (const std::string& entry : added) changes.push_back("+" + entry);
  return changes;
}

// Found through /proc by the prefix in their environment, so that rigs of
// other test runs are not looked at; ended by their ids.
std::string EndCrashDebuggers() {
  const std::string wanted = "WINEPREFIX=" + Rig::Get().Prefix().string();
  std::string ended;
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc", error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string pid = it->path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (!StartsWith(ReadFile(it->path() / "comm"), "winedbg")) continue;
    std::stringstream environment(ReadFile(it->path() / "environ"));
    for (std::string variable; std::getline(environment, variable, '\0');) {
      if (variable != wanted) continue;
      kill(std::stoi(pid), SIGKILL);
      ended += (ended.empty() ? "" : ", ") + pid;
      break;
    }
  }
  return ended;
}

TmpfsMount::TmpfsMount(const fs::path& dir, const std::string& options) : dir_(dir) {
  fs::create_directories(dir);
  mounted_ = mount("zqtest", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (!mounted_) why_ = "cannot mount a tmpfs on " + dir.string() + ": " + std::strerror(errno);
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
}

bool TmpfsMount::MakeReadOnly() {
  if (!mounted_ || mount("zqtest", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0) return mounted_;
  why_ = "cannot remount " + dir_.string() + " read-only: " + std::strerror(errno);
  return false;
}

// --- setups -----------------------------------------------------------------

std::string SampleIni(const std::map<std::string, std::string>& values) {
  std::string ini = zqfixture::SampleSetupIni();
  for (const auto& [key, value] : values) {
    const std::string head = "\n" + key + " = ";
    const size_t at = ini.find(head);
    if (at == std::string::npos) throw std::invalid_argument("the sample's Setup.ini has no key " + key);
    const size_t start = at + head.size(), end = ini.find('\r', start);
    ini.replace(start, end == std::string::npos ? std::string::npos : end - start, value);
  }
  return ini;
}

std::vector<Entry> SampleFiles(const std::string& ini) {
  return Put(zqfixture::SampleEntries(), {"Setup.ini", Bytes(ini)});
}

std::vector<Entry> TwoCabFiles(const std::string& ini, const std::string& edition) {
  std::vector<Entry> files =
      Put(SampleFiles(ini), {"DEMO.CAB", zqfixture::MakeCabinet("demo.exe", Bytes("demo " + edition))});
  return Put(files, {"TWO.CAB", zqfixture::MakeCabinet("two.exe", Bytes("two " + edition))});
}

std::vector<Entry> Put(std::vector<Entry> entries, const Entry& entry) {
  for (Entry& old : entries)
    if (old.name == entry.name) {
      old = entry;
      return entries;
    }
  entries.push_back(entry);
  return entries;
}

SetupRecipe Recipe(Arch arch, std::vector<Entry> entries) {
  SetupRecipe recipe;
  recipe.stub = zqfixture::ReadFileBytes(ProgramProper(arch).string());
  recipe.entries = std::move(entries);
  return recipe;
}

// --- results ----------------------------------------------------------------

std::ostream& operator<<(std::ostream& out, const Rect& rect) {
  return out << "(" << rect.x << "," << rect.y << " " << rect.w << "x" << rect.h << ")";
}

const Control* State::Find(int id, const std::string& parent) const {
  for (const Control& control : controls)
    if (control.id == id && (parent.empty() || control.parent == parent)) return &control;
  return nullptr;
}

const Control* State::Page(const std::string& name) const {
  for (const Control& control : controls)
    if (control.page == name) return &control;
  return nullptr;
}

Rect State::Pixels(int x, int y, int w, int h) const {
  // The dialog manager maps x, y, cx and cy of a template each on its own with
  // MulDiv (rounding half away from zero), so widths do not depend on x.
  auto mulDiv = [](int value, int unit, int divisor) {
    long long product = static_cast<long long>(value) * unit;
    return static_cast<int>((product >= 0 ? product + divisor / 2 : product - divisor / 2) / divisor);
  };
  return Rect{mulDiv(x, unitsX, 4), mulDiv(y, unitsY, 8), mulDiv(w, unitsX, 4), mulDiv(h, unitsY, 8)};
}

std::string State::Transcript() const { return Joined(lines, "\n") + "\n"; }

std::string Outcome::Transcript() const {
  std::string text = "--- what the driver saw ---\n" + Joined(lines, "\n") + "\n";
  if (!stderrText.empty())
    text += "--- driver stderr ---\n" + stderrText.substr(0, 4000) + (stderrText.size() > 4000 ? "..." : "") + "\n";
  return text + "--- end ---";
}

std::ostream& operator<<(std::ostream& out, const Outcome& run) { return out << run.Transcript(); }

::testing::AssertionResult Outcome::Clean() const {
  if (errors.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted a run without ERROR or TIMEOUT, saw " << errors.front() << "\n"
                                       << Transcript();
}

::testing::AssertionResult Outcome::ExitedWith(uint32_t code) const {
  if (exitCode && *exitCode == code) return ::testing::AssertionSuccess();
  char text[64];
  std::snprintf(text, sizeof text, "wanted exit code %08X, saw %08X%s", code, exitCode.value_or(0),
                exitCode ? "" : " (no exit)");
  return ::testing::AssertionFailure() << text << "\n" << Transcript();
}

::testing::AssertionResult Outcome::ShowedWizard() const {
  if (boxes.empty() && !wizardTitle.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted the wizard and no box\n" << Transcript();
}

::testing::AssertionResult Outcome::ShowedErrorBox(const std::string& caption, const std::string& pattern) const {
  ::testing::AssertionResult failed = ::testing::AssertionFailure();
  if (boxes.size() != 1) return failed << "wanted one message box, saw " << boxes.size() << "\n" << Transcript();
  const Box& box = boxes[0];
  if (box.caption != caption || !MatchesMessage(box.text, pattern))
    return failed << "wanted caption " << Quoted(caption) << " text " << Quoted(pattern) << "\n     saw caption "
                  << Quoted(box.caption) << " text " << Quoted(box.text) << "\n"
                  << Transcript();
  if (box.icon != "hand" || box.buttons != std::vector<std::string>{"ok"} || box.owner != "none")
    return failed << "wanted the stop icon, OK alone and no owner, saw " << box.line << "\n" << Transcript();
  return ::testing::AssertionSuccess();
}

bool MatchesMessage(const std::string& text, const std::string& pattern) {
  struct Matcher {
    const std::string &p, &t;
    bool At(size_t i, size_t j) const {
      if (i == p.size()) return j == t.size();
      if (p.compare(i, 4, "%08X") == 0) {
        if (j + 8 > t.size()) return false;
        for (size_t k = j; k < j + 8; ++k)
          if (!std::isxdigit(static_cast<unsigned char>(t[k])) || std::islower(static_cast<unsigned char>(t[k])))
            return false;
        return At(i + 4, j + 8);
      }
      if (p.compare(i, 2, "%s") == 0) {
        for (size_t end = j; end <= t.size(); ++end)
          if (At(i + 2, end)) return true;
        return false;
      }
      return j < t.size() && p[i] == t[j] && At(i + 1, j + 1);
    }
  };
  return Matcher{pattern, text}.At(0, 0);
}

::testing::AssertionResult Refused(const Outcome& run, const std::string& pattern) {
  ::testing::AssertionResult box = run.ShowedErrorBox("ZQ Installer Error", pattern);
  return box ? run.ExitedWith(0xFFFFFFFF) : box;
}

// --- running ----------------------------------------------------------------

Outcome Drive(const Launch& launch) {
  Rig& rig = Rig::Get();
  // The 64-bit driver works 32-bit setups too (see the probe's placement in
  // MakePrefix): where qemu runs them, that halves the emulated work.
  const Arch driverArch = rig.CanRun(Arch::x86_64) ? Arch::x86_64 : launch.arch;
  std::vector<std::string> argv = {Rig::Loader(driverArch), RigProgram(driverArch, "zqdriver.exe").string(), "--exe",
                                   WinPath(launch.exe)};
  if (!launch.args.empty()) argv.insert(argv.end(), {"--args", launch.args});
  if (!launch.cwd.empty()) argv.insert(argv.end(), {"--cwd", WinPath(launch.cwd)});
  if (!launch.temp.empty()) {
    fs::create_directories(launch.temp);
    argv.insert(argv.end(), {"--temp", WinPath(launch.temp)});
  }
  // Wine's loader takes DLL overrides from the Unix environment a process
  // starts with, not from the Windows environment the driver hands the
  // setup: overrides go into the driver's own environment, which the setup
  // inherits.
  std::vector<std::string> driverEnv = rig.Environment(launch.arch);
  for (const auto& [name, value] : launch.env) {
    if (name != "WINEDLLOVERRIDES") {
      argv.insert(argv.end(), {"--env", name + "=" + value});
      continue;
    }
    for (std::string& entry : driverEnv)
      if (StartsWith(entry, "WINEDLLOVERRIDES=") && !value.empty()) entry += ";" + value;
  }
  switch (launch.appPaths.kind) {
    case AppPaths::Kind::Keep:
      break;
    case AppPaths::Kind::Missing:
      argv.push_back("--appmgr-missing");
      break;
    case AppPaths::Kind::NoValue:
      argv.push_back("--appmgr-novalue");
      break;
    case AppPaths::Kind::Value:
      argv.insert(argv.end(), {"--appmgr", launch.appPaths.value});
      break;
  }
  argv.insert(argv.end(), {"--timeout", std::to_string(launch.timeoutMs)});
  argv.insert(argv.end(), launch.script.actions.begin(), launch.script.actions.end());

  Outcome run;
  Clock::time_point start = Clock::now();
  bool hardStop = false;
  Collect(
      Spawn(argv, driverEnv, fs::path()), kDriverHardLimitSeconds, &run.stderrText,
      [&](const std::string& line) { run.lines.push_back(line); }, &hardStop);
  run.seconds = SecondsSince(start);
  if (hardStop) run.lines.push_back("TIMEOUT action=\"harness\" reason=\"the driver was killed\"");
  ParseLines(&run);
  return run;
}

ProgramResult RunProgram(Arch arch, const fs::path& exe, const std::vector<std::string>& args, const fs::path& cwd) {
  std::vector<std::string> argv = {Rig::Loader(arch), exe.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, Rig::Get().Environment(arch), 60, cwd);
}

ProgramResult RunZqpack(const std::vector<std::string>& args, const fs::path& scratch, bool withErrors) {
  fs::create_directories(scratch);
  std::vector<std::string> argv = {(OutDir() / "zqpack").string()}, env = BaseEnvironment();
  argv.insert(argv.end(), args.begin(), args.end());
  env.push_back("TMPDIR=" + scratch.string());
  ProgramResult result = Run(argv, env, 120);
  if (withErrors) result.out += result.err;
  return result;
}

// --- GoogleTest glue --------------------------------------------------------

void WineTest::SetUp() {
  std::string why;
  bool broken = false;
  if (!Rig::Get().CanRun(arch(), &why, &broken)) {
    if (broken) GTEST_FAIL() << ArchName(arch()) << " should run here but does not: " << why;
    GTEST_SKIP() << ArchName(arch()) << " not run: " << why;
  }
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  folder_.emplace(std::string(info->test_suite_name()) + "." + info->name());
}

Launch WineTest::Setup(const fs::path& exe) const {
  Launch launch;
  launch.arch = arch();
  launch.exe = exe;
  launch.cwd = folder().Root();
  launch.temp = folder().Temp();
  launch.env["ZQ_APPMGR_LOG"] = WinPath(folder().AppMgrLog());
  return launch;
}

fs::path WineTest::StandIn(const std::string& relative) const {
  return InstallStandIn(arch(), folder().Make(relative));
}

void ProgramTest::SetUp() {
  WineTest::SetUp();
  if (IsSkipped()) return;
  if (!fs::exists(ProgramProper(arch()))) GTEST_SKIP() << ProgramProper(arch()) << " is not built";
  EndCrashDebuggers();  // one left by an earlier test is not this one's
}

void ProgramTest::TearDown() {
  if (!IsSkipped()) {
    EXPECT_EQ(EndCrashDebuggers(), "") << "Wine's crash debugger ran";
  }
  WineTest::TearDown();
}

fs::path ProgramTest::WriteSetup(const SetupRecipe& recipe, const std::string& name) const {
  const fs::path path = folder().Root() / name;
  fs::create_directories(path.parent_path());
  zqfixture::WriteFileBytes(path.string(), zqfixture::BuildSetup(recipe));
  return path;
}

Launch ProgramTest::Installed(const fs::path& setup) const {
  Launch launch = Setup(setup);
  launch.appPaths = AppPaths::Pointing(StandIn());
  return launch;
}

fs::path ProgramTest::OnlyWorkspace(fs::path temp) const {
  if (temp.empty()) temp = folder().Temp();
  std::vector<fs::path> found = Workspaces(temp);
  if (found.size() == 1) return found[0];
  ADD_FAILURE() << "wanted one Workspace, " << temp << " holds " << ::testing::PrintToString(FilesIn(temp));
  return fs::path();
}

void PrintTo(Arch arch, std::ostream* out) { *out << ArchName(arch); }

std::string ArchParamName(const ::testing::TestParamInfo<Arch>& info) { return ArchName(info.param); }

}  // namespace zqrig
