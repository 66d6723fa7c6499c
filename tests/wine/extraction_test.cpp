// Extraction under Wine: the damage table's sample of Win32 paths ends as
// zqpack's reader says, refused or landing byte for byte; the progress window
// follows the stream.  No run crashes, changes anything outside its Workspace
// or leaves its data file.
#include <algorithm>
#include <cstring>
#include <regex>
#include <sstream>

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
// setup's image as its instance (tests/module/progress_probe.cpp): resource
// 106 as the dialog manager makes it; one window
// from before the first read of the stream to after its last; a position
// after every output chunk, InflatedTotal in percent of InflatedSize, passed
// on above 100 when the size is understated while the bar stays at 100; one
// read per 64 KiB of stream.  The first row is the sample of 1,142,634 bytes.
TEST_P(Extraction, ProgressWindowFollowsTheStream) {
  const std::vector<Entry> files = {{"a.txt", zqfixture::TextLikeBytes(1142634 - 6, 3)}};
  const struct {
    uint32_t inflatedSize;
    long first, last;
  } rows[] = {{1142634, 5, 100}, {571317, 11, 200}};
  for (const auto& row : rows) {
    SCOPED_TRACE("InflatedSize " + std::to_string(row.inflatedSize));
    SetupRecipe recipe = Recipe(arch(), files);
    recipe.inflatedSize = row.inflatedSize;
    const fs::path setup = WriteSetup(recipe);
    PayloadHeader header;
    std::memcpy(&header, zqfixture::ReadFileBytes(setup).data() + kProgramBytes, sizeof header);
    const ProgramResult run = RunProgram(arch(), RigProgram(arch(), "module_progress_probe.exe"),
                                         {WinPath(setup), WinPath(folder().Make("workspace"))});
    std::map<std::string, std::string> said;  // first word -> the rest, lines of one word joined by '\n'
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      std::string& rest = said[line.substr(0, line.find(' '))];
      rest += (rest.empty() ? "" : "\n") + line.substr(line.find(' ') + 1);
    }
    auto field = [&](const std::string& word, const std::string& key) {
      std::smatch match;
      return std::regex_search(said[word], match, std::regex("(^| )" + key + "=(\\S+)")) ? match[2].str() : "(none)";
    };
    EXPECT_EQ(said["RESULT"], "ok") << run.out << run.err;
    // The window the dialog manager made of resource 106: the template's
    // sizes in pixels, its text, the bar's class, and the range the program sets.
    EXPECT_EQ(field("DIALOG", "client"), field("DIALOG", "want")) << run.out;
    EXPECT_NE(said["DIALOG"].find("text=\"Please wait while setup is extracting data...\""), std::string::npos)
        << run.out;
    EXPECT_EQ(field("BAR", "class"), "\"msctls_progress32\"") << run.out;
    EXPECT_EQ(field("BAR", "rect"), field("BAR", "want")) << run.out;
    EXPECT_EQ(field("BAR", "range"), "0,100") << run.out;
    // Reads: the program proper, header and table, then the stream chunks.
    const std::string& events = said["EVENTS"];
    const size_t created = events.find('C'), destroyed = events.find('D');
    ASSERT_TRUE(std::regex_match(events, std::regex("R+C(RP+)+Dr+"))) << events;
    EXPECT_EQ(std::count(events.begin() + created, events.begin() + destroyed, 'R'),
              (header.CompressedSize + kInputChunkBytes - 1) / kInputChunkBytes)
        << events;
    auto numbers = [&](const std::string& word) {
      std::vector<long> list;
      std::istringstream items(said[word]);
      for (std::string item; std::getline(items, item, ',');) list.push_back(std::stol(item));
      return list;
    };
    const std::vector<long> sent = numbers("SENT"), shown = numbers("SHOWN");
    ASSERT_FALSE(sent.empty()) << run.out;
    EXPECT_EQ(sent.front(), row.first) << said["SENT"];
    EXPECT_EQ(sent.back(), row.last) << said["SENT"];
    ASSERT_EQ(shown.size(), sent.size()) << run.out;
    for (size_t i = 0; i < sent.size(); ++i)
      EXPECT_EQ(shown[i], std::min(sent[i], 100L)) << "position " << i << "\n" << run.out;
  }
}

ZQ_WINE_TEST_SUITE(Extraction);

}  // namespace
}  // namespace zqrig
