// What the tests share: a fresh folder per test inside the build tree,
// fixture-built files written into it, and zqpack run as a child process.
// The host tests and the Wine rig both use it.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixture.h"
#include "tools/common/helpers.h"
#include "world.h"

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

// Runs out/zqpack with args in this environment, TMPDIR (its scratch files)
// set to `scratch`, which is made.
zqworld::ProgramResult RunZqpackIn(const std::vector<std::string>& args, const std::string& scratch,
                                   std::vector<std::string> env);

zqfixture::SetupRecipe SampleRecipe();  // the sample setup (zqfixture::SampleEntries)

// A fresh folder for one test under the build tree, emptied when made.
class TestFolder {
 public:
  // <build>/tests/host/tmp/<Suite>.<Test>, removed at the end when the test
  // passed.  Files of a test go below work().
  TestFolder();
  // <base>/<name> ('/' and ' ' made '_') with an empty Temp(), kept
  // afterwards for a look.
  TestFolder(const std::filesystem::path& base, const std::string& name);
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path Temp() const { return root_ / "temp"; }  // a setup's TMP/TEMP
  std::filesystem::path AppMgrLog() const { return root_ / "appmgr.log"; }
  // A folder below Root(), created with its parents ("Program Files/App Mgr").
  std::filesystem::path Make(const std::string& relative) const;

  std::string work() const { return (root_ / "work").string(); }
  std::string Path(const std::string& name) const { return work() + "/" + name; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;  // returns the path
  void WriteSample() const;                                                             // the sample's five files
  std::string WriteSetup(const zqfixture::SetupRecipe& r) const { return Write("setup.exe", zqfixture::BuildSetup(r)); }
  std::string Stub() const { return Write("stub.exe", zqfixture::FillerProgram()); }
  // Runs zqpack with args; its scratch files (TMPDIR) go beside work().
  RunResult Run(const std::vector<std::string>& args) const;

 private:
  std::filesystem::path root_;
  bool removeWhenPassed_ = false;
};

// "Suite.Test" of the running test.
std::string CurrentTestName();

using zq::ReadFile;
using zqfixture::FilesBelow;
void WriteText(const std::string& path, const std::string& text);
