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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
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

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

fs::path RigDir() {
  if (const char* dir = std::getenv("ZQ_RIG_DIR")) return dir;
  return ZQ_RIG_DEFAULT_DIR;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// --- child processes ----------------------------------------------------------

struct Spawned {
  pid_t pid = -1;
  int out = -1;  // the child's stdout, or -1
  int err = -1;  // the child's stderr, or -1
};

// Starts argv[0] with the given environment.  Output goes to pipes when
// `capture`, else to /dev/null.
Spawned Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const fs::path& cwd, bool capture) {
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  if (capture && (pipe(outPipe) != 0 || pipe(errPipe) != 0)) return {};
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(capture ? outPipe[1] : null, 1);
    dup2(capture ? errPipe[1] : null, 2);
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
  Spawned child;
  child.pid = pid;
  if (capture) {
    close(outPipe[1]);
    close(errPipe[1]);
    child.out = outPipe[0];
    child.err = errPipe[0];
  }
  return child;
}

// Reads both pipes until the child has ended and they hold nothing more,
// handing stdout lines to `onLine` as they come; kills the child after
// `limitSeconds`.  Wine's helper processes (the desktop process, a program's
// own children) inherit the pipes and may hold them open for seconds after
// the child ended, so the end of the child, not of the pipes, ends the wait.
// Returns the exit status (the Unix view: 0-255, or 128+signal).
template <typename OnLine>
int Collect(Spawned child, int limitSeconds, std::string* err, OnLine onLine,
            bool* timedOut = nullptr) {
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
        continue;
      }
      if (i == 1) {
        err->append(buffer, static_cast<size_t>(got));
        continue;
      }
      pending.append(buffer, static_cast<size_t>(got));
      for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pending.erase(0, end + 1);
        onLine(line);
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

int RunQuietly(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               int limitSeconds, std::string* output) {
  std::string err, out;
  int status = Collect(Spawn(argv, env, fs::path(), true), limitSeconds, &err,
                       [&](const std::string& line) { out += line + "\n"; });
  if (output) *output = out + err;
  return status;
}

std::vector<std::string> BaseEnvironment() {
  std::vector<std::string> env;
  for (char** var = environ; *var; ++var) {
    std::string text = *var;
    if (text.rfind("WINE", 0) == 0 || text.rfind("DISPLAY=", 0) == 0) continue;
    env.push_back(text);
  }
  return env;
}

