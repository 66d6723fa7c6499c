// zqpack check: one finding per mistake that the program would swallow, each
// naming the file, the section and the key; the sample draws none.
#include <gtest/gtest.h>

#include <filesystem>

#include "bytes.h"
#include "filecheck.h"
#include "fixture.h"
#include "support.h"

namespace fs = std::filesystem;
using zqfixture::WriteFileBytes;

namespace {

class SettingsCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const zqfixture::Entry& e : zqfixture::SampleEntries()) WriteFileBytes(dir_.Path(e.name), e.contents);
  }
  // Replaces one line of the sample Setup.ini ("" removes it).
  void SetLine(const std::string& line, const std::string& replacement) {
    std::string ini = ReadText(dir_.Path("Setup.ini"));
    const size_t at = ini.find(line);
    ASSERT_NE(at, std::string::npos) << line;
    size_t end = at + line.size();
    if (replacement.empty() && ini.compare(end, 2, "\r\n") == 0) end += 2;
    ini.replace(at, end - at, replacement);
    WriteText(dir_.Path("Setup.ini"), ini);
  }
  RunResult Check() { return dir_.Run({"check", dir_.Path("Setup.ini")}); }

  // The run ended with exitCode and printed a finding that starts with
  // "<Setup.ini>: [section] key: severity:" and holds detail.
  void ExpectFinding(const RunResult& run, int exitCode, const std::string& sectionKeySeverity,
                     const std::string& detail) {
    EXPECT_EQ(run.exitCode, exitCode) << Describe(run);
    const std::string head = dir_.Path("Setup.ini") + ": " + sectionKeySeverity + ": ";
    for (const std::string& line : Lines(run.out))
      if (line.compare(0, head.size(), head) == 0 && line.find(detail) != std::string::npos) return;
    ADD_FAILURE() << "no line \"" << head << "...\" mentioning \"" << detail << "\"\n" << Describe(run);
  }

  TestFolder dir_;
};

}  // namespace

TEST_F(SettingsCheck, SamplePassesWithoutFindings) {
  const RunResult run = Check();
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(run.out, dir_.Path("Setup.ini") + ": 0 errors, 0 warnings\n");
}

// Errors: exit code 1.

TEST_F(SettingsCheck, NamedFileMissing) {
  fs::remove(dir_.Path("license.rtf"));
  ExpectFinding(Check(), 1, "[ZQINSTALLER] LicenseFile: error", "\"license.rtf\": no such file");
}

TEST_F(SettingsCheck, NameThatIsNoPlainFileName) {
  SetLine("BodyBitmap = body.bmp", "BodyBitmap = ..\\body.bmp");
  ExpectFinding(Check(), 1, "[ZQINSTALLER] BodyBitmap: error", "not a plain file name");
}

TEST_F(SettingsCheck, CabItemThatIsNoPlainFileName) {
  SetLine("CabFiles = DEMO.CAB", "CabFiles = DEMO.CAB,cabs/other.cab");
  ExpectFinding(Check(), 1, "[Sample App] CabFiles: error", "\"cabs/other.cab\" is not a plain file name");
}

TEST_F(SettingsCheck, CabItemWithABlankBehindAComma) {
  WriteFileBytes(dir_.Path("TWO.CAB"), zqfixture::MakeCabinet("two.exe", zqfixture::Bytes("2")));
  SetLine("CabFiles = DEMO.CAB", "CabFiles = DEMO.CAB, TWO.CAB");
  ExpectFinding(Check(), 1, "[Sample App] CabFiles: error", "\" TWO.CAB\" begins with a blank");
}

TEST_F(SettingsCheck, LicenseThatCannotBeRead) {
  fs::remove(dir_.Path("license.rtf"));
  fs::create_directory(dir_.Path("license.rtf"));
  ExpectFinding(Check(), 1, "[ZQINSTALLER] LicenseFile: error", "license.rtf");
}

