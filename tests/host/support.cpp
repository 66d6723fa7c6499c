#include "support.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

zqworld::ProgramResult RunZqpackIn(const std::vector<std::string>& args, const std::string& scratch,
                                   std::vector<std::string> env) {
  fs::create_directories(scratch);
  std::vector<std::string> argv = {ZQPACK_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  env.push_back("TMPDIR=" + scratch);
  return zqworld::Run(argv, env, 600);
}

RunResult TestFolder::Run(const std::vector<std::string>& args) const {
  const zqworld::ProgramResult result = RunZqpackIn(args, (root_ / "scratch").string(), zqworld::BaseEnvironment());
  return RunResult{"zqpack " + zq::Joined(args, " "), result.status, result.out, result.err};
}

std::string Describe(const RunResult& run) {
  return run.command + "\nexited with " + std::to_string(run.exitCode) + "\n--- stdout:\n" + run.out + "--- stderr:\n" +
         run.err;
}

::testing::AssertionResult FailedWithOneLine(const RunResult& run, int exitCode,
                                             const std::vector<std::string>& mentions) {
  bool ok = run.exitCode == exitCode && Lines(run.err).size() == 1;
  for (const std::string& m : mentions) ok = ok && run.err.find(m) != std::string::npos;
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted exit code " << exitCode << " and one line on stderr holding \""
                                       << zq::Joined(mentions, "\", \"") << "\"\n"
                                       << Describe(run);
}

zqfixture::SetupRecipe SampleRecipe() {
  zqfixture::SetupRecipe recipe;
  recipe.entries = zqfixture::SampleEntries();
  return recipe;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(info->test_suite_name()) + "." + info->name();
}

namespace {

// <base>/<name> ('/' and ' ' made '_'), emptied.
fs::path FreshFolder(const fs::path& base, std::string name) {
  for (char& c : name)
    if (c == '/' || c == ' ') c = '_';
  std::error_code ignored;
  fs::remove_all(base / name, ignored);
  return base / name;
}

}  // namespace

TestFolder::TestFolder() : root_(FreshFolder(ZQ_TEST_TEMP, CurrentTestName())), removeWhenPassed_(true) {
  fs::create_directories(work());
}

TestFolder::TestFolder(const fs::path& base, const std::string& name) : root_(FreshFolder(base, name)) {
  fs::create_directories(Temp());
}

TestFolder::~TestFolder() {
  std::error_code ec;
  if (removeWhenPassed_ && !::testing::Test::HasFailure()) fs::remove_all(root_, ec);
}

fs::path TestFolder::Make(const std::string& relative) const {
  fs::create_directories(root_ / relative);
  return root_ / relative;
}

std::string TestFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  fs::create_directories(fs::path(Path(name)).parent_path());
  zqfixture::WriteFileBytes(Path(name), bytes);
  return Path(name);
}

void TestFolder::WriteSample() const {
  for (const zqfixture::Entry& e : zqfixture::SampleEntries()) Write(e.name, e.contents);
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
