// CAB files as zqpack check reads them: decoded in full, their Windows CE
// setup information (a .000 file or a _setup.xml) read back or refused.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "bytes.h"
#include "setup_xml.h"
#include "support.h"

using nlohmann::json;
using zqfixture::Bytes;

namespace {

using Files = zqfixture::CabFiles;

// The _setup.xml of CeCab's cabinet, as CAB Wizard writes it (fewer counts).
const std::string kNotesXml =
    "<wap-provisioningdoc>\n<characteristic type=\"Install\">\n"
    "<parm name=\"InstallPhase\" value=\"install\" />\n<parm name=\"OSVersionMin\" value=\"3.0\" />\n"
    "<parm name=\"OSVersionMax\" value=\"4.21\" />\n<parm name=\"BuildNumberMax\" value=\"-536870912\" />\n"
    "<parm name=\"AppName\" value=\"Acme Notes\" />\n"
    "<parm name=\"InstallDir\" value=\"%CE1%\\Acme Notes\" translation=\"install\" />\n</characteristic>\n"
    "<characteristic type=\"FileOperation\">\n<characteristic type=\"%InstallDir%\" translation=\"install\">\n"
    "<characteristic type=\"MakeDir\" />\n"
    "<characteristic type=\"notes.exe\" translation=\"install\"><characteristic type=\"Extract\">"
    "<parm name=\"Source\" value=\"NOTES.001\" /></characteristic></characteristic>\n"
    "<characteristic type=\"notes.txt\" translation=\"install\"><characteristic type=\"Extract\">"
    "<parm name=\"Source\" value=\"NOTES.002\" /><parm name=\"NoOverwrite\" /></characteristic></characteristic>\n"
    "</characteristic>\n</characteristic>\n<characteristic type=\"Registry\" />\n</wap-provisioningdoc>\n";

// A cabinet with both forms of setup information, the .000 file's fields
// edited and its bytes damaged; xml "" leaves _setup.xml out.
Files CeCab(std::function<void(CeSetup&)> edit = nullptr, std::function<void(std::vector<uint8_t>&)> damage = nullptr,
            const std::string& xml = kNotesXml) {
  CeSetup s = zqfixture::NotesSetup();
  if (edit) edit(s);
  std::vector<uint8_t> setup = WriteCeSetup(s);
  if (damage) damage(setup);
  Files files = {
      {"NOTES.000", setup}, {"NOTES.001", zqfixture::RandomBytes(70000, 3)}, {"NOTES.002", Bytes("read me")}};
  if (!xml.empty()) files.insert(files.begin() + 1, {"_setup.xml", Bytes(xml)});
  return files;
}

// The sample product with DEMO.CAB made from files, damaged; returns Setup.ini.
std::string WriteProduct(const TestFolder& dir, const Files& files, bool mszip,
                         const std::function<void(std::vector<uint8_t>&)>& damage = nullptr) {
  dir.WriteSample();
  std::vector<uint8_t> cab = zqfixture::MakeCabinet(files, mszip);
  if (damage) damage(cab);
  dir.Write("DEMO.CAB", cab);
  return dir.Path("Setup.ini");
}

}  // namespace

