// --json: list, verify and check write one JSON document that carries every
// figure their text shows, agreeing with the text to the digit, with the
// text's exit codes.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "support.h"

using nlohmann::json;
using zqfixture::SetupRecipe;

namespace {

json ParseOrFail(const RunResult& run) {
  json document = json::parse(run.out, nullptr, /*allow_exceptions=*/false);
  EXPECT_FALSE(document.is_discarded()) << "not one JSON document: " << Describe(run);
  return document;
}

// "Name   value" lines of the text list, keyed by name.
std::map<std::string, std::string> TextFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  for (const std::string& line : Lines(text)) {
    const size_t gap = line.find("  ");
    if (gap != std::string::npos && line[0] != ' ')
      fields[line.substr(0, gap)] = line.substr(line.find_first_not_of(' ', gap));
  }
  return fields;
}

std::string Hex(const json& value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value.get<unsigned>());
  return text;
}

// The text's "0x........  ok" from a JSON checksum.
std::string ChecksumText(const json& c) {
  const std::string state = c["state"];
  if (state == "wrong") return Hex(c["stored"]) + "  WRONG (computed " + Hex(c["computed"]) + ")";
  EXPECT_EQ(c["computed"].is_null(), state == "not checked") << c;
  return Hex(c["stored"]) + "  " + state;
}

}  // namespace

TEST(JsonOutput, ListAndVerifyCarryWhatTheTextShows) {
  const struct {
    const char* what;
    std::function<void(SetupRecipe&)> damage;
  } rows[] = {
      {"valid", [](SetupRecipe&) {}},
      {"too short for a header", [](SetupRecipe& s) { s.cutTo = 32808; }},
      {"stub checksum wrong",
       [](SetupRecipe& s) {
         s.stubChanges = {{20000, 0x01}};
       }},
      {"table checksum wrong",
       [](SetupRecipe& s) {
         s.tableChanges = {{13, 0x80}};
       }},
      {"data checksum wrong", [](SetupRecipe& s) { s.dataChecksum = 0x12345678; }},
      {"InflatedSize understated", [](SetupRecipe& s) { s.inflatedSize = 1; }},
      {"a name that is a path", [](SetupRecipe& s) { s.entries[2].name = "..\\head.bmp"; }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TestFolder dir;
    SetupRecipe recipe = SampleRecipe();
    row.damage(recipe);
    const std::string setup = dir.WriteSetup(recipe);
    const RunResult text = dir.Run({"-q", "list", setup}), listed = dir.Run({"list", "--json", setup}),
                    verified = dir.Run({"verify", setup, "--json"}), verifiedText = dir.Run({"-q", "verify", setup});
    EXPECT_EQ(listed.exitCode, text.exitCode) << Describe(listed);
    EXPECT_EQ(verified.exitCode, verifiedText.exitCode) << Describe(verified);
    EXPECT_EQ(verified.out, listed.out) << "one document for both";
    const json j = ParseOrFail(listed);
    std::map<std::string, std::string> f = TextFields(text.out);

    EXPECT_EQ(f["setup"], setup + ", " + std::to_string(j["fileBytes"].get<uint64_t>()) + " bytes");
    const json& h = j["header"];
    EXPECT_EQ(h.is_null(), f.count("signature") == 0) << j;
    if (!h.is_null()) {
      EXPECT_EQ(f["signature"],
                Hex(h["signature"]["stored"]) + "  " + (h["signature"]["state"] == "ok" ? "ok" : "WRONG"));
      EXPECT_EQ(f["CompressedSize"], h["compressedSize"].dump());
      std::string inflated = h["inflatedSize"].dump();
      if (!h["inflatedBytes"].is_null() && h["inflatedBytes"] != h["inflatedSize"])
        inflated += "  (the stream yields " + h["inflatedBytes"].dump() + ")";
      EXPECT_EQ(f["InflatedSize"], inflated);
      EXPECT_EQ(f["EntryCount"], h["entryCount"].dump());
      EXPECT_EQ(f["StubChecksum"], ChecksumText(h["stubChecksum"]));
      EXPECT_EQ(f["TableChecksum"], ChecksumText(h["tableChecksum"]));
      EXPECT_EQ(f["DataChecksum"], ChecksumText(h["dataChecksum"]));
      EXPECT_EQ(f["Authenticode"], h["authenticode"].is_null() ? "none" : h["authenticode"]["text"].get<std::string>());
    }

    const json& v = j["verdict"];
    EXPECT_EQ(v["accepted"].get<bool>(), text.exitCode == 0);
    if (v["accepted"].get<bool>()) {
      EXPECT_TRUE(v["message"].is_null() && v["reason"].is_null()) << v;
      EXPECT_EQ(f["verdict"], "the program extracts it");
    } else {
      std::string oneLine = v["message"];
      std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
      EXPECT_EQ(f["verdict"], "refused: " + oneLine + " (" + v["reason"].get<std::string>() + ")");
      EXPECT_EQ(verifiedText.out, v["message"].get<std::string>() + "\n") << "the program's box, exactly";
    }

    std::vector<std::string> rowsShown;
    for (const std::string& line : Lines(text.out))
      if (line.size() > 6 && line[5] != ' ' && line[5] != '#' && line[0] == ' ') rowsShown.push_back(line);
    ASSERT_EQ(rowsShown.size(), j["entries"].size());
    for (size_t i = 0; i < rowsShown.size(); ++i) {
      const json& e = j["entries"][i];
      char expected[200];
      snprintf(expected, sizeof expected, "%6u  %-32s %12u %12u", e["index"].get<unsigned>(),
               e["name"].is_null() ? "?" : e["name"].get<std::string>().c_str(), e["offset"].get<unsigned>(),
               e["size"].get<unsigned>());
      EXPECT_EQ(rowsShown[i], expected);
    }
  }
}

TEST(JsonOutput, CheckCarriesEachFindingWithItsKindAndReference) {
  TestFolder dir;
  dir.WriteSample();
  std::string ini = ReadText(dir.Path("Setup.ini"));
  ini.replace(ini.find("ProductVersion = 1.00\r\n"), 23, "");  // a warning
  ini.replace(ini.find("license.rtf"), 11, "gone.rtf");        // an error
  WriteText(dir.Path("Setup.ini"), ini);
  const RunResult text = dir.Run({"check", dir.Path("Setup.ini")}),
                  run = dir.Run({"check", "--json", dir.Path("Setup.ini")});
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  EXPECT_EQ(text.exitCode, 1);
  const json j = ParseOrFail(run);
  std::vector<std::string> lines;
  for (const json& f : j["findings"])
    lines.push_back(dir.Path("Setup.ini") + ": [" + f["section"].get<std::string>() + "] " +
                    f["key"].get<std::string>() + ": " + f["severity"].get<std::string>() + ": " +
                    f["text"].get<std::string>() + " (see " + f["reference"].get<std::string>() + ")");
  lines.push_back(dir.Path("Setup.ini") + ": 1 error, 1 warning");
  EXPECT_EQ(Lines(text.out), lines);
  EXPECT_EQ(j["errors"], 1);
  EXPECT_EQ(j["warnings"], 1);
  EXPECT_EQ(j["findings"][0]["reference"], "setup-ini.md#productversion");
  std::vector<std::string> packed;
  for (const json& file : j["files"]) packed.push_back(file["name"]);
  EXPECT_EQ(packed, (std::vector<std::string>{"body.bmp", "head.bmp", "Setup.ini", "DEMO.CAB"}));
}
