// zqbench-launch: runs the programs of one benchmark group in rounds and
// times each run from just before CreateProcess to the moment it is done.
//
//   zqbench-launch.exe JOBFILE ROUNDS [WARMUP]
//
// JOBFILE holds one job per line, six fields separated by tabs ("-" for an
// empty field):
//   NAME  MODE  EXE  ARGS  TEMPDIR  CLEANDIR
// MODE "wizard": done when the setup's wizard (a visible top-level window of
//   the child holding control 1000) is shown.  The setup's memory and CPU
//   time are read at that moment; then the run is cancelled as a user would
//   (Cancel, then Yes in the question box) and the launcher waits for the end.
// MODE "exit": done when the child ends with exit code 0 (NSIS /S, the floor).
// ARGS follow the quoted EXE on the child's command line.  TEMPDIR becomes
// TMP and TEMP in the child's environment.  CLEANDIR is emptied after every
// run, untimed.
//
// Every round runs every job once, in file order (reversed in even rounds),
// so that the jobs of a group see the same machine state.  WARMUP rounds (default 1) run first and
// are not reported.  One line per run on stdout, tab-separated:
//   RUN name round ms cpu_ms runq_ms peak_ws vm_hwm rss_anon
// ms       wall time to the wizard or to the exit
// cpu_ms   CPU time of the child's threads until then, and
// runq_ms  their time spent runnable but waiting for a CPU (Linux
//          /proc/<pid>/task/*/schedstat; a busy machine shows in runq_ms).
//          Read at the wizard; for "exit" jobs sampled every 5 ms, so the
//          last few milliseconds before the exit are missing.
// peak_ws  PeakWorkingSetSize from GetProcessMemoryInfo at the wizard
// vm_hwm   VmHWM of Linux /proc/<pid>/status right after: the kernel's
//          peak resident set of the process
// rss_anon RssAnon of the same file: private memory resident at the wizard
// (-1 where not measured: "exit" jobs have no memory figures).  A run that
// goes wrong prints: FAIL name round reason.
//
// The child is created suspended and its Linux process found while it is
// stopped; that search is not counted in ms.
//
// The wizard is awaited with WaitForInputIdle, which Wine signals when the
// setup's thread first waits for input: the wizard's modal loop, since
// nothing before it reads messages.  So the launcher does not poll, and uses
// no CPU or wineserver time while the setup extracts.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kWizardControlId = 1000;  // Next: only the wizard has it
const int kCancelControlId = 1001;
const DWORD kRunTimeoutMs = 600000;
const DWORD kCancelTimeoutMs = 60000;
const DWORD kPollMs = 2;
const DWORD kSampleMs = 5;
const DWORD kSettleMs = 300;  // between runs: the wineserver and the disk calm down

struct Job {
  std::string name, mode, exe, args, tempDir, cleanDir;
};

struct Result {
  bool ok = false;
  std::string reason;
  double ms = 0;
  double cpuMs = -1, runqMs = -1;
  long long peakWorkingSet = -1, vmHwm = -1, rssAnon = -1;
};

