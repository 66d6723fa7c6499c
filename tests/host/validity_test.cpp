// zqpack verify answers every damaged setup with the message the program's
// box shows (same checks, same order, same text), and accepts what the
// program accepts; list shows the entries and each checksum's state.
#include <gtest/gtest.h>

#include "damage.h"
#include "setup_reader.h"
#include "support.h"

using zqfixture::Damage;
using zqfixture::SetupRecipe;

// gtest shows the row's name, not its bytes.
namespace zqfixture {
void PrintTo(const Damage& row, std::ostream* os) { *os << row.name; }
}  // namespace zqfixture

namespace {

class DamageTable : public ::testing::TestWithParam<Damage> {};

}  // namespace

// Every row of the damage table (tests/fixture/damage.cpp).
TEST_P(DamageTable, VerifyGivesTheProgramsVerdict) {
  const Damage& row = GetParam();
  TestFolder dir;
  SetupRecipe recipe = SampleRecipe();
  row.apply(recipe);
  const std::string setup = dir.WriteSetup(recipe);
  const RunResult run = dir.Run({"verify", setup});
  if (row.message == MSG_COUNT) {
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.err, "") << Describe(run);
  } else {
    EXPECT_TRUE(FailedWithOneLine(run, 1, {setup}));
    EXPECT_EQ(run.out, ProgramMessage(row.message) + "\n") << Describe(run);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, DamageTable, ::testing::ValuesIn(zqfixture::DamageTable()),
                         [](const ::testing::TestParamInfo<Damage>& info) { return info.param.name; });

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