bool ProcessIs(pid_t pid, const char* name) {
  std::string comm = ReadFile("/proc/" + std::to_string(pid) + "/comm");
  return kill(pid, 0) == 0 && comm.rfind(name, 0) == 0;
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

std::vector<std::string> WineEnvironment(const std::string& display, const fs::path& prefix,
                                         const std::string& loader) {
  // Wine and fontconfig write below HOME (caches, menu entries, links to the
  // user's folders): give them a home inside the rig folder.
  std::vector<std::string> env;
  for (const std::string& var : BaseEnvironment())
    if (var.rfind("HOME=", 0) != 0 && var.rfind("XDG_", 0) != 0) env.push_back(var);
  fs::path home = RigDir() / "home";
  fs::create_directories(home);
  env.push_back("HOME=" + home.string());
  env.push_back("XDG_CACHE_HOME=" + (home / ".cache").string());
  env.push_back("XDG_CONFIG_HOME=" + (home / ".config").string());
  env.push_back("XDG_DATA_HOME=" + (home / ".local/share").string());
  env.push_back("WINEPREFIX=" + prefix.string());
  env.push_back("WINELOADER=" + loader);
  env.push_back("WINEDEBUG=-all");
  env.push_back(std::string("WINEDLLOVERRIDES=") + kDllOverrides);
  env.push_back("DISPLAY=" + display);
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
    close(numberPipe[0]);
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != numberPipe[1]) close(fd);
    std::string fd = std::to_string(numberPipe[1]);
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
          "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
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

bool MakePrefix(const RigState& state, std::string* why) {
  std::vector<std::string> env = WineEnvironment(state.display, state.prefix, kWine64);
  std::error_code ignored;
  fs::remove_all(state.prefix, ignored);
  fs::create_directories(state.prefix.parent_path());
  // A persistent server for the whole run: every later wine start is quicker.
  std::string output;
  RunQuietly({kWineServer, "-p"}, env, 30, &output);
  Clock::time_point start = Clock::now();
  int status = RunQuietly({kWine64, "wineboot", "-i"}, env, 120, &output);
  if (status != 0 || !fs::exists(state.prefix / "drive_c" / "windows" / "system32")) {
    *why = "wineboot -i failed with status " + std::to_string(status) + ": " + output;
    return false;
  }
  std::printf("wine rig: wineboot -i took %.1f s\n", SecondsSince(start));
  // No window manager runs on Xvfb: unmanaged windows spare Wine a 2 s wait
  // for the manager on every window that is hidden or destroyed.
  RunQuietly({kWine64, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d",
              "N", "/f"},
             env, 60, &output);
  return true;
}

// The first window of a new prefix takes several seconds (font caches); pay
// that here rather than inside the first test's time limits.
void WarmUp(const RigState& state) {
  fs::path demo = RigProgram(Arch::x86_64, "boxdemo.exe");
  fs::path driver = RigProgram(Arch::x86_64, "zqdriver.exe");
  if (!fs::exists(demo) || !fs::exists(driver)) return;
  Clock::time_point start = Clock::now();
  std::string output;
  RunQuietly({kWine64, driver.string(), "--exe", WinPath(demo), "--args", "box 0 warm up",
              "--timeout", "60000", "box", "answer:ok", "exit"},
             WineEnvironment(state.display, state.prefix, kWine64), 120, &output);
  std::printf("wine rig: first window (warm-up) took %.1f s\n", SecondsSince(start));
}

void TakeDown(const RigState& state) {
  if (!state.prefix.empty() && fs::exists(state.prefix)) {
    std::string output;
    RunQuietly({kWineServer, "-k"}, WineEnvironment(state.display, state.prefix, kWine64), 30,
               &output);
  }
  if (state.xvfbPid > 0 && ProcessIs(state.xvfbPid, "Xvfb")) {
    kill(state.xvfbPid, SIGTERM);
    for (int i = 0; i < 50 && kill(state.xvfbPid, 0) == 0; ++i) {
      waitpid(state.xvfbPid, nullptr, WNOHANG);  // our own child when set up lazily
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

// --- parsing the driver's lines ---------------------------------------------

std::string Unescape(const std::string& text, size_t* pos) {
  // text[*pos] is the opening quote.
  std::string out;
  size_t i = *pos + 1;
  for (; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    switch (c) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x':
        if (i + 2 < text.size()) {
          out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
          i += 2;
        }
        break;
      default: out += c; break;
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
    return std::stoi(text, nullptr, 0);
  } catch (...) {
    return fallback;
  }
}

Rect ToRect(const std::string& text) {
  Rect rect;
  std::sscanf(text.c_str(), "%d,%d,%d,%d", &rect.x, &rect.y, &rect.w, &rect.h);
  return rect;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

std::string Field(const std::map<std::string, std::string>& fields, const char* key) {
  auto found = fields.find(key);
  return found == fields.end() ? std::string() : found->second;
}

Box ParseBox(const std::map<std::string, std::string>& f, const std::string& line) {
  auto get = [&](const char* key) { return Field(f, key); };
  Box box;
  box.caption = get("caption");
  box.text = get("text");
  if (get("buttons") != "none") box.buttons = Split(get("buttons"), ',');
  box.defaultButton = get("default");
  box.icon = get("icon");
  box.owner = get("owner");
  box.wizard = get("wizard");
  box.focus = get("focus");
  box.line = line;
  return box;
}

Control ParseControl(const std::map<std::string, std::string>& f, const std::string& line) {
  auto get = [&](const char* key) { return Field(f, key); };
  Control control;
  control.parent = get("parent");
  control.id = ToInt(get("id"));
  if (control.id == 0xFFFF) control.id = -1;
  control.cls = get("class");
  control.page = get("page");
  control.text = get("text");
  control.z = ToInt(get("z"));
  control.visible = get("visible") == "1";
  control.shown = get("shown") == "1";
  control.enabled = get("enabled") == "1";
  control.checked = f.count("checked") ? ToInt(get("checked"), -1) : -1;
  control.rect = ToRect(get("rect"));
  control.style = static_cast<uint32_t>(std::stoul(get("style").empty() ? "0" : get("style"),
                                                   nullptr, 16));
  control.font = get("font");
  control.face = get("face");
  control.height = ToInt(get("height"));
  control.weight = ToInt(get("weight"));
  control.charset = f.count("charset") ? ToInt(get("charset")) : -1;
  control.line = line;
  return control;
}

void ParseLines(Outcome* run) {
  State* open = nullptr;
  for (const std::string& line : run->lines) {
    std::string word;
    std::map<std::string, std::string> f = Fields(line, &word);
    if (open) {
      open->lines.push_back(line);
      if (word == "CTRL") {
        open->controls.push_back(ParseControl(f, line));
        continue;
      }
      if (word == "END") {
        open = nullptr;
        continue;
      }
      open = nullptr;  // a cut block: go on with this line as usual
    }
    if (word == "STATE") {
      run->states.emplace_back();
      open = &run->states.back();
      open->lines.push_back(line);
      open->title = f["title"];
      open->focus = f["focus"];
      open->focusParent = f["focusparent"];
      std::sscanf(f["units"].c_str(), "%d,%d", &open->unitsX, &open->unitsY);
      std::sscanf(f["client"].c_str(), "%d,%d", &open->clientW, &open->clientH);
      open->enabled = f["enabled"] == "1";
    } else if (word == "BOX") {
      run->boxes.push_back(ParseBox(f, line));
    } else if (word == "EXIT") {
      run->exitCode = static_cast<uint32_t>(std::stoul(line.substr(5), nullptr, 16));
    } else if (word == "WIZARD") {
      run->wizardTitle = f["title"];
    } else if (word == "ERROR" || word == "TIMEOUT") {
      run->errors.push_back(line);
    } else if (word == "KILLED") {
      run->killed = true;
    }
  }
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out + "\"";
}

// Architectures that ran and were skipped in this process, for the report
// at its end.
std::map<std::string, std::string>& ArchOutcomes() {
  static std::map<std::string, std::string> outcomes;
  return outcomes;
}

class ArchReport : public ::testing::Environment {
 public:
  void TearDown() override {
    if (ArchOutcomes().empty()) return;
    std::string text;
    for (const auto& [arch, outcome] : ArchOutcomes())
      text += (text.empty() ? "" : "; ") + arch + " " + outcome;
    std::printf("wine rig: %s\n", text.c_str());
  }
};

::testing::Environment* const kArchReport = ::testing::AddGlobalTestEnvironment(new ArchReport);

}  // namespace

// --- paths ------------------------------------------------------------------

const char* ArchName(Arch arch) { return arch == Arch::x86_64 ? "x86_64" : "i686"; }

fs::path OutDir() {
  if (const char* dir = std::getenv("ZQ_OUT_DIR")) return dir;
  return ZQ_OUT_DEFAULT_DIR;
}

fs::path ProgramProper(Arch arch) {
  return OutDir() / (std::string("zqstub-") + ArchName(arch) + ".exe");
}

fs::path RigProgram(Arch arch, const std::string& name) { return OutDir() / ArchName(arch) / name; }

std::string WinPath(const fs::path& unixPath) {
  std::string text = fs::absolute(unixPath).lexically_normal().string();
  for (char& c : text)
    if (c == '/') c = '\\';
  return "Z:" + text;
}

// --- Rig --------------------------------------------------------------------

struct RigAccess {
  static void Adopt(Rig* rig, const RigState& state, bool owned) {
    rig->display_ = state.display;
    rig->prefix_ = state.prefix;
    rig->owned_ = owned;
  }
};

int Rig::SetUpForRun() {
  RigLock lock;
  if (std::optional<RigState> old = ReadRigState()) TakeDown(*old);
  fs::remove(RigDir() / "rig.env");
  for (Arch arch : {Arch::x86_64, Arch::i686})
    fs::remove(RigDir() / (std::string("arch-") + ArchName(arch)));
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
  WriteFile(RigDir() / "rig.env", "DISPLAY=" + state.display + "\nXVFB_PID=" +
                                      std::to_string(state.xvfbPid) +
                                      "\nPREFIX=" + state.prefix.string() + "\n");
  std::printf("wine rig: display %s, prefix %s, ready in %.1f s\n", state.display.c_str(),
              state.prefix.c_str(), SecondsSince(start));
  Rig& rig = Get();
  for (Arch arch : {Arch::x86_64, Arch::i686}) {
    bool runs = rig.CanRun(arch, &why);
    std::printf("wine rig: %s %s\n", ArchName(arch),
                runs ? "runs here" : ("is not run here: " + why).c_str());
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
  if (state && RigStateUsable(*state)) {
    RigAccess::Adopt(&rig, *state, false);
    return rig;
  }
  // No fixture ran: set up a rig for this process alone.
  if (SetUpForRun() == 0 && (state = ReadRigState())) {
    RigAccess::Adopt(&rig, *state, true);
    std::atexit([] { Rig::TakeDownForRun(); });
  }
  return rig;
}

std::string Rig::Loader(Arch arch) { return arch == Arch::x86_64 ? kWine64 : kWine32; }

std::vector<std::string> Rig::Environment(Arch arch) const {
  return WineEnvironment(display_, prefix_, Loader(arch));
}

bool Rig::CanRun(Arch arch, std::string* why) const {
  fs::path cache = RigDir() / (std::string("arch-") + ArchName(arch));
  std::string known = ReadFile(cache);
  if (known.empty()) {
    fs::path standIn = RigProgram(arch, "CeAppMgr.exe");
    if (display_.empty()) {
      known = "0 the rig could not be set up (see the output above)";
    } else if (!fs::exists(standIn) || !fs::exists(RigProgram(arch, "zqdriver.exe"))) {
      known = "0 the rig programs are not built in " + standIn.parent_path().string();
    } else if (!fs::exists(Loader(arch))) {
      known = "0 " + Loader(arch) + " is not installed";
    } else {
      ProgramResult result = RunProgram(arch, standIn, {"--version"}, fs::path(), 60);
      if (result.status == 0) {
        known = "1";
      } else {
        std::string said = result.err.empty() ? result.out : result.err;
        if (said.size() > 300) said.resize(300);
        while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) said.pop_back();
        known = "0 " + Loader(arch) + " cannot run a " + ArchName(arch) +
                " program here (exit status " + std::to_string(result.status) + ": " + said + ")";
      }
    }
    while (!known.empty() && (known.back() == '\n' || known.back() == ' ')) known.pop_back();
    WriteFile(cache, known);
  }
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
  fs::path path = root_ / relative;
  fs::create_directories(path);
  return path;
}

std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(dir, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error))
    files.push_back(fs::relative(it->path(), dir).generic_string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<fs::path> Workspaces(const fs::path& temp) {
  std::vector<fs::path> found;
  std::error_code error;
  for (auto it = fs::directory_iterator(temp, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    std::string name = it->path().filename().string();
    if (it->is_directory() && name.size() == 8 && name.rfind("_ZQI", 0) == 0)
      found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

fs::path InstallStandIn(Arch arch, const fs::path& folder) {
  fs::create_directories(folder);
  fs::path target = folder / "CeAppMgr.exe";
  fs::copy_file(RigProgram(arch, "CeAppMgr.exe"), target, fs::copy_options::overwrite_existing);
  return target;
}

AppPaths AppPaths::OfLength(size_t characters) {
  const std::string head = "C:\\", tail = "\\CeAppMgr.exe";
  size_t fill = characters > head.size() + tail.size() ? characters - head.size() - tail.size() : 1;
  return Value(head + std::string(fill, 'a') + tail);
}

std::vector<AppMgrStart> ReadAppMgrLog(const fs::path& log) {
  std::vector<AppMgrStart> starts;
  std::ifstream in(log, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "START") {
      starts.emplace_back();
      continue;
    }
    if (starts.empty()) continue;
    AppMgrStart& start = starts.back();
    auto rest = [&](size_t skip) { return line.substr(std::min(skip, line.size())); };
    auto exists = [&](std::string* name) {
      bool yes = line.size() >= 9 && line.compare(line.size() - 9, 9, " exists=1") == 0;
      *name = line.size() >= 9 ? line.substr(0, line.size() - 9) : line;
      return yes;
    };
    if (line.rfind("CMDLINE ", 0) == 0) {
      start.commandLine = rest(8);
    } else if (line.rfind("INI ", 0) == 0) {
      line = rest(4);
      start.iniExists = exists(&start.ini);
    } else if (line.rfind("COMPONENT ", 0) == 0) {
      start.component = rest(10);
    } else if (line.rfind("CABFILES ", 0) == 0) {
      start.cabFiles = rest(9);
    } else if (line.rfind("CAB ", 0) == 0) {
      line = rest(4);
      std::string name;
      bool yes = exists(&name);
      start.cabs.emplace_back(name, yes);
    }
  }
  return starts;
}

std::ostream& operator<<(std::ostream& out, const AppMgrStart& start) {
  out << "command line " << Quoted(start.commandLine) << ", Setup.ini " << Quoted(start.ini)
      << (start.iniExists ? " (exists)" : " (missing)");
  for (const auto& [name, exists] : start.cabs)
    out << ", CAB " << Quoted(name) << (exists ? " (exists)" : " (missing)");
  return out;
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
    return static_cast<int>((product >= 0 ? product + divisor / 2 : product - divisor / 2) /
                            divisor);
  };
  return Rect{mulDiv(x, unitsX, 4), mulDiv(y, unitsY, 8), mulDiv(w, unitsX, 4),
              mulDiv(h, unitsY, 8)};
}

std::string State::Transcript() const {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string Outcome::Transcript() const {
  std::string text = "--- what the driver saw ---\n";
  for (const std::string& line : lines) text += line + "\n";
  if (!stderrText.empty()) {
    std::string err = stderrText.size() > 4000 ? stderrText.substr(0, 4000) + "..." : stderrText;
    text += "--- driver stderr ---\n" + err + "\n";
  }
  return text + "--- end ---";
}

std::ostream& operator<<(std::ostream& out, const Outcome& run) { return out << run.Transcript(); }

::testing::AssertionResult Outcome::Clean() const {
  if (errors.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted a run without ERROR or TIMEOUT, saw "
                                       << errors.front() << "\n"
                                       << Transcript();
}

::testing::AssertionResult Outcome::ExitedWith(uint32_t code) const {
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, "%08X", code);
  if (exitCode && *exitCode == code) return ::testing::AssertionSuccess();
  ::testing::AssertionResult result = ::testing::AssertionFailure();
  result << "wanted exit code " << wanted << ", saw ";
  if (exitCode) {
    char saw[16];
    std::snprintf(saw, sizeof saw, "%08X", *exitCode);
    result << saw;
  } else {
    result << "no exit";
  }
  return result << "\n" << Transcript();
}

::testing::AssertionResult Outcome::ShowedBox(const std::string& caption, const std::string& text,
                                          size_t index) const {
  if (index < boxes.size() && boxes[index].caption == caption && boxes[index].text == text)
    return ::testing::AssertionSuccess();
  ::testing::AssertionResult result = ::testing::AssertionFailure();
  result << "wanted message box #" << index << " caption=" << Quoted(caption)
         << " text=" << Quoted(text) << "\n     saw ";
  if (index < boxes.size())
    result << "caption=" << Quoted(boxes[index].caption) << " text=" << Quoted(boxes[index].text);
  else
    result << boxes.size() << " message box(es)";
  return result << "\n" << Transcript();
}

// --- running ----------------------------------------------------------------

Outcome Drive(const Launch& launch) {
  Rig& rig = Rig::Get();
  std::vector<std::string> argv = {Rig::Loader(launch.arch),
                                   RigProgram(launch.arch, "zqdriver.exe").string(), "--exe",
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
    if (name == "WINEDLLOVERRIDES") {
      for (std::string& entry : driverEnv)
        if (entry.rfind("WINEDLLOVERRIDES=", 0) == 0 && !value.empty()) entry += ";" + value;
      continue;
    }
    argv.insert(argv.end(), {"--env", name + "=" + value});
  }
  switch (launch.appPaths.kind) {
    case AppPaths::Kind::Keep: break;
    case AppPaths::Kind::Missing: argv.push_back("--appmgr-missing"); break;
    case AppPaths::Kind::NoValue: argv.push_back("--appmgr-novalue"); break;
    case AppPaths::Kind::Value: argv.insert(argv.end(), {"--appmgr", launch.appPaths.value}); break;
  }
  if (!launch.captureDir.empty()) {
    fs::create_directories(launch.captureDir);
    argv.insert(argv.end(), {"--capture-dir", WinPath(launch.captureDir)});
  }
  argv.insert(argv.end(), {"--timeout", std::to_string(launch.timeoutMs)});
  argv.insert(argv.end(), launch.script.actions.begin(), launch.script.actions.end());

  Outcome run;
  Clock::time_point start = Clock::now();
  bool hardStop = false;
  run.driverStatus = Collect(
      Spawn(argv, driverEnv, fs::path(), true), kDriverHardLimitSeconds,
      &run.stderrText,
      [&](const std::string& line) {
        run.lines.push_back(line);
        std::string word;
        std::map<std::string, std::string> f = Fields(line, &word);
        if (word != "CAPTURE" || launch.captureDir.empty()) return;
        fs::path png = launch.captureDir / (f["name"] + ".png");
        std::string output;
        RunQuietly({"/usr/bin/import", "-display", rig.Display(), "-window", "root", png.string()},
                   BaseEnvironment(), 60, &output);
        if (fs::exists(png)) run.captures.push_back(png.string());
        WriteFile(launch.captureDir / (f["name"] + ".done"), "");
      },
      &hardStop);
  run.seconds = SecondsSince(start);
  if (hardStop) run.lines.push_back("TIMEOUT action=\"harness\" reason=\"the driver was killed\"");
  ParseLines(&run);
  return run;
}

ProgramResult RunProgram(Arch arch, const fs::path& exe, const std::vector<std::string>& args,
                         const fs::path& cwd, int timeoutSeconds) {
  Rig& rig = Rig::Get();
  std::vector<std::string> argv = {Rig::Loader(arch), exe.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  ProgramResult result;
  result.status = Collect(Spawn(argv, rig.Environment(arch), cwd, true), timeoutSeconds,
                          &result.err, [&](const std::string& line) { result.out += line + "\n"; });
  return result;
}

// --- GoogleTest glue --------------------------------------------------------

void WineTest::SetUp() {
  Rig& rig = Rig::Get();
  std::string why;
  if (!rig.CanRun(arch(), &why)) {
    ArchOutcomes()[ArchName(arch())] = "skipped (" + why + ")";
    GTEST_SKIP() << ArchName(arch()) << " not run: " << why;
  }
  ArchOutcomes()[ArchName(arch())] = "ran";
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  folder_.emplace(std::string(info->test_suite_name()) + "." + info->name());
}

Launch WineTest::Setup(const fs::path& exe) const {
  Launch launch;
  launch.arch = arch();
  launch.exe = exe;
  launch.cwd = folder().Root();
  launch.temp = folder().Temp();
  launch.captureDir = folder().Captures();
  launch.env["ZQ_APPMGR_LOG"] = WinPath(folder().AppMgrLog());
  return launch;
}

void PrintTo(Arch arch, std::ostream* out) { *out << ArchName(arch); }

fs::path WineTest::StandIn(const std::string& relative) const {
  return InstallStandIn(arch(), folder().Make(relative));
}

std::string ArchParamName(const ::testing::TestParamInfo<Arch>& info) {
  return ArchName(info.param);
}

// Whether `text` is `pattern` with every "%08X" standing for an OS code:
// eight upper-case hexadecimal digits.
bool MatchesMessage(const std::string& text, const std::string& pattern) {
  size_t t = 0;
  for (size_t p = 0; p < pattern.size(); ++p) {
    if (pattern.compare(p, 4, "%08X") == 0) {
      for (int digit = 0; digit < 8; ++digit, ++t)
        if (t >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[t])) ||
            std::islower(static_cast<unsigned char>(text[t])))
          return false;
      p += 3;
    } else if (t >= text.size() || text[t++] != pattern[p]) {
      return false;
    }
  }
  return t == text.size();
}

}  // namespace zqrig
