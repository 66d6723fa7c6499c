// The programs proper as built, hardened and signable, and what zqpack's
// list, verify and build --sign make of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "bytes.h"
#include "format/checksum.h"
#include "mitigations.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadOut(const std::string& name) {
  return zqfixture::ReadFileBytes(std::string(ZQ_OUT_DIR) + "/" + name);
}

const char* const kArches[] = {"i686", "x86_64"};

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

// Exactly these flags: DYNAMIC_BASE, NX and NO_SEH (i686) or HIGH_ENTROPY_VA
// (x86_64), and not TERMINAL_SERVER_AWARE; no SEH handler table, exception
// table or load configuration behind them.
TEST(ProgramProper, DeclaresTheMitigations) {
  const uint16_t expected[] = {kDynamicBase | kNxCompat | kNoSeh, kHighEntropyVa | kDynamicBase | kNxCompat};
  for (size_t i = 0; i < std::size(kArches); ++i) {
    SCOPED_TRACE(kArches[i]);
    const PeLayout pe = ReadPeLayout(ReadOut(std::string("zqstub-") + kArches[i] + ".exe"));
    ASSERT_TRUE(pe.valid);
    EXPECT_EQ(pe.dllCharacteristics, expected[i]) << std::hex << pe.dllCharacteristics;
    EXPECT_EQ(pe.loadConfigBytes, 0u);
    for (const PeSection& s : pe.sections) EXPECT_TRUE(s.name != ".sxdata" && s.name != ".pdata") << s.name;
  }
}

// The proof: the same objects linked at another base (out/ARCH/zqstub-rebased.exe)
// must equal the program proper with its relocations applied for the
// difference, byte for byte, headers too but for ImageBase and CheckSum.  An
// absolute address that the table misses, or an entry where no address is,
// differs.
TEST(ProgramProper, RelocationTableMovesEveryAbsoluteAddress) {
  for (const std::string arch : kArches) {
    SCOPED_TRACE(arch);
    std::vector<uint8_t> image = ReadOut("zqstub-" + arch + ".exe"), rebased = ReadOut(arch + "/zqstub-rebased.exe");
    const PeLayout pe = ReadPeLayout(image), other = ReadPeLayout(rebased);
    ASSERT_TRUE(pe.valid && other.valid);
    std::vector<BaseRelocation> relocations;
    ASSERT_TRUE(ReadBaseRelocations(image, pe, &relocations));
    ASSERT_FALSE(relocations.empty());
    const uint64_t delta = other.imageBase - pe.imageBase;
    ASSERT_NE(delta >> 16, 0u);
    for (const BaseRelocation& r : relocations) {
      const uint32_t width = r.type == kRelDir64 ? 8 : 4;
      const int64_t at = pe.FileOffset(r.rva, width);
      ASSERT_GE(at, 0) << "relocation at RVA " << std::hex << r.rva << " outside every section";
      uint64_t value = 0;  // little-endian, 4 or 8 bytes; a 4-byte one wraps
      for (uint32_t b = width; b-- > 0;) value = value << 8 | image[at + b];
      value += delta;
      for (uint32_t b = 0; b < width; ++b) image[at + b] = static_cast<uint8_t>(value >> 8 * b);
    }
    for (std::vector<uint8_t>* bytes : {&image, &rebased}) {
      std::fill_n(bytes->begin() + pe.imageBaseAt, pe.pe32plus ? 8 : 4, 0);
      std::fill_n(bytes->begin() + pe.checkSumAt, 4, 0);
    }
    ASSERT_LE(rebased.size(), image.size());  // the program proper is padded behind its last section
    const auto [a, b] = std::mismatch(rebased.begin(), rebased.end(), image.begin());
    EXPECT_TRUE(a == rebased.end()) << "they differ at file offset 0x" << std::hex << a - rebased.begin() << ": 0x"
                                    << int(*b) << " against 0x" << int(*a);
  }
}

