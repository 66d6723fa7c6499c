#include "settings_check.h"

#include <string.h>

#include <filesystem>

#include "app/messages.h"
#include "errors.h"
#include "filecheck.h"
#include "fileio.h"
#include "handoff/cablist.h"
#include "ini.h"
#include "payload/filename.h"

namespace fs = std::filesystem;

// Capacities of the program's buffers for each value, terminator included.
static constexpr size_t kNameCapacity = 256;
static constexpr size_t kBodyBitmapCapacity = 512;
static constexpr size_t kCabFilesCapacity = 512;

size_t SettingsCheck::Count(Severity severity) const {
  size_t n = 0;
  for (const Finding& f : findings) n += f.severity == severity;
  return n;
}

std::string SettingReference(const std::string& key) {
  std::string anchor = key;
  for (char& c : anchor)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return "setup-ini.md#" + anchor;
}

std::string FormatFinding(const std::string& iniPath, const Finding& f) {
  return iniPath + ": [" + f.section + "] " + f.key + ": " + (f.severity == Severity::Error ? "error" : "warning") +
         ": " + f.text + " (see " + SettingReference(f.key) + ")";
}

static std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

namespace {

// A file that a setting names, in the order the program uses them.
struct NamedFile {
  std::string section, key;
  std::string storedName;  // the name Windows gives the file in the Workspace
  std::string path;        // where it was found beside Setup.ini
};

class Checker {
 public:
  explicit Checker(const std::string& iniPath)
      : folder_(fs::path(iniPath).parent_path().empty() ? std::string(".") : fs::path(iniPath).parent_path().string()),
        iniPath_(iniPath),
        ini_(IniFile::Load(iniPath)) {}

  SettingsCheck Run();

 private:
  void Report(Severity severity, const std::string& section, const std::string& key, const std::string& text) {
    result_.findings.push_back(Finding{severity, section, key, text});
  }
  Setting Read(const std::string& section, const std::string& key, size_t capacity);
  void CheckTitleLengths();
  void CheckNamedFile(const std::string& key, size_t capacity, const char* missingText, const char* emptyText);
  void CheckCabFiles();
  void CheckInstallDirectory();
  bool Locate(const std::string& section, const std::string& key, const std::string& value, NamedFile* file);
  void CheckRole(const NamedFile& file);
  void CheckReuse();
  void CollectFiles();

  std::string folder_;
  std::string iniPath_;
  IniFile ini_;
  SettingsCheck result_;
  std::vector<NamedFile> named_;  // license, bitmaps, then CAB items
};

Setting Checker::Read(const std::string& section, const std::string& key, size_t capacity) {
  Setting s = ReadSetting(ini_, section, key, capacity);
  if (s.cut())
    Report(Severity::Warning, section, key,
           "a value of " + std::to_string(s.storedLength) + " characters; the program reads only the first " +
               std::to_string(capacity - 1));
  return s;
}

void Checker::CheckTitleLengths() {
  const std::string zqi = Texts[TXT_SECTION_ZQI];
  const Setting name = Read(zqi, Texts[TXT_KEY_PRODUCT_NAME], kNameCapacity);
  const Setting version = Read(zqi, Texts[TXT_KEY_PRODUCT_VERSION], kNameCapacity);
  if (!name.present)
    Report(Severity::Warning, zqi, Texts[TXT_KEY_PRODUCT_NAME],
           "missing: the wizard title and the Welcome page show \"NO\" as the product's name");
  if (!version.present)
    Report(Severity::Warning, zqi, Texts[TXT_KEY_PRODUCT_VERSION],
           "missing: the wizard title and the Welcome page show \"NO\" as the version");
  // "%s %s for SmartPhone 2002 Setup" adds its own characters to both values.
  const size_t both = name.value.size() + version.value.size();
  const size_t title = both + strlen(Texts[TXT_TITLE_FMT]) - 4;
  if (title > kTitleBufferChars)
    Report(Severity::Warning, zqi, Texts[TXT_KEY_PRODUCT_NAME],
           "with ProductVersion it makes a wizard title of " + std::to_string(title) + " characters; the title holds " +
               std::to_string(kTitleBufferChars) + ", the rest is cut");
  const size_t body = both + kWelcomeBodyFixedChars;
  if (body > kWelcomeBodyBufferChars)
    Report(Severity::Warning, zqi, Texts[TXT_KEY_PRODUCT_NAME],
           "with ProductVersion it makes a Welcome text of " + std::to_string(body) + " characters; the page holds " +
               std::to_string(kWelcomeBodyBufferChars) + ", the rest is cut");
}

// Finds the file a setting names beside Setup.ini, as Windows would find it in
// the Workspace: without regard to letter case, blanks and dots at the end of
// the name dropped.
bool Checker::Locate(const std::string& section, const std::string& key, const std::string& value, NamedFile* file) {
  file->section = section;
  file->key = key;
  file->storedName = WindowsStoredName(value);
  std::error_code ec;
  const fs::path exact = fs::path(folder_) / file->storedName;
  if (fs::exists(exact, ec)) {
    file->path = exact.string();
  } else {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_, ec)) {
      if (EqualIgnoringCase(entry.path().filename().string(), file->storedName)) {
        file->path = entry.path().string();
        break;
      }
    }
  }
  if (file->path.empty()) {
    Report(Severity::Error, section, key, Quoted(value) + ": no such file in " + folder_);
    return false;
  }
  if (fs::is_directory(file->path, ec)) {
    Report(Severity::Error, section, key, file->path + ": a folder, not a file");
    return false;
  }
  return true;
}

