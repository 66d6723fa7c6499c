// zqpack verify answers every damaged setup with the message the program's
// box shows (same checks, same order, same text), and accepts what the
// program accepts.
#include <gtest/gtest.h>

#include <functional>

#include "app/messages.h"
#include "fixture.h"
#include "setup_reader.h"
#include "support.h"

using zqfixture::Entry;
using zqfixture::SetupRecipe;

namespace {

struct DamageCase {
  const char* name;
  std::function<void(SetupRecipe&)> damage;
  MessageId message;  // MSG_COUNT: the program extracts the setup
};

// The sample's stream, for cases that change it or its size.
std::vector<uint8_t> SampleStream(const SetupRecipe& recipe) {
  return zqfixture::ZlibStream(zqfixture::LayOutData(recipe.entries), recipe.level);
}

void SecondEntryNamed(SetupRecipe& s, const std::string& name) { s.entries[1].name = name; }

const DamageCase kCases[] = {
    {"FileOf32808Bytes", [](SetupRecipe& s) { s.cutTo = 32808; }, MSG_BAD_FILE_SIZE},
    {"FileOf32809BytesPassesTheSizeTest", [](SetupRecipe& s) { s.cutTo = 32809; }, MSG_READ_INSTALLER},
    {"SignatureZqiFollowedByNonZero", [](SetupRecipe& s) { s.signature = 0x0149515A; }, MSG_BAD_SIGNATURE},
    {"StubByteChanged",
     [](SetupRecipe& s) {
       s.stubChanges = {{20000, 0x01}};
     },
     MSG_BAD_STUB_CRC},
    {"NegativeEntryCount", [](SetupRecipe& s) { s.entryCount = -1; }, MSG_INVALID_DATA},
    {"EntryCount10923", [](SetupRecipe& s) { s.entryCount = 10923; }, MSG_INVALID_DATA},
    {"TableTheFileCannotHold",
     [](SetupRecipe& s) {
       s.entries = {{"a.txt", zqfixture::Bytes("a"), false}};
       s.entryCount = 10922;
     },
     MSG_READ_INSTALLER},
    {"TableByteChanged",
     [](SetupRecipe& s) {
       s.tableChanges = {{13, 0x80}};
     },
     MSG_BAD_TABLE_CRC},
    {"CompressedSizeBeyondTheFile",
     [](SetupRecipe& s) {
       s.stream = SampleStream(s);
       s.compressedSize = static_cast<uint32_t>(s.stream->size() + 1);
     },
     MSG_READ_INSTALLER},
    {"WrongZlibTrailerWithMatchingDataChecksum", [](SetupRecipe& s) { s.wrongZlibTrailer = true; }, MSG_EXTRACT_FAILED},
    {"WrongZlibHeader",
     [](SetupRecipe& s) {
       s.stream = SampleStream(s);
       (*s.stream)[1] ^= 0x01;
     },
     MSG_EXTRACT_FAILED},
    {"ReservedDeflateBlockType", [](SetupRecipe& s) { s.stream = {0x78, 0x9C, 0xFF, 0xFF, 0, 0, 0, 0}; },
     MSG_EXTRACT_FAILED},
    {"PresetDictionary",
     [](SetupRecipe& s) {
       s.stream = zqfixture::ZlibStreamWithDictionary(zqfixture::LayOutData(s.entries), zqfixture::Bytes("dict"));
     },
     MSG_EXTRACT_FAILED},
    {"DataChecksumWrong", [](SetupRecipe& s) { s.dataChecksum = 0x12345678; }, MSG_BAD_DATA_CRC},
    {"StreamEndsBeforeItsEnd",  // inflate only runs dry; the checksum finds it
     [](SetupRecipe& s) {
       s.stream = SampleStream(s);
       s.stream->resize(s.stream->size() / 2);
     },
     MSG_BAD_DATA_CRC},
    {"InflatedSizeZeroWithData", [](SetupRecipe& s) { s.inflatedSize = 0; }, MSG_INVALID_DATA},
    {"EntryReachesPastTheData",
     [](SetupRecipe& s) {
       s.table = zqfixture::LayOutTable(s.entries);
       s.table->back().DataSize += 1;
     },
     MSG_READ_TEMPORARY},
    {"EntrySizeOf4GiB",
     [](SetupRecipe& s) {
       s.table = zqfixture::LayOutTable(s.entries);
       (*s.table)[2].DataSize = 0xFFFFFFFF;
     },
     MSG_READ_TEMPORARY},
    {"NameOf131073Bytes", [](SetupRecipe& s) { SecondEntryNamed(s, std::string(131072, 'n')); }, MSG_INVALID_DATA},
    {"NameWithoutZero", [](SetupRecipe& s) { s.entries[1].nameWithoutZero = true; }, MSG_INVALID_DATA},
    {"NameAfterItsContents",
     [](SetupRecipe& s) {
       s.table = zqfixture::LayOutTable(s.entries);
       (*s.table)[1].NameOffset = (*s.table)[1].DataOffset + 1;
     },
     MSG_INVALID_DATA},
    {"NameBehindTheData",
     [](SetupRecipe& s) {
       s.table = zqfixture::LayOutTable(s.entries);
       (*s.table)[1].NameOffset = 10000000;
       (*s.table)[1].DataOffset = 10000010;
     },
     MSG_INVALID_DATA},
    {"NameDotDotBackslash", [](SetupRecipe& s) { SecondEntryNamed(s, "..\\x"); }, MSG_INVALID_DATA},
    {"NameWithSlash", [](SetupRecipe& s) { SecondEntryNamed(s, "a/b"); }, MSG_INVALID_DATA},
    {"NameWithDrive", [](SetupRecipe& s) { SecondEntryNamed(s, "C:x"); }, MSG_INVALID_DATA},
    {"NameWithStream", [](SetupRecipe& s) { SecondEntryNamed(s, "x:stream"); }, MSG_INVALID_DATA},
    {"NameDot", [](SetupRecipe& s) { SecondEntryNamed(s, "."); }, MSG_INVALID_DATA},
    {"NameDotDot", [](SetupRecipe& s) { SecondEntryNamed(s, ".."); }, MSG_INVALID_DATA},
    {"NameEmpty", [](SetupRecipe& s) { SecondEntryNamed(s, ""); }, MSG_INVALID_DATA},
    {"NameOfADevice", [](SetupRecipe& s) { SecondEntryNamed(s, "con.txt"); }, MSG_INVALID_DATA},
    // What makes no difference to the program.
    {"BytesBehindTheStreamInsideCompressedSize",
     [](SetupRecipe& s) { s.bytesInsideStream = zqfixture::RandomBytes(70000, 4); }, MSG_COUNT},
    {"BytesBehindCompressedSize", [](SetupRecipe& s) { s.bytesBehindStream = zqfixture::RandomBytes(56291, 5); },
     MSG_COUNT},
    {"InflatedSizeOverstated", [](SetupRecipe& s) { s.inflatedSize = 0x7FFFFFFF; }, MSG_COUNT},
    {"InflatedSizeUnderstated", [](SetupRecipe& s) { s.inflatedSize = 1; }, MSG_COUNT},
    {"NoEntries",
     [](SetupRecipe& s) {
       s.entries.clear();
       s.bytesBehindStream = zqfixture::Bytes("enough to pass the size test");
     },
     MSG_COUNT},
    {"EmptyEntryAndTwoOfOneName",
     [](SetupRecipe& s) {
       s.entries.push_back({"empty.txt", {}, false});
       s.entries.push_back({"DEMO.CAB", zqfixture::Bytes("later"), false});
     },
     MSG_COUNT},
    {"StoredStream", [](SetupRecipe& s) { s.level = 0; }, MSG_COUNT},
    {"TrailingBlankAndDot", [](SetupRecipe& s) { SecondEntryNamed(s, "body.bmp. "); }, MSG_COUNT},
};

// gtest shows the case's name, not its bytes.
void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class PayloadValidity : public ::testing::TestWithParam<DamageCase> {};

}  // namespace

