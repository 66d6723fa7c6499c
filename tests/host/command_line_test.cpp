// zqpack's command line: wrong ones exit with 2, unreadable or unpackable
// files with 1, one line each and no file left behind; --help; zqpack init.
#include <gtest/gtest.h>

#include <filesystem>

#include "ini.h"
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

TEST(Init, ExampleIsCheckedCleanOnceItsCabIsThereAndBuilds) {
  const struct {
    std::string product, cab, installDirectory;
  } rows[] = {
      {"My Product", "MYPRODUC.CAB", "MyProduct"},  // the default
      {"Lpt1", "ZQLPT1.CAB", "ZQLpt1"},             // a device name gets a prefix
      {"R&D {Tools} 2.0; \\beta @CAB@", "RDTOOLS2.CAB", "RDTools20betaCAB"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cab);
    TestFolder dir;
    Args init = {"-q", "init", dir.Path("product")};
    if (row.product != "My Product") init.insert(init.end(), {"--product", row.product});
    ASSERT_EQ(dir.Run(init).exitCode, 0);
    const std::string ini = dir.Path("product/Setup.ini");
    const IniFile settings = IniFile::Load(ini);
    EXPECT_EQ(settings.Find("ZQINSTALLER", "ProductName"), row.product);
    EXPECT_EQ(settings.Find(row.product, "CabFiles"), row.cab);
    EXPECT_EQ(settings.Find("ZQINSTALLER", "InstallDirectory"), row.installDirectory);

    const RunResult withoutCab = dir.Run({"check", ini});
    EXPECT_EQ(withoutCab.exitCode, 1);
    EXPECT_EQ(Lines(withoutCab.out).size(), 2u) << "only the CAB file is missing: " << Describe(withoutCab);
    const std::string inf = dir.Path("product/" + row.cab.substr(0, row.cab.size() - 4) + ".inf");
    const RunResult made = dir.Run({"cab", inf});  // the example's Windows CE install cabinet
    ASSERT_EQ(made.exitCode, 0) << Describe(made);
    EXPECT_EQ(dir.Run({"check", ini}).out, ini + ": 0 errors, 0 warnings\n");
    const RunResult built = dir.Run({"-q", "build", ini, "--stub", dir.Stub(), "-o", dir.Path("setup.exe")});
    EXPECT_EQ(built.exitCode, 0) << Describe(built);
  }
}

TEST(Init, RefusesANameSetupIniCannotCarryAndNeverReplacesAFile) {
  TestFolder dir;
  for (const std::string& name :
       {std::string(""), std::string(" Lead"), std::string("[Section]"), std::string("\"Quoted\""),
        std::string("Caf\xC3\xA9"), std::string("Line\nbreak"), std::string(225, 'n')})
    EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.Path("p"), "--product", name}), 2)) << name;
  EXPECT_EQ(dir.Run({"-q", "init", dir.Path("p"), "--product", std::string(224, 'n')}).exitCode, 0);
  fs::remove_all(dir.Path("p"));
  ASSERT_EQ(dir.Run({"-q", "init", dir.work()}).exitCode, 0);
  EXPECT_EQ(FilesBelow(dir.work()), Args({"MYPRODUC.inf", "PUT-CAB-FILES-HERE.txt", "Setup.ini", "body.bmp", "head.bmp",
                                          "license.rtf", "readme.txt"}));
  WriteText(dir.Path("Setup.ini"), "mine");
  EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.work(), "--product", "Other"}), 1, {"Setup.ini", "exists"}));
  EXPECT_EQ(ReadFile(dir.Path("Setup.ini")), "mine");
  // One file of the example in an otherwise empty folder: nothing is written.
  dir.Write("q/head.bmp", zqfixture::Bytes("mine"));
  EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.Path("q")}), 1, {"head.bmp"}));
  EXPECT_EQ(FilesBelow(dir.Path("q")), Args({"head.bmp"}));
}
