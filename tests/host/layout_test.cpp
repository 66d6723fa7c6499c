// zqpack build writes the payload layout to the byte: a stored setup of two
// files against an image decoded by hand (header, table, names and contents
// without gaps, the three checksums), behind the program proper unchanged.
#include <gtest/gtest.h>

#include "support.h"

TEST(PackerLayout, StoredSetupIsTheGoldenImage) {
  TestFolder dir;
  const std::vector<uint8_t> stub(32768, 0x90);
  const RunResult run = dir.Run({"-q", "build", "--stub", dir.Write("stub.exe", stub), "-o", dir.Path("setup.exe"),
                                 "--level", "0", dir.Write("a.txt", zqfixture::Bytes("abc")), dir.Write("empty", {})});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  const std::string golden =
      "5a514900"  // "ZQI\0"
      "1a000000"
      "0f000000"
      "02000000"  // CompressedSize 26, InflatedSize 15, EntryCount 2
      "92557874"
      "7b51aea2"
      "9e5639ef"  // StubChecksum, TableChecksum, DataChecksum
      "00000000"
      "06000000"
      "03000000"  // a.txt: NameOffset, DataOffset, DataSize
      "09000000"
      "0f000000"
      "00000000"  // empty
      "7801"
      "010f00f0ff"  // zlib header, one final stored block of 15 bytes
      "612e74787400"
      "616263"
      "656d70747900"
      "2a7d0545";  // "a.txt\0" "abc" "empty\0", Adler-32
  const std::vector<uint8_t> file = zqfixture::ReadFileBytes(dir.Path("setup.exe"));
  ASSERT_GT(file.size(), stub.size());
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), file.begin())) << "the program proper fills bytes 0..32767";
  std::string payload;
  for (size_t i = stub.size(); i < file.size(); ++i) {
    payload += "0123456789abcdef"[file[i] >> 4];
    payload += "0123456789abcdef"[file[i] & 15];
  }
  EXPECT_EQ(payload, golden);
}
