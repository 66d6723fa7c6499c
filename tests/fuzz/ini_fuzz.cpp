// Setup.ini as zqpack reads it, over arbitrary text: every value the program
// reads comes back within its buffer, "NO" stands for what is missing,
// names match without regard to case; and zqpack check, run on the text
// beside a set of real files, only ever packs plain names from that folder.
#include <filesystem>
#include <string>
#include <vector>

#include "errors.h"
#include "fixture.h"
#include "ini.h"
#include "payload/filename.h"
#include "settings_check.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

struct Read {
  const char* section;  // null: the value of Component
  const char* key;
  size_t capacity;
};

const Read kReads[] = {
    {"ZQINSTALLER", "ProductName", 256}, {"ZQINSTALLER", "ProductVersion", 256},   {"ZQINSTALLER", "LicenseFile", 256},
    {"ZQINSTALLER", "BodyBitmap", 512},  {"ZQINSTALLER", "HeadBitmap", 256},       {"CEAppManager", "Component", 256},
    {nullptr, "CabFiles", 512},          {"ZQINSTALLER", "InstallDirectory", 256},
};

std::string FlipCase(std::string s) {
  for (char& c : s)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
  return s;
}

// The folder of Setup.ini, beside it small files of the names the sample
// settings use.  Setup.ini itself links to an in-memory file that takes each
// input.
struct SettingsFolder {
  std::string dir = FreshFolder("ini", "setup");
  std::string iniPath = dir + "/Setup.ini";
  MemoryFile ini;

  SettingsFolder() {
    zqfixture::WriteFileBytes(dir + "/license.rtf", zqfixture::Bytes("{\\rtf1 License.\\par}"));
    zqfixture::WriteFileBytes(dir + "/body.bmp", zqfixture::MakeBitmap(4, 6));
    zqfixture::WriteFileBytes(dir + "/head.bmp", zqfixture::MakeBitmap(8, 55, 4));
    zqfixture::WriteFileBytes(dir + "/DEMO.CAB", zqfixture::MakeCabinet("a.exe", zqfixture::Bytes("tiny")));
    fs::create_symlink(ini.path(), iniPath);
  }
};

void CheckReads(const IniFile& ini) {
  std::string component;
  for (const Read& read : kReads) {
    const std::string section = read.section != nullptr ? read.section : component;
    const Setting s = ReadSetting(ini, section, read.key, read.capacity);
    const auto what = [&] { return "[" + Printable(section) + "] " + read.key + " = \"" + Printable(s.value) + "\""; };
    FUZZ_EXPECT(s.value.size() < read.capacity, what());
    FUZZ_EXPECT(s.present || s.value == "NO", what());
    FUZZ_EXPECT(s.value.find('\n') == std::string::npos, what());
    FUZZ_EXPECT(s.cut() == (s.present && s.storedLength >= read.capacity), what());
    FUZZ_EXPECT(ini.Find(FlipCase(section), FlipCase(read.key)) == ini.Find(section, read.key), what());
    if (read.section != nullptr && std::string(read.key) == "Component") component = s.value;
  }
}

void CheckPacking(const std::string& text) {
  static SettingsFolder folder;
  folder.ini.Replace(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  SettingsCheck check;
  try {
    check = CheckSettings(folder.iniPath);
  } catch (const ZqError& e) {
    FUZZ_EXPECT(false, std::string("CheckSettings threw: ") + e.what());
  }
  for (const Finding& f : check.findings) FUZZ_EXPECT(!f.text.empty(), "a finding without text for " + f.key);
  for (const PackItem& item : check.files) {
    const std::string seen = "packs \"" + Printable(item.name) + "\" from " + Printable(item.path);
    FUZZ_EXPECT(item.name.find('\0') == std::string::npos, seen);  // the program's values end at a zero byte
    FUZZ_EXPECT(IsPlainFileName(item.name.c_str()) && fs::path(item.path).parent_path() == fs::path(folder.dir) &&
                    fs::is_regular_file(item.path),
                seen);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckReads(IniFile::Parse(text));
  CheckPacking(text);
  return 0;
}
