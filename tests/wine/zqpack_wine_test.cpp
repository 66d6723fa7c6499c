// zqpack against the real program under Wine: a setup packed from a
// Setup.ini runs to the wizard; zqpack.exe packs, verifies and extracts under
// Wine byte for byte.  (verify's texts: extraction_test.cpp.)
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

// The publisher's way: a folder with Setup.ini and the files it names, packed
// with the program proper built into zqpack, at the default level and at the
// best (libdeflate's stream, inflated here by the program's own zlib).  The
// wizard shows the product named in Setup.ini, and the files it leaves in the
// Workspace (the CAB and Setup.ini; it has consumed the license and bitmaps)
// are the publisher's.  The CAB spans many output chunks, text and random
// bytes in turn, so matches reach back across chunk boundaries.
TEST_P(ZqpackWine, SetupBuiltFromSetupIniRunsToTheWizard) {
  std::vector<Entry> product = SampleFiles();
  std::vector<uint8_t> contents;
  for (uint32_t block = 0; block < 12; ++block) {
    const std::vector<uint8_t> part =
        block % 2 == 0 ? zqfixture::TextLikeBytes(70000, block) : zqfixture::RandomBytes(50000, block);
    contents.insert(contents.end(), part.begin(), part.end());
  }
  product[4].contents = zqfixture::MakeCabinet("sample.exe", contents);
  WriteFiles(product, folder().Make("product"));
  for (const std::vector<std::string>& level : {std::vector<std::string>{}, std::vector<std::string>{"--best"}}) {
    SCOPED_TRACE(level.empty() ? "the default level" : "--best");
    fs::path setup = folder().Root() / "SampleSetup.exe";
    std::vector<std::string> args = {
        "-q",     "build",         (folder().Root() / "product/Setup.ini").string(), "-o", setup.string(),
        "--arch", ArchName(arch())};
    args.insert(args.end(), level.begin(), level.end());
    ProgramResult build = RunZqpack(args, folder().Root() / "zqpack-scratch");
    ASSERT_EQ(build.status, 0) << "zqpack build said: " << build.out;

    Launch launch = Installed(setup);
    launch.script.Wizard();
    Outcome run = Drive(launch);
    EXPECT_TRUE(run.ShowedWizard());
    EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;

    const fs::path workspace = OnlyWorkspace();
    EXPECT_EQ(FilesIn(workspace), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
    EXPECT_TRUE(FileBytes(workspace / "Setup.ini") == product[3].contents) << "Setup.ini differs from the publisher's";
    EXPECT_TRUE(FileBytes(workspace / "DEMO.CAB") == product[4].contents) << "DEMO.CAB differs from the publisher's";
    fs::remove_all(workspace);
  }
}

// The example of 'zqpack init', with a CAB file added, is a setup that runs:
// the wizard names the product, and both bitmaps load and size their
// statics (164 x 314 on the Welcome page, 55 x 55 in the banner).
TEST_P(ZqpackWine, InitExampleRunsToTheWizardWithItsBitmaps) {
  const fs::path product = folder().Root() / "product";
  const fs::path scratch = folder().Root() / "zqpack-scratch";
  ProgramResult init = RunZqpack({"-q", "init", product.string(), "--product", "Example"}, scratch);
  ASSERT_EQ(init.status, 0) << "zqpack init said: " << init.out;
  zqfixture::WriteFileBytes((product / "EXAMPLE.CAB").string(), SampleFiles()[4].contents);
  const fs::path setup = folder().Root() / "ExampleSetup.exe";
  ProgramResult build = RunZqpack(
      {"-q", "build", (product / "Setup.ini").string(), "-o", setup.string(), "--arch", ArchName(arch())}, scratch);
  ASSERT_EQ(build.status, 0) << "zqpack build said: " << build.out;

  Launch launch = Installed(setup);
  launch.script.Wizard().State().Click(1000).State();
  Outcome run = Drive(launch);
  EXPECT_EQ(run.wizardTitle, "Example 1.00 for SmartPhone 2002 Setup") << run;
  ASSERT_EQ(run.states.size(), 2u) << run;
  const Control* body = run.states[1].Find(1012, "welcome");
  const Control* head = run.states[1].Find(1011, "header");
  ASSERT_TRUE(body && head) << run.states[1].Transcript();
  EXPECT_EQ(body->rect, (Rect{0, 0, 164, 314})) << body->line;
  EXPECT_EQ(head->rect.w, 55) << head->line;
  EXPECT_EQ(FilesIn(OnlyWorkspace()), (std::vector<std::string>{"EXAMPLE.CAB", "Setup.ini"}));
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

  ProgramResult onLinux = RunZqpack({"verify", (folder().Root() / "setup.exe").string()}, folder().Root() / "zqpack-scratch");
  EXPECT_EQ(onLinux.status, 0) << "the Linux zqpack refused zqpack.exe's setup: " << onLinux.out;
}

ZQ_WINE_TEST_SUITE(ZqpackWine);

}  // namespace
}  // namespace zqrig
