// zqpack against the real program under Wine: a setup packed from a
// Setup.ini runs to the wizard; zqpack.exe packs, verifies and extracts under
// Wine byte for byte.
#include <algorithm>

#include "rig.h"

namespace zqrig {
namespace {

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

class ZqpackWine : public ProgramTest {};

// The publisher's way on Linux, with nothing from Windows: the example of
// 'zqpack init', its CAB file made by 'zqpack cab' from the example's .inf
// (its example file grown large), packed at the best level (libdeflate's stream, inflated here by the
// program's own zlib; the default level is what every other setup here
// uses).  The wizard names the product, both bitmaps load and size their
// statics (164 x 314 on the Welcome page, 55 x 55 in the banner), and the
// files it leaves in the Workspace are the publisher's.  The CAB spans many
// output chunks, text and random bytes in turn, so matches reach back across
// chunk boundaries.
TEST_P(ZqpackWine, InitExampleBuiltAtBestRunsToTheWizard) {
  const fs::path product = folder().Root() / "product", scratch = folder().Root() / "zqpack-scratch";
  ProgramResult init = RunZqpack({"-q", "init", product.string(), "--product", "Example"}, scratch);
  ASSERT_EQ(init.status, 0) << "zqpack init said: " << init.out;
  std::vector<uint8_t> contents;
  for (uint32_t block = 0; block < 12; ++block) {
    const std::vector<uint8_t> part =
        block % 2 == 0 ? zqfixture::TextLikeBytes(70000, block) : zqfixture::RandomBytes(50000, block);
    contents.insert(contents.end(), part.begin(), part.end());
  }
  zqfixture::WriteFileBytes((product / "readme.txt").string(), contents);
  ProgramResult made = RunZqpack({"cab", (product / "EXAMPLE.inf").string()}, scratch);
  ASSERT_EQ(made.status, 0) << "zqpack cab said: " << made.out << made.err;
  const std::vector<uint8_t> cab = FileBytes(product / "EXAMPLE.CAB");
  const fs::path setup = folder().Root() / "ExampleSetup.exe";
  ProgramResult build = RunZqpack(
      {"-q", "build", (product / "Setup.ini").string(), "-o", setup.string(), "--arch", ArchName(arch()), "--best"},
      scratch);
  ASSERT_EQ(build.status, 0) << "zqpack build said: " << build.out;

  Launch launch = Installed(setup);
  launch.script.Wizard().Click(1000).State();
  Outcome run = Drive(launch);
  EXPECT_EQ(run.wizardTitle, "Example 1.00 for SmartPhone 2002 Setup") << run;
  ASSERT_EQ(run.states.size(), 1u) << run;
  const Control* body = run.states[0].Find(1012, "welcome");
  const Control* head = run.states[0].Find(1011, "header");
  ASSERT_TRUE(body && head) << run.states[0].Transcript();
  EXPECT_EQ(body->rect, (Rect{0, 0, 164, 314})) << body->line;
  EXPECT_EQ(head->rect.w, 55) << head->line;
  const fs::path workspace = OnlyWorkspace();
  EXPECT_EQ(FilesIn(workspace), (std::vector<std::string>{"EXAMPLE.CAB", "Setup.ini"}));
  EXPECT_TRUE(FileBytes(workspace / "Setup.ini") == FileBytes(product / "Setup.ini"));
  EXPECT_TRUE(FileBytes(workspace / "EXAMPLE.CAB") == cab) << "EXAMPLE.CAB differs from the publisher's";
}

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
  for (const fs::path& file : WriteFiles(entries, folder().Make("input"))) args.push_back(WinPath(file));

  ProgramResult build = RunProgram(Arch::x86_64, exe, args);
  ASSERT_EQ(build.status, 0) << "zqpack.exe build: " << build.out << build.err;
  ProgramResult cab = RunProgram(Arch::x86_64, exe, {"cab", "APP.inf"});
  EXPECT_EQ(cab.status, 1);
  EXPECT_NE(cab.err.find("zqpack cab: makes cabinets with the Linux zqpack only"), std::string::npos) << cab.err;
  ProgramResult verify = RunProgram(Arch::x86_64, exe, {"verify", WinPath(folder().Root() / "setup.exe")});
  EXPECT_EQ(verify.status, 0) << "zqpack.exe verify: " << verify.out << verify.err;
  // --json gives the Linux zqpack's document, but for the setup's path on
  // its second line (and Windows line ends).
  auto afterPath = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    const size_t first = text.find('\n');
    return first == std::string::npos ? text : text.substr(text.find('\n', first + 1));
  };
  ProgramResult json = RunProgram(Arch::x86_64, exe, {"verify", "--json", WinPath(folder().Root() / "setup.exe")});
  ProgramResult linuxJson =
      RunZqpack({"verify", "--json", (folder().Root() / "setup.exe").string()}, folder().Root() / "zqpack-scratch");
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(afterPath(json.out), afterPath(linuxJson.out)) << "zqpack.exe:\n"
                                                           << json.out << "zqpack:\n"
                                                           << linuxJson.out;
  fs::path output = folder().Root() / "output";
  ProgramResult extract =
      RunProgram(Arch::x86_64, exe, {"-q", "extract", WinPath(folder().Root() / "setup.exe"), "-C", WinPath(output)});
  ASSERT_EQ(extract.status, 0) << "zqpack.exe extract: " << extract.out << extract.err;

  std::vector<std::string> names;
  for (const Entry& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(FilesIn(output), names);
  for (const Entry& entry : entries)
    EXPECT_TRUE(FileBytes(output / entry.name) == entry.contents) << entry.name << " came back changed";

  ProgramResult onLinux =
      RunZqpack({"verify", (folder().Root() / "setup.exe").string()}, folder().Root() / "zqpack-scratch");
  EXPECT_EQ(onLinux.status, 0) << "the Linux zqpack refused zqpack.exe's setup: " << onLinux.out;
}

ZQ_WINE_TEST_SUITE(ZqpackWine);

}  // namespace
}  // namespace zqrig
