// zqpack check: the Setup.ini reader, one finding per mistake the program
// would swallow, the BMP header checks, and build refusing on errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "bytes.h"
#include "filecheck.h"
#include "ini.h"
#include "support.h"

namespace fs = std::filesystem;
using nlohmann::json;
using zqfixture::Bytes;
using zqfixture::MakeBitmap;

namespace {

using Change = std::function<void(const TestFolder&)>;

// Replaces one line of the sample Setup.ini ("" removes it with its line end).
void SetLine(const TestFolder& dir, const std::string& line, const std::string& replacement) {
  std::string ini = ReadFile(dir.Path("Setup.ini"));
  const size_t at = ini.find(line);
  ASSERT_NE(at, std::string::npos) << line;
  const size_t end = at + line.size() + (replacement.empty() && ini.compare(at + line.size(), 2, "\r\n") == 0 ? 2 : 0);
  WriteText(dir.Path("Setup.ini"), ini.replace(at, end - at, replacement));
}
Change Line(const std::string& line, const std::string& replacement) {
  return [=](const TestFolder& dir) { SetLine(dir, line, replacement); };
}
Change Put(const std::string& name, const std::vector<uint8_t>& bytes) {
  return [=](const TestFolder& dir) { dir.Write(name, bytes); };
}

}  // namespace

TEST(SettingsReader, ReadsWhatTheProfileReaderReads) {
  const std::string sample = zqfixture::SampleSetupIni(), x300(300, 'x'),
                    twice = "[s]\nk=first\nk=second\n[s]\nk=third\nonly=later\n";
  const struct {
    std::string ini;
    const char* section;
    const char* key;
    size_t capacity;
    std::string want;  // "NO": not present
  } rows[] = {
      {sample, "Sample App", "CabFiles", 512, "DEMO.CAB"},
      {sample, "ZQINSTALLER", "BodyBitmap", 512, "body.bmp"},  // the last line, no line end
      {"[zqInstaller]\nPRODUCTNAME=Demo\n", "ZQINSTALLER", "ProductName", 256, "Demo"},
      {"[s]\r\n  key \t=   a value with blanks  \r\n", "s", "key", 256, "a value with blanks"},
      {"[s]\nempty =\n", "s", "empty", 256, ""},
      {"[s]\nempty =\n", "s", "absent", 256, "NO"},
      {"[s]\nempty =\n", "other", "empty", 256, "NO"},
      {"[s]\nbare\n", "s", "bare", 256, "NO"},  // a line without '=' is no key
      {std::string("[s]\nHeadBitmap=head.bmp\0/../x\n", 30), "s", "HeadBitmap", 256, "head.bmp"},
      {"[s]\na=\"quoted\"\n", "s", "a", 256, "quoted"},
      {"[s]\nb='single'\n", "s", "b", 256, "single"},
      {"[s]\nc=\"unmatched\n", "s", "c", 256, "\"unmatched"},
      {"[s]\nv=" + x300 + "\n", "s", "v", 512, x300},
      {"[s]\nv=" + x300 + "\n", "s", "v", 256, x300.substr(0, 255)},  // cut to its buffer
      {twice, "s", "k", 256, "first"},
      {twice, "s", "only", 256, "NO"},
  };
  for (const auto& row : rows) {
    const Setting s = ReadSetting(IniFile::Parse(row.ini), row.section, row.key, row.capacity);
    const std::string what = "[" + std::string(row.section) + "] " + row.key + " of \"" + row.ini + "\"";
    EXPECT_EQ(s.value, row.want) << what;
    EXPECT_EQ(s.present, row.want != "NO") << what;
    EXPECT_EQ(s.cut(), row.want.size() == row.capacity - 1) << what;
  }
  const IniFile ini = IniFile::Parse("[CEAppManager]\nComponent=Missing\n; a comment\n[Here]\n");
  EXPECT_TRUE(ini.HasSection("here"));
  EXPECT_FALSE(ini.HasSection("Missing"));
}

