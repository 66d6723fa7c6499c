// Extraction under Wine: the damage table's sample of Win32 paths ends as
// zqpack's reader says, refused or landing byte for byte; the progress window
// follows the stream.  No run crashes, changes anything outside its Workspace
// or leaves its data file.
#include <algorithm>
#include <tuple>

#include "damage.h"
#include "rig.h"
#include "setup_reader.h"

namespace zqrig {
namespace {

using Files = std::map<std::string, std::vector<uint8_t>>;

class Extraction : public ProgramTest {
 protected:
  // Runs the setup of `recipe`, which zqpack's reader answers with `due`
  // (MSG_COUNT: accepted), to the reader's error box or to the wizard.  No
  // crash, no progress window left with the box, nothing changed outside the
  // Workspace (test folder, drive C:), no data file in it; when accepted the
  // Workspace holds every entry the wizard did not consume (license,
  // bitmaps), the later of a name given twice, byte for byte.
  void ExpectAsTheReaderSays(const SetupRecipe& recipe, MessageId due) {
    for (const fs::path& earlier : Workspaces(folder().Temp())) fs::remove_all(earlier);
    const fs::path setup = WriteSetup(recipe);
    const Verdict verdict = SetupReader(setup.string(), folder().Make("reader").string()).Check().verdict;
    ASSERT_EQ(verdict.message, due) << verdict.text;
    Launch launch = Installed(setup);
    if (verdict.accepted())
      launch.script.Wizard();
    else
      launch.script.Box().Windows().Answer("ok").Exit();
    const fs::path driveC = Rig::Get().World().prefix / "drive_c";
    const Snapshot before(folder().Root()), systemBefore(driveC);
    const Outcome run = Drive(launch);
    EXPECT_EQ(Rig::Get().World().EndCrashDebuggers(), "") << "Wine's crash debugger ran";
    EXPECT_TRUE(verdict.accepted() ? run.ShowedWizard() : Refused(run, verdict.text));
    for (const zqprotocol::Line& line : run.parsed)
      EXPECT_TRUE(line.word != "WINDOW" || (line.text.find("msctls_progress32") == std::string::npos &&
                                            line.text.find("Please wait") == std::string::npos))
          << "the progress window outlived extraction: " << line.text;
    EXPECT_EQ(before.Changes(Snapshot(folder().Root())), std::vector<std::string>()) << "outside the Workspace";
    EXPECT_EQ(systemBefore.Changes(Snapshot(driveC)), std::vector<std::string>()) << "on drive C:";
    const fs::path workspace = OnlyWorkspace();
    if (workspace.empty()) return;
    Files files;
    if (verdict.accepted())
      for (const Entry& entry : recipe.entries) files[entry.name] = entry.contents;
    for (const char* consumed : {"license.rtf", "body.bmp", "head.bmp"}) files.erase(consumed);
    std::vector<std::string> names, left = FilesIn(workspace);
    for (const auto& [name, contents] : files) names.push_back(name);
    if (!verdict.accepted())  // entries before the refused one may stay, the data file not
      left.erase(std::remove_if(left.begin(), left.end(), [](const std::string& n) { return n.rfind("data", 0) != 0; }),
                 left.end());
    EXPECT_EQ(left, names) << "the Workspace's files";
    for (const auto& [name, contents] : files)
      EXPECT_TRUE(zqfixture::ReadFileBytes(workspace / name) == contents) << name << " differs from its entry";
  }

  void RunDamageTableRows(bool accepted) {
    for (const zqfixture::Damage& row : zqfixture::DamageTable()) {
      if (!row.wine || (row.message == MSG_COUNT) != accepted) continue;
      SCOPED_TRACE(row.name);
      SetupRecipe recipe = Recipe(arch());
      row.apply(recipe);
      ExpectAsTheReaderSays(recipe, row.message);
    }
  }
};

// The damage table's rows marked for Wine (tests/fixture/damage.cpp), which
// the host test holds to zqpack's reader: here each Win32 path of the
// program that reads a setup, end to end.
TEST_P(Extraction, DamageTableRowsAreRefusedAsTheReaderSays) { RunDamageTableRows(false); }

// What lands, byte for byte: the rows the program takes as they are (bytes
// behind the stream read or never read, an empty entry, a name given twice,
// an entry over several chunks; the sizes' effect on the progress count is
// ProgressWindowFollowsTheStream's).
TEST_P(Extraction, GoodPayloadsLandByteForByte) { RunDamageTableRows(true); }

// The progress window, run by the program's own extraction code with the
// setup's image as its instance (tests/module/progress_probe.cpp checks it).
// The positions are InflatedTotal in percent of InflatedSize, passed on
// above 100 when the size is understated while the bar stays at 100.  The
// first row is the sample of 1,142,634 bytes.
TEST_P(Extraction, ProgressWindowFollowsTheStream) {
  const std::vector<Entry> files = {{"a.txt", zqfixture::TextLikeBytes(1142634 - 6, 3)}};
  for (const auto& [inflatedSize, first, last] : {std::make_tuple(1142634u, "5", "100"), {571317u, "11", "200"}}) {
    SCOPED_TRACE("InflatedSize " + std::to_string(inflatedSize));
    SetupRecipe recipe = Recipe(arch(), files);
    recipe.inflatedSize = inflatedSize;
    const ProgramResult run =
        RunProgram(arch(), RigProgram(arch(), "module_progress_probe.exe"),
                   {WinPath(WriteSetup(recipe)), WinPath(folder().Make("workspace")), first, last});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
  }
}

ZQ_WINE_TEST_SUITE(Extraction);

}  // namespace
}  // namespace zqrig
