// Signable setups: the StubChecksum that signing leaves unchanged, the
// programs proper as the build leaves them (fields cleared, the manifest),
// setups packed before signing was possible, and zqpack build --sign.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "bytes.h"
#include "fixture.h"
#include "payload/checksum.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

// A program proper's header as a linker lays it down, around filler bytes:
// "MZ", e_lfanew 0x80, "PE\0\0", an optional header of `magic` with 16
// data directories.
std::vector<uint8_t> PeStub(uint16_t magic) {
  std::vector<uint8_t> stub = zqfixture::FillerStub();
  PutLe32(&stub[0x3C], 0x80);
  PutLe32(&stub[0x80], 0x00004550);
  PutLe16(&stub[0x98], magic);
  PutLe32(&stub[0x98 + (magic == 0x20B ? 108 : 92)], 16);  // NumberOfRvaAndSizes
  return stub;
}

uint32_t PlainChecksum(const std::vector<uint8_t>& stub) {
  return PayloadChecksum(kPayloadSignature, stub.data(), stub.size());
}

struct Layout {
  const char* name;
  uint16_t magic;
  uint32_t checkSumAt, certTableAt;  // with e_lfanew 0x80
};
const Layout kLayouts[] = {{"PE32", 0x10B, 0x80 + 24 + 64, 0x80 + 24 + 128},
                           {"PE32+", 0x20B, 0x80 + 24 + 64, 0x80 + 24 + 144}};

}  // namespace

// What signing writes (any values in the 12 bytes) leaves the sum as with
// zeros there; every other byte counts, the ones beside the fields too.
TEST(StubChecksum, CountsTheSignedFieldsAsZerosAndEveryOtherByte) {
  for (const Layout& layout : kLayouts) {
    SCOPED_TRACE(layout.name);
    std::vector<uint8_t> stub = PeStub(layout.magic);
    SignedFields fields{};
    ASSERT_TRUE(FindSignedFields(stub.data(), &fields));
    EXPECT_EQ(fields.CheckSumAt, layout.checkSumAt);
    EXPECT_EQ(fields.CertTableAt, layout.certTableAt);

    std::fill_n(&stub[layout.checkSumAt], kCheckSumBytes, 0);
    std::fill_n(&stub[layout.certTableAt], kCertEntryBytes, 0);
    const uint32_t zeroed = ComputeStubChecksum(stub.data());
    EXPECT_EQ(zeroed, PlainChecksum(stub)) << "with zeros there, the sum over every byte";
    std::vector<uint8_t> signed_ = stub;
    PutLe32(&signed_[layout.checkSumAt], 0x0001136B);
    PutLe32(&signed_[layout.certTableAt], 32864);
    PutLe32(&signed_[layout.certTableAt + 4], 1504);
    EXPECT_EQ(ComputeStubChecksum(signed_.data()), zeroed);
    EXPECT_TRUE(signed_ != stub && PlainChecksum(signed_) != zeroed);

    for (uint32_t beside : {layout.checkSumAt - 1, layout.checkSumAt + kCheckSumBytes, layout.certTableAt - 1,
                            layout.certTableAt + kCertEntryBytes}) {
      std::vector<uint8_t> changed = signed_;
      changed[beside] ^= 0x01;
      EXPECT_NE(ComputeStubChecksum(changed.data()), zeroed) << "byte " << beside;
    }
  }
}

// A header that cannot be parsed inside the 32768 bytes counts every byte,
// as the sum did before signing was possible.
TEST(StubChecksum, CountsEveryByteWhenTheHeaderCannotBeParsed) {
  const std::pair<const char*, std::function<void(std::vector<uint8_t>&)>> kCases[] = {
      {"no PE signature", [](std::vector<uint8_t>& s) { s[0x81] = 'X'; }},
      {"e_lfanew past the end", [](std::vector<uint8_t>& s) { PutLe32(&s[0x3C], kStubBytes - 175); }},
      {"e_lfanew wraps", [](std::vector<uint8_t>& s) { PutLe32(&s[0x3C], 0xFFFFFFF0); }},
      {"a ROM image's magic", [](std::vector<uint8_t>& s) { PutLe16(&s[0x98], 0x107); }},
      {"four data directories", [](std::vector<uint8_t>& s) { PutLe32(&s[0x98 + 108], 4); }},
  };
  for (const auto& c : kCases) {
    std::vector<uint8_t> stub = PeStub(0x20B);
    c.second(stub);
    SignedFields fields{};
    EXPECT_FALSE(FindSignedFields(stub.data(), &fields)) << c.first;
    EXPECT_EQ(ComputeStubChecksum(stub.data()), PlainChecksum(stub)) << c.first;
  }
  // The last e_lfanew whose PE32+ certificate entry still ends at byte 32767.
  std::vector<uint8_t> stub = zqfixture::FillerStub();
  const uint32_t pe = kStubBytes - 176;
  PutLe32(&stub[0x3C], pe);
  PutLe32(&stub[pe], 0x00004550);
  PutLe16(&stub[pe + 24], 0x20B);
  PutLe32(&stub[pe + 24 + 108], 16);
  SignedFields fields{};
  ASSERT_TRUE(FindSignedFields(stub.data(), &fields));
  EXPECT_EQ(fields.CertTableAt + kCertEntryBytes, kStubBytes);
}

