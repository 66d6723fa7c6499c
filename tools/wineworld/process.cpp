// Child processes of the Wine world: started with pipes, read line by line,
// ended at their time limit or on a signal (see world.h).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tools/common/helpers.h"
#include "world.h"

extern char** environ;

namespace zqworld {
namespace {

using Clock = std::chrono::steady_clock;
using zq::SecondsSince;
using zq::StartsWith;

std::atomic<int> gSignal{0};

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
}  // namespace zqworld