TEST_F(SettingsCheck, BitmapThatLoadImageCannotLoad) {
  WriteFileBytes(dir_.Path("head.bmp"), zqfixture::Bytes("GIF89a, not a bitmap"));
  ExpectFinding(Check(), 1, "[ZQINSTALLER] HeadBitmap: error", "head.bmp: not a BMP file");
}

TEST_F(SettingsCheck, CabThatIsNoCabinet) {
  WriteFileBytes(dir_.Path("DEMO.CAB"), zqfixture::Bytes("PK\x03\x04 a zip file"));
  ExpectFinding(Check(), 1, "[Sample App] CabFiles: error", "DEMO.CAB: not a cabinet");
}

TEST_F(SettingsCheck, InstallDirectoryOutsideTheFolderOfCeAppMgr) {
  SetLine("InstallDirectory = Sample", "InstallDirectory = ..\\Sample");
  ExpectFinding(Check(), 1, "[ZQINSTALLER] InstallDirectory: error", "\"..\" is not a plain folder name");
}

TEST_F(SettingsCheck, BuildRefusesOnErrorsUnlessForced) {
  fs::remove(dir_.Path("head.bmp"));
  WriteFileBytes(dir_.Path("stub.exe"), zqfixture::FillerStub());
  const std::vector<std::string> build = {"build",  dir_.Path("Setup.ini"), "-o", dir_.Path("setup.exe"),
                                          "--stub", dir_.Path("stub.exe")};
  const RunResult refused = dir_.Run(build);
  EXPECT_EQ(refused.exitCode, 1) << Describe(refused);
  EXPECT_FALSE(fs::exists(dir_.Path("setup.exe")));
  std::vector<std::string> forced = build;
  forced.push_back("--force");
  const RunResult run = dir_.Run(forced);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.err.find("HeadBitmap: error"), std::string::npos) << Describe(run);
  EXPECT_EQ(dir_.Run({"verify", dir_.Path("setup.exe")}).exitCode, 0);
}

// Warnings: exit code 0.

TEST_F(SettingsCheck, EachMissingKeySaysWhatTheProgramDoesInstead) {
  const struct {
    const char* line;
    const char* finding;
    const char* consequence;
  } keys[] = {
      {"ProductName = Sample", "[ZQINSTALLER] ProductName: warning", "\"NO\" as the product's name"},
      {"ProductVersion = 1.00", "[ZQINSTALLER] ProductVersion: warning", "\"NO\" as the version"},
      {"LicenseFile = license.rtf", "[ZQINSTALLER] LicenseFile: warning", "empty license"},
      {"BodyBitmap = body.bmp", "[ZQINSTALLER] BodyBitmap: warning", "Welcome page shows no bitmap"},
      {"HeadBitmap = head.bmp", "[ZQINSTALLER] HeadBitmap: warning", "banner shows no bitmap"},
      {"Component = Sample App", "[CEAppManager] Component: warning", "no CAB file is installed"},
      {"CabFiles = DEMO.CAB", "[Sample App] CabFiles: warning", "no CAB file is installed"},
      {"InstallDirectory = Sample", "[ZQINSTALLER] InstallDirectory: warning", "folder named \"NO\""},
  };
  const std::string sample = ReadText(dir_.Path("Setup.ini"));
  for (const auto& key : keys) {
    SCOPED_TRACE(key.line);
    WriteText(dir_.Path("Setup.ini"), sample);
    SetLine(key.line, "");
    ExpectFinding(Check(), 0, key.finding, key.consequence);
  }
}

TEST_F(SettingsCheck, ComponentNamingNoSection) {
  SetLine("Component = Sample App", "Component = Other App");
  ExpectFinding(Check(), 0, "[CEAppManager] Component: warning", "[Other App]");
}

