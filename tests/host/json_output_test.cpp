// list --json and verify --json: one document for both, with the text's exit
// code, carrying every figure the text list shows, to the digit.  (check
// --json: SettingsCheck.OneFindingPerMistake.)
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "support.h"

using nlohmann::json;
using zqfixture::SetupRecipe;

namespace {

std::string Hex(const json& value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value.get<unsigned>());
  return text;
}

// The text's "0x........  ok" of a JSON checksum.
std::string ChecksumText(const json& c) {
  if (c["state"] == "wrong") return Hex(c["stored"]) + "  WRONG (computed " + Hex(c["computed"]) + ")";
  return Hex(c["stored"]) + "  " + c["state"].get<std::string>();
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
    const RunResult text = dir.Run({"-q", "list", setup}), listed = dir.Run({"list", "--json", setup}),
                    verified = dir.Run({"verify", setup, "--json"}), verifiedText = dir.Run({"-q", "verify", setup});
    EXPECT_EQ(listed.exitCode, text.exitCode) << Describe(listed);
    EXPECT_EQ(verified.exitCode, verifiedText.exitCode) << Describe(verified);
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
        EXPECT_EQ(f[name], ChecksumText(h[key]));
    }
    const json& v = j["verdict"];
    EXPECT_EQ(v["accepted"].get<bool>(), text.exitCode == 0);
    if (!v["accepted"].get<bool>()) {
      EXPECT_EQ(verifiedText.out, v["message"].get<std::string>() + "\n") << "the program's box, exactly";
    }
    ASSERT_EQ(entryRows.size(), j["entries"].size());
    for (size_t e = 0; e < entryRows.size(); ++e) {
      const json& entry = j["entries"][e];
      char expected[200];
      snprintf(expected, sizeof expected, "%6u  %-32s %12u %12u", entry["index"].get<unsigned>(),
               entry["name"].is_null() ? "?" : entry["name"].get<std::string>().c_str(),
               entry["offset"].get<unsigned>(), entry["size"].get<unsigned>());
      EXPECT_EQ(entryRows[e], expected);
    }
  }
}