// Each row: the cabinet and what check says of it (one finding or none).
TEST(Cabinets, CheckDecodesEveryFileAndReadsTheSetupInformation) {
  struct Row {
    const char* what;
    Files files;
    bool mszip;
    std::function<void(std::vector<uint8_t>&)> damageCab;
    const char* severity;  // of the one finding, or nullptr for none
    const char* mention;
  };
  using Raw = std::vector<uint8_t>;
  const Files readme = {{"readme.txt", Bytes("hello")}},
              xmlOnly = {{"_setup.xml",
                          Bytes("<wap-provisioningdoc><characteristic type=\"Install\"/></wap-provisioningdoc>")}},
              badXml = {{"_setup.xml", Bytes("<wap-provisioningdoc><characteristic>")}};
  const Row rows[] = {
      {"valid, stored", CeCab(), false, nullptr, nullptr, ""},
      {"valid, MSZIP", CeCab(), true, nullptr, nullptr, ""},
      {"no setup information", readme, true, nullptr, "warning", "holds no Windows CE setup information"},
      {"_setup.xml only", xmlOnly, false, nullptr, nullptr, ""},
      {"_setup.xml, not well-formed", badXml, false, nullptr, "error",
       "its _setup.xml is damaged: not well-formed XML"},
      {"damaged data block", CeCab(), true, [](Raw& c) { c[c.size() - 300] ^= 0x55; }, "error", "(in NOTES.001)"},
      {"cabinet cut short", CeCab(), false, [](Raw& c) { c.resize(c.size() - 100); }, "error", "cut short"},
      {".000 cut short", CeCab(nullptr, [](Raw& s) { s.resize(s.size() - 4); }), false, nullptr, "error",
       "the .000 file) is damaged: cut short or padded"},
      {".000 offset past its end", CeCab(nullptr, [](Raw& s) { PutLe32(&s[64], 5000); }), false, nullptr, "error",
       "DIRS at offset 5000, past the end"},
      {".000 length past its end", CeCab(nullptr, [](Raw& s) { PutLe16(&s[90], 900); }), false, nullptr, "error",
       "PROVIDER runs past the end"},
      {".000 counts that overrun", CeCab(nullptr, [](Raw& s) { PutLe16(&s[52], 3); }), false, nullptr, "error",
       "FILES runs past the end"},
      {"Smartphone unsupported", CeCab([](CeSetup& s) {
         s.unsupported = {"HPC", "SmartPhone"};
       }),
       false, nullptr, "warning", "lists Smartphone among the unsupported platforms"},
      {"FILES names a file the cabinet lacks", CeCab([](CeSetup& s) {
         s.files.push_back({3, "%CE1%\\Acme Notes", "gone.dll", 0});
       }),
       false, nullptr, "warning", "installs file number 3 (gone.dll), which the cabinet does not hold"},
      {"a numbered file FILES never names", CeCab([](CeSetup& s) { s.files.pop_back(); }), false, nullptr, "warning",
       "holds NOTES.002, which its setup information never names"},
      {".000 without _setup.xml", CeCab(nullptr, nullptr, ""), false, nullptr, "warning",
       "has a .000 file but no _setup.xml: Smartphone 2002 and 2003 read only _setup.xml"},
      {"_setup.xml extracts a file the cabinet lacks",
       CeCab(nullptr, nullptr, std::string(kNotesXml).replace(kNotesXml.find("NOTES.002"), 9, "NOTES.003")), false,
       nullptr, "warning",
       "its _setup.xml extracts NOTES.003 (as %InstallDir%\\notes.txt), which the cabinet does not hold"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TestFolder dir;
    const std::string ini = WriteProduct(dir, row.files, row.mszip, row.damageCab);
    const RunResult run = dir.Run({"check", "--json", ini});
    const json j = json::parse(run.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << Describe(run);
    const json& findings = j["findings"];
    ASSERT_EQ(findings.size(), row.severity ? 1u : 0u) << Describe(run);
    if (row.severity == nullptr) continue;
    EXPECT_EQ(findings[0]["severity"], row.severity) << Describe(run);
    const std::string text = findings[0]["text"];
    EXPECT_TRUE(zq::StartsWith(text, dir.Path("DEMO.CAB") + ": ") && text.find(row.mention) != std::string::npos)
        << text;
  }
}

// Every field of a valid .000 and every Install parm of its _setup.xml come
// back exactly, in the text of check -v, in check --json, and in list --json
// of a setup built from it.
TEST(Cabinets, SetupInformationReadBackInCheckAndList) {
  TestFolder dir;
  const std::string ini = WriteProduct(dir, CeCab(), true);
  const RunResult text = dir.Run({"-q", "check", "-v", ini});
  EXPECT_EQ(text.out,
            "CAB DEMO.CAB\n"
            "  setup info    .000 file and _setup.xml\n"
            "  application   Notes\n"
            "  provider      Acme\n"
            "  architecture  StrongARM (2577)\n"
            "  Windows CE    3.0 to 4.21\n"
            "  unsupported   HPC, POCKETPC\n"
            "  installs      %CE1%\\Acme Notes\\notes.exe (file 1)\n"
            "                %CE1%\\Acme Notes\\notes.txt (file 2)\n"
            "  _setup.xml    InstallPhase = install\n"
            "                OSVersionMin = 3.0\n"
            "                OSVersionMax = 4.21\n"
            "                BuildNumberMax = -536870912\n"
            "                AppName = Acme Notes\n"
            "                InstallDir = %CE1%\\Acme Notes\n"
            "  extracts      %InstallDir%\\notes.exe (from NOTES.001)\n"
            "                %InstallDir%\\notes.txt (from NOTES.002)\n")
      << Describe(text);
  const json checked = json::parse(dir.Run({"check", "--json", ini}).out)["cabinets"];
  EXPECT_EQ(checked, json::parse(R"([{"name": "DEMO.CAB", "error": null, "warnings": [],
      "cabinetFiles": ["NOTES.000", "_setup.xml", "NOTES.001", "NOTES.002"], "setupXml": true,
      "ceSetup": {"application": "Notes", "provider": "Acme", "architecture": {"id": 2577, "name": "StrongARM"},
                  "ceVersion": {"least": "3.0", "greatest": "4.21", "range": "3.0 to 4.21"},
                  "unsupported": ["HPC", "POCKETPC"],
                  "installs": [{"number": 1, "folder": "%CE1%\\Acme Notes", "name": "notes.exe"},
                               {"number": 2, "folder": "%CE1%\\Acme Notes", "name": "notes.txt"}]},
      "setupXmlContents": {"install": {"InstallPhase": "install", "OSVersionMin": "3.0", "OSVersionMax": "4.21",
                                       "BuildNumberMax": "-536870912", "AppName": "Acme Notes",
                                       "InstallDir": "%CE1%\\Acme Notes"},
                           "extracts": [{"source": "NOTES.001", "folder": "%InstallDir%", "name": "notes.exe"},
                                        {"source": "NOTES.002", "folder": "%InstallDir%", "name": "notes.txt"}]}}])"));
  const std::string setup = dir.Path("setup.exe");
  ASSERT_EQ(dir.Run({"-q", "build", ini, "-o", setup, "--stub", dir.Stub()}).exitCode, 0);
  const RunResult listed = dir.Run({"list", "--json", setup});
  EXPECT_EQ(json::parse(listed.out, nullptr, false)["cabinets"], checked) << Describe(listed);
}

// What the _setup.xml reader says of documents it cannot use.  (Every field
// of one it can: Cab.EveryInfReadsBackTheSameFromTheDotZeroZeroZeroAndTheSetupXml
// reads the writer's documents back, the Cabinets table CAB Wizard's layout.)
TEST(Cabinets, SetupXmlRefusals) {
  SetupXml xml;
  std::string reason;
  const std::pair<const char*, const char*> bad[] = {
      {"<provisioning/>", "its root element is <provisioning>, not <wap-provisioningdoc>"},
      {"<wap-provisioningdoc>\n<characteristic/></wap-provisioningdoc>",
       "<characteristic> without its type attribute on line 2"},
      {"<wap-provisioningdoc><characteristic type=\"FileOperation\"><characteristic type=\"%CE2%\">\n"
       "<characteristic type=\"a.dll\"><characteristic type=\"Extract\"><parm name=\"WarnIfSkip\"/>"
       "</characteristic></characteristic></characteristic></characteristic></wap-provisioningdoc>",
       "<characteristic type=\"Extract\"> of a.dll without a Source on line 2"},
  };
  for (const auto& [document, want] : bad) {
    EXPECT_FALSE(ReadSetupXml(document, &xml, &reason)) << document;
    EXPECT_EQ(reason, want);
  }
}