TEST_F(SettingsCheck, TitleLongerThanTheWizardsBuffer) {
  // 27 characters of "%s %s for SmartPhone 2002 Setup" + 229 = 256.
  SetLine("ProductName = Sample", "ProductName = " + std::string(225, 'n'));
  ExpectFinding(Check(), 0, "[ZQINSTALLER] ProductName: warning", "wizard title of 256 characters");
}

TEST_F(SettingsCheck, TitleThatJustFitsDrawsNoWarning) {
  SetLine("ProductName = Sample", "ProductName = " + std::string(224, 'n'));
  const RunResult run = Check();
  EXPECT_EQ(run.out.find("title"), std::string::npos) << Describe(run);
}

TEST_F(SettingsCheck, WelcomeTextLongerThanItsBuffer) {
  SetLine("ProductName = Sample", "ProductName = " + std::string(250, 'n'));
  SetLine("ProductVersion = 1.00", "ProductVersion = " + std::string(130, 'v'));
  ExpectFinding(Check(), 0, "[ZQINSTALLER] ProductName: warning", "Welcome text of 512 characters");
}

TEST_F(SettingsCheck, BodyBitmapOver500x314) {
  WriteFileBytes(dir_.Path("body.bmp"), zqfixture::MakeBitmap(600, 400));
  ExpectFinding(Check(), 0, "[ZQINSTALLER] BodyBitmap: warning", "600 x 400 pixels");
  WriteFileBytes(dir_.Path("body.bmp"), zqfixture::MakeBitmap(500, 314));
  EXPECT_EQ(Check().out, dir_.Path("Setup.ini") + ": 0 errors, 0 warnings\n") << "500 x 314 fits";
}

TEST_F(SettingsCheck, HeadBitmapNot55PixelsHighOrTooWide) {
  WriteFileBytes(dir_.Path("head.bmp"), zqfixture::MakeBitmap(55, 100));
  ExpectFinding(Check(), 0, "[ZQINSTALLER] HeadBitmap: warning", "55 x 100 pixels");
  WriteFileBytes(dir_.Path("head.bmp"), zqfixture::MakeBitmap(501, 55));
  ExpectFinding(Check(), 0, "[ZQINSTALLER] HeadBitmap: warning", "501 x 55 pixels");
}

TEST_F(SettingsCheck, InstallDirectoryOfTwoLevels) {
  SetLine("InstallDirectory = Sample", "InstallDirectory = Vendor\\Sample");
  ExpectFinding(Check(), 0, "[ZQINSTALLER] InstallDirectory: warning", "more than one level");
}

TEST_F(SettingsCheck, ValueLongerThanItsBuffer) {
  SetLine("ProductVersion = 1.00", "ProductVersion = " + std::string(300, '9'));
  ExpectFinding(Check(), 0, "[ZQINSTALLER] ProductVersion: warning", "reads only the first 255");
}

TEST_F(SettingsCheck, OneFileForTwoUses) {
  SetLine("HeadBitmap = head.bmp", "HeadBitmap = BODY.bmp");
  ExpectFinding(Check(), 0, "[ZQINSTALLER] HeadBitmap: warning", "also named by [ZQINSTALLER] BodyBitmap");
  SetLine("LicenseFile = license.rtf", "LicenseFile = setup.INI");
  ExpectFinding(Check(), 0, "[ZQINSTALLER] LicenseFile: warning", "the settings file itself");
}

TEST_F(SettingsCheck, CabFilesNamingNothing) {
  SetLine("CabFiles = DEMO.CAB", "CabFiles = ,");
  ExpectFinding(Check(), 0, "[Sample App] CabFiles: warning", "names no CAB file");
}

// The header checks behind the role errors above, case by case.

TEST(BitmapCheck, AcceptsWhatLoadImageLoads) {
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    BitmapSize size;
    std::string reason;
    EXPECT_TRUE(CheckBitmapFile(zqfixture::MakeBitmap(164, 314, bits), &size, &reason)) << bits << ": " << reason;
    EXPECT_EQ(size.widthPx, 164);
    EXPECT_EQ(size.heightPx, 314);
  }
  std::vector<uint8_t> topDown = zqfixture::MakeBitmap(10, -20);
  BitmapSize size;
  std::string reason;
  EXPECT_TRUE(CheckBitmapFile(topDown, &size, &reason)) << reason;
  EXPECT_EQ(size.heightPx, 20);
}