// --- the programs proper as built --------------------------------------------

namespace {

std::vector<uint8_t> BuiltStub(const std::string& arch) {
  return zqfixture::ReadFileBytes(std::string(ZQ_OUT_DIR) + "/zqstub-" + arch + ".exe");
}

// The bytes of resource type/id (first language) of a PE image; empty when
// there is none.
std::string Resource(const std::vector<uint8_t>& image, uint32_t type, uint32_t id) {
  const uint32_t pe = GetLe32(&image[0x3C]);
  const uint16_t sections = GetLe16(&image[pe + 6]);
  const uint32_t optional = pe + 24, sectionTable = optional + GetLe16(&image[pe + 20]);
  const uint32_t directories = optional + (GetLe16(&image[optional]) == 0x20B ? 112 : 96);
  auto fileOffset = [&](uint32_t rva) -> uint32_t {
    for (uint16_t i = 0; i < sections; ++i) {
      const uint8_t* s = &image[sectionTable + 40u * i];
      if (rva >= GetLe32(s + 12) && rva < GetLe32(s + 12) + GetLe32(s + 16))
        return rva - GetLe32(s + 12) + GetLe32(s + 20);
    }
    throw std::runtime_error("RVA outside every section");
  };
  const uint32_t root = fileOffset(GetLe32(&image[directories + 2 * 8]));
  // The entry of `wanted` (or the first when `any`) in the directory at `dir`.
  auto find = [&](uint32_t dir, uint32_t wanted, bool any) -> int64_t {
    const uint32_t count = GetLe16(&image[dir + 12]) + GetLe16(&image[dir + 14]);
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = &image[dir + 16 + 8 * i];
      if (any || GetLe32(e) == wanted) return GetLe32(e + 4);
    }
    return -1;
  };
  const int64_t types = find(root, type, false);
  if (types < 0) return "";
  const int64_t ids = find(root + (types & 0x7FFFFFFF), id, false);
  if (ids < 0) return "";
  const int64_t data = find(root + (ids & 0x7FFFFFFF), 0, true);
  const uint8_t* entry = &image[root + data];
  const uint32_t at = fileOffset(GetLe32(entry));
  return std::string(image.begin() + at, image.begin() + at + GetLe32(entry + 4));
}

}  // namespace

// Both builds: the 12 bytes that signing writes are zeros, so a setup's
// StubChecksum is the plain sum over every byte; and the manifest asks for
// administrator rights and for nothing else.
TEST(ProgramProper, HasZerosWhereSigningWritesAndAnAdministratorManifest) {
  for (const std::string arch : {"i686", "x86_64"}) {
    SCOPED_TRACE(arch);
    const std::vector<uint8_t> stub = BuiltStub(arch);
    ASSERT_EQ(stub.size(), kStubBytes) << "out/zqstub-" << arch << ".exe is not built";
    SignedFields fields{};
    ASSERT_TRUE(FindSignedFields(stub.data(), &fields));
    EXPECT_EQ(GetLe32(&stub[fields.CheckSumAt]), 0u);
    EXPECT_EQ(GetLe32(&stub[fields.CertTableAt]) | GetLe32(&stub[fields.CertTableAt + 4]), 0u);
    EXPECT_EQ(ComputeStubChecksum(stub.data()), PlainChecksum(stub));

    const std::string manifest = Resource(stub, 24, 1);  // RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
              std::string::npos)
        << manifest;
    for (const char* absent : {"Common-Controls", "dpiAware", "dpiAwareness"})
      EXPECT_EQ(manifest.find(absent), std::string::npos) << absent << " in " << manifest;
  }
}

