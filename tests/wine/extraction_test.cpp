// Extraction under Wine, the whole program: damaged payloads and payloads
// beyond the reader's limits are refused with their exact texts (and zqpack
// verify, run on the same file, prints the same), nothing lands outside the
// Workspace, the progress window is gone before the box, and good payloads
// land byte for byte.  Texts are written out on purpose: these tests guard
// what the user reads.
#include "rig.h"

// The setups come from zqfixture, which tests/wine/CMakeLists.txt must link;
// without it this file builds to one failing test that says so.
#if __has_include("fixture.h")
#include <stdio.h>
#include <sys/wait.h>

#include <cctype>
#include <map>

#include "fixture.h"

namespace zqrig {
namespace {

using zqfixture::Bytes;
using zqfixture::Entry;
using zqfixture::SetupRecipe;
using Contents = std::vector<uint8_t>;

const char kCorrupted[] = "Invalid data in installer. The file may be corrupted.";

// What `zqpack verify SETUP` printed on standard output, and its exit status.
struct Verified {
  std::string out;
  int status = -1;
};

// Its scratch copy of the data goes to `scratch`, not to the system's /tmp.
Verified ZqpackVerify(const fs::path& setup, const fs::path& scratch) {
  Verified result;
  std::string command = "TMPDIR='" + scratch.string() + "' '" + (OutDir() / "zqpack").string() + "' -q verify '" +
                        setup.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, got);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Whether the driver's "windows" listing shows the progress window.
bool ShowsProgressWindow(const Outcome& run) {
  for (const std::string& line : run.lines)
    if (line.rfind("WINDOW ", 0) == 0 && (line.find("class=\"msctls_progress32\"") != std::string::npos ||
                                          line.find("Please wait while setup is extracting data") != std::string::npos))
      return true;
  return false;
}

// The sample product and a few files of other shapes, for checks of what
// lands: 300000 random bytes span several input and split chunks.
std::vector<Entry> MixedEntries() {
  std::vector<Entry> entries = zqfixture::SampleEntries();
  entries.push_back({"empty.dat", {}});
  entries.push_back({"twice.txt", Bytes("the earlier contents")});
  entries.push_back({"big.bin", zqfixture::RandomBytes(300000, 11)});
  entries.push_back({"twice.txt", Bytes("the later contents")});
  return entries;
}

// What the Workspace holds while the wizard is up: every entry's file except
// the license and bitmaps, which the wizard has loaded and deleted; for a
// name given twice, the later contents.
std::map<std::string, Contents> ExpectedWhileWizardIsUp(const std::vector<Entry>& entries) {
  std::map<std::string, Contents> files;
  for (const Entry& entry : entries) files[entry.name] = entry.contents;
  for (const char* consumed : {"license.rtf", "body.bmp", "head.bmp"}) files.erase(consumed);
  return files;
}

class ExtractionTest : public WineTest {
 protected:
  void SetUp() override {
    WineTest::SetUp();
    if (IsSkipped()) return;
    if (!fs::exists(ProgramProper(arch()))) GTEST_SKIP() << ProgramProper(arch()) << " is not built";
  }

  SetupRecipe Recipe(std::vector<Entry> entries) const {
    SetupRecipe recipe;
    recipe.stub = zqfixture::ReadFileBytes(ProgramProper(arch()).string());
    recipe.entries = std::move(entries);
    return recipe;
  }
  SetupRecipe Sample() const { return Recipe(zqfixture::SampleEntries()); }

  fs::path SetupPath() const { return folder().Root() / "setup.exe"; }
  Verified Verify() const { return ZqpackVerify(SetupPath(), folder().Root() / "zqpack-scratch"); }

  // A run of `recipe` with the App Paths value naming the stand-in, in a
  // fresh TEMP: everything made that the run needs.
  Launch Prepare(const SetupRecipe& recipe, const Script& script, int timeoutMs = 20000) const {
    zqfixture::WriteFileBytes(SetupPath().string(), zqfixture::BuildSetup(recipe));
    fs::remove_all(folder().Temp());
    Launch launch = Setup(SetupPath());
    launch.appPaths = AppPaths::Pointing(StandIn());
    launch.timeoutMs = timeoutMs;
    launch.script = script;
    fs::create_directories(launch.temp);
    fs::create_directories(launch.captureDir);
    fs::create_directories(folder().Root() / "zqpack-scratch");
    return launch;
  }
  Outcome Run(const SetupRecipe& recipe, const Script& script, int timeoutMs = 20000) const {
    return Drive(Prepare(recipe, script, timeoutMs));
  }

