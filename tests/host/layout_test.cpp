// zqpack build writes the payload layout to the byte: header at 32768, the
// table, names and contents without gaps, the three checksums; the stub must
// be exactly 32768 bytes; same inputs give the same setup.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "fixture.h"
#include "support.h"

namespace fs = std::filesystem;
using zqfixture::ReadFileBytes;
using zqfixture::WriteFileBytes;

namespace {

// Read independently of zqpack's own decoding.
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t(b.at(at + 3)) << 24;
}

uint32_t Adler(const uint8_t* p, size_t n) { return static_cast<uint32_t>(adler32(0x0049515A, p, uInt(n))); }

struct Input {
  std::string name;
  std::vector<uint8_t> bytes;
};

class PackerLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_ = zqfixture::FillerStub();
    WriteFileBytes(dir_.Path("stub.exe"), stub_);
    inputs_ = {{"license.rtf", zqfixture::Bytes("{\\rtf1 License}")},
               {"empty.txt", {}},
               {"big.bin", zqfixture::RandomBytes(200000, 3)},
               {"Setup.ini", zqfixture::Bytes(zqfixture::SampleSetupIni())}};
    for (const Input& in : inputs_) WriteFileBytes(dir_.Path(in.name), in.bytes);
  }

  RunResult Build(const std::string& output, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"-q", "build", "--stub", dir_.Path("stub.exe"), "-o", dir_.Path(output)};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const Input& in : inputs_) args.push_back(dir_.Path(in.name));
    return dir_.Run(args);
  }

  TestFolder dir_;
  std::vector<uint8_t> stub_;
  std::vector<Input> inputs_;
};

}  // namespace

TEST_F(PackerLayout, SmallSetupFieldByField) {
  const RunResult run = Build("setup.exe");
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  const std::vector<uint8_t> f = ReadFileBytes(dir_.Path("setup.exe"));

  ASSERT_GT(f.size(), 32796u);
  EXPECT_TRUE(std::equal(stub_.begin(), stub_.end(), f.begin())) << "the program proper fills bytes 0..32767";
  EXPECT_EQ(std::string(f.begin() + 32768, f.begin() + 32772), std::string("ZQI\0", 4));
  const uint32_t compressed = Le32(f, 32772), inflated = Le32(f, 32776), count = Le32(f, 32780);
  ASSERT_EQ(count, inputs_.size());
  const size_t tableAt = 32796, streamAt = tableAt + 12 * count;
  EXPECT_EQ(Le32(f, 32784), Adler(f.data(), 32768)) << "StubChecksum";
  EXPECT_EQ(Le32(f, 32788), Adler(&f[tableAt], 12 * count)) << "TableChecksum";
  EXPECT_EQ(streamAt + compressed, f.size()) << "the stream runs to the end of the file";

  // The stream inflates to exactly InflatedSize bytes and ends with its own trailer.
  std::vector<uint8_t> data(inflated + 1);
  uLongf dataBytes = data.size();
  uLong streamBytes = compressed;
  ASSERT_EQ(uncompress2(data.data(), &dataBytes, &f[streamAt], &streamBytes), Z_OK);
  EXPECT_EQ(streamBytes, compressed);
  ASSERT_EQ(dataBytes, inflated);
  EXPECT_EQ(Le32(f, 32792), Adler(data.data(), inflated)) << "DataChecksum";

  uint32_t expectedNameOffset = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t nameOffset = Le32(f, tableAt + 12 * i), dataOffset = Le32(f, tableAt + 12 * i + 4),
                   size = Le32(f, tableAt + 12 * i + 8);
    const Input& in = inputs_[i];
    SCOPED_TRACE(in.name);
    EXPECT_EQ(nameOffset, expectedNameOffset) << "no gap in front of the name";
    EXPECT_EQ(dataOffset - nameOffset, in.name.size() + 1) << "the name and its zero";
    EXPECT_EQ(std::string(&data[nameOffset], &data[nameOffset] + in.name.size()), in.name);
    EXPECT_EQ(data[dataOffset - 1], 0) << "the name's terminating zero";
    EXPECT_EQ(size, in.bytes.size());
    EXPECT_TRUE(std::equal(in.bytes.begin(), in.bytes.end(), data.begin() + dataOffset));
    expectedNameOffset = dataOffset + size;
  }
  EXPECT_EQ(expectedNameOffset, inflated) << "the last entry ends at InflatedSize";
}

