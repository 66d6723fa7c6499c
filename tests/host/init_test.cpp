// zqpack init: the example is complete (check finds only its CAB file
// missing; cab makes it from the example's .inf; then check finds nothing and
// build packs it), a product name gives the CAB and folder names, a name
// Setup.ini cannot carry is refused, no file is replaced.
#include <gtest/gtest.h>

#include <filesystem>

#include "ini.h"
#include "support.h"

using Args = std::vector<std::string>;

TEST(Init, ExampleIsCheckedCleanOnceItsCabIsThereAndBuilds) {
  const struct {
    std::string product, cab, installDirectory;
  } rows[] = {
      {"My Product", "MYPRODUC.CAB", "MyProduct"},  // the default
      {"Lpt1", "ZQLPT1.CAB", "ZQLpt1"},             // a device name gets a prefix
      {"R&D {Tools} 2.0; \\beta @CAB@", "RDTOOLS2.CAB", "RDTools20betaCAB"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cab);
    TestFolder dir;
    Args init = {"-q", "init", dir.Path("product")};
    if (row.product != "My Product") init.insert(init.end(), {"--product", row.product});
    ASSERT_EQ(dir.Run(init).exitCode, 0);
    const std::string ini = dir.Path("product/Setup.ini");
    const IniFile settings = IniFile::Load(ini);
    EXPECT_EQ(settings.Find("ZQINSTALLER", "ProductName"), row.product);
    EXPECT_EQ(settings.Find(row.product, "CabFiles"), row.cab);
    EXPECT_EQ(settings.Find("ZQINSTALLER", "InstallDirectory"), row.installDirectory);

    const RunResult withoutCab = dir.Run({"check", ini});
    EXPECT_EQ(withoutCab.exitCode, 1);
    EXPECT_EQ(Lines(withoutCab.out).size(), 2u) << "only the CAB file is missing: " << Describe(withoutCab);
    const std::string inf = dir.Path("product/" + row.cab.substr(0, row.cab.size() - 4) + ".inf");
    const RunResult made = dir.Run({"cab", inf});  // the example's Windows CE install cabinet
    ASSERT_EQ(made.exitCode, 0) << Describe(made);
    EXPECT_EQ(dir.Run({"check", ini}).out, ini + ": 0 errors, 0 warnings\n");
    const RunResult built = dir.Run({"-q", "build", ini, "--stub", dir.Stub(), "-o", dir.Path("setup.exe")});
    ASSERT_EQ(built.exitCode, 0) << Describe(built);
    const RunResult listed = dir.Run({"list", dir.Path("setup.exe")});
    for (const std::string packed : {"license.rtf", "body.bmp", "head.bmp", "Setup.ini", row.cab.c_str()})
      EXPECT_NE(listed.out.find("  " + packed + " "), std::string::npos) << packed << "\n" << listed.out;
    EXPECT_EQ(listed.out.find("PUT-CAB"), std::string::npos) << "the note is not packed";
  }
}

TEST(Init, RefusesANameSetupIniCannotCarryAndNeverReplacesAFile) {
  TestFolder dir;
  for (const std::string& name :
       {std::string(""), std::string(" Lead"), std::string("[Section]"), std::string("\"Quoted\""),
        std::string("Caf\xC3\xA9"), std::string("Line\nbreak"), std::string(225, 'n')})
    EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.Path("p"), "--product", name}), 2)) << name;
  EXPECT_EQ(dir.Run({"-q", "init", dir.Path("p"), "--product", std::string(224, 'n')}).exitCode, 0);
  std::filesystem::remove_all(dir.Path("p"));
  ASSERT_EQ(dir.Run({"-q", "init", dir.work()}).exitCode, 0);
  EXPECT_EQ(FilesBelow(dir.work()), Args({"MYPRODUC.inf", "PUT-CAB-FILES-HERE.txt", "Setup.ini", "body.bmp", "head.bmp",
                                          "license.rtf", "readme.txt"}));
  WriteText(dir.Path("Setup.ini"), "mine");
  EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.work(), "--product", "Other"}), 1, {"Setup.ini", "exists"}));
  EXPECT_EQ(ReadText(dir.Path("Setup.ini")), "mine");
  // One file of the example in an otherwise empty folder: nothing is written.
  WriteText(dir.Path("head.bmp"), "mine");
  for (const char* name :
       {"Setup.ini", "body.bmp", "license.rtf", "PUT-CAB-FILES-HERE.txt", "MYPRODUC.inf", "readme.txt"})
    std::remove(dir.Path(name).c_str());
  EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.work()}), 1, {"head.bmp"}));
  EXPECT_EQ(FilesBelow(dir.work()), Args({"head.bmp"}));
}
