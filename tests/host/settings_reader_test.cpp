// zqpack's Setup.ini reader gives what the program's GetPrivateProfileStringA
// reads give: the checks rest on it.
#include <gtest/gtest.h>

#include "fixture.h"
#include "ini.h"

static std::string Value(const IniFile& ini, const char* section, const char* key, size_t capacity = 256) {
  return ReadSetting(ini, section, key, capacity).value;
}

TEST(SettingsReader, ReadsTheSampleLayout) {
  const IniFile ini = IniFile::Parse(zqfixture::SampleSetupIni());
  EXPECT_EQ(Value(ini, "CEAppManager", "Component"), "Sample App");
  EXPECT_EQ(Value(ini, "Sample App", "CabFiles", 512), "DEMO.CAB");
  EXPECT_EQ(Value(ini, "ZQINSTALLER", "BodyBitmap", 512), "body.bmp");  // the last line, no line end
  EXPECT_EQ(Value(ini, "ZQINSTALLER", "ProductVersion"), "1.00");
}

TEST(SettingsReader, IgnoresLetterCaseOfSectionsAndKeys) {
  const IniFile ini = IniFile::Parse("[zqInstaller]\nPRODUCTNAME=Demo\n");
  EXPECT_EQ(Value(ini, "ZQINSTALLER", "ProductName"), "Demo");
}

TEST(SettingsReader, TrimsBlanksAroundTheEqualsSignAndTheValue) {
  const IniFile ini = IniFile::Parse("[s]\r\n  key \t=   a value with blanks  \r\nlist = a.cab , b.cab\r\n");
  EXPECT_EQ(Value(ini, "s", "key"), "a value with blanks");
  EXPECT_EQ(Value(ini, "s", "list"), "a.cab , b.cab");
}

TEST(SettingsReader, GivesNoForWhatIsMissingAndEmptyForAnEmptyValue) {
  const IniFile ini = IniFile::Parse("[s]\nempty =\nbare\n");
  EXPECT_EQ(Value(ini, "s", "empty"), "");
  EXPECT_TRUE(ReadSetting(ini, "s", "empty", 256).present);
  EXPECT_EQ(Value(ini, "s", "bare"), "NO");  // a line without '=' is no key
  EXPECT_EQ(Value(ini, "s", "absent"), "NO");
  EXPECT_EQ(Value(ini, "other", "empty"), "NO");
  EXPECT_FALSE(ReadSetting(ini, "other", "empty", 256).present);
}

TEST(SettingsReader, AZeroByteEndsTheValueAsTheProgramSeesIt) {
  const IniFile ini = IniFile::Parse(std::string("[ZQINSTALLER]\nHeadBitmap=head.bmp\0/../x\n", 40));
  EXPECT_EQ(Value(ini, "ZQINSTALLER", "HeadBitmap"), "head.bmp");
}

TEST(SettingsReader, DropsOnePairOfMatchingQuotes) {
  const IniFile ini = IniFile::Parse("[s]\na=\"quoted\"\nb='single'\nc=\"unmatched\n");
  EXPECT_EQ(Value(ini, "s", "a"), "quoted");
  EXPECT_EQ(Value(ini, "s", "b"), "single");
  EXPECT_EQ(Value(ini, "s", "c"), "\"unmatched");
}

TEST(SettingsReader, CutsValuesToTheirBuffer) {
  const std::string longName(300, 'x');
  const IniFile ini = IniFile::Parse("[ZQINSTALLER]\nBodyBitmap=" + longName + "\nHeadBitmap=" + longName + "\n");
  EXPECT_EQ(Value(ini, "ZQINSTALLER", "BodyBitmap", 512), longName);
  const Setting head = ReadSetting(ini, "ZQINSTALLER", "HeadBitmap", 256);
  EXPECT_EQ(head.value, std::string(255, 'x'));
  EXPECT_TRUE(head.cut());
}

TEST(SettingsReader, TakesTheFirstSectionAndKeyOfAName) {
  const IniFile ini = IniFile::Parse("[s]\nk=first\nk=second\n[s]\nk=third\nonly=later\n");
  EXPECT_EQ(Value(ini, "s", "k"), "first");
  EXPECT_EQ(Value(ini, "s", "only"), "NO");
}

TEST(SettingsReader, KnowsWhichSectionsExist) {
  const IniFile ini = IniFile::Parse("[CEAppManager]\nComponent=Missing\n; a comment\n[Here]\n");
  EXPECT_TRUE(ini.HasSection("here"));
  EXPECT_FALSE(ini.HasSection("Missing"));
}