void Checker::CheckRole(const NamedFile& file) {
  const std::string& key = file.key;
  std::string reason;
  try {
    if (key == Texts[TXT_KEY_LICENSE_FILE]) {
      ReadWholeFile(file.path);
    } else if (key == Texts[TXT_KEY_BODY_BITMAP] || key == Texts[TXT_KEY_HEAD_BITMAP]) {
      const bool body = key == Texts[TXT_KEY_BODY_BITMAP];
      BitmapSize size;
      if (!CheckBitmapFile(ReadWholeFile(file.path), &size, &reason)) {
        Report(Severity::Error, file.section, key,
               file.path + ": " + reason + "; LoadImageA cannot load it, so the " + (body ? "Welcome page" : "banner") +
                   " shows no bitmap");
        return;
      }
      const std::string pixels = std::to_string(size.widthPx) + " x " + std::to_string(size.heightPx) + " pixels";
      if (body && (size.widthPx > kBodyBitmapMaxWidthPx || size.heightPx > kBodyBitmapMaxHeightPx))
        Report(Severity::Warning, file.section, key,
               file.path + ": " + pixels + "; the Welcome page shows at most " + std::to_string(kBodyBitmapMaxWidthPx) +
                   " x " + std::to_string(kBodyBitmapMaxHeightPx) + ", the middle of the image");
      if (!body && (size.heightPx != kHeadBitmapHeightPx || size.widthPx > kHeadBitmapMaxWidthPx))
        Report(Severity::Warning, file.section, key,
               file.path + ": " + pixels + "; the banner is " + std::to_string(kHeadBitmapHeightPx) +
                   " pixels high and at most " + std::to_string(kHeadBitmapMaxWidthPx) +
                   " wide, so the image is cut or sits centred in it");
    } else {
      CabinetReport cab{file.storedName, InspectCabinet(ReadWholeFile(file.path))};
      if (!cab.info.error.empty())
        Report(Severity::Error, file.section, key, file.path + ": " + CabinetErrorText(cab.info));
      for (const std::string& warning : cab.info.warnings)
        Report(Severity::Warning, file.section, key, file.path + ": " + warning);
      result_.cabinets.push_back(std::move(cab));
    }
  } catch (const ZqError& e) {
    Report(Severity::Error, file.section, key, e.what());
  }
}

void Checker::CheckNamedFile(const std::string& key, size_t capacity, const char* missingText, const char* emptyText) {
  const std::string zqi = Texts[TXT_SECTION_ZQI];
  const Setting s = Read(zqi, key, capacity);
  if (!s.present) {
    Report(Severity::Warning, zqi, key, missingText);
    return;
  }
  if (s.value.empty()) {
    Report(Severity::Warning, zqi, key, emptyText);
    return;
  }
  if (!IsPlainFileName(s.value.c_str())) {
    Report(Severity::Error, zqi, key,
           Quoted(s.value) +
               " is not a plain file name (a name without folder, drive or device); the program "
               "loads nothing for it");
    return;
  }
  NamedFile file;
  if (!Locate(zqi, key, s.value, &file)) return;
  CheckRole(file);
  named_.push_back(file);
}

void Checker::CheckCabFiles() {
  const std::string appMgr = Texts[TXT_SECTION_APPMGR];
  const std::string key = Texts[TXT_KEY_CAB_FILES];
  const Setting component = Read(appMgr, Texts[TXT_KEY_COMPONENT], kNameCapacity);
  if (!component.present) {
    Report(Severity::Warning, appMgr, Texts[TXT_KEY_COMPONENT],
           "missing: CabFiles is read from a section named \"NO\", so no CAB file is installed");
    return;
  }
  if (!ini_.HasSection(component.value)) {
    Report(Severity::Warning, appMgr, Texts[TXT_KEY_COMPONENT],
           "names the section [" + component.value +
               "], which Setup.ini does not have; CabFiles reads as \"NO\", so no CAB file is installed");
    return;
  }
  const std::string section = component.value;
  const Setting list = Read(section, key, kCabFilesCapacity);
  if (!list.present) {
    Report(Severity::Warning, section, key,
           "missing: the program takes \"NO\" as the list, so no CAB file is installed");
    return;
  }
  // Split exactly as the hand-off does.
  std::vector<char> buffer(list.value.begin(), list.value.end());
  buffer.push_back(0);
  std::vector<std::string> items;
  ForEachCabFile(
      buffer.data(),
      [](const char* item, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(item); },
      &items);
  size_t cabs = 0;
  for (const std::string& item : items) {
    if (item.empty()) continue;
    ++cabs;
    if (item[0] == ' ' || item[0] == '\t') {
      Report(Severity::Error, section, key,
             "the item " + Quoted(item) +
                 " begins with a blank behind a comma; the blank stays part of the name, so the program moves "
                 "nothing for it");
      continue;
    }
    if (!IsPlainFileName(item.c_str())) {
      Report(Severity::Error, section, key,
             "the item " + Quoted(item) + " is not a plain file name; the program moves nothing for it");
      continue;
    }
    NamedFile file;
    if (!Locate(section, key, item, &file)) continue;
    CheckRole(file);
    named_.push_back(file);
  }
  if (cabs == 0)
    Report(Severity::Warning, section, key, "names no CAB file: the Application Manager gets nothing to install");
}

