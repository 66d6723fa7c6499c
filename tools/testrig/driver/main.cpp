// zqdriver: starts a setup and works it as a user would, through window
// messages, following a script given on its command line.  It prints one
// machine-readable line per result on stdout and flushes after each.
//
//   zqdriver.exe OPTION... ACTION...
//
// Arguments are read from the wide command line, so paths may hold any
// character.  Options (all before the first action):
//   --exe PATH          the program to start (required); it is started with
//                       the command line "PATH" followed by --args, if any
//   --args TEXT         the rest of the child's command line, as given
//   --cwd DIR           the child's current directory
//   --temp DIR          TMP and TEMP in the child's environment
//   --env NAME=VALUE    one more variable in the child's environment
//                       (repeatable; an empty VALUE removes the variable)
//   --appmgr VALUE      App Paths\CEAPPMGR.EXE default value := VALUE
//   --appmgr-novalue    the key exists without a default value
//   --appmgr-missing    the key does not exist
//                       (without these three the registry is left alone; the
//                       key is written in both the 64- and 32-bit views)
//   --capture-dir DIR   where "capture" waits for the harness's marker file
//   --timeout MS        the time limit of every wait (default 20000)
//
// Actions, run in order:
//   wizard         wait for the wizard: a visible top-level dialog of the
//                  child holding control 1000                 -> WIZARD
//   box            wait for a message box: a visible top-level dialog of the
//                  child without control 1000 holding a button IDOK..11 -> BOX
//   answer:B       press button B (ok, cancel, yes, no, abort, retry, ignore,
//                  close, help, tryagain, continue) of the open box (waits
//                  for one first) and wait until the box is gone -> ANSWERED
//   click:ID       click control ID of the wizard or one of its pages:
//                  BM_CLICK posted, only when the control is shown (it and
//                  its parents visible) and enabled and its top-level window
//                  is enabled (no owned modal box open)       -> CLICKED
//   command:ID     post WM_COMMAND(ID, BN_CLICKED) to the wizard, looking
//                  at no control (a Back while Back is hidden) -> COMMAND
//   esc            post WM_KEYDOWN and WM_KEYUP of Escape to the window that
//                  has the focus in the child                 -> KEY
//   state          describe the wizard                        -> STATE block
//   windows        describe every window of the child         -> WINDOW lines
//   nobox:MS       watch MS milliseconds for a message box -> NOBOX, or BOX
//   capture:NAME   print CAPTURE, then wait until the file NAME.done exists in
//                  the capture folder (the harness takes a screenshot and
//                  creates it)                                -> CAPTURED
//   exit           wait for the child to end                  -> EXIT
// Every click, command, key and answer waits until the child has handled
// it (or has entered a modal loop) before the next action runs.  "state" and
// "box" load zqprobe.dll (beside the driver) into the child through a
// WH_GETMESSAGE hook to learn fonts and icons, which window messages do not
// tell another process under Wine.
//
// Output lines: see protocol.h.
//
// A wait that cannot end well stops the script at once with an ERROR line:
// "wizard" when a message box appears or the child ends, "box" when the child
// ends, "exit" when a message box appears.  Whenever the script stops or ends
// while the child still runs, the driver kills it.  The driver's own exit
// code is 0 without ERROR or TIMEOUT lines, 1 with them, 2 for a bad command
// line.
//
//   zqdriver.exe --bench JOBFILE ROUNDS WARMUP [APPMGR]
// runs the benchmark's groups of programs instead (bench.cpp).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../utf8.h"
#include "driver.h"
// CommandLineToArgvW; after driver.h, whose windows.h it needs.
#include <shellapi.h>

