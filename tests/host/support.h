// What the host tests share: a fresh folder per test inside the build tree,
// the sample's files and fixture-built setups written into it, and zqpack
// run as a child process with everything it printed.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fixture.h"

struct RunResult {
  std::string command;  // "zqpack ARGS..."
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs out/zqpack with args; its scratch files (TMPDIR) go to scratchDir.
RunResult RunZqpack(const std::vector<std::string>& args, const std::string& scratchDir);

// For failure messages: the command, its exit code and both outputs.
std::string Describe(const RunResult& run);

std::vector<std::string> Lines(const std::string& text);

// The run ended with exitCode and wrote exactly one line to stderr, holding
// each of mentions.
::testing::AssertionResult FailedWithOneLine(const RunResult& run, int exitCode,
                                             const std::vector<std::string>& mentions = {});

// A recipe of the sample setup (zqfixture::SampleEntries).
zqfixture::SetupRecipe SampleRecipe();

// <build>/tests/host/tmp/<Suite>.<Test>, empty at the start of the test and
// removed at its end when it passed.  Files of a test go below work().
class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  std::string work() const { return root_ + "/work"; }
  std::string Path(const std::string& name) const { return work() + "/" + name; }
  // Writes work()/name and returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  void WriteSample() const;                                       // the sample's five files
  std::string WriteSetup(const zqfixture::SetupRecipe& r) const;  // work()/setup.exe

  RunResult Run(const std::vector<std::string>& args) const { return RunZqpack(args, root_ + "/scratch"); }

 private:
  std::string root_;
};

using zqfixture::FilesBelow;
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
