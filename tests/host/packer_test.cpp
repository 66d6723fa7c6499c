// zqpack build, verify and extract: the layout against the fixture's own
// writer, every file back to the byte, nothing written outside the folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup_reader.h"
#include "support.h"

namespace fs = std::filesystem;
using zqfixture::Bytes;
using zqfixture::Entry;

// build -> verify -> extract at each level; --best must earn its time with a
// smaller setup than level 9 of the same text.
TEST(PackerRoundTrip, FilesComeBackToTheByte) {
  std::vector<uint8_t> mixed = zqfixture::RandomBytes(3 << 20, 11);
  const std::vector<uint8_t> text = zqfixture::TextLikeBytes(1 << 20, 12);
  mixed.insert(mixed.end(), text.begin(), text.end());
  std::vector<Entry> many;
  for (int i = 0; i < 400; ++i) many.push_back({"file" + std::to_string(i), zqfixture::TextLikeBytes(i * 3, i)});
  const struct {
    std::vector<Entry> entries;
    std::vector<std::string> level;
  } rows[] = {{{{"empty.dat", {}}, {"mixed.bin", mixed}, {"tail.txt", Bytes("x")}}, {"--level", "1"}},
              {many, {"--level", "0"}},
              {{{"text.txt", text}}, {"--level", "9"}},
              {{{"text.txt", text}}, {"--best"}}};
  uintmax_t bytes[std::size(rows)] = {};
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    TestFolder dir;
    std::vector<std::string> args = {"-q", "build", "--stub", dir.Stub(), "-o", dir.Path("setup.exe")}, names;
    args.insert(args.end(), rows[i].level.begin(), rows[i].level.end());
    for (const Entry& e : rows[i].entries) {
      args.push_back(dir.Write("in/" + e.name, e.contents));
      names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    for (const std::vector<std::string>& step :
         {args, {"verify", dir.Path("setup.exe")}, {"extract", dir.Path("setup.exe"), "-C", dir.Path("out")}}) {
      const RunResult run = dir.Run(step);
      ASSERT_EQ(run.exitCode, 0) << Describe(run);
    }
    for (const Entry& e : rows[i].entries)
      EXPECT_TRUE(zqfixture::ReadFileBytes(dir.Path("out/" + e.name)) == e.contents) << e.name << " differs";
    EXPECT_EQ(FilesBelow(dir.Path("out")), names) << "exactly the entries, no scratch file";
    bytes[i] = fs::file_size(dir.Path("setup.exe"));
  }
  EXPECT_LT(bytes[3], bytes[2] * 97 / 100) << "--best against level 9";
}

// From Setup.ini: the sample's files in packing order at level 9, no warning.
TEST(PackerRoundTrip, FromSetupIniInPackingOrderAtTheDefaultLevel) {
  TestFolder dir;
  dir.WriteSample();
  const RunResult build = dir.Run({"build", dir.Path("Setup.ini"), "-o", dir.Path("setup.exe"), "--stub", dir.Stub()});
  ASSERT_EQ(build.exitCode, 0) << Describe(build);
  EXPECT_EQ(build.err, "");
  zqfixture::SetupRecipe expected = SampleRecipe();
  expected.level = 9;
  EXPECT_TRUE(zqfixture::ReadFileBytes(dir.Path("setup.exe")) == zqfixture::BuildSetup(expected));
}

// A refused setup leaves nothing, not even the good entry before the bad one
// or the folder.  (The other refusals: DamageTable.)
TEST(SetupExtract, RefusesAnEntryNamedDotDotAndWritesNothing) {
  TestFolder dir;
  zqfixture::SetupRecipe recipe;
  recipe.entries = {{"good.txt", Bytes("fine")}, {"..\\evil", Bytes("bad")}};
  const RunResult run = dir.Run({"extract", dir.WriteSetup(recipe), "-C", dir.Path("out/inner")});
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  EXPECT_EQ(run.out, ProgramMessage(MSG_INVALID_DATA) + "\n") << Describe(run);
  EXPECT_EQ(FilesBelow(dir.work()), std::vector<std::string>({"setup.exe"}));
}

// As the program writes them: names as Windows stores them, the later of two
// entries of one name, old files replaced, a link replaced and not followed.
TEST(SetupExtract, WritesEntriesAsTheProgramDoesAndReplacesLinks) {
  TestFolder dir;
  zqfixture::SetupRecipe recipe;
  recipe.entries = {{"a.txt", Bytes("first")},
                    {"empty.txt", {}},
                    {"b.txt. ", Bytes("trailing dot and blank")},
                    {"a.txt", Bytes("second")},
                    {"victim.txt", Bytes("from the setup")}};
  fs::create_directories(dir.Path("out"));
  WriteText(dir.Path("out/empty.txt"), "old contents are replaced");
  WriteText(dir.Path("outside.txt"), "untouched");
  fs::create_symlink(dir.Path("outside.txt"), dir.Path("out/victim.txt"));
  const RunResult run = dir.Run({"extract", dir.WriteSetup(recipe), "-C", dir.Path("out")});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(FilesBelow(dir.Path("out")), std::vector<std::string>({"a.txt", "b.txt", "empty.txt", "victim.txt"}));
  for (const auto& [name, text] : {std::pair{"a.txt", "second"},
                                   {"empty.txt", ""},
                                   {"b.txt", "trailing dot and blank"},
                                   {"../outside.txt", "untouched"},
                                   {"victim.txt", "from the setup"}})
    EXPECT_EQ(ReadFile(dir.Path("out/") + name), text) << name;
  EXPECT_FALSE(fs::is_symlink(dir.Path("out/victim.txt")));
}