TEST_P(PayloadValidity, VerifyGivesTheProgramsVerdict) {
  const DamageCase& c = GetParam();
  TestFolder dir;
  SetupRecipe recipe;
  recipe.entries = zqfixture::SampleEntries();
  c.damage(recipe);
  zqfixture::WriteFileBytes(dir.Path("setup.exe"), zqfixture::BuildSetup(recipe));

  const RunResult run = dir.Run({"verify", dir.Path("setup.exe")});
  if (c.message == MSG_COUNT) {
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.err, "") << Describe(run);
  } else {
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    EXPECT_EQ(run.out, ProgramMessage(c.message) + "\n") << Describe(run);
    ASSERT_EQ(Lines(run.err).size(), 1u) << Describe(run);
    EXPECT_NE(run.err.find(dir.Path("setup.exe")), std::string::npos) << run.err;
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

TEST(SetupList, ShowsEachChecksumsState) {
  TestFolder dir;
  SetupRecipe recipe;
  recipe.entries = zqfixture::SampleEntries();
  recipe.tableChanges = {{0, 0x01}};
  zqfixture::WriteFileBytes(dir.Path("setup.exe"), zqfixture::BuildSetup(recipe));
  const RunResult run = dir.Run({"list", dir.Path("setup.exe")});
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  const std::string& out = run.out;
  EXPECT_NE(out.find("StubChecksum     0x"), std::string::npos) << out;
  EXPECT_NE(out.find("ok\nTableChecksum"), std::string::npos) << out;
  EXPECT_NE(out.find("WRONG (computed 0x"), std::string::npos) << out;
  EXPECT_NE(out.find("  not checked"), std::string::npos) << out;
  EXPECT_NE(out.find("refused: Invalid CRC in data block."), std::string::npos) << out;
}

TEST(SetupList, ShowsTheEntriesOfAGoodSetup) {
  TestFolder dir;
  SetupRecipe recipe;
  recipe.entries = zqfixture::SampleEntries();
  zqfixture::WriteFileBytes(dir.Path("setup.exe"), zqfixture::BuildSetup(recipe));
  const RunResult run = dir.Run({"list", dir.Path("setup.exe")});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  const std::vector<PayloadEntry> table = zqfixture::LayOutTable(recipe.entries);
  for (size_t i = 0; i < recipe.entries.size(); ++i) {
    const std::string& name = recipe.entries[i].name;
    const size_t at = run.out.find(" " + name + " ");
    ASSERT_NE(at, std::string::npos) << name << "\n" << run.out;
    const std::string row = run.out.substr(at, run.out.find('\n', at) - at);
    EXPECT_NE(row.find(" " + std::to_string(table[i].DataOffset) + " "), std::string::npos) << row;
    EXPECT_NE(row.find(" " + std::to_string(table[i].DataSize)), std::string::npos) << row;
  }
}