namespace zqdriver {
namespace {

const DWORD kPollMs = 20;
const UINT kKilledExitCode = 0xDEADu;

struct Session {
  Target target;
  DWORD threadId = 0;
  DWORD timeoutMs = 20000;
  std::string captureDir;
  int errors = 0;
};

// Why the script must stop.
struct Stop {};

void Error(Session& session, const std::string& action, const std::string& reason) {
  ++session.errors;
  Emit("ERROR action=" + Quote(action) + " reason=" + Quote(reason));
}

[[noreturn]] void Abort(Session& session, const std::string& action, const std::string& reason) {
  Error(session, action, reason);
  throw Stop();
}

[[noreturn]] void TimedOut(Session& session, const std::string& action) {
  ++session.errors;
  Emit("TIMEOUT action=" + Quote(action) + " ms=" + std::to_string(session.timeoutMs));
  throw Stop();
}

void EmitExit(const Session& session) {
  DWORD code = 0;
  GetExitCodeProcess(session.target.process, &code);
  Emit("EXIT " + Hex8(code));
}

bool ParseNumber(const std::string& text, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtol(text.c_str(), &end, 0);
  return *end == '\0';
}

// Polls `found` until it gives a window, the time runs out or `giveUp` says
// so; returns the window or null after a time-out.
template <typename Find, typename GiveUp>
HWND WaitFor(DWORD timeoutMs, Find found, GiveUp giveUp) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND window = found()) return window;
    giveUp();
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

HWND WaitForWizard(Session& session, const std::string& action) {
  HWND wizard = WaitFor(
      session.timeoutMs, [&] { return FindWizard(session.target); },
      [&] {
        if (HWND box = FindBox(session.target)) {
          Emit(DescribeBox(box, nullptr));
          Abort(session, action, "a message box appeared instead of the wizard");
        }
        if (ProcessEnded(session.target)) {
          EmitExit(session);
          Abort(session, action, "the process ended without showing the wizard");
        }
      });
  if (!wizard) TimedOut(session, action);
  return wizard;
}

HWND WaitForBox(Session& session, const std::string& action) {
  HWND box = WaitFor(
      session.timeoutMs, [&] { return FindBox(session.target); },
      [&] {
        if (ProcessEnded(session.target)) {
          EmitExit(session);
          Abort(session, action, "the process ended without showing a message box");
        }
      });
  if (!box) TimedOut(session, action);
  return box;
}

void SettleOrTimeOut(Session& session, const std::string& action, HWND window) {
  if (window && !Settle(window, session.target.process, session.timeoutMs)) TimedOut(session, action);
}

HWND FindControl(HWND wizard, int id) {
  if (HWND control = GetDlgItem(wizard, id)) return control;
  for (HWND page = GetWindow(wizard, GW_CHILD); page; page = GetWindow(page, GW_HWNDNEXT))
    if (HWND control = GetDlgItem(page, id)) return control;
  return nullptr;
}

int BoxButtonId(const std::string& name) {
  static const char* const names[] = {"ok", "cancel", "abort", "retry",    "ignore",  "yes",
                                      "no", "close",  "help",  "tryagain", "continue"};
  for (int i = 0; i < 11; ++i)
    if (name == names[i]) return i + 1;
  return 0;
}

void DoAnswer(Session& session, const std::string& action, const std::string& button) {
  int id = BoxButtonId(button);
  if (!id) return Error(session, action, "unknown button " + button);
  HWND box = WaitForBox(session, action);
  HWND control = GetDlgItem(box, id);
  std::string blocker = ClickBlocker(control);
  if (!blocker.empty()) return Error(session, action, "button " + button + ": " + blocker);
  PostMessageA(control, BM_CLICK, 0, 0);
  HWND gone = WaitFor(
      session.timeoutMs, [&] { return !IsWindow(box) || !IsWindowVisible(box) ? box : nullptr; }, [] {});
  if (!gone) TimedOut(session, action);
  SettleOrTimeOut(session, action, FindWizard(session.target));
  Emit("ANSWERED button=" + button);
}

void DoClick(Session& session, const std::string& action, const std::string& argument) {
  long id = 0;
  if (!ParseNumber(argument, &id)) return Error(session, action, "not a control ID");
  HWND wizard = FindWizard(session.target);
  if (!wizard) return Error(session, action, "no wizard is shown");
  std::string blocker = ClickBlocker(FindControl(wizard, static_cast<int>(id)));
  if (!blocker.empty()) return Error(session, action, blocker);
  PostMessageA(FindControl(wizard, static_cast<int>(id)), BM_CLICK, 0, 0);
  SettleOrTimeOut(session, action, wizard);
  Emit("CLICKED id=" + std::to_string(id));
}

void DoCommand(Session& session, const std::string& action, const std::string& argument) {
  long id = 0;
  if (!ParseNumber(argument, &id)) return Error(session, action, "not a command ID");
  HWND wizard = FindWizard(session.target);
  if (!wizard) return Error(session, action, "no wizard is shown");
  PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  SettleOrTimeOut(session, action, wizard);
  Emit("COMMAND id=" + std::to_string(id));
}

void DoEscape(Session& session, const std::string& action) {
  const int code = VK_ESCAPE;
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(session.threadId, &info);
  HWND target = info.hwndFocus ? info.hwndFocus : info.hwndActive;
  if (!target) target = FindWizard(session.target);
  if (!target) return Error(session, action, "no window has the focus");
  HWND root = GetAncestor(target, GA_ROOT);
  LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(code, MAPVK_VK_TO_VSC)) << 16;
  PostMessageA(target, WM_KEYDOWN, code, scan | 1);
  PostMessageA(target, WM_KEYUP, code, scan | 1 | 0xC0000000);
  SettleOrTimeOut(session, action, root);
  Emit("KEY name=escape");
}

