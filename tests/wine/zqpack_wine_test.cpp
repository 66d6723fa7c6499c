// zqpack against the real program under Wine: a setup packed from a
// Setup.ini runs to the wizard, and the Windows build of zqpack packs,
// verifies and extracts under Wine byte for byte.  (That verify prints the
// very text of the program's box is checked on every damaged payload of
// extraction_test.cpp, on the same file the program ran.)
#include "rig.h"

// The product files come from zqfixture, which tests/wine/CMakeLists.txt must
// link; without it this file builds to one failing test that says so.
#if __has_include("fixture.h")
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>

#include "fixture.h"

namespace zqrig {
namespace {

using zqfixture::Entry;

struct Ran {
  std::string out;
  int status = -1;
};

// out/zqpack with `args` (each quoted for the shell); its scratch files go
// to `scratch`, not to the system's /tmp.
Ran RunZqpack(const std::vector<std::string>& args, const fs::path& scratch) {
  fs::create_directories(scratch);
  std::string command = "TMPDIR='" + scratch.string() + "' '" + (OutDir() / "zqpack").string() + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  Ran ran;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return ran;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) ran.out.append(buffer, got);
  int status = pclose(pipe);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

// Writes each entry as a file into `dir`; returns their paths in order.
std::vector<fs::path> WriteFiles(const std::vector<Entry>& entries, const fs::path& dir) {
  fs::create_directories(dir);
  std::vector<fs::path> paths;
  for (const Entry& entry : entries) {
    paths.push_back(dir / entry.name);
    zqfixture::WriteFileBytes(paths.back().string(), entry.contents);
  }
  return paths;
}

class ZqpackWine : public WineTest {};

// The publisher's way: a folder with Setup.ini and the files it names, packed
// with the program proper built into zqpack.  The wizard shows the product
// named in Setup.ini, and the files it leaves in the Workspace (the CAB and
// Setup.ini; it has consumed the license and bitmaps) are the publisher's.
TEST_P(ZqpackWine, SetupBuiltFromSetupIniRunsToTheWizard) {
  std::vector<Entry> product = zqfixture::SampleEntries();
  WriteFiles(product, folder().Make("product"));
  fs::path setup = folder().Root() / "SampleSetup.exe";
  Ran build = RunZqpack({"-q", "build", (folder().Root() / "product/Setup.ini").string(), "-o", setup.string(),
                         "--arch", ArchName(arch())},
                        folder().Root() / "zqpack-scratch");
  ASSERT_EQ(build.status, 0) << "zqpack build said: " << build.out;

  Launch launch = Setup(setup);
  launch.appPaths = AppPaths::Pointing(StandIn());
  launch.script.Wizard();
  Outcome run = Drive(launch);
  EXPECT_TRUE(run.boxes.empty()) << run;
  EXPECT_EQ(run.wizardTitle, "Sample 1.00 for SmartPhone 2002 Setup") << run;

  std::vector<fs::path> workspaces = Workspaces(folder().Temp());
  ASSERT_EQ(workspaces.size(), 1u) << ::testing::PrintToString(FilesIn(folder().Temp()));
  EXPECT_EQ(FilesIn(workspaces[0]), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
  for (const Entry& entry : product) {
    if (!fs::exists(workspaces[0] / entry.name)) continue;
    EXPECT_TRUE(zqfixture::ReadFileBytes((workspaces[0] / entry.name).string()) == entry.contents)
        << entry.name << " differs from the publisher's file";
  }
}

// zqpack.exe under Wine: build from a list of files (an empty one, one that
// spans several chunks), verify, extract; every file comes back byte for
// byte, and the Linux zqpack accepts the setup too.
TEST_P(ZqpackWine, WindowsBuildRoundTripsUnderWine) {
  if (arch() != Arch::x86_64) GTEST_SKIP() << "zqpack.exe is built for x86_64 only";
  fs::path exe = OutDir() / "zqpack.exe";
  ASSERT_TRUE(fs::exists(exe)) << exe << " is not built";
  std::vector<Entry> entries = zqfixture::SampleEntries();
  entries.push_back({"empty.dat", {}});
  entries.push_back({"big.bin", zqfixture::RandomBytes(300000, 21)});
  std::vector<std::string> args = {
      "-q", "build", "--stub", WinPath(ProgramProper(arch())), "-o", WinPath(folder().Root() / "setup.exe")};
  for (const fs::path& file : WriteFiles(entries, folder().Make("input"))) args.push_back(WinPath(file));

  ProgramResult build = RunProgram(arch(), exe, args);
  ASSERT_EQ(build.status, 0) << "zqpack.exe build: " << build.out << build.err;
  ProgramResult verify = RunProgram(arch(), exe, {"verify", WinPath(folder().Root() / "setup.exe")});
  EXPECT_EQ(verify.status, 0) << "zqpack.exe verify: " << verify.out << verify.err;
  fs::path output = folder().Root() / "output";
  ProgramResult extract =
      RunProgram(arch(), exe, {"-q", "extract", WinPath(folder().Root() / "setup.exe"), "-C", WinPath(output)});
  ASSERT_EQ(extract.status, 0) << "zqpack.exe extract: " << extract.out << extract.err;

  std::vector<std::string> names;
  for (const Entry& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(FilesIn(output), names);
  for (const Entry& entry : entries)
    EXPECT_TRUE(zqfixture::ReadFileBytes((output / entry.name).string()) == entry.contents)
        << entry.name << " came back changed";

  Ran onLinux = RunZqpack({"verify", (folder().Root() / "setup.exe").string()}, folder().Root() / "zqpack-scratch");
  EXPECT_EQ(onLinux.status, 0) << "the Linux zqpack refused zqpack.exe's setup: " << onLinux.out;
}

ZQ_WINE_TEST_SUITE(ZqpackWine);

}  // namespace
}  // namespace zqrig

#else

TEST(ZqpackWineTests, NeedTheFixtureLibrary) {
  FAIL() << "tests/wine/CMakeLists.txt does not link zqfixture to the Wine tests";
}

#endif