// A setup packed before setups became signable: its program proper has the
// CheckSum that ld filled in, and its StubChecksum counts every byte.
TEST(SetupBeforeSigning, StillVerifies) {
  TestFolder dir;
  const std::string setup = std::string(ZQ_TEST_DATA) + "/unsigned-before-signing.exe";
  const RunResult verify = dir.Run({"verify", setup});
  EXPECT_EQ(verify.exitCode, 0) << Describe(verify);
  EXPECT_NE(verify.out.find(": Authenticode signature: none\n"), std::string::npos) << verify.out;
  const RunResult list = dir.Run({"list", setup});
  EXPECT_NE(list.out.find("StubChecksum     0xE34D8322  ok over every byte"), std::string::npos) << list.out;
}

// --- zqpack build --sign -----------------------------------------------------

namespace {

class SignedBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    sign_ = zqfixture::MakeSigningCommand(dir_.Path("cert"), &why);
    if (sign_.empty()) GTEST_SKIP() << why;
    dir_.WriteSample();
  }
  RunResult Build(const std::string& signCommand) const {
    return dir_.Run({"-q", "build", dir_.Path("Setup.ini"), "-o", Setup(), "--arch", "x86_64", "--sign", signCommand});
  }
  std::string Setup() const { return dir_.Path("signed setup.exe"); }

  TestFolder dir_;
  std::string sign_;
};

}  // namespace

// osslsigncode signs; the signature lies behind the payload, osslsigncode
// accepts it, and verify and list say where it is.  A byte of the payload
// changed afterwards is refused with the program's own message.
TEST_F(SignedBuild, SignsAndReportsTheSignatureBehindThePayload) {
  const RunResult build = Build(sign_);
  ASSERT_EQ(build.exitCode, 0) << Describe(build);
  EXPECT_EQ(zqfixture::VerifySignature(dir_.Path("cert"), Setup()), 0) << "osslsigncode verify refused it";
  const RunResult verify = dir_.Run({"verify", Setup()});
  EXPECT_EQ(verify.exitCode, 0) << Describe(verify);
  const std::string where = ": Authenticode signature: ";
  const size_t at = verify.out.find(where);
  ASSERT_NE(at, std::string::npos) << verify.out;
  const std::string line = verify.out.substr(at + where.size());
  EXPECT_NE(line.find(", behind the payload (which ends at "), std::string::npos) << line;
  const RunResult list = dir_.Run({"list", Setup()});
  EXPECT_NE(list.out.find("\nAuthenticode     " + line), std::string::npos) << list.out;
  const RunResult json = dir_.Run({"list", "--json", Setup()});
  EXPECT_NE(json.out.find("\"behindPayload\": true"), std::string::npos) << json.out;

  std::vector<uint8_t> bytes = zqfixture::ReadFileBytes(Setup());
  bytes[kTableOffset + 5 * kEntryBytes + 100] ^= 0x01;  // inside the stream
  zqfixture::WriteFileBytes(dir_.Path("damaged.exe"), bytes);
  const RunResult damaged = dir_.Run({"verify", dir_.Path("damaged.exe")});
  EXPECT_EQ(damaged.exitCode, 1) << Describe(damaged);
  EXPECT_NE(damaged.out.find("The file may be corrupted.") + damaged.out.find("Installer failed to extract"),
            2 * std::string::npos)
      << damaged.out;
}

// A command that fails, breaks the setup or signs nothing leaves no setup
// behind and exits with 1.
TEST_F(SignedBuild, RefusesWhatTheCommandBrokeAndLeavesNoSetup) {
  const struct {
    std::string command, mention;
  } kCases[] = {
      {"false \"%1\"", "the signing command failed"},
      {"true \"%1\"", "Authenticode signature: none"},
      {"printf X | dd of=\"%1\" bs=1 seek=100 conv=notrunc status=none", "Invalid CRC in installer."},
      {sign_ + " && truncate -s -100 \"%1\"", "past the end of the file"},
      {sign_ + " && truncate -s 40000 \"%1\"", "the signed setup is refused"},
  };
  for (const auto& c : kCases) {
    const RunResult build = Build(c.command);
    EXPECT_TRUE(FailedWithOneLine(build, 1, {c.mention, "no setup written"})) << Describe(build);
    EXPECT_FALSE(fs::exists(Setup())) << c.command;
  }
}
