// Signable setups: the programs proper as built and zqpack build --sign.  (A
// setup packed before signing was possible: Mitigations.ListAndVerifyNameThem.)
#include <gtest/gtest.h>

#include <filesystem>

#include "bytes.h"
#include "format/checksum.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

uint32_t PlainChecksum(const std::vector<uint8_t>& stub) {
  return PayloadChecksum(kPayloadSignature, stub.data(), stub.size());
}

// A program proper's header as a linker lays it down around filler bytes:
// e_lfanew, "PE\0\0", an optional header of `magic` with 16 data directories.
std::vector<uint8_t> PeProgram(uint16_t magic, uint32_t pe) {
  std::vector<uint8_t> stub = zqfixture::FillerProgram();
  PutLe32(&stub[0x3C], pe);
  PutLe32(&stub[pe], 0x00004550);
  PutLe16(&stub[pe + 24], magic);
  PutLe32(&stub[pe + 24 + (magic == 0x20B ? 108 : 92)], 16);  // NumberOfRvaAndSizes
  return stub;
}

}  // namespace

// The two fields signing writes, found for PE32 and PE32+ and only inside
// the 32768 bytes; whatever signing writes there leaves the sum unchanged.
// (Every other byte counting, over any header: the fuzz target.)
TEST(StubChecksum, FindsTheSignedFieldsInsideTheProgramProperOnly) {
  const struct {
    uint16_t magic;
    uint32_t pe, checkSumAt, certTableAt;  // certTableAt 0: not found
  } rows[] = {{0x10B, 0x80, 0x80 + 88, 0x80 + 152},
              {0x20B, 0x80, 0x80 + 88, 0x80 + 168},
              {0x20B, kProgramBytes - 176, kProgramBytes - 88, kProgramBytes - 8},  // the last e_lfanew that fits
              {0x20B, kProgramBytes - 175, 0, 0},
              {0x107, 0x80, 0, 0}};  // a ROM image's magic
  for (const auto& row : rows) {
    std::vector<uint8_t> stub = PeProgram(row.magic, row.pe);
    SignedFields fields{};
    ASSERT_EQ(FindSignedFields(stub.data(), &fields), row.certTableAt != 0) << row.pe;
    if (row.certTableAt == 0) continue;
    EXPECT_EQ(fields.CheckSumAt, row.checkSumAt);
    EXPECT_EQ(fields.CertTableAt, row.certTableAt);
    std::fill_n(&stub[row.checkSumAt], kCheckSumBytes, 0);
    std::fill_n(&stub[row.certTableAt], kCertEntryBytes, 0);
    const uint32_t plain = PlainChecksum(stub);
    PutLe32(&stub[row.checkSumAt], 0x0001136B);
    PutLe32(&stub[row.certTableAt], 32864);
    PutLe32(&stub[row.certTableAt + 4], 1504);
    EXPECT_EQ(ComputeStubChecksum(stub.data()), plain) << row.pe;
  }
}

// Both builds: zeros where signing writes, so a setup's StubChecksum is the
// plain sum; a manifest that asks for administrator rights and nothing else.
TEST(ProgramProper, HasZerosWhereSigningWritesAndAnAdministratorManifest) {
  for (const std::string arch : {"i686", "x86_64"}) {
    SCOPED_TRACE(arch);
    const std::vector<uint8_t> stub = zqfixture::ReadFileBytes(std::string(ZQ_OUT_DIR) + "/zqstub-" + arch + ".exe");
    ASSERT_EQ(stub.size(), kProgramBytes) << "out/zqstub-" << arch << ".exe is not built";
    SignedFields fields{};
    ASSERT_TRUE(FindSignedFields(stub.data(), &fields));
    EXPECT_EQ(ComputeStubChecksum(stub.data()), PlainChecksum(stub));
    const std::string image(stub.begin(), stub.end());  // the manifest lies in it as plain text
    EXPECT_NE(image.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
              std::string::npos);
    for (const char* absent : {"Common-Controls", "dpiAware"})
      EXPECT_EQ(image.find(absent), std::string::npos) << absent;
  }
}

// osslsigncode signs: the signature lies behind the payload, osslsigncode
// accepts it, verify, list and --json say where it is; a payload byte changed
// afterwards is refused.  A command that fails, breaks the setup or signs
// nothing leaves no setup and exits with 1.
TEST(SignedBuild, SignsBehindThePayloadAndRefusesWhatTheCommandBroke) {
  TestFolder dir;
  std::string why;
  const std::string sign = zqfixture::MakeSigningCommand(dir.Path("cert"), &why), setup = dir.Path("signed setup.exe");
  if (sign.empty()) GTEST_SKIP() << why;
  dir.WriteSample();
  const auto build = [&](const std::string& command) {
    return dir.Run({"-q", "build", dir.Path("Setup.ini"), "-o", setup, "--arch", "x86_64", "--sign", command});
  };
  const RunResult built = build(sign);
  ASSERT_EQ(built.exitCode, 0) << Describe(built);
  EXPECT_EQ(zqfixture::VerifySignature(dir.Path("cert"), setup), 0) << "osslsigncode verify refused it";
  const RunResult verify = dir.Run({"verify", setup});
  EXPECT_EQ(verify.exitCode, 0) << Describe(verify);
  const size_t at = verify.out.find(": Authenticode signature: ");
  ASSERT_NE(at, std::string::npos) << verify.out;
  const std::string line = verify.out.substr(at + 26, verify.out.find('\n', at) + 1 - at - 26);
  EXPECT_NE(line.find(", behind the payload (which ends at "), std::string::npos) << line;
  EXPECT_NE(dir.Run({"list", setup}).out.find("\nAuthenticode     " + line), std::string::npos);
  EXPECT_NE(dir.Run({"list", "--json", setup}).out.find("\"behindPayload\": true"), std::string::npos);
  std::vector<uint8_t> bytes = zqfixture::ReadFileBytes(setup);
  bytes[kTableOffset + 5 * kEntryBytes + 100] ^= 0x01;  // inside the stream
  zqfixture::WriteFileBytes(dir.Path("damaged.exe"), bytes);
  EXPECT_EQ(dir.Run({"verify", dir.Path("damaged.exe")}).exitCode, 1);

  fs::remove(setup);
  const struct {
    std::string command, mention;
  } broken[] = {
      {"false \"%1\"", "the signing command failed"},
      {"true \"%1\"", "Authenticode signature: none"},
      {"printf X | dd of=\"%1\" bs=1 seek=100 conv=notrunc status=none", "Invalid CRC in installer."},
      {sign + " && truncate -s -100 \"%1\"", "past the end of the file"},
      {sign + " && truncate -s 40000 \"%1\"", "the signed setup is refused"},
  };
  for (const auto& c : broken) {
    EXPECT_TRUE(FailedWithOneLine(build(c.command), 1, {c.mention, "no setup written"}));
    EXPECT_FALSE(fs::exists(setup)) << c.command;
  }
}
