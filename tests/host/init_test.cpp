// zqpack init: the example product is complete and valid (check accepts it
// once its CAB file is there, build packs it), it never replaces a file, and
// a product name that Setup.ini cannot carry is refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "filecheck.h"
#include "ini.h"
#include "support.h"

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

TEST(Init, ExampleIsCheckedCleanOnceItsCabIsThereAndBuilds) {
  const struct {
    Args product;
    std::string cab, installDirectory;
  } rows[] = {
      {{}, "MYPRODUC.CAB", "MyProduct"},
      {{"--product", "Lpt1"}, "ZQLPT1.CAB", "ZQLpt1"},  // a device name gets a prefix
      {{"--product", "R&D {Tools} 2.0; \\beta @CAB@"}, "RDTOOLS2.CAB", "RDTools20betaCAB"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cab);
    TestFolder dir;
    Args init = {"init", dir.Path("product")};
    init.insert(init.end(), row.product.begin(), row.product.end());
    const RunResult made = dir.Run(init);
    ASSERT_EQ(made.exitCode, 0) << Describe(made);
    const std::string ini = dir.Path("product/Setup.ini");

    const IniFile settings = IniFile::Load(ini);
    const std::string product = row.product.empty() ? "My Product" : row.product[1];
    EXPECT_EQ(settings.Find("ZQINSTALLER", "ProductName"), product);
    EXPECT_EQ(settings.Find(product, "CabFiles"), row.cab);
    EXPECT_EQ(settings.Find("ZQINSTALLER", "InstallDirectory"), row.installDirectory);
    for (const auto& [name, width, height] : {std::tuple{"body.bmp", 164, 314}, {"head.bmp", 55, 55}}) {
      BitmapSize size;
      std::string reason;
      EXPECT_TRUE(CheckBitmapFile(zqfixture::ReadFileBytes(dir.Path("product/") + name), &size, &reason)) << reason;
      EXPECT_EQ(size.widthPx, width);
      EXPECT_EQ(size.heightPx, height);
    }

    const RunResult withoutCab = dir.Run({"check", ini});
    EXPECT_EQ(withoutCab.exitCode, 1);
    EXPECT_EQ(Lines(withoutCab.out).size(), 2u) << "only the CAB file is missing: " << Describe(withoutCab);
    EXPECT_NE(withoutCab.out.find("\"" + row.cab + "\": no such file"), std::string::npos) << Describe(withoutCab);

    dir.Write("product/" + row.cab, zqfixture::MakeCabinet("app.exe", zqfixture::Bytes("app")));
    const RunResult checked = dir.Run({"check", ini});
    EXPECT_EQ(checked.out, ini + ": 0 errors, 0 warnings\n") << Describe(checked);
    const std::string stub = dir.Write("stub.exe", zqfixture::FillerStub());
    const RunResult built = dir.Run({"-q", "build", ini, "--stub", stub, "-o", dir.Path("setup.exe")});
    ASSERT_EQ(built.exitCode, 0) << Describe(built);
    EXPECT_EQ(built.err, "");
    const RunResult listed = dir.Run({"list", dir.Path("setup.exe")});
    EXPECT_EQ(listed.exitCode, 0) << Describe(listed);
    for (const std::string packed : {"license.rtf", "body.bmp", "head.bmp", "Setup.ini", row.cab.c_str()})
      EXPECT_NE(listed.out.find("  " + packed + " "), std::string::npos) << packed << "\n" << listed.out;
    EXPECT_EQ(listed.out.find("PUT-CAB"), std::string::npos) << "the note is not packed";
  }
}

TEST(Init, NeverReplacesAFile) {
  TestFolder dir;
  ASSERT_EQ(dir.Run({"-q", "init", dir.work()}).exitCode, 0);
  const Args made = FilesBelow(dir.work());
  EXPECT_EQ(made, Args({"PUT-CAB-FILES-HERE.txt", "Setup.ini", "body.bmp", "head.bmp", "license.rtf"}));
  WriteText(dir.Path("Setup.ini"), "mine");
  EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.work(), "--product", "Other"}), 1, {"Setup.ini", "exists"}));
  EXPECT_EQ(ReadText(dir.Path("Setup.ini")), "mine");
  // One file of the example in an otherwise empty folder: nothing is written.
  fs::create_directory(dir.Path("other"));
  WriteText(dir.Path("other/head.bmp"), "mine");
  EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.Path("other")}), 1, {"head.bmp"}));
  EXPECT_EQ(FilesBelow(dir.Path("other")), Args({"head.bmp"}));
}

TEST(Init, RefusesANameThatSetupIniCannotCarry) {
  TestFolder dir;
  for (const std::string& name :
       {std::string(""), std::string(" Lead"), std::string("[Section]"), std::string("\"Quoted\""),
        std::string("Caf\xC3\xA9"), std::string("Line\nbreak"), std::string(225, 'n')}) {
    EXPECT_TRUE(FailedWithOneLine(dir.Run({"init", dir.Path("p"), "--product", name}), 2)) << name;
  }
  EXPECT_EQ(dir.Run({"-q", "init", dir.Path("p"), "--product", std::string(224, 'n')}).exitCode, 0);
  EXPECT_EQ(Lines(dir.Run({"check", dir.Path("p/Setup.ini")}).out).size(), 2u) << "only the CAB is missing";
}
