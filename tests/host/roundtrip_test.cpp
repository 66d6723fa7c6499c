// build -> verify -> extract gives back every file to the byte, and extract
// writes nothing outside its folder, whatever the setup holds.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup_reader.h"
#include "support.h"

namespace fs = std::filesystem;
using zqfixture::Bytes;
using zqfixture::Entry;

TEST(PackerRoundTrip, FilesComeBackToTheByte) {
  std::vector<uint8_t> mixed = zqfixture::RandomBytes(3 << 20, 11);
  const std::vector<uint8_t> text = zqfixture::TextLikeBytes(3 << 20, 12);
  mixed.insert(mixed.end(), text.begin(), text.end());
  std::vector<Entry> many;
  for (int i = 0; i < 400; ++i)
    many.push_back({"file" + std::to_string(i) + ".txt", zqfixture::TextLikeBytes(i * 3, i)});
  const struct {
    const char* what;
    std::vector<Entry> entries;
    const char* level;
  } rows[] = {
      {"the sample", zqfixture::SampleEntries(), "9"},
      {"an empty file and mixed megabytes", {{"empty.dat", {}}, {"mixed.bin", mixed}, {"tail.txt", Bytes("x")}}, "1"},
      {"many small files, stored", many, "0"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TestFolder dir;
    fs::create_directories(dir.Path("in"));
    std::vector<std::string> args = {
        "-q",      "build",  "--stub", dir.Write("stub.exe", zqfixture::FillerStub()), "-o", dir.Path("setup.exe"),
        "--level", row.level};
    std::vector<std::string> names;
    for (const Entry& e : row.entries) {
      args.push_back(dir.Write("in/" + e.name, e.contents));
      names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    for (const std::vector<std::string>& step :
         {args, {"verify", dir.Path("setup.exe")}, {"extract", dir.Path("setup.exe"), "-C", dir.Path("out")}}) {
      const RunResult run = dir.Run(step);
      ASSERT_EQ(run.exitCode, 0) << Describe(run);
    }
    for (const Entry& e : row.entries)
      EXPECT_TRUE(zqfixture::ReadFileBytes(dir.Path("out/" + e.name)) == e.contents) << e.name << " differs";
    EXPECT_EQ(FilesBelow(dir.Path("out")), names) << "exactly the entries, no scratch file";
  }
}

// --best earns its time and memory: a smaller setup than level 9 of the same
// text, which zqpack's reader accepts.  (The program inflating it: the Wine
// test ZqpackWine.SetupBuiltFromSetupIniRunsToTheWizard.)
TEST(PackerRoundTrip, BestIsSmallerThanLevel9) {
  TestFolder dir;
  const std::string stub = dir.Write("stub.exe", zqfixture::FillerStub());
  const std::string text = dir.Write("text.txt", zqfixture::TextLikeBytes(1 << 20, 3));
  uintmax_t bytes[2] = {};
  const std::vector<std::string> levels[2] = {{"--level", "9"}, {"--best"}};
  for (int i = 0; i < 2; ++i) {
    const std::string setup = dir.Path("setup" + std::to_string(i) + ".exe");
    std::vector<std::string> args = {"-q", "build", "--stub", stub, "-o", setup, text};
    args.insert(args.end(), levels[i].begin(), levels[i].end());
    for (const std::vector<std::string>& step : {args, {"verify", setup}}) {
      const RunResult run = dir.Run(step);
      ASSERT_EQ(run.exitCode, 0) << Describe(run);
    }
    bytes[i] = fs::file_size(setup);
  }
  EXPECT_LT(bytes[1], bytes[0] * 97 / 100) << "--best against level 9";
}

TEST(PackerRoundTrip, FromSetupIniInPackingOrderAtTheDefaultLevel) {
  TestFolder dir;
  dir.WriteSample();
  const RunResult build = dir.Run({"build", dir.Path("Setup.ini"), "-o", dir.Path("setup.exe"), "--stub",
                                   dir.Write("stub.exe", zqfixture::FillerStub())});
  ASSERT_EQ(build.exitCode, 0) << Describe(build);
  EXPECT_EQ(build.err, "") << "the sample draws no warning";
  // The sample's entries are in packing order: license, body, head, Setup.ini, CAB; level 9 is the default.
  zqfixture::SetupRecipe expected = SampleRecipe();
  expected.level = 9;
  EXPECT_TRUE(zqfixture::ReadFileBytes(dir.Path("setup.exe")) == zqfixture::BuildSetup(expected))
      << "the same bytes as the fixture builder lays out";
}

TEST(SetupExtract, RefusesAnEntryNamedDotDotAndWritesNothing) {
  for (const char* evil : {"..\\evil", "../evil"}) {
    SCOPED_TRACE(evil);
    TestFolder dir;
    zqfixture::SetupRecipe recipe;
    recipe.entries = {{"good.txt", Bytes("fine")}, {evil, Bytes("bad")}};
    const RunResult run = dir.Run({"extract", dir.WriteSetup(recipe), "-C", dir.Path("out/inner")});
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    EXPECT_EQ(run.out, ProgramMessage(MSG_INVALID_DATA) + "\n") << Describe(run);
    EXPECT_EQ(FilesBelow(dir.work()), std::vector<std::string>({"setup.exe"}))
        << "nothing written, not even the good entry or the folder";
  }
}

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
  EXPECT_EQ(ReadText(dir.Path("out/a.txt")), "second") << "the later of two entries of one name";
  EXPECT_EQ(ReadText(dir.Path("out/empty.txt")), "");
  EXPECT_EQ(ReadText(dir.Path("out/b.txt")), "trailing dot and blank");
  EXPECT_EQ(ReadText(dir.Path("outside.txt")), "untouched");
  EXPECT_FALSE(fs::is_symlink(dir.Path("out/victim.txt")));
  EXPECT_EQ(ReadText(dir.Path("out/victim.txt")), "from the setup");
}

TEST(SetupExtract, RefusesADamagedSetupWithTheProgramsMessage) {
  TestFolder dir;
  zqfixture::SetupRecipe recipe = SampleRecipe();
  recipe.dataChecksum = 1;
  fs::create_directories(dir.Path("out"));
  const RunResult run = dir.Run({"extract", dir.WriteSetup(recipe), "-C", dir.Path("out")});
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  EXPECT_EQ(run.out, ProgramMessage(MSG_BAD_DATA_CRC) + "\n") << Describe(run);
  EXPECT_TRUE(FilesBelow(dir.Path("out")).empty());
}