  // The one Workspace in TEMP; a failure, and an empty path, when TEMP holds
  // anything else.
  fs::path OnlyWorkspace() const {
    std::vector<std::string> inTemp = FilesIn(folder().Temp());
    std::vector<fs::path> found = Workspaces(folder().Temp());
    bool alone = found.size() == 1;
    for (const std::string& path : inTemp) {
      if (!alone) break;
      const std::string workspace = found[0].filename().string();
      alone = path == workspace || path.rfind(workspace + "/", 0) == 0;
    }
    if (alone) return found[0];
    ADD_FAILURE() << "wanted one Workspace and nothing else in TEMP, TEMP holds " << ::testing::PrintToString(inTemp);
    return fs::path();
  }

  // The test's folder, the parent of TEMP, without TEMP.
  std::vector<std::string> BesideTemp() const {
    std::vector<std::string> files;
    for (const std::string& path : FilesIn(folder().Root()))
      if (path != "temp" && path.rfind("temp/", 0) != 0) files.push_back(path);
    return files;
  }

  // Refused: the box with `pattern` (see MatchesMessage), caption "ZQ
  // Installer Error", the stop icon, OK alone, no owner, no progress window
  // while it is up, exit code -1; zqpack verify prints the same text; TEMP
  // holds the Workspace alone and its parent nothing new.  Returns the
  // Workspace's files.
  std::vector<std::string> ExpectRefused(const SetupRecipe& recipe, const std::string& pattern) {
    Launch launch = Prepare(recipe, Script().Box().Windows().Answer("ok").Exit(), 15000);
    std::vector<std::string> before = BesideTemp();
    Outcome run = Drive(launch);
    if (run.boxes.size() != 1 || run.boxes[0].caption != "ZQ Installer Error" ||
        !MatchesMessage(run.boxes[0].text, pattern)) {
      ADD_FAILURE() << "wanted one box \"ZQ Installer Error\": " << ::testing::PrintToString(pattern) << "\n" << run;
    } else {
      const Box& box = run.boxes[0];
      EXPECT_TRUE(box.icon == "hand" && box.buttons == std::vector<std::string>{"ok"} && box.owner == "none")
          << "wanted the stop icon, OK alone, no owner; saw " << box.line;
      Verified verify = Verify();
      EXPECT_EQ(verify.out, box.text + "\n") << "zqpack verify (left) and the program's box (right)";
      EXPECT_EQ(verify.status, 1) << "zqpack verify's exit status";
    }
    EXPECT_FALSE(ShowsProgressWindow(run)) << "the progress window outlived extraction\n" << run;
    EXPECT_TRUE(run.ExitedWith(0xFFFFFFFF));
    EXPECT_EQ(BesideTemp(), before) << "files appeared beside TEMP";
    fs::path workspace = OnlyWorkspace();
    return workspace.empty() ? std::vector<std::string>() : FilesIn(workspace);
  }

