// zqpack's command line: a wrong one is answered with one line and exit code
// 2, a file that cannot be read, packed or written with one line naming it
// and exit code 1, and neither leaves a file behind; --help works for every command.
#include <gtest/gtest.h>

#include <filesystem>

#include "support.h"

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

TEST(CommandLine, WrongCommandLinesExitWithTwoAndOneLineAndHelpWithZero) {
  TestFolder dir;
  const std::string in = dir.Write("in.txt", zqfixture::Bytes("x")), out = dir.Path("out.exe");
  for (const Args& args : std::vector<Args>{{},
                                            {"frobnicate"},
                                            {"build", in},
                                            {"build", "-o", out},
                                            {"build", "-o", out, "--level", "10", in},
                                            {"build", "-o", out, "--level", "x", in},
                                            {"build", "-o", out, "--level", "9", "--best", in},
                                            {"build", "-o", out, "--arch", "arm64", dir.Path("Setup.ini")},
                                            {"build", "-o", out, "--arch", "i686", "--stub", in, dir.Path("Setup.ini")},
                                            {"build", "-o", out, "--force", in},
                                            {"build", "-o", out, "-o", out, in},
                                            {"build", "-o", out, in, "--bogus"},
                                            {"check", "a.ini", "b.ini"},
                                            {"list"},
                                            {"verify", "--quiet=yes", "a.exe"},
                                            {"extract", "a.exe", "-C"}}) {
    const RunResult run = dir.Run(args);
    EXPECT_TRUE(FailedWithOneLine(run, 2));
    EXPECT_EQ(run.out, "") << Describe(run);
  }
  // A word that fits nowhere is named before an option it leaves missing.
  EXPECT_TRUE(FailedWithOneLine(dir.Run({"build", "--outptu", out, in}), 2, {"unknown option '--outptu'"}));
  EXPECT_EQ(FilesBelow(dir.work()), Args({"in.txt"})) << "nothing written";
  const struct {
    Args args;
    std::string usage;
  } helps[] = {{{"--help"}, "zqpack [-q]"},
               {{"check", "-h"}, "zqpack check"},
               {{"help", "extract"}, "zqpack extract"},
               {{"build", "-o", "x", "--help"}, "zqpack build"}};
  for (const auto& help : helps) {
    const RunResult run = dir.Run(help.args);
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.out.rfind("Usage: " + help.usage, 0), 0u) << Describe(run);
  }
}

TEST(CommandLine, FilesThatCannotBeReadOrPackedExitWithOne) {
  TestFolder dir;
  const std::string missing = dir.Path("missing.exe"), ini = dir.Path("missing.ini"), out = dir.Path("out.exe");
  const std::string in = dir.Write("in.txt", zqfixture::Bytes("x")), stub = dir.Stub();
  Args many = {"-q", "build", "-o", out, "--stub", stub};
  for (int i = 0; i <= 10922; ++i) many.push_back(dir.Write("many/" + std::to_string(i), {}));
  const struct {
    Args args;
    Args mentions;
  } rows[] = {
      {{"verify", missing}, {missing}},
      {{"extract", missing, "-C", dir.Path("out")}, {missing}},
      {{"check", ini}, {ini}},
      {{"build", "-o", out, "--stub", missing, ini}, {ini}},
      {{"build", "-o", out, "--stub", dir.work(), missing}, {dir.work()}},
      {{"build", "-o", out, "--stub", stub, in, missing}, {missing}},
      {{"build", "-o", out, "--stub", stub, in, "list"}, {"cannot open list"}},  // a file named as a command
      // A program proper of any other size than 32768 bytes.
      {{"build", "-o", out, "--stub", dir.Write("short.exe", std::vector<uint8_t>(32767)), in}, {"short.exe", "32768"}},
      {{"build", "-o", out, "--stub", dir.Write("long.exe", std::vector<uint8_t>(32769)), in}, {"long.exe", "32768"}},
      // Files the program would refuse: a device name, one more than its table holds.
      {{"build", "-o", out, "--stub", stub, in, dir.Write("NUL.txt", {})}, {"NUL.txt", "not a plain file name"}},
      {many, {"at most 10922 files"}},
  };
  const Args before = FilesBelow(dir.work());
  for (const auto& row : rows) EXPECT_TRUE(FailedWithOneLine(dir.Run(row.args), 1, row.mentions));
  EXPECT_EQ(FilesBelow(dir.work()), before) << "no output, no folder, no temporary file";
}

// A setup of 3 MB for a 1 MB tmpfs: the old setup stays, no temporary file.
TEST(CommandLine, FullDiskLeavesTheOldSetupAndNoTemporaryFile) {
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
  EXPECT_TRUE(FailedWithOneLine(dir.Run({"-q", "build", "--stub", dir.Stub(), "-o", full + "/setup.exe",
                                         dir.Write("random.bin", zqfixture::RandomBytes(3 << 20, 9))}),
                                1, {"setup.exe"}));
  EXPECT_EQ(ReadFile(full + "/setup.exe"), "old");
  EXPECT_EQ(FilesBelow(full), Args({"setup.exe"}));
}