void DoCapture(Session& session, const std::string& action, const std::string& name) {
  if (session.captureDir.empty()) return Error(session, action, "no --capture-dir given");
  // Let the child paint what the last action changed.
  if (HWND wizard = FindWizard(session.target)) Settle(wizard, session.target.process, session.timeoutMs);
  Sleep(300);
  std::string marker = session.captureDir + "\\" + name + ".done";
  Emit("CAPTURE name=" + Quote(name) + " file=" + Quote(marker));
  DWORD start = GetTickCount();
  while (GetFileAttributesW(Wide(marker).c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start >= session.timeoutMs) TimedOut(session, action);
    Sleep(kPollMs);
  }
  Emit("CAPTURED name=" + Quote(name));
}

void DoExit(Session& session, const std::string& action) {
  DWORD start = GetTickCount();
  while (WaitForSingleObject(session.target.process, kPollMs) == WAIT_TIMEOUT) {
    if (HWND box = FindBox(session.target)) {
      Emit(DescribeBox(box, FindWizard(session.target)));
      Abort(session, action, "a message box is open");
    }
    if (GetTickCount() - start >= session.timeoutMs) TimedOut(session, action);
  }
  EmitExit(session);
}

void RunAction(Session& session, const std::string& action) {
  size_t colon = action.find(':');
  std::string verb = action.substr(0, colon);
  std::string argument = colon == std::string::npos ? std::string() : action.substr(colon + 1);
  long number = 0;
  if (verb == "wizard") {
    Emit("WIZARD title=" + Quote([&] {
           char title[1024] = "";
           GetWindowTextA(WaitForWizard(session, action), title, sizeof title);
           return std::string(title);
         }()));
  } else if (verb == "box") {
    HWND box = WaitForBox(session, action);
    Emit(DescribeBox(box, FindWizard(session.target)));
  } else if (verb == "answer") {
    DoAnswer(session, action, argument);
  } else if (verb == "click") {
    DoClick(session, action, argument);
  } else if (verb == "command") {
    DoCommand(session, action, argument);
  } else if (verb == "esc") {
    DoEscape(session, action);
  } else if (verb == "state") {
    HWND wizard = FindWizard(session.target);
    if (!wizard) return Error(session, action, "no wizard is shown");
    for (const std::string& line : DescribeWizard(wizard, session.threadId)) Emit(line);
  } else if (verb == "windows") {
    for (const std::string& line : DescribeAllWindows(session.target)) Emit(line);
  } else if (verb == "nobox" && ParseNumber(argument, &number) && number >= 0) {
    HWND box = WaitFor(
        static_cast<DWORD>(number), [&] { return FindBox(session.target); }, [] {});
    Emit(box ? DescribeBox(box, FindWizard(session.target)) : std::string("NOBOX"));
  } else if (verb == "capture" && !argument.empty()) {
    DoCapture(session, action, argument);
  } else if (verb == "exit") {
    DoExit(session, action);
  } else {
    Error(session, action, "unknown action");
  }
}

