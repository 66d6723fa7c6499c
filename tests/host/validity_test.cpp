// zqpack verify answers every damaged setup with the message the program's
// box shows (same checks, same order, same text), and accepts what the
// program accepts; list shows the entries and each checksum's state.
#include <gtest/gtest.h>

#include <functional>

#include "app/messages.h"
#include "setup_reader.h"
#include "support.h"

using zqfixture::SetupRecipe;

namespace {

using Damage = std::function<void(SetupRecipe&)>;

struct DamageCase {
  const char* name;
  Damage damage;
  MessageId message;  // MSG_COUNT: the program extracts the setup
};

// The sample's stream or table, laid out here for a case to change.
std::vector<uint8_t>& Stream(SetupRecipe& s) {
  s.stream = zqfixture::ZlibStream(zqfixture::LayOutData(s.entries), s.level);
  return *s.stream;
}
std::vector<PayloadEntry>& Table(SetupRecipe& s) {
  s.table = zqfixture::LayOutTable(s.entries);
  return *s.table;
}
Damage SecondEntryNamed(const std::string& name) {
  return [name](SetupRecipe& s) { s.entries[1].name = name; };
}

// clang-format off
const DamageCase kCases[] = {
    {"FileOf32808Bytes", [](SetupRecipe& s) { s.cutTo = 32808; }, MSG_BAD_FILE_SIZE},
    {"FileOf32809BytesPassesTheSizeTest", [](SetupRecipe& s) { s.cutTo = 32809; }, MSG_READ_INSTALLER},
    {"SignatureZqiFollowedByNonZero", [](SetupRecipe& s) { s.signature = 0x0149515A; }, MSG_BAD_SIGNATURE},
    {"StubByteChanged", [](SetupRecipe& s) { s.stubChanges = {{20000, 0x01}}; }, MSG_BAD_STUB_CRC},
    {"NegativeEntryCount", [](SetupRecipe& s) { s.entryCount = -1; }, MSG_INVALID_DATA},
    {"EntryCount10923", [](SetupRecipe& s) { s.entryCount = 10923; }, MSG_INVALID_DATA},
    {"TableTheFileCannotHold", [](SetupRecipe& s) { s.entries.resize(1); s.entryCount = 10922; }, MSG_READ_INSTALLER},
    {"TableByteChanged", [](SetupRecipe& s) { s.tableChanges = {{13, 0x80}}; }, MSG_BAD_TABLE_CRC},
    {"CompressedSizeBeyondTheFile", [](SetupRecipe& s) { s.compressedSize = uint32_t(Stream(s).size() + 1); },
     MSG_READ_INSTALLER},
    {"WrongZlibTrailerWithMatchingDataChecksum", [](SetupRecipe& s) { s.wrongZlibTrailer = true; }, MSG_EXTRACT_FAILED},
    {"WrongZlibHeader", [](SetupRecipe& s) { Stream(s)[1] ^= 0x01; }, MSG_EXTRACT_FAILED},
    {"ReservedDeflateBlockType", [](SetupRecipe& s) { s.stream = {0x78, 0x9C, 0xFF, 0xFF, 0, 0, 0, 0}; },
     MSG_EXTRACT_FAILED},
    {"PresetDictionary", [](SetupRecipe& s) {
       s.stream = zqfixture::ZlibStreamWithDictionary(zqfixture::LayOutData(s.entries), zqfixture::Bytes("dict")); },
     MSG_EXTRACT_FAILED},
    {"DataChecksumWrong", [](SetupRecipe& s) { s.dataChecksum = 0x12345678; }, MSG_BAD_DATA_CRC},
    // inflate only runs dry; the checksum finds it
    {"StreamEndsBeforeItsEnd", [](SetupRecipe& s) { auto& z = Stream(s); z.resize(z.size() / 2); }, MSG_BAD_DATA_CRC},
    {"InflatedSizeZeroWithData", [](SetupRecipe& s) { s.inflatedSize = 0; }, MSG_INVALID_DATA},
    {"EntryReachesPastTheData", [](SetupRecipe& s) { Table(s).back().DataSize += 1; }, MSG_READ_TEMPORARY},
    {"EntrySizeOf4GiB", [](SetupRecipe& s) { Table(s)[2].DataSize = 0xFFFFFFFF; }, MSG_READ_TEMPORARY},
    {"NameOf131073Bytes", SecondEntryNamed(std::string(131072, 'n')), MSG_INVALID_DATA},
    {"NameWithoutZero", [](SetupRecipe& s) { s.entries[1].nameWithoutZero = true; }, MSG_INVALID_DATA},
    {"NameAfterItsContents", [](SetupRecipe& s) { auto& t = Table(s); t[1].NameOffset = t[1].DataOffset + 1; },
     MSG_INVALID_DATA},
    {"NameBehindTheData",
     [](SetupRecipe& s) { auto& t = Table(s); t[1].NameOffset = 10000000; t[1].DataOffset = 10000010; },
     MSG_INVALID_DATA},
    {"NameDotDotBackslash", SecondEntryNamed("..\\x"), MSG_INVALID_DATA},
    {"NameWithSlash", SecondEntryNamed("a/b"), MSG_INVALID_DATA},
    {"NameWithDrive", SecondEntryNamed("C:x"), MSG_INVALID_DATA},
    {"NameWithStream", SecondEntryNamed("x:stream"), MSG_INVALID_DATA},
    {"NameDot", SecondEntryNamed("."), MSG_INVALID_DATA},
    {"NameDotDot", SecondEntryNamed(".."), MSG_INVALID_DATA},
    {"NameEmpty", SecondEntryNamed(""), MSG_INVALID_DATA},
    {"NameOfADevice", SecondEntryNamed("con.txt"), MSG_INVALID_DATA},
    // What makes no difference to the program.
    {"BytesBehindTheStreamInsideCompressedSize",
     [](SetupRecipe& s) { s.bytesInsideStream = zqfixture::RandomBytes(70000, 4); }, MSG_COUNT},
    {"BytesBehindCompressedSize", [](SetupRecipe& s) { s.bytesBehindStream = zqfixture::RandomBytes(56291, 5); },
     MSG_COUNT},
    {"InflatedSizeOverstated", [](SetupRecipe& s) { s.inflatedSize = 0x7FFFFFFF; }, MSG_COUNT},
    {"InflatedSizeUnderstated", [](SetupRecipe& s) { s.inflatedSize = 1; }, MSG_COUNT},
    {"NoEntries",
     [](SetupRecipe& s) { s.entries.clear(); s.bytesBehindStream = zqfixture::Bytes("enough for the size test"); },
     MSG_COUNT},
    {"EmptyEntryAndTwoOfOneName", [](SetupRecipe& s) {
       s.entries.insert(s.entries.end(), {{"empty.txt", {}}, {"DEMO.CAB", zqfixture::Bytes("later")}}); },
     MSG_COUNT},
    {"StoredStream", [](SetupRecipe& s) { s.level = 0; }, MSG_COUNT},
    {"TrailingBlankAndDot", SecondEntryNamed("body.bmp. "), MSG_COUNT},
};
// clang-format on

// gtest shows the case's name, not its bytes.
void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class PayloadValidity : public ::testing::TestWithParam<DamageCase> {};

}  // namespace

