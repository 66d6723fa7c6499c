// zqpack cab: each .inf read back from the cabinet's .000 file and its
// _setup.xml, bad input refused by line, the same bytes from the same inputs.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <utime.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "bytes.h"
#include "make_cab.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

// Each row adds to this; sections and keys given again override it.
const char* const kBaseInf =
    "[Version]\n"
    "Signature = \"$Windows NT$\"\n"
    "Provider = \"Acme\"\n"
    "CESignature = \"$Windows CE$\"\n"
    "[CEStrings]\n"
    "AppName = \"Notes\"\n"
    "InstallDir = %CE1%\\%AppName%\n"
    "[SourceDisksNames]\n"
    "1 = ,\"Files\",,Src\n"
    "[SourceDisksFiles]\n"
    "notes.exe = 1\n"
    "notes.txt = 1\n"
    "setup.dll = 1\n";

// The .inf and its source files (in src/, found as Src) in dir.
std::string WriteInf(const TestFolder& dir, const std::string& rows) {
  for (const char* name : {"notes.exe", "notes.txt", "setup.dll"}) dir.Write(std::string("src/") + name, {'x'});
  return dir.Write("notes.inf", zqfixture::Bytes(kBaseInf + rows));
}

std::string Shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02x", c);
    out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : hex;
  }
  return out;
}

std::string Hex(uint32_t n) {
  char text[16];
  snprintf(text, sizeof text, "0x%x", n);
  return text;
}

// One line per field of the .000 file.
std::vector<std::string> DescribeCeSetup(const CeSetup& s) {
  std::vector<std::string> lines = {
      Shown(s.appName) + " by " + Shown(s.provider) + ", cpu " + std::to_string(s.architecture) + ", CE " +
      std::to_string(s.leastVersion.major) + "." + std::to_string(s.leastVersion.minor) + "-" +
      std::to_string(s.greatestVersion.major) + "." + std::to_string(s.greatestVersion.minor) + ", builds " +
      std::to_string(s.leastBuild) + "-" + std::to_string(s.greatestBuild) + ", unsupported [" +
      zq::Joined(s.unsupported, " ") + "]"};
  for (const CeFile& f : s.files)
    lines.push_back("file " + std::to_string(f.number) + " " + f.folder + "\\" + f.name + " " + Hex(f.flags));
  for (const CeRegValue& v : s.registry)
    lines.push_back("reg " + std::to_string(v.root) + " " + v.key + " [" + v.name + "] " + Hex(v.type) +
                    (v.substitute ? " expanded " : " ") + Shown(std::string(v.data.begin(), v.data.end())));
  for (const CeLink& l : s.links)
    lines.push_back("link " + std::to_string(l.base) + " " + l.name + " -> " +
                    (l.toFile ? "file " + std::to_string(l.target) : "folder " + l.targetFolder));
  return lines;
}

// One line per field of the _setup.xml (U+F000 shown as '|').
std::vector<std::string> DescribeSetupXml(const SetupXml& x) {
  std::string install;
  for (const auto& [name, value] : x.install) install += (install.empty() ? "" : " ") + name + "=" + value;
  std::vector<std::string> lines = {install};
  for (const std::string& folder : x.folders) lines.push_back("folder " + folder);
  for (const SetupXmlFile& f : x.files)
    lines.push_back("file " + f.folder + "\\" + f.name + " <- " + f.source +
                    (f.flags.empty() ? "" : " " + zq::Joined(f.flags, " ")));
  for (const SetupXmlShortcut& s : x.shortcuts)
    lines.push_back("shortcut " + s.folder + "\\" + s.name + " -> " + s.target);
  for (const SetupXmlKey& k : x.keys)
    for (const SetupXmlValue& v : k.values) {
      std::string value = v.value;
      for (size_t at; (at = value.find("\xEF\x80\x80")) != std::string::npos;) value.replace(at, 3, "|");
      lines.push_back("key " + k.path + " [" + v.name + "] " + v.datatype + (v.translated ? " expanded " : " ") +
                      value);
    }
  return lines;
}

}  // namespace

