// zqpack.exe, the Windows build of zqpack, packs, verifies and extracts
// under Wine byte for byte.  (What the Linux zqpack packs the program reads
// as zqpack's reader does: the damage table and the round trips on the host.)
#include <algorithm>

#include "rig.h"

namespace zqrig {
namespace {

class ZqpackWine : public ProgramTest {};

// zqpack.exe (built for x86_64 only) under Wine, packing this architecture's
// program proper: build from a list of files (an empty one, one that spans
// several chunks), verify, extract; every file comes back byte for byte, and
// the Linux zqpack accepts the setup too.
TEST_P(ZqpackWine, WindowsBuildRoundTripsUnderWine) {
  fs::path exe = OutDir() / "zqpack.exe";
  ASSERT_TRUE(fs::exists(exe)) << exe << " is not built";
  std::vector<Entry> entries = SampleFiles();
  entries.push_back({"empty.dat", {}});
  entries.push_back({"big.bin", zqfixture::RandomBytes(300000, 21)});
  std::vector<std::string> args = {
      "-q", "build", "--stub", WinPath(ProgramProper(arch())), "-o", WinPath(folder().Root() / "setup.exe")};
  for (const Entry& entry : entries) {
    args.push_back(WinPath(folder().Make("input") / entry.name));
    zqfixture::WriteFileBytes((folder().Root() / "input" / entry.name).string(), entry.contents);
  }

  ProgramResult build = RunProgram(Arch::x86_64, exe, args);
  ASSERT_EQ(build.status, 0) << "zqpack.exe build: " << build.out << build.err;
  ProgramResult cab = RunProgram(Arch::x86_64, exe, {"cab", "APP.inf"});
  EXPECT_EQ(cab.status, 1);
  EXPECT_NE(cab.err.find("zqpack cab: makes cabinets with the Linux zqpack only"), std::string::npos) << cab.err;
  ProgramResult verify = RunProgram(Arch::x86_64, exe, {"verify", WinPath(folder().Root() / "setup.exe")});
  EXPECT_EQ(verify.status, 0) << "zqpack.exe verify: " << verify.out << verify.err;
  fs::path output = folder().Root() / "output";
  ProgramResult extract =
      RunProgram(Arch::x86_64, exe, {"-q", "extract", WinPath(folder().Root() / "setup.exe"), "-C", WinPath(output)});
  ASSERT_EQ(extract.status, 0) << "zqpack.exe extract: " << extract.out << extract.err;

  std::vector<std::string> names;
  for (const Entry& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(FilesIn(output), names);
  for (const Entry& entry : entries)
    EXPECT_TRUE(zqfixture::ReadFileBytes(output / entry.name) == entry.contents) << entry.name << " came back changed";

  ProgramResult onLinux =
      RunZqpack({"verify", (folder().Root() / "setup.exe").string()}, folder().Root() / "zqpack-scratch");
  EXPECT_EQ(onLinux.status, 0) << "the Linux zqpack refused zqpack.exe's setup: " << onLinux.out;
}

ZQ_WINE_TEST_SUITE(ZqpackWine);

}  // namespace
}  // namespace zqrig
