// zqpack's Setup.ini reader gives what the program's GetPrivateProfileStringA
// reads give: the checks rest on it.
#include <gtest/gtest.h>

#include "fixture.h"
#include "ini.h"

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
      {"[s]\r\nlist = a.cab , b.cab\r\n", "s", "list", 256, "a.cab , b.cab"},
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
