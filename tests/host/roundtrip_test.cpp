// build -> verify -> extract gives back every file to the byte, and extract
// writes nothing outside its folder, whatever the setup holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "fixture.h"
#include "setup_reader.h"
#include "support.h"

namespace fs = std::filesystem;
using zqfixture::Entry;
using zqfixture::ReadFileBytes;
using zqfixture::WriteFileBytes;

namespace {

// Writes the entries as files, packs them with the CLI, verifies and extracts
// the setup, and compares each extracted file with its input.
void RoundTrip(const TestFolder& dir, const std::vector<Entry>& entries, const std::string& level) {
  fs::create_directories(dir.Path("in"));
  WriteFileBytes(dir.Path("stub.exe"), zqfixture::FillerStub());
  std::vector<std::string> args = {"-q",      "build", "--stub", dir.Path("stub.exe"), "-o", dir.Path("setup.exe"),
                                   "--level", level};
  for (const Entry& e : entries) {
    WriteFileBytes(dir.Path("in/" + e.name), e.contents);
    args.push_back(dir.Path("in/" + e.name));
  }
  const RunResult build = dir.Run(args);
  ASSERT_EQ(build.exitCode, 0) << Describe(build);
  const RunResult verify = dir.Run({"verify", dir.Path("setup.exe")});
  ASSERT_EQ(verify.exitCode, 0) << Describe(verify);
  const RunResult extract = dir.Run({"extract", dir.Path("setup.exe"), "-C", dir.Path("out")});
  ASSERT_EQ(extract.exitCode, 0) << Describe(extract);

  std::vector<std::string> names;
  for (const Entry& e : entries) {
    names.push_back(e.name);
    EXPECT_TRUE(ReadFileBytes(dir.Path("out/" + e.name)) == e.contents) << e.name << " differs";
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(FilesBelow(dir.Path("out")), names) << "exactly the entries, no scratch file";
}

void WriteSetup(const TestFolder& dir, const std::vector<Entry>& entries) {
  zqfixture::SetupRecipe recipe;
  recipe.entries = entries;
  WriteFileBytes(dir.Path("setup.exe"), zqfixture::BuildSetup(recipe));
}

}  // namespace

TEST(PackerRoundTrip, SampleSetup) {
  TestFolder dir;
  RoundTrip(dir, zqfixture::SampleEntries(), "9");
}

TEST(PackerRoundTrip, EmptyFileAndMixedMegabytesAtLevelOne) {
  TestFolder dir;
  std::vector<uint8_t> mixed = zqfixture::RandomBytes(3 << 20, 11);
  const std::vector<uint8_t> text = zqfixture::TextLikeBytes(3 << 20, 12);
  mixed.insert(mixed.end(), text.begin(), text.end());
  RoundTrip(dir, {{"empty.dat", {}, false}, {"mixed.bin", mixed, false}, {"tail.txt", zqfixture::Bytes("x"), false}},
            "1");
}

TEST(PackerRoundTrip, ManySmallFilesStored) {
  TestFolder dir;
  std::vector<Entry> entries;
  for (int i = 0; i < 400; ++i)
    entries.push_back({"file" + std::to_string(i) + ".txt", zqfixture::TextLikeBytes(i * 3, i), false});
  RoundTrip(dir, entries, "0");
}

TEST(PackerRoundTrip, FromSetupIniInPackingOrder) {
  TestFolder dir;
  std::vector<Entry> sample = zqfixture::SampleEntries();
  for (const Entry& e : sample) WriteFileBytes(dir.Path(e.name), e.contents);
  WriteFileBytes(dir.Path("stub.exe"), zqfixture::FillerStub());
  const RunResult build =
      dir.Run({"build", dir.Path("Setup.ini"), "-o", dir.Path("setup.exe"), "--stub", dir.Path("stub.exe")});
  ASSERT_EQ(build.exitCode, 0) << Describe(build);
  EXPECT_EQ(build.err, "") << "the sample draws no warning";

  // The sample's entries are in packing order: license, body, head, Setup.ini, CAB.
  zqfixture::SetupRecipe expected;
  expected.entries = sample;
  expected.level = 9;
  EXPECT_TRUE(ReadFileBytes(dir.Path("setup.exe")) == zqfixture::BuildSetup(expected))
      << "the same bytes as the fixture builder lays out";
  const RunResult extract = dir.Run({"extract", dir.Path("setup.exe"), "-C", dir.Path("out")});
  ASSERT_EQ(extract.exitCode, 0) << Describe(extract);
  for (const Entry& e : sample) EXPECT_TRUE(ReadFileBytes(dir.Path("out/" + e.name)) == e.contents) << e.name;
}

TEST(SetupExtract, RefusesAnEntryNamedDotDotAndWritesNothing) {
  for (const char* evil : {"..\\evil", "../evil"}) {
    SCOPED_TRACE(evil);
    TestFolder dir;
    WriteSetup(dir, {{"good.txt", zqfixture::Bytes("fine"), false}, {evil, zqfixture::Bytes("bad"), false}});
    const std::vector<std::string> before = FilesBelow(dir.work());
    const RunResult run = dir.Run({"extract", dir.Path("setup.exe"), "-C", dir.Path("out/inner")});
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    EXPECT_EQ(run.out, ProgramMessage(MSG_INVALID_DATA) + "\n") << Describe(run);
    EXPECT_EQ(FilesBelow(dir.work()), before) << "nothing written, not even the good entry or the folder";
  }
}

TEST(SetupExtract, ReplacesALinkInsteadOfWritingThroughIt) {
  TestFolder dir;
  WriteSetup(dir, {{"victim.txt", zqfixture::Bytes("from the setup"), false}});
  WriteText(dir.Path("outside.txt"), "untouched");
  fs::create_directories(dir.Path("out"));
  fs::create_symlink(dir.Path("outside.txt"), dir.Path("out/victim.txt"));
  const RunResult run = dir.Run({"extract", dir.Path("setup.exe"), "-C", dir.Path("out")});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(ReadText(dir.Path("outside.txt")), "untouched");
  EXPECT_FALSE(fs::is_symlink(dir.Path("out/victim.txt")));
  EXPECT_EQ(ReadText(dir.Path("out/victim.txt")), "from the setup");
}

TEST(SetupExtract, WritesEntriesAsTheProgramDoes) {
  TestFolder dir;
  WriteSetup(dir, {{"a.txt", zqfixture::Bytes("first"), false},
                   {"empty.txt", {}, false},
                   {"b.txt. ", zqfixture::Bytes("trailing dot and blank"), false},
                   {"a.txt", zqfixture::Bytes("second"), false}});
  fs::create_directories(dir.Path("out"));
  WriteText(dir.Path("out/empty.txt"), "old contents are replaced");
  const RunResult run = dir.Run({"extract", dir.Path("setup.exe"), "-C", dir.Path("out")});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(FilesBelow(dir.Path("out")), std::vector<std::string>({"a.txt", "b.txt", "empty.txt"}));
  EXPECT_EQ(ReadText(dir.Path("out/a.txt")), "second") << "the later of two entries of one name";
  EXPECT_EQ(ReadText(dir.Path("out/empty.txt")), "");
  EXPECT_EQ(ReadText(dir.Path("out/b.txt")), "trailing dot and blank");
}

TEST(SetupExtract, RefusesADamagedSetupWithTheProgramsMessage) {
  TestFolder dir;
  zqfixture::SetupRecipe recipe;
  recipe.entries = zqfixture::SampleEntries();
  recipe.dataChecksum = 1;
  WriteFileBytes(dir.Path("setup.exe"), zqfixture::BuildSetup(recipe));
  fs::create_directories(dir.Path("out"));
  const RunResult run = dir.Run({"extract", dir.Path("setup.exe"), "-C", dir.Path("out")});
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  EXPECT_EQ(run.out, ProgramMessage(MSG_BAD_DATA_CRC) + "\n");
  EXPECT_TRUE(FilesBelow(dir.Path("out")).empty());
}