void Checker::CheckInstallDirectory() {
  const std::string zqi = Texts[TXT_SECTION_ZQI];
  const std::string key = Texts[TXT_KEY_INSTALL_DIRECTORY];
  const Setting s = Read(zqi, key, kNameCapacity);
  if (!s.present) {
    Report(Severity::Warning, zqi, key,
           "missing: the CAB files and Setup.ini go into a folder named \"NO\" beside "
           "CeAppMgr.exe");
    return;
  }
  if (s.value.empty()) {
    Report(Severity::Warning, zqi, key, "empty: the CAB files and Setup.ini go into CeAppMgr.exe's own folder");
    return;
  }
  std::vector<std::string> levels;
  size_t start = 0;
  for (size_t i = 0; i <= s.value.size(); ++i) {
    if (i == s.value.size() || s.value[i] == '\\' || s.value[i] == '/') {
      levels.push_back(s.value.substr(start, i - start));
      start = i + 1;
    }
  }
  for (const std::string& level : levels) {
    if (!IsPlainFileName(level.c_str())) {
      Report(Severity::Error, zqi, key,
             Quoted(s.value) + ": " + Quoted(level) +
                 " is not a plain folder name; the install folder would not lie beside CeAppMgr.exe");
      return;
    }
  }
  if (levels.size() > 1)
    Report(Severity::Warning, zqi, key,
           Quoted(s.value) +
               " has more than one level; the program creates only the last, so the hand-off fails "
               "unless " +
               Quoted(levels[0]) + " exists beside CeAppMgr.exe");
}

// The program deletes each file after its use: a file named twice is gone for
// the later use.
void Checker::CheckReuse() {
  for (const NamedFile& f : named_)
    if (EqualIgnoringCase(f.storedName, Texts[TXT_SETUP_INI]))
      Report(Severity::Warning, f.section, f.key,
             Quoted(f.storedName) + " is the settings file itself, which the program reads until the end");
  for (size_t later = 1; later < named_.size(); ++later) {
    for (size_t earlier = 0; earlier < later; ++earlier) {
      const NamedFile& a = named_[earlier];
      const NamedFile& b = named_[later];
      if (a.key == b.key && a.section == b.section) continue;  // a CAB listed twice: moved once
      if (!EqualIgnoringCase(a.storedName, b.storedName)) continue;
      Report(Severity::Warning, b.section, b.key,
             Quoted(b.storedName) + " is also named by [" + a.section + "] " + a.key +
                 ", which removes it from the Workspace first; this use finds nothing");
      break;
    }
  }
}

void Checker::CollectFiles() {
  std::vector<PackItem>& files = result_.files;
  auto add = [&files](const std::string& name, const std::string& path) {
    for (const PackItem& item : files)
      if (EqualIgnoringCase(item.name, name)) return;
    files.push_back(PackItem{name, path, {}});
  };
  for (const NamedFile& f : named_)
    if (f.key != Texts[TXT_KEY_CAB_FILES]) add(f.storedName, f.path);
  add(Texts[TXT_SETUP_INI], iniPath_);
  for (const NamedFile& f : named_)
    if (f.key == Texts[TXT_KEY_CAB_FILES]) add(f.storedName, f.path);
}

SettingsCheck Checker::Run() {
  // In the order the program reads the settings.
  CheckTitleLengths();
  CheckNamedFile(Texts[TXT_KEY_LICENSE_FILE], kNameCapacity,
                 "missing: the program looks for a license file named \"NO\" and shows an empty license",
                 "empty: the License page shows no license text");
  CheckNamedFile(Texts[TXT_KEY_BODY_BITMAP], kBodyBitmapCapacity, "missing: the Welcome page shows no bitmap",
                 "empty: the Welcome page shows no bitmap");
  CheckNamedFile(Texts[TXT_KEY_HEAD_BITMAP], kNameCapacity, "missing: the banner shows no bitmap",
                 "empty: the banner shows no bitmap");
  CheckCabFiles();
  CheckInstallDirectory();
  CheckReuse();
  CollectFiles();
  return std::move(result_);
}

}  // namespace

SettingsCheck CheckSettings(const std::string& iniPath) {
  std::error_code ec;
  if (fs::is_directory(iniPath, ec)) throw ZqError("cannot read " + iniPath + ": it is a folder");
  return Checker(iniPath).Run();
}
