// What the host tests share: a fresh folder per test inside the build tree,
// fixture-built files written into it, and zqpack run as a child process.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fixture.h"
#include "helpers.h"

struct RunResult {
  std::string command;  // "zqpack ARGS..."
  int exitCode = -1;
  std::string out, err;
};

// The command, its exit code and both outputs, for failure messages.
std::string Describe(const RunResult& run);
std::vector<std::string> Lines(const std::string& text);

// The run ended with exitCode and one line on stderr holding each of mentions.
::testing::AssertionResult FailedWithOneLine(const RunResult& run, int exitCode,
                                             const std::vector<std::string>& mentions = {});

zqfixture::SetupRecipe SampleRecipe();  // the sample setup (zqfixture::SampleEntries)

// <build>/tests/host/tmp/<Suite>.<Test>, empty at the start, removed at the
// end when the test passed.  Files of a test go below work().
class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  std::string work() const { return root_ + "/work"; }
  std::string Path(const std::string& name) const { return work() + "/" + name; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;  // returns the path
  void WriteSample() const;                                                             // the sample's five files
  std::string WriteSetup(const zqfixture::SetupRecipe& r) const;                        // work()/setup.exe
  std::string Stub() const { return Write("stub.exe", zqfixture::FillerStub()); }
  // Runs zqpack with args; its scratch files (TMPDIR) go beside work().
  RunResult Run(const std::vector<std::string>& args) const;

 private:
  std::string root_;
};

using zq::ReadFile;
using zqfixture::FilesBelow;
void WriteText(const std::string& path, const std::string& text);
