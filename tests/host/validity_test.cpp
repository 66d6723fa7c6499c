// zqpack verify and list: the program's verdict on every damaged setup, its
// box texts, and the list in text and in --json.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "damage.h"
#include "setup_reader.h"
#include "support.h"

using nlohmann::json;
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
  EXPECT_EQ(ProgramMessage(MSG_CREATE_DIRECTORY, 183, "x").substr(0, 21), "Error Code: 000000B7\n");
  EXPECT_EQ(ProgramMessage(MSG_EXTRACT_FAILED), Messages[MSG_EXTRACT_FAILED]);
  EXPECT_EQ(ProgramMessage(MSG_CREATE_FILE, 0, std::string(2000, 'p')).size(), 1023u);
}

// The entries' rows: JsonOutput, which holds them to the fixture's table.
TEST(SetupList, ShowsEachChecksumsState) {
  TestFolder dir;
  SetupRecipe recipe = SampleRecipe();
  recipe.tableChanges = {{0, 0x01}};
  const RunResult run = dir.Run({"list", dir.WriteSetup(recipe)});
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  for (const char* part : {"StubChecksum     0x", "ok\nTableChecksum", "WRONG (computed 0x", "  not checked",
                           "refused: Invalid CRC in data block."})
    EXPECT_NE(run.out.find(part), std::string::npos) << "no \"" << part << "\" in\n" << run.out;
}

namespace {

std::string Hex(const json& value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value.get<unsigned>());
  return text;
}

}  // namespace

TEST(JsonOutput, ListAndVerifyCarryWhatTheTextShows) {
  const std::function<void(SetupRecipe&)> damages[] = {
      [](SetupRecipe&) {},
      [](SetupRecipe& s) { s.cutTo = 32808; },  // too short for a header
      [](SetupRecipe& s) {
        s.tableChanges.push_back({13, 0x80});
      },
      [](SetupRecipe& s) { s.inflatedSize = 1; },
      [](SetupRecipe& s) { s.entries[2].name = "..\\head.bmp"; },
  };
  for (size_t i = 0; i < std::size(damages); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    TestFolder dir;
    SetupRecipe recipe = SampleRecipe();
    damages[i](recipe);
    const std::string setup = dir.WriteSetup(recipe);
    const std::vector<PayloadEntry> table = zqfixture::LayOutTable(recipe.entries);
    const RunResult text = dir.Run({"-q", "list", setup}), listed = dir.Run({"list", "--json", setup}),
                    verified = dir.Run({"verify", setup, "--json"});
    EXPECT_EQ(listed.exitCode, text.exitCode) << Describe(listed);
    EXPECT_EQ(verified.exitCode, text.exitCode) << Describe(verified);
    EXPECT_EQ(verified.out, listed.out) << "one document for both";
    const json j = json::parse(listed.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << Describe(listed);

    // What the text shows, "Name   value" lines keyed by name and entry rows.
    std::map<std::string, std::string> f;
    std::vector<std::string> entryRows;
    for (const std::string& line : Lines(text.out)) {
      if (line.rfind("CAB ", 0) == 0) break;  // what the CAB files tell (Cabinets.*)
      const size_t gap = line.find("  ");
      if (line.size() > 6 && line[0] == ' ' && line[5] != ' ' && line[5] != '#') entryRows.push_back(line);
      if (gap != std::string::npos && line[0] != ' ')
        f[line.substr(0, gap)] = line.substr(line.find_first_not_of(' ', gap));
    }
    EXPECT_EQ(f["setup"], setup + ", " + std::to_string(j["fileBytes"].get<uint64_t>()) + " bytes");
    const json& h = j["header"];
    EXPECT_EQ(h.is_null(), f.count("signature") == 0) << j;
    if (!h.is_null()) {
      std::string inflated = h["inflatedSize"].dump();
      if (!h["inflatedBytes"].is_null() && h["inflatedBytes"] != h["inflatedSize"])
        inflated += "  (the stream yields " + h["inflatedBytes"].dump() + ")";
      EXPECT_EQ(f["InflatedSize"], inflated);
      EXPECT_EQ(f["CompressedSize"], h["compressedSize"].dump());
      EXPECT_EQ(f["EntryCount"], h["entryCount"].dump());
      for (const auto& [name, key] : {std::pair{"StubChecksum", "stubChecksum"},
                                      {"TableChecksum", "tableChecksum"},
                                      {"DataChecksum", "dataChecksum"}})
        EXPECT_EQ(f[name], Hex(h[key]["stored"]) + "  " +
                               (h[key]["state"] == "wrong" ? "WRONG (computed " + Hex(h[key]["computed"]) + ")"
                                                           : h[key]["state"].get<std::string>()));
    }
    EXPECT_EQ(j["verdict"]["accepted"].get<bool>(), text.exitCode == 0);
    ASSERT_EQ(entryRows.size(), j["entries"].size());
    for (size_t e = 0; e < entryRows.size(); ++e) {
      const json& entry = j["entries"][e];
      char expected[200];
      snprintf(expected, sizeof expected, "%6u  %-32s %12u %12u", entry["index"].get<unsigned>(),
               entry["name"].is_null() ? "?" : entry["name"].get<std::string>().c_str(),
               entry["offset"].get<unsigned>(), entry["size"].get<unsigned>());
      EXPECT_EQ(entryRows[e], expected);
      EXPECT_TRUE(i != 0 || (entry["offset"] == table[e].DataOffset && entry["size"] == table[e].DataSize)) << e;
    }
  }
}