double NowMs() {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

bool ReadJobs(const char* path, std::vector<Job>* jobs) {
  FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  bool ok = true;
  char buffer[4096];
  while (ok && std::fgets(buffer, sizeof buffer, file)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = SplitTabs(line);
    for (std::string& field : f)
      if (field == "-") field.clear();
    if (f.size() != 6 || (f[1] != "wizard" && f[1] != "exit")) {
      std::fprintf(stderr, "zqbench-launch: bad job line: %s\n", line.c_str());
      ok = false;
    } else {
      jobs->push_back(Job{f[0], f[1], f[2], f[3], f[4], f[5]});
    }
  }
  std::fclose(file);
  return ok;
}

// The launcher's environment with TMP and TEMP replaced, as a block for
// CreateProcessA.
std::vector<char> EnvironmentWithTemp(const std::string& tempDir) {
  std::vector<char> block;
  char* strings = GetEnvironmentStringsA();
  for (const char* p = strings; *p; p += std::strlen(p) + 1) {
    if (!tempDir.empty() && (_strnicmp(p, "TMP=", 4) == 0 || _strnicmp(p, "TEMP=", 5) == 0)) continue;
    block.insert(block.end(), p, p + std::strlen(p) + 1);
  }
  FreeEnvironmentStringsA(strings);
  if (!tempDir.empty()) {
    for (const char* name : {"TMP=", "TEMP="}) {
      const std::string var = name + tempDir;
      block.insert(block.end(), var.begin(), var.end());
      block.push_back('\0');
    }
  }
  block.push_back('\0');
  return block;
}

// --- the setup as Linux sees it -------------------------------------------------
// Wine runs each Windows process as one Linux process, whose /proc files
// are readable through the Z: drive.

std::string ReadSmallFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The Linux pid of the newest process whose command line starts with a
// program of `exe`'s file name (Wine sets it to the Windows path), or 0.
int FindLinuxPid(const std::string& exe) {
  const std::string base = BaseName(exe);
  int found = 0;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const char* name = entry.cFileName;
    if (name[0] < '0' || name[0] > '9') continue;
    const int pid = std::atoi(name);
    if (pid <= found) continue;
    const std::string cmdline = ReadSmallFile(std::string("Z:\\proc\\") + name + "\\cmdline");
    if (_stricmp(BaseName(cmdline.substr(0, cmdline.find('\0'))).c_str(), base.c_str()) == 0) found = pid;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

// A "Name:  N kB" field of /proc/<pid>/status in bytes, or -1.
long long StatusBytes(const std::string& status, const char* field) {
  const size_t at = status.find(field);
  if (at == std::string::npos) return -1;
  return std::atoll(status.c_str() + at + std::strlen(field)) * 1024;
}

// The CPU time of a Linux process: the sum of its threads' schedstat
// (nanoseconds on a CPU, nanoseconds waiting for one, slices).  The files
// stay open and are read again from their start, so that a sample asks the
// wineserver nothing and disturbs the program it watches as little as it
// can; the thread list is read again now and then.
class CpuWatch {
 public:
  explicit CpuWatch(int pid) : pid_(pid) {}
  ~CpuWatch() { CloseTasks(); }
  CpuWatch(const CpuWatch&) = delete;
  CpuWatch& operator=(const CpuWatch&) = delete;

  // Updates cpuMs and runqMs; they never go down (a thread that ended
  // takes its time with it).
  void Sample(Result* result) {
    if (pid_ == 0) return;
    if (samples_++ % kRefreshEvery == 0) OpenTasks();
    double cpuNs = 0, waitNs = 0;
    for (HANDLE task : tasks_) {
      char text[128];
      DWORD got = 0;
      SetFilePointer(task, 0, nullptr, FILE_BEGIN);
      if (!ReadFile(task, text, sizeof text - 1, &got, nullptr)) continue;
      text[got] = '\0';
      char* end = nullptr;
      cpuNs += std::strtod(text, &end);
      waitNs += std::strtod(end, nullptr);
    }
    result->cpuMs = std::max(result->cpuMs, cpuNs / 1e6);
    result->runqMs = std::max(result->runqMs, waitNs / 1e6);
  }

 private:
  static const int kRefreshEvery = 20;

  void OpenTasks() {
    CloseTasks();
    const std::string dir = "Z:\\proc\\" + std::to_string(pid_) + "\\task\\";
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      if (entry.cFileName[0] < '0' || entry.cFileName[0] > '9') continue;
      HANDLE task = CreateFileA((dir + entry.cFileName + "\\schedstat").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
      if (task != INVALID_HANDLE_VALUE) tasks_.push_back(task);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }

  void CloseTasks() {
    for (HANDLE task : tasks_) CloseHandle(task);
    tasks_.clear();
  }

  int pid_;
  int samples_ = 0;
  std::vector<HANDLE> tasks_;
};

void ReadMemory(int pid, Result* result) {
  const std::string status = ReadSmallFile("Z:\\proc\\" + std::to_string(pid) + "\\status");
  result->vmHwm = StatusBytes(status, "VmHWM:");
  result->rssAnon = StatusBytes(status, "RssAnon:");
}

// --- windows of the setup -------------------------------------------------------

enum WindowKind { kWizard, kQuestion, kErrorBox, kOther };

// The wizard holds control 1000; the Cancel question is a box with Yes; an
// error box has OK.  The progress window has none of them.
WindowKind KindOf(HWND window) {
  if (GetDlgItem(window, kWizardControlId)) return kWizard;
  if (GetDlgItem(window, IDYES)) return kQuestion;
  if (GetDlgItem(window, IDOK)) return kErrorBox;
  return kOther;
}

struct WindowSearch {
  DWORD pid;
  WindowKind kind;
  HWND found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM param) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || !IsWindowVisible(window) || KindOf(window) != search->kind) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindSetupWindow(DWORD pid, WindowKind kind) {
  WindowSearch search = {pid, kind, nullptr};
  EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string BoxText(HWND box) {
  char text[512] = "";
  HWND child = nullptr;
  while ((child = FindWindowExA(box, child, "Static", nullptr)) != nullptr) {
    GetWindowTextA(child, text, sizeof text);
    if (text[0]) break;
  }
  return text;
}

// --- one run ----------------------------------------------------------------------

void EmptyFolder(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      EmptyFolder(path);
      RemoveDirectoryA(path.c_str());
    } else {
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

bool Fail(Result* result, HANDLE process, const std::string& reason) {
  result->reason = reason;
  TerminateProcess(process, 0xDEAD);
  WaitForSingleObject(process, 5000);
  return false;
}

// Until the wizard shows; then the figures, then Cancel and Yes.
bool RunToWizard(HANDLE process, DWORD pid, int linuxPid, double start, Result* result) {
  HWND wizard = nullptr;
  for (;;) {
    const double left = kRunTimeoutMs - (NowMs() - start);
    if (left <= 0) return Fail(result, process, "no wizard within the time limit");
    // Returns at once once the setup has been idle before; then this polls.
    const DWORD idle = WaitForInputIdle(process, static_cast<DWORD>(left));
    if ((wizard = FindSetupWindow(pid, kWizard)) != nullptr) break;
    if (HWND box = FindSetupWindow(pid, kErrorBox))
      return Fail(result, process, "a message box instead of the wizard: " + BoxText(box));
    if (WaitForSingleObject(process, idle == WAIT_FAILED ? kPollMs : 0) == WAIT_OBJECT_0)
      return Fail(result, process, "the setup ended without showing the wizard");
    Sleep(kPollMs);
  }
  result->ms = NowMs() - start;

  PROCESS_MEMORY_COUNTERS counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters))
    result->peakWorkingSet = static_cast<long long>(counters.PeakWorkingSetSize);
  if (linuxPid != 0) {
    ReadMemory(linuxPid, result);
    CpuWatch(linuxPid).Sample(result);
  }

  // Posted, not sent: the Cancel opens a modal box, and a sent message would
  // wait until it closes.
  PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(kCancelControlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(wizard, kCancelControlId)));
  const double asked = NowMs();
  HWND question = nullptr;
  while ((question = FindSetupWindow(pid, kQuestion)) == nullptr) {
    if (WaitForSingleObject(process, 5) == WAIT_OBJECT_0 || NowMs() - asked > kCancelTimeoutMs)
      return Fail(result, process, "no question box after Cancel");
  }
  PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
  if (WaitForSingleObject(process, kCancelTimeoutMs) != WAIT_OBJECT_0)
    return Fail(result, process, "the setup did not end after Cancel");
  return true;
}

bool RunToExit(HANDLE process, int linuxPid, double start, Result* result) {
  CpuWatch watch(linuxPid);
  while (WaitForSingleObject(process, kSampleMs) != WAIT_OBJECT_0) {
    if (NowMs() - start > kRunTimeoutMs) return Fail(result, process, "the program did not end within the time limit");
    watch.Sample(result);
  }
  result->ms = NowMs() - start;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  if (code != 0) {
    result->reason = "exit code " + std::to_string(code);
    return false;
  }
  return true;
}

Result RunJob(const Job& job) {
  Result result;
  std::string commandLine = "\"" + job.exe + "\"";
  if (!job.args.empty()) commandLine += " " + job.args;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  std::vector<char> environment = EnvironmentWithTemp(job.tempDir);
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  const double created = NowMs();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, environment.data(), nullptr,
                      &startup, &info)) {
    result.reason = "CreateProcess failed with error " + std::to_string(GetLastError());
    return result;
  }
  const double creating = NowMs() - created;
  const int linuxPid = FindLinuxPid(job.exe);
  // The clock runs as if the search had not happened.
  const double start = NowMs() - creating;
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  result.ok = job.mode == "wizard" ? RunToWizard(info.hProcess, info.dwProcessId, linuxPid, start, &result)
                                   : RunToExit(info.hProcess, linuxPid, start, &result);
  CloseHandle(info.hProcess);
  if (!job.cleanDir.empty()) EmptyFolder(job.cleanDir);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zqbench-launch JOBFILE ROUNDS [WARMUP]\n");
    return 2;
  }
  std::vector<Job> jobs;
  if (!ReadJobs(argv[1], &jobs) || jobs.empty()) {
    std::fprintf(stderr, "zqbench-launch: no usable jobs in %s\n", argv[1]);
    return 2;
  }
  const int rounds = std::atoi(argv[2]);
  const int warmup = argc > 3 ? std::atoi(argv[3]) : 1;
  int failures = 0;
  for (int round = 1 - warmup; round <= rounds; ++round) {
    // Every other round runs the jobs in reverse order, so that what drifts
    // within a round (the disk writing back, the rest of the machine) falls
    // on every job alike.
    std::vector<Job> order(jobs);
    if (round % 2 == 0) std::reverse(order.begin(), order.end());
    for (const Job& job : order) {
      const Result r = RunJob(job);
      if (!r.ok) {
        ++failures;
        std::printf("FAIL\t%s\t%d\t%s\n", job.name.c_str(), round, r.reason.c_str());
      } else if (round >= 1) {
        std::printf("RUN\t%s\t%d\t%.1f\t%.1f\t%.1f\t%lld\t%lld\t%lld\n", job.name.c_str(), round, r.ms, r.cpuMs,
                    r.runqMs, r.peakWorkingSet, r.vmHwm, r.rssAnon);
      }
      std::fflush(stdout);
      Sleep(kSettleMs);
    }
  }
  return failures == 0 ? 0 : 1;
}