TEST(BitmapCheck, RefusesDamagedOrForeignFiles) {
  const std::vector<uint8_t> good = zqfixture::MakeBitmap(40, 30);
  struct Damage {
    const char* what;
    size_t offset;  // a 32-bit field of the headers, or a size to cut to
    uint32_t value;
  };
  const Damage cases[] = {
      {"signature", 0, 0x00004D42 ^ 0x0100},  // "BL"
      {"header size of 64 bytes", 14, 64},
      {"width 0", 18, 0},
      {"height 0", 22, 0},
      {"two planes and 24 bits", 26, 2 | 24 << 16},
      {"3 bits per pixel", 26, 1 | 3 << 16},
      {"JPEG inside", 30, 4},
      {"RLE8 on 24 bits", 30, 1},
      {"pixels behind the end", 10, 1u << 20},
  };
  for (const Damage& d : cases) {
    std::vector<uint8_t> bmp = good;
    PutLe32(&bmp[d.offset], d.value);
    BitmapSize size;
    std::string reason;
    EXPECT_FALSE(CheckBitmapFile(bmp, &size, &reason)) << d.what;
  }
  std::vector<uint8_t> cut = good;
  cut.pop_back();
  BitmapSize size;
  std::string reason;
  EXPECT_FALSE(CheckBitmapFile(cut, &size, &reason)) << "pixel data cut short";
  EXPECT_FALSE(CheckBitmapFile(std::vector<uint8_t>(good.begin(), good.begin() + 20), &size, &reason));
}

TEST(CabinetCheck, TellsCabinetsFromOtherFiles) {
  const std::vector<uint8_t> cab = zqfixture::MakeCabinet("app.exe", zqfixture::TextLikeBytes(70000, 1));
  std::string reason;
  EXPECT_TRUE(CheckCabinetHeader(cab, cab.size(), &reason)) << reason;
  EXPECT_FALSE(CheckCabinetHeader(cab, cab.size() - 1, &reason)) << "cut short";
  std::vector<uint8_t> bad = cab;
  bad[0] = 'X';
  EXPECT_FALSE(CheckCabinetHeader(bad, bad.size(), &reason));
  bad = cab;
  bad[25] = 2;
  EXPECT_FALSE(CheckCabinetHeader(bad, bad.size(), &reason)) << "version 2";
  bad = cab;
  PutLe16(&bad[28], 0);
  EXPECT_FALSE(CheckCabinetHeader(bad, bad.size(), &reason)) << "no file";
}

TEST(CabinetCheck, AcceptsACabinetMadeByGcab) {
  if (system("command -v gcab >/dev/null 2>&1") != 0) GTEST_SKIP() << "gcab is not installed";
  TestFolder dir;
  WriteFileBytes(dir.Path("app.exe"), zqfixture::TextLikeBytes(100000, 2));
  ASSERT_EQ(system(("cd '" + dir.work() + "' && gcab -c -z real.cab app.exe").c_str()), 0);
  const std::vector<uint8_t> cab = zqfixture::ReadFileBytes(dir.Path("real.cab"));
  std::string reason;
  EXPECT_TRUE(CheckCabinetHeader(cab, cab.size(), &reason)) << reason;
  // And gcab reads the fixture's stored cabinet.
  WriteFileBytes(dir.Path("fixture.cab"), zqfixture::MakeCabinet("app.exe", zqfixture::TextLikeBytes(70000, 2)));
  EXPECT_EQ(system(("gcab -l '" + dir.Path("fixture.cab") + "' >/dev/null 2>&1").c_str()), 0);
}
