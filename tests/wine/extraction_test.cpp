// Extraction under Wine: damaged payloads and payloads beyond the reader's
// limits are refused with their exact texts (zqpack verify prints the same on
// the same file), touch nothing outside the Workspace and leave no progress
// window behind; good payloads land byte for byte.
#include <algorithm>
#include <cstring>
#include <functional>
#include <regex>
#include <sstream>

#include "rig.h"

namespace zqrig {
namespace {

using Contents = std::vector<uint8_t>;
using Files = std::map<std::string, Contents>;

const char kCorrupted[] = "Invalid data in installer. The file may be corrupted.";

// The sample product and files of other shapes: an empty one, a name given
// twice, 300000 random bytes that span several input and split chunks.
std::vector<Entry> MixedEntries() {
  std::vector<Entry> entries = SampleFiles();
  entries.insert(entries.end(), {{"empty.dat", {}},
                                 {"twice.txt", Bytes("the earlier contents")},
                                 {"big.bin", zqfixture::RandomBytes(300000, 11)},
                                 {"twice.txt", Bytes("the later contents")}});
  return entries;
}

// The Workspace while the wizard is up: every entry's file (the later one of
// a name given twice) but the license and bitmaps, which the wizard consumed.
Files WhileWizardIsUp(const std::vector<Entry>& entries) {
  Files files;
  for (const Entry& entry : entries) files[entry.name] = entry.contents;
  for (const char* consumed : {"license.rtf", "body.bmp", "head.bmp"}) files.erase(consumed);
  return files;
}

class Extraction : public ProgramTest {
 protected:
  ProgramResult Verify() const {
    return RunZqpack({"-q", "verify", (folder().Root() / "setup.exe").string()}, folder().Root() / "zqpack-scratch",
                     false);
  }

  // The Workspace holds exactly `files`, byte for byte.
  void ExpectWorkspace(const Files& files) const {
    fs::path workspace = OnlyWorkspace();
    if (workspace.empty()) return;
    std::vector<std::string> names;
    for (const auto& [name, contents] : files) names.push_back(name);
    ASSERT_EQ(FilesIn(workspace), names) << "the Workspace's files";
    for (const auto& [name, contents] : files)
      EXPECT_TRUE(FileBytes(workspace / name) == contents)
          << name << " differs from its entry (" << fs::file_size(workspace / name) << " bytes, wanted "
          << contents.size() << ")";
  }

  // Refused: the error box with `pattern`, no progress window while it is
  // up, exit code -1, zqpack verify printing the same text; nothing changed
  // outside the Workspace (test folder, drive C:), which holds `left`.
  void ExpectRefused(const SetupRecipe& recipe, const std::string& pattern, const Files& left) {
    for (const fs::path& earlier : Workspaces(folder().Temp())) fs::remove_all(earlier);
    Launch launch = Installed(WriteSetup(recipe));
    launch.timeoutMs = 15000;
    launch.script.Box().Windows().Answer("ok").Exit();
    const fs::path driveC = Rig::Get().Prefix() / "drive_c";
    const Snapshot before(folder().Root()), systemBefore(driveC);
    Outcome run = Drive(launch);
    EXPECT_TRUE(Refused(run, pattern));
    for (const std::string& line : run.lines)
      EXPECT_TRUE(line.rfind("WINDOW ", 0) != 0 || (line.find("msctls_progress32") == std::string::npos &&
                                                    line.find("Please wait") == std::string::npos))
          << "the progress window outlived extraction: " << line;
    EXPECT_EQ(before.Changes(Snapshot(folder().Root())), std::vector<std::string>()) << "outside the Workspace";
    EXPECT_EQ(systemBefore.Changes(Snapshot(driveC)), std::vector<std::string>()) << "on drive C:";
    ExpectWorkspace(left);
    ProgramResult verify = Verify();
    EXPECT_EQ(verify.out, (run.boxes.empty() ? "" : run.boxes[0].text) + "\n") << "zqpack verify, the box";
    EXPECT_EQ(verify.status, 1) << "zqpack verify's exit status";
  }

