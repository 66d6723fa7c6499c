// zqpack's command line: a wrong one is answered with exactly one line and
// exit code 2, a file that cannot be read or written with one line naming it
// and exit code 1, and neither leaves a file behind; --help works for the
// tool and every command.
#include <gtest/gtest.h>

#include <filesystem>

#include "support.h"

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

TEST(CommandLine, WrongCommandLinesExitWithTwoAndOneLine) {
  TestFolder dir;
  const std::string in = dir.Write("in.txt", zqfixture::Bytes("x")), out = dir.Path("out.exe");
  const std::vector<Args> wrong = {
      {},
      {"frobnicate"},
      {"build"},
      {"build", in},
      {"build", "-o", out},
      {"build", "-o"},
      {"build", "-o", out, "--level", "10", in},
      {"build", "-o", out, "--level", "x", in},
      {"build", "-o", out, "--level", "-1", in},
      {"build", "-o", out, "--level", "9", "--best", in},
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
  for (const Args& args : wrong) {
    const RunResult run = dir.Run(args);
    EXPECT_TRUE(FailedWithOneLine(run, 2));
    EXPECT_EQ(run.out, "") << Describe(run);
  }
  EXPECT_EQ(FilesBelow(dir.work()), Args({"in.txt"})) << "nothing written";
}

TEST(CommandLine, HelpForTheToolAndEachCommand) {
  TestFolder dir;
  for (const Args& args : std::vector<Args>{{"--help"},
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
  const std::string missing = dir.Path("missing.exe"), out = dir.Path("out.exe");
  const std::string in = dir.Write("in.txt", zqfixture::Bytes("x")),
                    stub = dir.Write("stub.exe", zqfixture::FillerStub());
  const struct {
    Args args;
    Args mentions;
  } rows[] = {
      {{"verify", missing}, {missing}},
      {{"list", missing}, {missing}},
      {{"extract", missing, "-C", dir.Path("out")}, {missing}},
      {{"check", dir.Path("missing.ini")}, {dir.Path("missing.ini")}},
      {{"build", "-o", out, "--stub", missing, dir.Path("missing.ini")}, {dir.Path("missing.ini")}},
      {{"build", "-o", out, "--stub", dir.work(), missing}, {dir.work()}},
      {{"build", "-o", out, "--stub", stub, in, missing}, {missing}},
      // A program proper of any other size than 32768 bytes.
      {{"build", "-o", out, "--stub", dir.Write("short.exe", std::vector<uint8_t>(32767, 0x90)), in},
       {"short.exe", "32768"}},
      {{"build", "-o", out, "--stub", dir.Write("long.exe", std::vector<uint8_t>(32769, 0x90)), in},
       {"long.exe", "32768"}},
      {{"build", "-o", out, "--stub", dir.Write("empty.exe", {}), in}, {"empty.exe", "32768"}},
  };
  const Args before = FilesBelow(dir.work());
  for (const auto& row : rows) EXPECT_TRUE(FailedWithOneLine(dir.Run(row.args), 1, row.mentions));
  EXPECT_EQ(FilesBelow(dir.work()), before) << "no output, no folder, no temporary file";
}

TEST(CommandLine, FullDiskLeavesTheOldSetupAndNoTemporaryFile) {
  // A 1 MB tmpfs as the output's folder, a setup of about 3 MB.
  TestFolder dir;
  const std::string full = dir.Path("full");
  fs::create_directory(full);
  if (system(("mount -t tmpfs -o size=1m tmpfs '" + full + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  struct Unmount {
    std::string dir;
    ~Unmount() { (void)system(("umount '" + dir + "'").c_str()); }
  } unmount{full};
  WriteText(full + "/setup.exe", "old");
  EXPECT_TRUE(
      FailedWithOneLine(dir.Run({"-q", "build", "--stub", dir.Write("stub.exe", zqfixture::FillerStub()), "-o",
                                 full + "/setup.exe", dir.Write("random.bin", zqfixture::RandomBytes(3 << 20, 9))}),
                        1, {"setup.exe"}));
  EXPECT_EQ(ReadText(full + "/setup.exe"), "old");
  EXPECT_EQ(FilesBelow(full), Args({"setup.exe"}));
}

TEST(CommandLine, DefaultProgramProperIsTheBuiltOne) {
  TestFolder dir;
  if (dir.Run({"--version"}).out.find("program proper i686: built in") == std::string::npos)
    GTEST_SKIP() << "zqpack was built before out/zqstub-i686.exe existed";
  dir.WriteSample();
  const RunResult run = dir.Run({"build", dir.Path("Setup.ini"), "-o", dir.Path("setup.exe")});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.err.find("program proper for i686: built into zqpack"), std::string::npos) << Describe(run);
  EXPECT_EQ(dir.Run({"verify", dir.Path("setup.exe")}).exitCode, 0);
  const std::vector<uint8_t> setup = zqfixture::ReadFileBytes(dir.Path("setup.exe"));
  const std::string stubPath = fs::path(ZQPACK_BINARY).parent_path().string() + "/zqstub-i686.exe";
  const std::vector<uint8_t> stub = zqfixture::ReadFileBytes(stubPath);
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), setup.begin()))
      << "the setup begins with " << stubPath << " (rebuild zqpack after the program proper changed)";
}
