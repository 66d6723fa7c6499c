// The benchmark's mode of the driver: runs the programs of one benchmark
// group in rounds and times each run from just before CreateProcess to the
// moment it is done (bench/run.sh).
//
//   zqdriver.exe --bench JOBFILE ROUNDS WARMUP [APPMGR]
//
// JOBFILE holds one job per line, six fields separated by tabs ("-" for an
// empty field):
//   NAME  MODE  EXE  ARGS  TEMPDIR  CLEANDIR
// MODE "wizard": done when the setup's wizard is shown.  The setup's memory
//   and CPU time are read at that moment; then the run is cancelled as a user
//   would (Cancel, then Yes in the question box) and the driver waits for the
//   end.
// MODE "exit": done when the child ends with exit code 0 (NSIS /S, the floor).
// ARGS follow the quoted EXE on the child's command line.  TEMPDIR becomes
// TMP and TEMP in the child's environment.  CLEANDIR is emptied after every
// run, untimed.  APPMGR, when given, becomes the App Paths value that the
// setup looks up before it extracts.
//
// Every round runs every job once, in file order (reversed in even rounds),
// so that the jobs of a group see the same machine state.  WARMUP rounds run
// first and are not reported.  One line per run on stdout, tab-separated:
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
// stopped; that search is not counted in ms.  The wizard is awaited with
// WaitForInputIdle, which Wine signals when the setup's thread first waits
// for input: the wizard's modal loop, since nothing before it reads
// messages.  So the driver does not poll, and uses no CPU or wineserver time
// while the setup extracts.
#include "driver.h"
// driver.h brings windows.h, which psapi.h needs first.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zqdriver {
namespace {

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

bool ReadJobs(const char* path, std::vector<Job>* jobs) {
  FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  bool ok = true;
  for (char buffer[4096]; ok && std::fgets(buffer, sizeof buffer, file);) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    for (size_t start = 0, tab = 0; tab != std::string::npos; start = tab + 1) {
      tab = line.find('\t', start);
      f.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
      if (f.back() == "-") f.back().clear();
    }
    ok = f.size() == 6 && (f[1] == "wizard" || f[1] == "exit");
    if (ok)
      jobs->push_back(Job{f[0], f[1], f[2], f[3], f[4], f[5]});
    else
      std::fprintf(stderr, "zqdriver: bad job line: %s\n", line.c_str());
  }
  std::fclose(file);
  return ok;
}

// The driver's environment with TMP and TEMP replaced, as a block for
// CreateProcessA.
std::vector<char> EnvironmentWithTemp(const std::string& tempDir) {
  std::vector<char> block;
  char* strings = GetEnvironmentStringsA();
  for (const char* p = strings; *p; p += std::strlen(p) + 1) {
    if (!tempDir.empty() && (_strnicmp(p, "TMP=", 4) == 0 || _strnicmp(p, "TEMP=", 5) == 0)) continue;
    block.insert(block.end(), p, p + std::strlen(p) + 1);
  }
  FreeEnvironmentStringsA(strings);
  for (const char* name : {"TMP=", "TEMP="}) {
    if (tempDir.empty()) break;
    const std::string var = name + tempDir;
    block.insert(block.end(), var.c_str(), var.c_str() + var.size() + 1);
  }
  block.push_back('\0');
  return block;
}

// --- the setup as Linux sees it -------------------------------------------------
// Wine runs each Windows process as one Linux process, whose /proc files
// are readable through the Z: drive.