  // Extracted: the wizard came up, zqpack verify accepts the file, and the
  // Workspace holds exactly `files`, byte for byte.
  void ExpectExtracted(const Outcome& run, const std::map<std::string, Contents>& files) {
    EXPECT_TRUE(run.boxes.empty() && !run.wizardTitle.empty()) << "wanted the wizard\n" << run;
    Verified verify = Verify();
    EXPECT_EQ(verify.status, 0) << "zqpack verify refused what the program extracted: " << verify.out;
    fs::path workspace = OnlyWorkspace();
    if (workspace.empty()) return;
    std::vector<std::string> names;
    for (const auto& [name, contents] : files) names.push_back(name);
    std::vector<std::string> found = FilesIn(workspace);
    ASSERT_EQ(found, names) << "the Workspace's files";
    for (const auto& [name, contents] : files)
      EXPECT_TRUE(zqfixture::ReadFileBytes((workspace / name).string()) == contents)
          << name << " differs from its entry (" << fs::file_size(workspace / name) << " bytes, wanted "
          << contents.size() << ")";
  }
};

// --- validity: the checks in their order --------------------------------------

class ExtractionValidity : public ExtractionTest {};

// "ZQI" and a non-zero byte is not the signature; refused before inflating,
// so the progress window never comes.
TEST_P(ExtractionValidity, SignatureWithNonZeroFourthByteIsRefused) {
  SetupRecipe recipe = Sample();
  recipe.signature = 0x0149515A;
  EXPECT_EQ(ExpectRefused(recipe, "Invalid signature in installer. The file may be corrupted."),
            std::vector<std::string>{});
}

TEST_P(ExtractionValidity, ChangedByteOfProgramProperIsRefused) {
  SetupRecipe recipe = Sample();
  recipe.stubChanges = {{0x7000, 0x01}};
  EXPECT_EQ(ExpectRefused(recipe, "Invalid CRC in installer. The file may be corrupted."), std::vector<std::string>{});
}

TEST_P(ExtractionValidity, ChangedByteOfTableIsRefused) {
  SetupRecipe recipe = Sample();
  recipe.tableChanges = {{13, 0x80}};
  EXPECT_EQ(ExpectRefused(recipe, "Invalid CRC in data block. The file may be corrupted."), std::vector<std::string>{});
}

// Five entries promised, the file ends in the third.
TEST_P(ExtractionValidity, TableTheFileCannotHoldIsRefused) {
  SetupRecipe recipe = Sample();
  recipe.cutTo = kTableOffset + 2 * kEntryBytes + 6;
  EXPECT_EQ(ExpectRefused(recipe, "Error Code: %08X\nError reading data from installer."), std::vector<std::string>{});
}

// The file ends before CompressedSize bytes were read: refused at once (the
// driver's wait is 15 s), the data file gone.  The read that meets the end of
// the file succeeds without an error code: the box shows 00000000, as zqpack
// verify does, never a code an earlier call left behind (painting the
// progress bar leaves 5 under Wine).
TEST_P(ExtractionValidity, CompressedSizeBeyondTheFileIsRefused) {
  SetupRecipe recipe = Sample();
  recipe.compressedSize = static_cast<uint32_t>(zqfixture::BuildSetup(recipe).size());
  EXPECT_EQ(ExpectRefused(recipe, "Error Code: %08X\nError reading data from installer."), std::vector<std::string>{});
}

// The stream's own Adler-32 is wrong while DataChecksum matches the data: the
// inflater's verdict comes first.
TEST_P(ExtractionValidity, WrongZlibTrailerIsRefusedByTheInflater) {
  SetupRecipe recipe = Sample();
  recipe.wrongZlibTrailer = true;
  EXPECT_EQ(ExpectRefused(recipe, "Installer failed to extract data block."), std::vector<std::string>{});
}

// Found only after the whole stream: no entry's file exists, the data file is
// gone.
TEST_P(ExtractionValidity, DataChecksumMismatchIsRefused) {
  SetupRecipe recipe = Sample();
  recipe.dataChecksum = 0x12345678;
  EXPECT_EQ(ExpectRefused(recipe, "Invalid CRC in compressed data. The file may be corrupted."),
            std::vector<std::string>{});
}

// The second entry's DataSize reaches 1000 bytes past the data: the first
// file stays whole, the second holds what there was.
TEST_P(ExtractionValidity, EntryReachingPastTheDataIsRefused) {
  std::vector<Entry> entries = {{"first.txt", Bytes("complete")}, {"second.bin", zqfixture::RandomBytes(200000, 3)}};
  SetupRecipe recipe = Recipe(entries);
  recipe.table = zqfixture::LayOutTable(entries);
  recipe.table->back().DataSize += 1000;
  std::vector<std::string> files = ExpectRefused(recipe, "Error Code: %08X\nError reading data from temporary file.");
  ASSERT_EQ(files, (std::vector<std::string>{"first.txt", "second.bin"}));
  fs::path workspace = Workspaces(folder().Temp())[0];
  EXPECT_TRUE(zqfixture::ReadFileBytes((workspace / "first.txt").string()) == entries[0].contents);
  EXPECT_TRUE(zqfixture::ReadFileBytes((workspace / "second.bin").string()) == entries[1].contents);
}

ZQ_WINE_TEST_SUITE(ExtractionValidity);

// --- the reader's limits and unsafe names ---------------------------------------

class ExtractionLimits : public ExtractionTest {};

// Refused before the table is read: the count is tested first.
TEST_P(ExtractionLimits, NegativeEntryCountIsRefused) {
  SetupRecipe recipe = Sample();
  recipe.entryCount = -1;
  EXPECT_EQ(ExpectRefused(recipe, kCorrupted), std::vector<std::string>{});
}

// A real table of 10923 entries, checksums right: one entry more than the
// 131072-byte work buffer holds.
TEST_P(ExtractionLimits, TableOf10923EntriesIsRefused) {
  std::vector<Entry> entries(10923, Entry{"x.txt", Bytes("x")});
  EXPECT_EQ(ExpectRefused(Recipe(entries), kCorrupted), std::vector<std::string>{});
}

// The entry before the bad one is written; the bad one gets no file.
TEST_P(ExtractionLimits, NameOf131073BytesIsRefused) {
  std::vector<Entry> entries = {{"first.txt", Bytes("kept")}, {std::string(131072, 'n'), Bytes("never written")}};
  EXPECT_EQ(ExpectRefused(Recipe(entries), kCorrupted), std::vector<std::string>{"first.txt"});
}

TEST_P(ExtractionLimits, NameWithoutItsZeroByteIsRefused) {
  std::vector<Entry> entries = {{"first.txt", Bytes("kept")}, {"unterminated", Bytes("never written"), true}};
  EXPECT_EQ(ExpectRefused(Recipe(entries), kCorrupted), std::vector<std::string>{"first.txt"});
}

// InflatedSize divides the progress count: 0 while the stream yields data is
// refused, not divided by.
TEST_P(ExtractionLimits, InflatedSizeZeroWithDataIsRefused) {
  SetupRecipe recipe = Sample();
  recipe.inflatedSize = 0;
  EXPECT_EQ(ExpectRefused(recipe, kCorrupted), std::vector<std::string>{});
}

// Names that would reach outside the Workspace, into a folder, onto a drive
// or a stream, or name no file at all.  Each comes second, behind a good one.
TEST_P(ExtractionLimits, NamesThatAreNoPlainFileNamesAreRefused) {
  for (const char* name : {"..\\x", "a/b", "C:x", "x:stream", ".", "..", ""}) {
    SCOPED_TRACE(std::string("entry name \"") + name + "\"");
    std::vector<Entry> entries = {{"first.txt", Bytes("kept")}, {name, Bytes("never written")}};
    EXPECT_EQ(ExpectRefused(Recipe(entries), kCorrupted), std::vector<std::string>{"first.txt"});
  }
}

ZQ_WINE_TEST_SUITE(ExtractionLimits);

// --- what makes no difference ---------------------------------------------------

class ExtractionTolerance : public ExtractionTest {};

// 70000 bytes behind the stream's end, counted in CompressedSize: read in a
// further input chunk and dropped.
TEST_P(ExtractionTolerance, BytesBehindTheStreamInsideCompressedSizeAreDropped) {
  SetupRecipe recipe = Sample();
  recipe.bytesInsideStream = zqfixture::RandomBytes(70000, 5);
  ExpectExtracted(Run(recipe, Script().Wizard()), ExpectedWhileWizardIsUp(recipe.entries));
}

TEST_P(ExtractionTolerance, BytesBehindCompressedSizeAreNeverRead) {
  SetupRecipe recipe = Sample();
  recipe.bytesBehindStream = zqfixture::RandomBytes(5000, 6);
  ExpectExtracted(Run(recipe, Script().Wizard()), ExpectedWhileWizardIsUp(recipe.entries));
}

// InflatedSize moves only the progress bar: understated (past 100 %) and
// overstated (short of it).
TEST_P(ExtractionTolerance, ChangedInflatedSizeChangesNothingElse) {
  for (uint32_t inflatedSize : {1u, 0xFFFFFFFFu}) {
    SCOPED_TRACE("InflatedSize " + std::to_string(inflatedSize));
    SetupRecipe recipe = Recipe(MixedEntries());
    recipe.inflatedSize = inflatedSize;
    ExpectExtracted(Run(recipe, Script().Wizard()), ExpectedWhileWizardIsUp(recipe.entries));
  }
}

ZQ_WINE_TEST_SUITE(ExtractionTolerance);

// --- what lands -----------------------------------------------------------------

class ExtractionFiles : public ExtractionTest {};

// Every file byte for byte, an empty one for DataSize 0, the later contents
// for a name given twice, and no data file left.
TEST_P(ExtractionFiles, EntriesLandByteForByte) {
  SetupRecipe recipe = Recipe(MixedEntries());
  ExpectExtracted(Run(recipe, Script().Wizard()), ExpectedWhileWizardIsUp(recipe.entries));
}

// The most entries a table may hold, 10922, each its own file.
TEST_P(ExtractionFiles, MaximumEntryCountExtracts) {
  std::vector<Entry> entries;
  char name[16];
  for (int i = 0; i < kMaxEntryCount; ++i) {
    std::snprintf(name, sizeof name, "f%05d.txt", i);
    entries.push_back({name, Bytes(name)});
  }
  ExpectExtracted(Run(Recipe(entries), Script().Wizard(), 240000), ExpectedWhileWizardIsUp(entries));
}

ZQ_WINE_TEST_SUITE(ExtractionFiles);

}  // namespace
}  // namespace zqrig

#else

TEST(ExtractionTests, NeedTheFixtureLibrary) {
  FAIL() << "tests/wine/CMakeLists.txt does not link zqfixture to the Wine tests";
}

#endif
