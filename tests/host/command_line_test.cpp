// zqpack's command line: a wrong one is answered with exactly one line and
// exit code 2, a file that cannot be read with one line naming it and exit
// code 1; --help works for the tool and every command.
#include <gtest/gtest.h>

#include "fixture.h"
#include "support.h"

namespace {

void ExpectUsageError(const TestFolder& dir, const std::vector<std::string>& args) {
  std::string shown;
  for (const std::string& a : args) shown += " " + a;
  SCOPED_TRACE("zqpack" + shown);
  const RunResult run = dir.Run(args);
  EXPECT_EQ(run.exitCode, 2) << Describe(run);
  EXPECT_EQ(Lines(run.err).size(), 1u) << Describe(run);
  EXPECT_EQ(run.out, "") << Describe(run);
}

}  // namespace

TEST(CommandLine, WrongCommandLinesExitWithTwoAndOneLine) {
  TestFolder dir;
  const std::string in = dir.Path("in.txt");
  WriteText(in, "x");
  const std::string out = dir.Path("out.exe");
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"build"},
      {"build", in},
      {"build", "-o", out},
      {"build", "-o"},
      {"build", "-o", out, "--level", "10", in},
      {"build", "-o", out, "--level", "x", in},
      {"build", "-o", out, "--level", "-1", in},
      {"build", "-o", out, "--arch", "arm64", dir.Path("Setup.ini")},
      {"build", "-o", out, "--arch", "i686", "--stub", in, dir.Path("Setup.ini")},
      {"build", "-o", out, "--force", in},
      {"build", "-o", out, "-o", out, in},
      {"build", "--bogus", "-o", out, in},
      {"check"},
      {"check", "a.ini", "b.ini"},
      {"list"},
      {"verify"},
      {"verify", "a.exe", "b.exe"},
      {"verify", "--quiet=yes", "a.exe"},
      {"extract"},
      {"extract", "a.exe", "-C"},
  };
  for (const std::vector<std::string>& args : wrong) ExpectUsageError(dir, args);
  EXPECT_TRUE(FilesBelow(dir.work()) == std::vector<std::string>({"in.txt"})) << "nothing written";
}

TEST(CommandLine, HelpForTheToolAndEachCommand) {
  TestFolder dir;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--help"},
                                                                                    {"build", "--help"},
                                                                                    {"check", "-h"},
                                                                                    {"list", "--help"},
                                                                                    {"verify", "--help"},
                                                                                    {"extract", "--help"},
                                                                                    {"build", "-o", "x", "--help"}}) {
    const RunResult run = dir.Run(args);
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.out.compare(0, 14, "Usage: zqpack "), 0) << Describe(run);
  }
}

TEST(CommandLine, UnreadableFilesExitWithOneAndNameTheFile) {
  TestFolder dir;
  const std::string missing = dir.Path("missing.exe");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"verify", missing},
           {"list", missing},
           {"extract", missing, "-C", dir.Path("out")},
           {"check", dir.Path("missing.ini")},
           {"build", "-o", dir.Path("out.exe"), "--stub", missing, dir.Path("missing.ini")},
           {"build", "-o", dir.Path("out.exe"), "--stub", dir.work(), missing}}) {
    const RunResult run = dir.Run(args);
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    EXPECT_EQ(Lines(run.err).size(), 1u) << Describe(run);
    EXPECT_NE(run.err.find(dir.work()), std::string::npos) << Describe(run);
  }
  EXPECT_TRUE(FilesBelow(dir.work()).empty()) << "no output, no folder";
}

TEST(CommandLine, DefaultProgramProperIsTheBuiltOne) {
  TestFolder dir;
  const RunResult version = dir.Run({"--version"});
  if (version.out.find("program proper i686: built in") == std::string::npos)
    GTEST_SKIP() << "zqpack was built before out/zqstub-i686.exe existed";
  for (const zqfixture::Entry& e : zqfixture::SampleEntries()) zqfixture::WriteFileBytes(dir.Path(e.name), e.contents);
  const RunResult run = dir.Run({"build", dir.Path("Setup.ini"), "-o", dir.Path("setup.exe")});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.err.find("program proper for i686: built into zqpack"), std::string::npos) << Describe(run);
  EXPECT_EQ(dir.Run({"verify", dir.Path("setup.exe")}).exitCode, 0);
  const std::vector<uint8_t> setup = zqfixture::ReadFileBytes(dir.Path("setup.exe"));
  const std::string stubPath =
      std::string(ZQPACK_BINARY).substr(0, std::string(ZQPACK_BINARY).rfind('/')) + "/zqstub-i686.exe";
  const std::vector<uint8_t> stub = zqfixture::ReadFileBytes(stubPath);
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), setup.begin()))
      << "the setup begins with " << stubPath << " (rebuild zqpack after the program proper changed)";
}
