// The programs proper as hardened: the mitigations their headers declare, a
// relocation table that moves every absolute address, and what zqpack's list
// and verify say of them and of a setup packed before signing was possible.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bytes.h"
#include "mitigations.h"
#include "support.h"

namespace {

std::vector<uint8_t> ReadOut(const std::string& name) {
  return zqfixture::ReadFileBytes(std::string(ZQ_OUT_DIR) + "/" + name);
}

const char* const kArches[] = {"i686", "x86_64"};

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
    ASSERT_EQ(pe.sections.size(), other.sections.size());
    std::vector<PeSection> parts = pe.sections;
    parts.insert(parts.begin(), PeSection{"headers", 0, 0, pe.headerBytes});
    for (const PeSection& s : parts) {
      const uint8_t* mine = &image[s.fileOffset];
      const uint8_t* theirs = &rebased[s.fileOffset];
      const auto [a, b] = std::mismatch(mine, mine + s.fileBytes, theirs);
      EXPECT_EQ(a, mine + s.fileBytes) << s.name << " differs at RVA 0x" << std::hex << s.rva + (a - mine) << ": 0x"
                                       << int(*a) << " against 0x" << int(*b);
    }
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
    EXPECT_EQ(j["relocationBytes"] != 0, row.aslr);
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