TEST(SettingsCheck, OneFindingPerMistake) {
  const struct {
    Change change;
    std::string finding;  // "[section] key: severity", or "" for no finding at all
    std::string detail;
  } rows[] = {
      {[](const TestFolder&) {}, "", ""},
      {[](const TestFolder& d) { fs::remove(d.Path("license.rtf")); }, "[ZQINSTALLER] LicenseFile: error",
       "\"license.rtf\": no such file"},
      {Line("BodyBitmap = body.bmp", "BodyBitmap = ..\\body.bmp"), "[ZQINSTALLER] BodyBitmap: error",
       "not a plain file name"},
      {Line("CabFiles = DEMO.CAB", "CabFiles = DEMO.CAB,cabs/other.cab"), "[Sample App] CabFiles: error",
       "\"cabs/other.cab\" is not a plain file name"},
      {[](const TestFolder& d) {
         d.Write("TWO.CAB", zqfixture::MakeCabinet("two.exe", Bytes("2")));
         SetLine(d, "CabFiles = DEMO.CAB", "CabFiles = DEMO.CAB, TWO.CAB");
       },
       "[Sample App] CabFiles: error", "\" TWO.CAB\" begins with a blank"},
      {Put("head.bmp", Bytes("GIF89a, not a bitmap")), "[ZQINSTALLER] HeadBitmap: error", "head.bmp: not a BMP file"},
      {Put("DEMO.CAB", Bytes("PK\x03\x04 a zip file")), "[Sample App] CabFiles: error", "DEMO.CAB: not a cabinet"},
      {Line("InstallDirectory = Sample", "InstallDirectory = ..\\Sample"), "[ZQINSTALLER] InstallDirectory: error",
       "\"..\" is not a plain folder name"},
      // Each missing key says what the program does instead.
      {Line("ProductName = Sample", ""), "[ZQINSTALLER] ProductName: warning", "\"NO\" as the product's name"},
      {Line("ProductVersion = 1.00", ""), "[ZQINSTALLER] ProductVersion: warning", "\"NO\" as the version"},
      {Line("LicenseFile = license.rtf", ""), "[ZQINSTALLER] LicenseFile: warning", "empty license"},
      {Line("Component = Sample App", ""), "[CEAppManager] Component: warning", "no CAB file is installed"},
      {Line("CabFiles = DEMO.CAB", ""), "[Sample App] CabFiles: warning", "no CAB file is installed"},
      {Line("InstallDirectory = Sample", ""), "[ZQINSTALLER] InstallDirectory: warning", "folder named \"NO\""},
      {Line("Component = Sample App", "Component = Other App"), "[CEAppManager] Component: warning", "[Other App]"},
      // 27 characters of "%s %s for SmartPhone 2002 Setup" + 229 = 256.
      {Line("ProductName = Sample", "ProductName = " + std::string(225, 'n')), "[ZQINSTALLER] ProductName: warning",
       "wizard title of 256 characters"},
      {Line("ProductName = Sample", "ProductName = " + std::string(224, 'n')), "", ""},
      {[](const TestFolder& d) {
         SetLine(d, "ProductName = Sample", "ProductName = " + std::string(250, 'n'));
         SetLine(d, "ProductVersion = 1.00", "ProductVersion = " + std::string(130, 'v'));
       },
       "[ZQINSTALLER] ProductName: warning", "Welcome text of 512 characters"},
      {Put("body.bmp", MakeBitmap(600, 400)), "[ZQINSTALLER] BodyBitmap: warning", "600 x 400 pixels"},
      {Put("body.bmp", MakeBitmap(500, 314)), "", ""},
      {Put("head.bmp", MakeBitmap(55, 100)), "[ZQINSTALLER] HeadBitmap: warning", "55 x 100 pixels"},
      {Line("InstallDirectory = Sample", "InstallDirectory = Vendor\\Sample"),
       "[ZQINSTALLER] InstallDirectory: warning", "more than one level"},
      {Line("ProductVersion = 1.00", "ProductVersion = " + std::string(300, '9')),
       "[ZQINSTALLER] ProductVersion: warning", "reads only the first 255"},
      {Line("HeadBitmap = head.bmp", "HeadBitmap = BODY.bmp"), "[ZQINSTALLER] HeadBitmap: warning",
       "also named by [ZQINSTALLER] BodyBitmap"},
      {Line("LicenseFile = license.rtf", "LicenseFile = setup.INI"), "[ZQINSTALLER] LicenseFile: warning",
       "the settings file itself"},
      {Line("CabFiles = DEMO.CAB", "CabFiles = ,"), "[Sample App] CabFiles: warning", "names no CAB file"},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": wanted " +
                 (row.finding.empty() ? "no finding" : row.finding + ": \"" + row.detail + "\""));
    TestFolder dir;
    dir.WriteSample();
    row.change(dir);
    const std::string ini = dir.Path("Setup.ini");
    const RunResult run = dir.Run({"check", ini}), jsonRun = dir.Run({"check", "--json", ini});
    // --json carries each line of the text, with the text's exit code.
    const json j = json::parse(jsonRun.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << Describe(jsonRun);
    EXPECT_EQ(jsonRun.exitCode, run.exitCode);
    std::vector<std::string> lines;
    for (const json& f : j["findings"])
      lines.push_back(ini + ": [" + f["section"].get<std::string>() + "] " + f["key"].get<std::string>() + ": " +
                      f["severity"].get<std::string>() + ": " + f["text"].get<std::string>() + " (see " +
                      f["reference"].get<std::string>() + ")");
    const int errors = j["errors"], warnings = j["warnings"];
    lines.push_back(ini + ": " + std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
                    std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings"));
    EXPECT_EQ(Lines(run.out), lines);
    EXPECT_EQ(run.exitCode, row.finding.find(": error") != std::string::npos ? 1 : 0) << Describe(run);
    bool found = row.finding.empty() && lines.size() == 1;
    for (const std::string& line : Lines(run.out))
      found |= !row.finding.empty() && zq::StartsWith(line, ini + ": " + row.finding + ": ") &&
               line.find(row.detail) != std::string::npos;
    EXPECT_TRUE(found) << Describe(run);
  }
}

TEST(SettingsCheck, BuildRefusesOnErrorsUnlessForced) {
  TestFolder dir;
  dir.WriteSample();
  fs::remove(dir.Path("head.bmp"));
  std::vector<std::string> build = {"build", dir.Path("Setup.ini"), "-o", dir.Path("setup.exe"), "--stub", dir.Stub()};
  const RunResult refused = dir.Run(build);
  EXPECT_EQ(refused.exitCode, 1) << Describe(refused);
  EXPECT_FALSE(fs::exists(dir.Path("setup.exe")));
  build.push_back("--force");
  const RunResult run = dir.Run(build);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.err.find("HeadBitmap: error"), std::string::npos) << Describe(run);
  EXPECT_EQ(dir.Run({"verify", dir.Path("setup.exe")}).exitCode, 0);
}