int Usage(const std::string& problem) {
  Emit("ERROR action=\"usage\" reason=" + Quote(problem));
  std::fprintf(stderr, "usage: zqdriver --exe PATH [OPTION...] ACTION... (see driver/main.cpp)\n");
  return 2;
}

int Run(int argc, char** argv) {
  World world;
  Session session;
  int index = 1;
  for (; index < argc && std::strncmp(argv[index], "--", 2) == 0; ++index) {
    std::string option = argv[index];
    bool hasValue = index + 1 < argc;
    auto value = [&] { return std::string(argv[++index]); };
    long number = 0;
    if (option == "--appmgr-novalue") {
      world.appPaths = AppPathsMode::NoValue;
    } else if (option == "--appmgr-missing") {
      world.appPaths = AppPathsMode::Missing;
    } else if (!hasValue) {
      return Usage("option " + option + " needs a value");
    } else if (option == "--exe") {
      world.exe = value();
    } else if (option == "--args") {
      world.args = value();
    } else if (option == "--cwd") {
      world.cwd = value();
    } else if (option == "--temp") {
      world.temp = value();
    } else if (option == "--env") {
      world.env.push_back(value());
    } else if (option == "--appmgr") {
      world.appPaths = AppPathsMode::Value;
      world.appPathsValue = value();
    } else if (option == "--capture-dir") {
      session.captureDir = value();
    } else if (option == "--timeout" && ParseNumber(argv[index + 1], &number) && number > 0) {
      session.timeoutMs = static_cast<DWORD>(number);
      ++index;
    } else {
      return Usage("unknown option " + option);
    }
  }
  if (world.exe.empty()) return Usage("no --exe given");

  std::string why;
  if (!ApplyAppPaths(world, &why) || !ApplyEnvironment(world, &why)) return Usage(why);
  PROCESS_INFORMATION process = {};
  if (!StartSetup(world, &process, &why)) {
    Emit("ERROR action=\"start\" reason=" + Quote(why));
    Emit("DONE errors=1");
    return 1;
  }
  CloseHandle(process.hThread);
  session.target.process = process.hProcess;
  session.target.processId = process.dwProcessId;
  session.threadId = process.dwThreadId;

  try {
    for (; index < argc; ++index) RunAction(session, argv[index]);
  } catch (const Stop&) {
  }
  if (!ProcessEnded(session.target)) {
    TerminateProcess(session.target.process, kKilledExitCode);
    WaitForSingleObject(session.target.process, 5000);
  }
  CloseHandle(session.target.process);
  Emit("DONE errors=" + std::to_string(session.errors));
  return session.errors ? 1 : 0;
}

}  // namespace
}  // namespace zqdriver

// The arguments as UTF-8 from the wide command line: the ANSI ones would
// carry '?' for every character of a path that the code page lacks.
int main() {
  int argc = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Utf8(wide[i]));
  LocalFree(wide);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  if (argc > 1 && std::strcmp(argv[1], "--bench") == 0) return zqdriver::RunBench(argc - 2, argv.data() + 2);
  return zqdriver::Run(argc, argv.data());
}