std::string ReadSmallFile(const std::string& path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

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
    const int pid = name[0] >= '0' && name[0] <= '9' ? std::atoi(name) : 0;
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
  return at == std::string::npos ? -1 : std::atoll(status.c_str() + at + std::strlen(field)) * 1024;
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

// A message box of the setup that asks a question (it has Yes).
HWND FindQuestion(const Target& target) {
  HWND box = FindBox(target);
  return box && GetDlgItem(box, IDYES) ? box : nullptr;
}

// Until the wizard shows; then the figures, then Cancel and Yes.
bool RunToWizard(const Target& target, int linuxPid, double start, Result* result) {
  HWND wizard = nullptr;
  for (;;) {
    const double left = kRunTimeoutMs - (NowMs() - start);
    if (left <= 0) return Fail(result, target.process, "no wizard within the time limit");
    // Returns at once once the setup has been idle before; then this polls.
    const DWORD idle = WaitForInputIdle(target.process, static_cast<DWORD>(left));
    if ((wizard = FindWizard(target)) != nullptr) break;
    if (HWND box = FindBox(target))
      return Fail(result, target.process, "a message box instead of the wizard: " + DescribeBox(box, nullptr));
    if (WaitForSingleObject(target.process, idle == WAIT_FAILED ? kPollMs : 0) == WAIT_OBJECT_0)
      return Fail(result, target.process, "the setup ended without showing the wizard");
    Sleep(kPollMs);
  }
  result->ms = NowMs() - start;

  PROCESS_MEMORY_COUNTERS counters;
  if (GetProcessMemoryInfo(target.process, &counters, sizeof counters))
    result->peakWorkingSet = static_cast<long long>(counters.PeakWorkingSetSize);
  if (linuxPid != 0) {
    const std::string status = ReadSmallFile("Z:\\proc\\" + std::to_string(linuxPid) + "\\status");
    result->vmHwm = StatusBytes(status, "VmHWM:");
    result->rssAnon = StatusBytes(status, "RssAnon:");
    CpuWatch(linuxPid).Sample(result);
  }

  // Posted, not sent: the Cancel opens a modal box, and a sent message would
  // wait until it closes.
  PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(kCancelControlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(wizard, kCancelControlId)));
  const double asked = NowMs();
  HWND question = nullptr;
  while ((question = FindQuestion(target)) == nullptr) {
    if (WaitForSingleObject(target.process, 5) == WAIT_OBJECT_0 || NowMs() - asked > kCancelTimeoutMs)
      return Fail(result, target.process, "no question box after Cancel");
  }
  PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
  if (WaitForSingleObject(target.process, kCancelTimeoutMs) != WAIT_OBJECT_0)
    return Fail(result, target.process, "the setup did not end after Cancel");
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
  if (code != 0) result->reason = "exit code " + std::to_string(code);
  return code == 0;
}

Result RunJob(const Job& job) {
  Result result;
  std::string commandLine = "\"" + job.exe + "\"";
  if (!job.args.empty()) commandLine += " " + job.args;
  std::vector<char> line(commandLine.c_str(), commandLine.c_str() + commandLine.size() + 1);
  std::vector<char> environment = EnvironmentWithTemp(job.tempDir);
  STARTUPINFOA startup = {};
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
  const Target target{info.dwProcessId, info.hProcess};
  result.ok = job.mode == "wizard" ? RunToWizard(target, linuxPid, start, &result)
                                   : RunToExit(info.hProcess, linuxPid, start, &result);
  CloseHandle(info.hProcess);
  if (!job.cleanDir.empty()) EmptyFolder(job.cleanDir);
  return result;
}

}  // namespace

int RunBench(int argc, char** argv) {
  std::vector<Job> jobs;
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: zqdriver --bench JOBFILE ROUNDS WARMUP [APPMGR]\n");
    return 2;
  }
  if (!ReadJobs(argv[0], &jobs) || jobs.empty()) {
    std::fprintf(stderr, "zqdriver: no usable jobs in %s\n", argv[0]);
    return 2;
  }
  World world;
  world.appPaths = argc == 4 ? AppPathsMode::Value : AppPathsMode::Keep;
  world.appPathsValue = argc == 4 ? argv[3] : "";
  std::string why;
  if (!ApplyAppPaths(world, &why)) {
    std::fprintf(stderr, "zqdriver: %s\n", why.c_str());
    return 2;
  }
  const int rounds = std::atoi(argv[1]), warmup = std::atoi(argv[2]);
  int failures = 0;
  for (int round = 1 - warmup; round <= rounds; ++round) {
    // Every other round runs the jobs in reverse order, so that what drifts
    // within a round (the disk writing back, the rest of the machine) falls
    // on every job alike.
    std::vector<Job> order(jobs);
    if (round % 2 == 0) std::reverse(order.begin(), order.end());
    for (const Job& job : order) {
      const Result r = RunJob(job);
      char line[512];
      if (!r.ok) {
        ++failures;
        Emit("FAIL\t" + job.name + "\t" + std::to_string(round) + "\t" + r.reason);
      } else if (round >= 1) {
        std::snprintf(line, sizeof line, "RUN\t%s\t%d\t%.1f\t%.1f\t%.1f\t%lld\t%lld\t%lld", job.name.c_str(), round,
                      r.ms, r.cpuMs, r.runqMs, r.peakWorkingSet, r.vmHwm, r.rssAnon);
        Emit(line);
      }
      Sleep(kSettleMs);
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace zqdriver