TEST_F(PackerLayout, DefaultLevelIsZlibsBestLikeTheSample) {
  ASSERT_EQ(Build("setup.exe").exitCode, 0);
  const std::vector<uint8_t> f = ReadFileBytes(dir_.Path("setup.exe"));
  const size_t streamAt = 32796 + 12 * inputs_.size();
  EXPECT_EQ(f[streamAt], 0x78);
  EXPECT_EQ(f[streamAt + 1], 0xDA);
}

TEST_F(PackerLayout, SameInputsGiveTheSameBytes) {
  ASSERT_EQ(Build("one.exe").exitCode, 0);
  ASSERT_EQ(Build("two.exe").exitCode, 0);
  EXPECT_TRUE(ReadFileBytes(dir_.Path("one.exe")) == ReadFileBytes(dir_.Path("two.exe")));
  // At another level the stream differs but the rest of the layout holds.
  const RunResult stored = Build("stored.exe", {"--level", "0"});
  ASSERT_EQ(stored.exitCode, 0) << Describe(stored);
  EXPECT_EQ(dir_.Run({"verify", dir_.Path("stored.exe")}).exitCode, 0);
}

TEST_F(PackerLayout, StubOfAnyOtherSizeIsRefusedAndNothingIsLeft) {
  for (size_t size : {size_t(32767), size_t(32769), size_t(0)}) {
    SCOPED_TRACE(size);
    WriteFileBytes(dir_.Path("stub.exe"), std::vector<uint8_t>(size, 0x90));
    const std::vector<std::string> before = FilesBelow(dir_.work());
    const RunResult run = Build("setup.exe");
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    ASSERT_EQ(Lines(run.err).size(), 1u) << Describe(run);
    EXPECT_NE(run.err.find("stub.exe"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("32768"), std::string::npos) << run.err;
    EXPECT_EQ(FilesBelow(dir_.work()), before) << "no setup and no temporary file";
  }
}

TEST_F(PackerLayout, MissingInputIsNamedAndNothingIsLeft) {
  fs::remove(dir_.Path("big.bin"));
  const std::vector<std::string> before = FilesBelow(dir_.work());
  const RunResult run = Build("setup.exe");
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  EXPECT_EQ(Lines(run.err).size(), 1u) << Describe(run);
  EXPECT_NE(run.err.find(dir_.Path("big.bin")), std::string::npos) << run.err;
  EXPECT_EQ(FilesBelow(dir_.work()), before);
}

TEST_F(PackerLayout, FullDiskLeavesNoPartialSetup) {
  // A 1 MB tmpfs as the output's folder, a setup of about 3 MB: the write
  // fails, the setup that was there stays, and no temporary file is left.
  const std::string full = dir_.Path("full");
  fs::create_directory(full);
  if (system(("mount -t tmpfs -o size=1m tmpfs '" + full + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  struct Unmount {
    std::string dir;
    ~Unmount() { (void)system(("umount '" + dir + "'").c_str()); }
  } unmount{full};
  WriteFileBytes(full + "/setup.exe", zqfixture::Bytes("old"));
  inputs_.push_back({"random.bin", zqfixture::RandomBytes(3 << 20, 9)});
  WriteFileBytes(dir_.Path("random.bin"), inputs_.back().bytes);
  const RunResult run = Build("full/setup.exe");
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  EXPECT_EQ(Lines(run.err).size(), 1u) << Describe(run);
  EXPECT_NE(run.err.find("setup.exe"), std::string::npos) << run.err;
  EXPECT_EQ(ReadText(full + "/setup.exe"), "old");
  EXPECT_EQ(FilesBelow(full), std::vector<std::string>({"setup.exe"}));
}
