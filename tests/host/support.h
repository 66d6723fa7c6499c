// What the host tests share: a fresh folder per test inside the build tree,
// and zqpack run as a child process with everything it printed.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs out/zqpack with args; its scratch files (TMPDIR) go to scratchDir.
RunResult RunZqpack(const std::vector<std::string>& args, const std::string& scratchDir);

// For failure messages: the command's exit code and both outputs.
std::string Describe(const RunResult& run);

std::vector<std::string> Lines(const std::string& text);

// <build>/tests/host/tmp/<Suite>.<Test>, empty at the start of the test and
// removed at its end when it passed.  Files of a test go below work().
class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& root() const { return root_; }
  std::string work() const { return root_ + "/work"; }
  std::string Path(const std::string& name) const { return work() + "/" + name; }

  RunResult Run(const std::vector<std::string>& args) const { return RunZqpack(args, root_ + "/scratch"); }

 private:
  std::string root_;
};

// Every file below dir, as paths relative to it, sorted.
std::vector<std::string> FilesBelow(const std::string& dir);
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