TEST_P(PayloadValidity, VerifyGivesTheProgramsVerdict) {
  const DamageCase& c = GetParam();
  TestFolder dir;
  SetupRecipe recipe = SampleRecipe();
  c.damage(recipe);
  const std::string setup = dir.WriteSetup(recipe);
  const RunResult run = dir.Run({"verify", setup});
  if (c.message == MSG_COUNT) {
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.err, "") << Describe(run);
  } else {
    EXPECT_TRUE(FailedWithOneLine(run, 1, {setup}));
    EXPECT_EQ(run.out, ProgramMessage(c.message) + "\n") << Describe(run);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PayloadValidity, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

TEST(ProgramMessage, RendersAsTheBoxShowsIt) {
  EXPECT_EQ(ProgramMessage(MSG_WRITE_FILE, 112, "D:\\Temp\\_ZQIA5F3\\data1c2d.tmp"),
            "Error Code: 00000070\nError writing data to D:\\Temp\\_ZQIA5F3\\data1c2d.tmp.");
  EXPECT_EQ(ProgramMessage(MSG_BAD_TABLE_CRC), "Invalid CRC in data block. The file may be corrupted.");
  EXPECT_EQ(ProgramMessage(MSG_READ_INSTALLER, 5).substr(0, 21), "Error Code: 00000005\n");
  EXPECT_EQ(ProgramMessage(MSG_CREATE_DIRECTORY, 183, "x").substr(0, 21), "Error Code: 000000B7\n");
  EXPECT_EQ(ProgramMessage(MSG_EXTRACT_FAILED), Messages[MSG_EXTRACT_FAILED]);
  EXPECT_EQ(ProgramMessage(MSG_CREATE_FILE, 0, std::string(2000, 'p')).size(), 1023u);
}

TEST(SetupList, ShowsTheEntriesAndEachChecksumsState) {
  TestFolder dir;
  SetupRecipe recipe = SampleRecipe();
  RunResult run = dir.Run({"list", dir.WriteSetup(recipe)});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  const std::vector<PayloadEntry> table = zqfixture::LayOutTable(recipe.entries);
  for (size_t i = 0; i < recipe.entries.size(); ++i) {
    const size_t at = run.out.find(" " + recipe.entries[i].name + " ");
    ASSERT_NE(at, std::string::npos) << recipe.entries[i].name << "\n" << run.out;
    const std::string row = run.out.substr(at, run.out.find('\n', at) - at);
    EXPECT_NE(row.find(" " + std::to_string(table[i].DataOffset) + " "), std::string::npos) << row;
    EXPECT_NE(row.find(" " + std::to_string(table[i].DataSize)), std::string::npos) << row;
  }
  recipe.tableChanges = {{0, 0x01}};
  run = dir.Run({"list", dir.WriteSetup(recipe)});
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  for (const char* part : {"StubChecksum     0x", "ok\nTableChecksum", "WRONG (computed 0x", "  not checked",
                           "refused: Invalid CRC in data block."})
    EXPECT_NE(run.out.find(part), std::string::npos) << "no \"" << part << "\" in\n" << run.out;
}