TEST(Cab, EveryInfReadsBackTheSameFromTheDotZeroZeroZeroAndTheSetupXml) {
  const struct Row {
    const char* what;
    std::string inf;
    const char* cpu;
    std::vector<std::string> members, ceSetup, setupXml;
  } rows[] = {
      {"files, folders, copy flags, a Setup DLL; texts in Windows-1252, %% and quotes",
       "[Strings]\nCo = \"Caf\xC3\xA9, \"\"Ltd\"\"\"\nData = Data\n[Version]\nProvider = %Co%\n"
       "[CEStrings]\nAppName = \"100%% Notes\"\n"
       "[DefaultInstall]\nCopyFiles = Files.App,Files.Data\nCESetupDLL = setup.dll\nCESelfRegister = notes.exe\n"
       "[DestinationDirs]\nFiles.Data = 0,\"%CE2%\\%Data%\\\"\n"
       "[Files.App]\nnotes.exe,,,0x40000001\n[Files.Data]\nread me.txt,NOTES.TXT,,0x80000412 ; a comment\n",
       "",
       {"NOTES.000", "_setup.xml", "NOTES.001", "README.002", "SETUP.999"},
       {"100% Notes by Caf\\xe9, \"Ltd\", cpu 0, CE 0.0-0.0, builds 0-0, unsupported []",
        "file 1 %CE1%\\100% Notes\\notes.exe 0x50000001", "file 2 %CE2%\\Data\\read me.txt 0x80000412"},
       {"InstallPhase=install SetupDLL=1 OSVersionMin=0.0 OSVersionMax=0.0 BuildNumberMin=0 BuildNumberMax=0 "
        "AppName=Caf\xC3\xA9, \"Ltd\" 100% Notes InstallDir=%CE1%\\100% Notes NumDirs=2 NumFiles=2 NumRegKeys=0 "
        "NumRegVals=0 NumShortcuts=0",
        "folder %InstallDir%", "folder %CE2%\\Data", "file %InstallDir%\\notes.exe <- NOTES.001 WarnIfSkip NoDateCheck",
        "file %CE2%\\Data\\read me.txt <- README.002 NoSkip NoOverwrite ReplaceOnly Shared"}},
      {"every registry type, no-clobber, values the device expands",
       "[DefaultInstall]\nAddReg = Reg.App\n"
       "[Reg.App]\nHKLM,\\Software\\Acme,Path,0,\"%InstallDir%\\notes.exe\"\nhklm,Software\\Acme,Count,0x00010001,42\n"
       "HKCU,Software\\Acme,Lines,0x00010000,one,\"t,wo\"\nHKCR,.note,,0x00000003,0a,FF\nHKU,Acme,Keep,2,\"a;b\"\n",
       "",
       {"NOTES.000", "_setup.xml"},
       {"Notes by Acme, cpu 0, CE 0.0-0.0, builds 0-0, unsupported []",
        "reg 3 Software\\Acme [Path] 0x0 expanded %InstallDir%\\notes.exe\\x00",
        "reg 3 Software\\Acme [Count] 0x10001 *\\x00\\x00\\x00",
        "reg 2 Software\\Acme [Lines] 0x10000 one\\x00t,wo\\x00\\x00", "reg 1 .note [] 0x3 \\x0a\\xff",
        "reg 4 Acme [Keep] 0x2 a;b\\x00"},
       {"InstallPhase=install OSVersionMin=0.0 OSVersionMax=0.0 BuildNumberMin=0 BuildNumberMax=0 AppName=Acme Notes "
        "InstallDir=%CE1%\\Notes NumDirs=0 NumFiles=0 NumRegKeys=4 NumRegVals=5 NumShortcuts=0",
        "key HKLM\\Software\\Acme [Path] string expanded %InstallDir%\\notes.exe",
        "key HKLM\\Software\\Acme [Count] integer 42", "key HKCU\\Software\\Acme [Lines] multiplestring one|t,wo||",
        "key HKCR\\.note [] binary Cv8=", "key HKU\\Acme [Keep] string a;b"}},
      {"shortcuts to a file and to folders",
       "[DefaultInstall]\nCopyFiles = Files.App\nCEShortcuts = Links.App\n"
       "[DestinationDirs]\nLinks.App = 0,%CE11%\n[Files.App]\nnotes.exe\n"
       "[Links.App]\nNotes,0,notes.exe\nNotes folder,1,%InstallDir%\nDocs,1,\"%CE5%\\Notes\",%CE17%\\Tools\n"
       "Here,1,Files.App,%InstallDir%\\Sub\n",
       "",
       {"NOTES.000", "_setup.xml", "NOTES.001"},
       {"Notes by Acme, cpu 0, CE 0.0-0.0, builds 0-0, unsupported []", "file 1 %CE1%\\Notes\\notes.exe 0x0",
        "link 11 Notes -> file 1", "link 11 Notes folder -> folder ", "link 17 Tools\\Docs -> folder %CE5%\\Notes",
        "link 0 Sub\\Here -> folder "},
       {"InstallPhase=install OSVersionMin=0.0 OSVersionMax=0.0 BuildNumberMin=0 BuildNumberMax=0 AppName=Acme Notes "
        "InstallDir=%CE1%\\Notes NumDirs=2 NumFiles=1 NumRegKeys=0 NumRegVals=0 NumShortcuts=4",
        "folder %InstallDir%", "folder %CE11%", "folder %CE17%\\Tools", "folder %InstallDir%\\Sub",
        "file %InstallDir%\\notes.exe <- NOTES.001", "shortcut %CE11%\\Notes.lnk -> %InstallDir%\\notes.exe",
        "shortcut %CE11%\\Notes folder.lnk -> %InstallDir%", "shortcut %CE17%\\Tools\\Docs.lnk -> %CE5%\\Notes",
        "shortcut %InstallDir%\\Sub\\Here.lnk -> %InstallDir%"}},
      {"a CPU tag over the untagged sections; platforms, versions and builds",
       "[CEDevice]\nProcessorType = 2577\nUnsupportedPlatforms = \"HPC\",Jupiter\nVersionMin = 4.20\n"
       "VersionMax = 5.0\nBuildMin = 100\nBuildMax = 0xE0000000\n"
       "[CEDevice.arm]\nProcessorType = 2336\nUnsupportedPlatforms = POCKETPC\n"
       "[DefaultInstall]\nCopyFiles = Files.App\n[DefaultInstall.ARM]\nCopyFiles = Files.Arm\n"
       "[SourceDisksNames.ARM]\n2 = ,\"ARM\",,\"C:\\build\\arm\"\n[SourceDisksFiles.Arm]\nnotes.exe = 2\n"
       "[Files.App]\nnotes.txt\n[Files.Arm]\nnotes.exe\n",
       "Arm",
       {"NOTES.000", "_setup.xml", "NOTES.001"},
       {"Notes by Acme, cpu 2336, CE 4.20-5.0, builds 100-3758096384, unsupported [HPC Jupiter POCKETPC]",
        "file 1 %CE1%\\Notes\\notes.exe 0x0"},
       {"InstallPhase=install OSVersionMin=4.20 OSVersionMax=5.0 BuildNumberMin=100 BuildNumberMax=-536870912 "
        "AppName=Acme Notes InstallDir=%CE1%\\Notes NumDirs=1 NumFiles=1 NumRegKeys=0 NumRegVals=0 NumShortcuts=0",
        "folder %InstallDir%", "file %InstallDir%\\notes.exe <- NOTES.001"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TestFolder dir;
    CabOptions options;
    options.inf = WriteInf(dir, row.inf);
    options.cpu = row.cpu;
    options.fileDirs = {dir.Path("arm")};
    dir.Write("arm/NOTES.EXE", {'a'});  // only where the tagged disk's drive path falls back to
    const CabResult made = MakeCab(options);
    EXPECT_EQ(made.report.name, std::string("notes") + (row.cpu[0] ? ".Arm" : "") + ".CAB");
    const CabinetInfo& info = made.report.info;
    ASSERT_EQ(info.error + zq::Joined(info.warnings), "");
    EXPECT_EQ(info.fileNames, row.members);
    EXPECT_EQ(DescribeCeSetup(info.ceSetup), row.ceSetup);
    EXPECT_EQ(DescribeSetupXml(info.setupXml), row.setupXml);
  }
}

// Each row: what is changed, and the one line cab prints (file:line where
// there is one); the earlier output stays, no temporary file is left.
TEST(Cab, BadInputIsRefusedWithItsLineAndLosesNothing) {
  std::string many = "[DefaultInstall]\nCopyFiles = Many\n[Many]\n", large = "[DefaultInstall]\nAddReg = Big\n[Big]\n";
  for (int i = 0; i < 999; ++i) many += "f" + std::to_string(i) + ",notes.txt\n";
  for (int i = 0; i < 70; ++i) large += "HKLM,A,v" + std::to_string(i) + ",0," + std::string(1000, 'x') + "\n";
  const struct {
    const char* from;  // replaced in the base .inf by to, or "" to add to
    std::string to, said;
  } rows[] = {
      {"Signature = \"$Windows NT$\"", "", "notes.inf: [Version] has no Signature (a required key)"},
      {"CESignature = \"$Windows CE$\"", "CESignature = \"$Windows NT$\"",
       "notes.inf:4: CESignature is \"$Windows NT$\", not \"$Windows CE$\""},
      {"InstallDir = %CE1%\\%AppName%", "", "notes.inf: [CEStrings] has no InstallDir"},
      {"", "[DefaultInstall]\nCopyFiles = Files.App\n",
       "notes.inf:15: CopyFiles names [Files.App], which does not exist"},
      {"", "[DefaultInstall]\nCopyFiles = F\n[F]\nnotes.exe\nother.exe\n",
       "notes.inf:18: other.exe is not listed in [SourceDisksFiles]"},
      {"setup.dll = 1", "gone.exe = 1\n[DefaultInstall]\nCopyFiles = F\n[F]\ngone.exe\n",
       "notes.inf:17: gone.exe not found (looked in DIR/Src, DIR/more)"},
      {"", "[DefaultInstall]\nCopyFiles = F\n[F]\n%Nothing%.exe\n",
       "notes.inf:17: unknown %Nothing% (no such key in [Strings] or [CEStrings])"},
      {"", "[DefaultInstall]\nAddReg = R\n[R]\nHKEY_LOCAL_MACHINE,Software,A,0,b\n",
       "notes.inf:17: the registry root \"HKEY_LOCAL_MACHINE\" is not HKCR, HKCU, HKLM or HKU"},
      {"", "[DefaultInstall]\nCopyFiles = F\n[F]\nnotes.exe,,,fast\n",
       "notes.inf:17: not a number: the flags \"fast\" (decimal, or hexadecimal after 0x)"},
      {"", "[DefaultInstall]\nAddReg = R\n[R]\nHKLM,Software,A,0x00010001,12a\n",
       "notes.inf:17: not a number: the DWORD value \"12a\""},
      {"", "[DefaultInstall]\nCopyFiles = F\n[F]\nnotes.exe\nNOTES.EXE,notes.txt\n",
       "notes.inf:18: a second file named NOTES.EXE in %CE1%\\Notes"},
      {"", many, "notes.inf:1015: more than 998 files (a cabinet numbers them .001 to .998)"},
      {"", large, "notes.inf: its .000 file would have "},
      {"AppName = \"Notes\"", "AppName = \"Notes \xE2\x9C\x93\"",
       "notes.inf:6: \"Notes \xE2\x9C\x93\" holds a character that Windows-1252 lacks"},
      {"AppName = \"Notes\"", std::string("AppName = \"No\0tes\"", 19),
       "notes.inf:6: a zero byte (a UTF-16 .inf? save it as UTF-8)"},
      {"[SourceDisksNames]", "[SourceDisksNames.ARM]\n2 = ,,,arm\n[SourceDisksNames.MIPS]",
       "notes.inf: [SourceDisksNames] exists only for the CPU tags ARM, MIPS: choose one with --cpu"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.said);
    TestFolder dir;
    std::string inf = kBaseInf;
    if (*row.from != 0) inf.replace(inf.find(row.from), strlen(row.from), row.to);
    WriteInf(dir, "");
    dir.Write("notes.inf", zqfixture::Bytes(inf + (*row.from != 0 ? "" : row.to)));
    const std::string out = dir.Write("NOTES.CAB", zqfixture::Bytes("earlier"));
    const std::vector<std::string> before = FilesBelow(dir.work());
    const RunResult run = dir.Run({"cab", dir.Path("notes.inf"), "--files", dir.Path("more")});
    std::string said = row.said;
    for (size_t at; (at = said.find("DIR/")) != std::string::npos;) said.replace(at, 3, dir.work());
    EXPECT_TRUE(FailedWithOneLine(run, 1, {"zqpack cab: " + dir.Path(said)})) << Describe(run);
    EXPECT_EQ(ReadFile(out), "earlier");
    EXPECT_EQ(FilesBelow(dir.work()), before);
  }
}

// Warnings leave the cabinet made; the same inputs give the same bytes
// whatever the files' dates after SOURCE_DATE_EPOCH; --compress is MSZIP
// that libmspack decodes; --json describes the cabinet as check --json does.
TEST(Cab, SameInputsSameBytesCompressedReadBackAndWarnings) {
  TestFolder dir;
  const std::string inf =
      WriteInf(dir, "[Version]\nProvider = \"" + std::string(31, 'p') + "\"\n[CEStrings]\nAppName = \"" +
                        std::string(41, 'a') + "\"\n[DefaultInstall]\nno equals sign\nCopyFiles = F\n[F]\nnotes.exe\n");
  setenv("SOURCE_DATE_EPOCH", "1033473600", 1);
  CabOptions options;
  options.inf = inf;
  const std::vector<std::string> warnings = MakeCab(options).warnings;
  const std::vector<uint8_t> first = zqfixture::ReadFileBytes(dir.Path("notes.CAB"));
  for (const char* file : {"notes.inf", "src/notes.exe"}) {
    const struct utimbuf later = {2000000000, 2000000000};
    utime(dir.Path(file).c_str(), &later);
  }
  MakeCab(options);
  EXPECT_TRUE(zqfixture::ReadFileBytes(dir.Path("notes.CAB")) == first) << "the bytes changed with the dates";
  options.compress = true;
  options.output = dir.Path("small.cab");
  const CabResult compressed = MakeCab(options);
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(warnings, (std::vector<std::string>{inf + ":19: warning: a line without '=' in [DefaultInstall], skipped",
                                                inf + ":17: warning: AppName has more than 40 characters",
                                                inf + ":15: warning: Provider has more than 30 characters"}));
  const std::vector<uint8_t> small = zqfixture::ReadFileBytes(options.output);
  EXPECT_EQ(GetLe16(&small[36 + 6]), 1) << "the folder's compression: MSZIP";
  EXPECT_EQ(compressed.report.info.error, "") << "libmspack decodes it";
  const RunResult json = dir.Run({"cab", inf, "-o", dir.Path("j.cab"), "--json"});
  EXPECT_EQ(nlohmann::json::parse(json.out, nullptr, false).value("cabinetFiles", nlohmann::json()),
            nlohmann::json({"NOTES.000", "_setup.xml", "NOTES.001"}))
      << Describe(json);
}

// A .000 file worked out by hand from the layout in ce_setup.h: the reader
// reads it as these fields, the writer writes them as these bytes.
TEST(Cab, HandWorkedDotZeroZeroZero) {
  const std::vector<uint8_t> bytes = {
      'M', 'S', 'C', 'E', 0, 0, 0, 0, 205, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,                // 205 bytes
      0x11, 0x0A, 0, 0,                                                                    // 2577: StrongARM
      3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,              // 3.0 and later, any build
      3, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0,                                                  // counts
      109, 0, 0, 0, 131, 0, 0, 0, 141, 0, 0, 0, 159, 0, 0, 0, 171, 0, 0, 0, 189, 0, 0, 0,  // offsets
      100, 0, 2, 0, 102, 0, 2, 0, 104, 0, 5, 0, 0, 0, 0, 0,                            // APPNAME, PROVIDER, UNSUPPORTED
      'A', 0, 'P', 0, 'H', 'P', 'C', 0, 0,                                             // 100: the texts
      1, 0, 6, 0, '%', 'C', 'E', '1', '%', 0, 2, 0, 2, 0, 'A', 0, 3, 0, 2, 0, 'S', 0,  // 109: STRINGS
      1, 0, 6, 0, 1, 0, 2, 0, 0, 0,                                                    // 131: DIRS: %CE1%\A
      1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 6, 0, 'a', '.', 'e', 'x', 'e', 0,                  // 141: FILES: a.exe,
                                                                                       // WarnIfSkip
      1, 0, 3, 0, 0, 0, 4, 0, 3, 0, 0, 0,                                              // 159: REGHIVES: HKLM\S
      1, 0, 1, 0, 0, 0, 1, 0, 1, 0, 6, 0, 'N', 0, 42, 0, 0, 0,                         // 171: REGKEYS: N = DWORD 42
      1, 0, 0, 0, 11, 0, 1, 0, 1, 0, 4, 0, 2, 0, 0, 0,                                 // 189: LINKS: %CE11%\A to file 1
  };
  CeSetup s;
  s.appName = "A", s.provider = "P", s.architecture = 2577, s.leastVersion = {3, 0}, s.unsupported = {"HPC"};
  s.files = {{1, "%CE1%\\A", "a.exe", kCeWarnIfSkip}};
  s.registry = {{3, "S", "N", kCeRegDword, false, {42, 0, 0, 0}}};
  CeLink link;
  link.name = "A", link.base = 11, link.target = 1;
  s.links = {link};
  EXPECT_TRUE(WriteCeSetup(s) == bytes);
  CeSetup read;
  std::string reason;
  ASSERT_TRUE(ReadCeSetup(bytes, &read, &reason)) << reason;
  EXPECT_EQ(DescribeCeSetup(read), DescribeCeSetup(s));
}