// The header checks behind the file errors above, case by case.
TEST(BitmapCheck, AcceptsWhatLoadImageLoadsAndRefusesDamage) {
  BitmapSize size;
  std::string reason;
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    EXPECT_TRUE(CheckBitmapFile(MakeBitmap(164, 314, bits), &size, &reason)) << bits << ": " << reason;
    EXPECT_TRUE(size.widthPx == 164 && size.heightPx == 314) << size.widthPx << " x " << size.heightPx;
  }
  EXPECT_TRUE(CheckBitmapFile(MakeBitmap(10, -20), &size, &reason)) << reason;
  EXPECT_EQ(size.heightPx, 20) << "a top-down bitmap";
  const std::vector<uint8_t> good = MakeBitmap(40, 30);
  const struct {
    const char* what;
    size_t offset;  // a 32-bit field of the headers
    uint32_t value;
  } damage[] = {
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
  for (const auto& d : damage) {
    std::vector<uint8_t> bmp = good;
    PutLe32(&bmp[d.offset], d.value);
    EXPECT_FALSE(CheckBitmapFile(bmp, &size, &reason)) << d.what;
  }
  EXPECT_FALSE(CheckBitmapFile({good.begin(), good.end() - 1}, &size, &reason)) << "pixel data cut short";
  EXPECT_FALSE(CheckBitmapFile({good.begin(), good.begin() + 20}, &size, &reason)) << "headers cut short";
}