  // Extracted: the wizard came up, zqpack verify accepts the file, and the
  // Workspace holds what it must while the wizard is up.
  void ExpectExtracted(const SetupRecipe& recipe, int timeoutMs = 20000) {
    fs::remove_all(folder().Temp());
    Launch launch = Installed(WriteSetup(recipe));
    launch.timeoutMs = timeoutMs;
    launch.script.Wizard();
    EXPECT_TRUE(Drive(launch).ShowedWizard());
    ProgramResult verify = Verify();
    EXPECT_EQ(verify.status, 0) << "zqpack verify refused what the program extracted: " << verify.out;
    ExpectWorkspace(WhileWizardIsUp(recipe.entries));
  }
};

// Every check of validity and every limit of the reader, in the program's
// order, each with its message; entry names that are no plain file names
// (climbing out, folders, drives, streams, devices, none), each behind a good
// first entry that stays.
TEST_P(Extraction, DamagedPayloadsAreRefused) {
  struct Row {
    std::string what;
    std::function<void(SetupRecipe&)> damage;
    std::string pattern;
    Files left;
  };
  const Entry first = {"first.txt", Bytes("kept")};
  auto entries = [](std::vector<Entry> list) { return [list](SetupRecipe& r) { r.entries = list; }; };
  const Contents big = zqfixture::RandomBytes(200000, 3);
  std::vector<Row> rows = {
      {"signature \"ZQI\\x01\"", [](SetupRecipe& r) { r.signature = 0x0149515A; },
       "Invalid signature in installer. The file may be corrupted.", {}},
      {"a byte of the program proper", [](SetupRecipe& r) { r.stubChanges = {{0x7000, 0x01}}; },
       "Invalid CRC in installer. The file may be corrupted.", {}},
      {"a byte of the table", [](SetupRecipe& r) { r.tableChanges = {{13, 0x80}}; },
       "Invalid CRC in data block. The file may be corrupted.", {}},
      {"the file ends in the third entry", [](SetupRecipe& r) { r.cutTo = kTableOffset + 2 * kEntryBytes + 6; },
       "Error Code: %08X\nError reading data from installer.", {}},
      // The read that meets the end succeeds without a code: zqpack verify
      // shows 00000000 and so must the box, never a code left behind.
      {"CompressedSize beyond the file",
       [](SetupRecipe& r) { r.compressedSize = static_cast<uint32_t>(zqfixture::BuildSetup(r).size()); },
       "Error Code: %08X\nError reading data from installer.", {}},
      {"the zlib trailer wrong, DataChecksum right", [](SetupRecipe& r) { r.wrongZlibTrailer = true; },
       "Installer failed to extract data block.", {}},
      {"DataChecksum", [](SetupRecipe& r) { r.dataChecksum = 0x12345678; },
       "Invalid CRC in compressed data. The file may be corrupted.", {}},
      {"EntryCount -1", [](SetupRecipe& r) { r.entryCount = -1; }, kCorrupted, {}},
      {"InflatedSize 0 while the stream yields data", [](SetupRecipe& r) { r.inflatedSize = 0; }, kCorrupted, {}},
      {"a table of 10923 entries, one more than the work buffer holds",
       entries(std::vector<Entry>(10923, Entry{"x.txt", Bytes("x")})), kCorrupted, {}},
      {"a name of 131073 bytes", entries({first, {std::string(131072, 'n'), Bytes("never")}}), kCorrupted,
       {{"first.txt", first.contents}}},
      {"a name without its zero byte", entries({first, {"unterminated", Bytes("never"), true}}), kCorrupted,
       {{"first.txt", first.contents}}},
      // The second file holds what there was; the first stays whole.
      {"the second entry 1000 bytes past the data",
       [&](SetupRecipe& r) {
         r.entries = {first, {"second.bin", big}};
         r.table = zqfixture::LayOutTable(r.entries);
         r.table->back().DataSize += 1000;
       },
       "Error Code: %08X\nError reading data from temporary file.", {{"first.txt", first.contents}, {"second.bin", big}}},
  };
  const fs::path victim = folder().Make("victims") / "victim.txt";
  zqfixture::WriteFileBytes(victim.string(), Bytes("untouched elsewhere"));
  zqfixture::WriteFileBytes((folder().Temp() / "victim.txt").string(), Bytes("untouched beside the Workspace"));
  for (std::string name : std::vector<std::string>{"..\\victim.txt", WinPath(victim), "C:\\zqhostile-entry.txt", "C:x", "a/b", "x:stream",
                           "CON", "NUL.txt", ".", "..", ""})
    rows.push_back({"entry name \"" + name + "\"", entries({first, {name, Bytes("HOSTILE")}}), kCorrupted,
                    {{"first.txt", first.contents}}});

  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetupRecipe recipe = Recipe(arch());
    row.damage(recipe);
    ExpectRefused(recipe, row.pattern, row.left);
  }
}

// What lands: every file byte for byte, an empty one, the later of a name
// given twice; bytes behind the stream inside CompressedSize (read in a
// further chunk) and behind it (never read) are dropped; InflatedSize moves
// only the progress bar.
TEST_P(Extraction, GoodPayloadsLandByteForByte) {
  const std::vector<std::pair<const char*, std::function<void(SetupRecipe&)>>> rows = {
      {"as built", [](SetupRecipe&) {}},
      {"70000 bytes inside CompressedSize", [](SetupRecipe& r) { r.bytesInsideStream = zqfixture::RandomBytes(70000, 5); }},
      {"5000 bytes behind CompressedSize", [](SetupRecipe& r) { r.bytesBehindStream = zqfixture::RandomBytes(5000, 6); }},
      {"InflatedSize 1", [](SetupRecipe& r) { r.inflatedSize = 1; }},
      {"InflatedSize FFFFFFFF", [](SetupRecipe& r) { r.inflatedSize = 0xFFFFFFFFu; }},
  };
  for (const auto& [what, change] : rows) {
    SCOPED_TRACE(what);
    SetupRecipe recipe = Recipe(arch(), MixedEntries());
    change(recipe);
    ExpectExtracted(recipe);
  }
}

// The most entries a table may hold, 10922, all split: 64 names in turn keep
// Wine's file creation short, and the Workspace holds the last entry of each.
TEST_P(Extraction, MaximumEntryCountExtracts) {
  std::vector<Entry> entries;
  char name[16];
  for (int i = 0; i < kMaxEntryCount; ++i) {
    std::snprintf(name, sizeof name, "f%02d.txt", i % 64);
    entries.push_back({name, Bytes("entry " + std::to_string(i))});
  }
  ExpectExtracted(Recipe(arch(), entries), 120000);
}

// The progress window, run by the program's own extraction code with the
// setup's image as its instance (tests/module/progress_probe.cpp): resource
// 106 as the image stores it and as the dialog manager makes it; one window
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
    std::memcpy(&header, FileBytes(setup).data() + kStubBytes, sizeof header);
    const ProgramResult run = RunProgram(arch(), RigProgram(arch(), "module_progress_probe.exe"),
                                         {WinPath(setup), WinPath(folder().Make("workspace"))});
    std::map<std::string, std::string> said;  // first word -> the rest
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) said[line.substr(0, line.find(' '))] = line.substr(line.find(' ') + 1);
    auto field = [&](const std::string& word, const std::string& key) {
      std::smatch match;
      return std::regex_search(said[word], match, std::regex("(^| )" + key + "=(\\S+)")) ? match[2].str() : "(none)";
    };
    EXPECT_EQ(said["RESULT"], "ok") << run.out << run.err;
    EXPECT_EQ(said["TEMPLATE"], "style=900008C0 exstyle=00000000 rect=0,0,200,49 items=2 menu=\"\" class=\"\" "
                                "title=\"\" font=8,\"MS Sans Serif\"");
    std::vector<std::string> items;
    for (std::istringstream again(run.out); std::getline(again, line);)
      if (line.rfind("ITEM ", 0) == 0) items.push_back(line);
    EXPECT_EQ(items, (std::vector<std::string>{
                         "ITEM id=65535 class=\"#130\" style=50020000 exstyle=00000000 rect=32,7,136,8 "
                         "text=\"Please wait while setup is extracting data...\"",
                         "ITEM id=1013 class=\"msctls_progress32\" style=50800001 exstyle=00000000 rect=10,24,180,15 "
                         "text=\"Progress1\""}));
    // The window the dialog manager made of it: the template's sizes in
    // pixels, its text, the bar's class, and the range the program sets.
    EXPECT_EQ(field("DIALOG", "client"), field("DIALOG", "want")) << run.out;
    EXPECT_NE(said["DIALOG"].find("text=\"Please wait while setup is extracting data...\""), std::string::npos) << run.out;
    EXPECT_EQ(field("BAR", "class"), "\"msctls_progress32\"") << run.out;
    EXPECT_EQ(field("BAR", "rect"), field("BAR", "want")) << run.out;
    EXPECT_EQ(field("BAR", "range"), "0,100") << run.out;
    // Reads: the program proper, header and table, then the stream chunks.
    const std::string& events = said["EVENTS"];
    const size_t created = events.find('C'), destroyed = events.find('D');
    ASSERT_TRUE(std::regex_match(events, std::regex("R+C(RP+)+Dr+"))) << events;
    EXPECT_EQ(std::count(events.begin() + created, events.begin() + destroyed, 'R'),
              (header.CompressedSize + kInputChunkBytes - 1) / kInputChunkBytes) << events;
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