// list and verify, text and --json, name the mitigations: both builds as
// zqpack carries them, a load configuration that records stack cookies,
// and the setup packed before (no ASLR).
TEST(Mitigations, ListAndVerifyNameThem) {
  TestFolder dir;
  dir.WriteSample();
  std::vector<uint8_t> withCookie = ReadOut("zqstub-x86_64.exe");
  const PeLayout pe = ReadPeLayout(withCookie);
  ASSERT_TRUE(pe.valid);
  const PeSection& first = pe.sections[0];
  const uint32_t loadConfigEntry = pe.checkSumAt - 64 + 112 + 10 * 8;  // PE32+ data directory 10
  PutLe32(&withCookie[loadConfigEntry], first.rva);
  PutLe32(&withCookie[loadConfigEntry + 4], 0x60);
  PutLe32(&withCookie[first.fileOffset + 0x58], 0x2B992DDF);  // SecurityCookie, the cookie's address
  const struct {
    std::vector<std::string> build;  // zqpack arguments, or empty for the committed setup
    std::string text;                // #: the table's bytes
    bool aslr, noSeh;
  } rows[] = {
      {{"--arch", "i686"}, "ASLR with relocations (# bytes), NX, no SEH", true, true},
      {{"--arch", "x86_64"}, "ASLR with relocations (# bytes), high-entropy VA, NX", true, false},
      {{"--stub", dir.Write("cookie.exe", withCookie)},
       "ASLR with relocations (# bytes), high-entropy VA, NX, stack cookies",
       true,
       false},
      {{}, "no ASLR, NX, SEH not excluded", false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::string setup = std::string(ZQ_TEST_DATA) + "/unsigned-before-signing.exe";
    if (!row.build.empty()) {
      setup = dir.Path("setup.exe");
      std::vector<std::string> args = {"-q", "build", dir.Path("Setup.ini"), "-o", setup};
      args.insert(args.end(), row.build.begin(), row.build.end());
      ASSERT_EQ(dir.Run(args).exitCode, 0);
    }
    const nlohmann::json j = nlohmann::json::parse(dir.Run({"verify", "--json", setup}).out)["programProper"];
    std::string text = row.text;
    if (text.find('#') != std::string::npos) text.replace(text.find('#'), 1, j["relocationBytes"].dump());
    EXPECT_EQ(j["text"], text);
    EXPECT_EQ(j["aslr"], row.aslr);
    EXPECT_EQ(j["noSEH"] == true, row.noSeh);
    const RunResult list = dir.Run({"list", setup}), verify = dir.Run({"verify", setup});
    EXPECT_NE(list.out.find("\nprogram proper   " + text + "\n"), std::string::npos) << list.out;
    EXPECT_NE(verify.out.find(": program proper: " + text + "\n"), std::string::npos) << Describe(verify);
    // Packed before signing was possible: ld's CheckSum kept, counted by StubChecksum.
    EXPECT_EQ(verify.exitCode, 0) << Describe(verify);
    EXPECT_TRUE(!row.build.empty() ||
                list.out.find("StubChecksum     0xE34D8322  ok over every byte") != std::string::npos);
  }
}

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
    const uint32_t plain = PayloadChecksum(kPayloadSignature, stub.data(), stub.size());
    PutLe32(&stub[row.checkSumAt], 0x0001136B);
    PutLe32(&stub[row.certTableAt], 32864);
    PutLe32(&stub[row.certTableAt + 4], 1504);
    EXPECT_EQ(ComputeStubChecksum(stub.data()), plain) << row.pe;
  }
}

// Both builds: zeros where signing writes, so a setup's StubChecksum is the
// plain sum; a manifest that asks for administrator rights and nothing else.
TEST(ProgramProper, HasZerosWhereSigningWritesAndAnAdministratorManifest) {
  for (const std::string arch : kArches) {
    SCOPED_TRACE(arch);
    const std::vector<uint8_t> stub = ReadOut("zqstub-" + arch + ".exe");
    ASSERT_EQ(stub.size(), kProgramBytes) << "out/zqstub-" << arch << ".exe is not built";
    SignedFields fields{};
    ASSERT_TRUE(FindSignedFields(stub.data(), &fields));
    EXPECT_EQ(ComputeStubChecksum(stub.data()), PayloadChecksum(kPayloadSignature, stub.data(), stub.size()));
    const std::string image(stub.begin(), stub.end());  // the manifest lies in it as plain text
    EXPECT_NE(image.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
              std::string::npos);
    for (const char* absent : {"Common-Controls", "dpiAware"})
      EXPECT_EQ(image.find(absent), std::string::npos) << absent;
  }
}

// osslsigncode signs: the signature lies behind the payload, osslsigncode
// accepts it, verify, list and --json say where it is.  A command that fails,
// breaks the setup or signs nothing leaves no setup and exits with 1.
TEST(SignedBuild, SignsBehindThePayloadAndRefusesWhatTheCommandBroke) {
  TestFolder dir;
  // A throwaway self-signed certificate and key for osslsigncode.
  const std::string cert = dir.Path("cert.pem"), key = dir.Path("key.pem"), setup = dir.Path("signed setup.exe");
  const std::string make =
      "command -v osslsigncode >/dev/null && openssl req -x509 -newkey rsa:2048 -nodes -days 2 "
      "-subj '/CN=ZQ Installer test' -keyout '" +
      key + "' -out '" + cert + "' >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "openssl or osslsigncode is missing or failed: " << make;
  const std::string sign = "osslsigncode sign -certs '" + cert + "' -key '" + key +
                           "' -n 'ZQ test' -in \"%1\" -out \"%1.signed\" >/dev/null && mv \"%1.signed\" \"%1\"";
  dir.WriteSample();
  const auto build = [&](const std::string& command) {
    return dir.Run({"-q", "build", dir.Path("Setup.ini"), "-o", setup, "--arch", "x86_64", "--sign", command});
  };
  const RunResult built = build(sign);
  ASSERT_EQ(built.exitCode, 0) << Describe(built);
  const std::string check = "osslsigncode verify -CAfile '" + cert + "' -in '" + setup + "' >/dev/null";
  EXPECT_EQ(std::system(check.c_str()), 0) << "osslsigncode verify refused it";
  const RunResult verify = dir.Run({"verify", setup});
  EXPECT_EQ(verify.exitCode, 0) << Describe(verify);
  const size_t at = verify.out.find(": Authenticode signature: ");
  ASSERT_NE(at, std::string::npos) << verify.out;
  const std::string line = verify.out.substr(at + 26, verify.out.find('\n', at) + 1 - at - 26);
  EXPECT_NE(line.find(", behind the payload (which ends at "), std::string::npos) << line;
  EXPECT_NE(dir.Run({"list", setup}).out.find("\nAuthenticode     " + line), std::string::npos);
  EXPECT_NE(dir.Run({"list", "--json", setup}).out.find("\"behindPayload\": true"), std::string::npos);
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
