#include "inf.h"

#include <stdint.h>

#include <algorithm>
#include <map>
#include <optional>

#include "bytes.h"
#include "errors.h"
#include "tools/common/helpers.h"

namespace {

using zq::EqualIgnoringCase;
using zq::Lower;

// Windows-1252's characters 0x80 to 0x9F (0: none there).
const uint16_t kHighControls[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The next character of UTF-8 text at *at, or nullopt when the bytes there
// are not UTF-8.  Characters past U+FFFF count as valid but are never
// Windows-1252.
std::optional<uint32_t> NextUtf8(const std::string& text, size_t* at) {
  const uint8_t lead = static_cast<uint8_t>(text[*at]);
  const int extra = lead < 0x80                   ? 0
                    : lead >= 0xC2 && lead < 0xE0 ? 1
                    : lead >= 0xE0 && lead < 0xF0 ? 2
                    : lead >= 0xF0 && lead < 0xF5 ? 3
                                                  : -1;
  if (extra < 0 || *at + extra >= text.size() + (extra == 0 ? 1 : 0)) return std::nullopt;
  uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    const uint8_t next = static_cast<uint8_t>(text[*at + i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    c = c << 6 | (next & 0x3F);
  }
  const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
  if (c < least[extra] || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
  *at += extra + 1;
  return c;
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// One line of a section: its number in the file and its text, the comment
// cut off and blanks trimmed.
struct Line {
  int number;
  std::string text;
};

struct Section {
  std::string name;  // as first written
  std::vector<Line> lines;
};

// The sections of the file; sections of the same name (any case) are one.
std::vector<Section> SplitSections(const std::string& text) {
  std::vector<Section> sections;
  std::map<std::string, size_t> index;  // lower-case name: its place in sections
  size_t current = std::string::npos;
  int number = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quoted = !quoted;
      if (line[i] == ';' && !quoted) line.resize(i);
    }
    line = Trim(line);
    if (line.empty()) continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      const std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      current = index.emplace(Lower(name), sections.size()).first->second;
      if (current == sections.size()) sections.push_back({name, {}});
      continue;
    }
    if (current != std::string::npos) sections[current].lines.push_back({number, line});  // none before any section
  }
  return sections;
}

// The comma-separated fields of text, each trimmed and its quotes removed
// ("" inside quotes: one quote).
std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields(1);
  std::string pending;  // blanks outside quotes, kept only when more text follows
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        fields.back() += pending + '"';
        pending.clear();
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
      pending.clear();
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (!fields.back().empty()) pending += c;
    } else {
      fields.back() += pending + c;
      pending.clear();
    }
  }
  return fields;
}

// Where the first '=' outside quotes is, or npos.
size_t FindEquals(const std::string& text) {
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == '=' && !quoted) return i;
  }
  return std::string::npos;
}

struct Value {
  int line = 0;
  std::vector<std::string> fields;  // as written, not yet expanded
};

class Reader {
 public:
  Reader(const std::string& text, const std::string& name, const std::string& cpu)
      : name_(name), cpu_(cpu), sections_(SplitSections(text)) {}

  CabPlan Read(const std::string& stem);

 private:
  [[noreturn]] void Fail(int line, const std::string& text) const {
    throw ZqError(name_ + (line > 0 ? ":" + std::to_string(line) : "") + ": " + text);
  }
  void Warn(int line, const std::string& text) {
    plan_.warnings.push_back(name_ + ":" + std::to_string(line) + ": warning: " + text);
  }

  const Section* Find(const std::string& name) const {
    for (const Section& s : sections_)
      if (EqualIgnoringCase(s.name, name)) return &s;
    return nullptr;
  }
  // The keys of a section (lower case), then those of its CPU-tagged
  // section overriding them key by key.
  std::map<std::string, Value> Keys(const std::string& section);
  std::optional<Value> Key(const std::string& section, const std::string& key) {
    std::map<std::string, Value> keys = Keys(section);
    const auto found = keys.find(Lower(key));
    return found == keys.end() ? std::nullopt : std::optional<Value>(found->second);
  }
  std::string Required(const std::string& section, const std::string& key) {
    const std::optional<Value> v = Key(section, key);
    if (!v || Expand(v->fields[0], v->line).empty()) Fail(0, "[" + section + "] has no " + key + " (a required key)");
    return Expand(v->fields[0], v->line);
  }
  // A list section (copy files, registry, shortcuts) named by a key of
  // [DefaultInstall].
  const Section& Named(const std::string& name, const std::string& key, int line) {
    const Section* s = Find(name);
    if (s == nullptr) Fail(line, key + " names [" + name + "], which does not exist");
    return *s;
  }

  std::string Expand(const std::string& text, int line, int depth = 0);
  std::string Ansi(const std::string& text, int line) {
    std::string out;
    if (!ToWindows1252(text, &out)) Fail(line, "\"" + text + "\" holds a character that Windows-1252 lacks");
    return out;
  }
  uint32_t Number(const std::string& text, const std::string& what, int line) const;
  std::string Folder(const std::string& written, int line);

  void ReadDevice();
  void ReadFiles(const Value& copyFiles);
  void ReadSetupDll(const Value& dll);
  void ReadRegistry(const Value& addReg);
  void ReadShortcuts(const Value& shortcuts);
  CabSource Source(const std::string& sourceName, int line);

  std::string name_, cpu_;
  std::vector<Section> sections_;
  std::map<std::string, Value> strings_;
  CabPlan plan_;
  std::map<std::string, std::string> sectionFolders_;                  // copy section (lower case): its folder
  std::string installDir_;                                             // %InstallDir% as a folder, in UTF-8
  std::map<std::string, Value> diskNames_, diskFiles_, destinations_;  // the keys of those sections
};

std::map<std::string, Value> Reader::Keys(const std::string& section) {
  std::map<std::string, Value> keys;
  auto add = [&](const Section* s) {
    if (s == nullptr) return;
    for (const Line& line : s->lines) {
      const size_t equals = FindEquals(line.text);
      if (equals == std::string::npos) continue;
      const std::vector<std::string> name = SplitFields(line.text.substr(0, equals));
      keys[Lower(name[0])] = Value{line.number, SplitFields(line.text.substr(equals + 1))};
    }
  };
  add(Find(section));
  if (!cpu_.empty()) add(Find(section + "." + cpu_));
  return keys;
}

std::string Reader::Expand(const std::string& text, int line, int depth) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const size_t open = text.find('%', at);
    const size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
    if (close == std::string::npos) {
      out += text.substr(at);
      break;
    }
    out += text.substr(at, open - at);
    at = close + 1;
    const std::string name = text.substr(open + 1, close - open - 1);
    const bool deviceFolder = name.size() > 2 && EqualIgnoringCase(name.substr(0, 2), "CE") &&
                              name.find_first_not_of("0123456789", 2) == std::string::npos;
    if (name.empty()) {
      out += '%';
    } else if (deviceFolder || EqualIgnoringCase(name, "InstallDir")) {
      out += deviceFolder ? "%CE" + name.substr(2) + "%" : "%InstallDir%";  // for the device
    } else {
      const auto found = strings_.find(Lower(name));
      if (found == strings_.end()) Fail(line, "unknown %" + name + "% (no such key in [Strings] or [CEStrings])");
      if (depth > 8) Fail(line, "%" + name + "% refers to itself");
      out += Expand(found->second.fields[0], found->second.line, depth + 1);
    }
    if (out.size() > kCeSetupMaxBytes) Fail(line, "a text longer than a .000 file can hold, once %names% are replaced");
  }
  return out;
}

uint32_t Reader::Number(const std::string& text, const std::string& what, int line) const {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  uint64_t n = 0;
  bool ok = !digits.empty();
  for (size_t i = 0; i < digits.size() && ok; ++i) {
    const char c = digits[i];
    const int d = c >= '0' && c <= '9'          ? c - '0'
                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
    n = n * (hex ? 16 : 10) + d;
    ok = d >= 0 && n <= 0xFFFFFFFFu;
  }
  if (!ok) Fail(line, "not a number: " + what + " \"" + text + "\" (decimal, or hexadecimal after 0x)");
  return static_cast<uint32_t>(n);
}

// A folder as DIRS holds it (in UTF-8): %InstallDir% replaced, "\" between
// levels, none at the end.
std::string Reader::Folder(const std::string& written, int line) {
  std::string path;
  for (char c : written) {
    if (c == '/') c = '\\';
    if (c != '\\' || path.empty() || path.back() != '\\') path += c;
  }
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  if (EqualIgnoringCase(path.substr(0, 12), "%InstallDir%")) path = installDir_ + path.substr(12);
  if (path.empty() || (path[0] != '%' && path[0] != '\\'))
    Fail(line, "the folder \"" + written + "\" is neither %InstallDir%, a %CEn% folder nor an absolute path");
  return path;
}

CabPlan Reader::Read(const std::string& stem) {
  plan_.setupMember = stem + ".000";
  for (const Section& s : sections_) {
    const std::string base = Lower(s.name.substr(0, s.name.find('.')));
    for (const char* keySection : {"version", "strings", "cestrings", "cedevice", "defaultinstall", "sourcedisksnames",
                                   "sourcedisksfiles", "destinationdirs"})
      if (base == keySection)
        for (const Line& line : s.lines)
          if (FindEquals(line.text) == std::string::npos)
            Warn(line.number, "a line without '=' in [" + s.name + "], skipped");
  }
  diskNames_ = Keys("SourceDisksNames");
  diskFiles_ = Keys("SourceDisksFiles");
  destinations_ = Keys("DestinationDirs");
  for (const char* section : {"Strings", "CEStrings"})
    for (const auto& [key, value] : Keys(section)) strings_[key] = value;
  const std::string signature = Required("Version", "Signature");
  if (!EqualIgnoringCase(signature, "$Windows NT$") && !EqualIgnoringCase(signature, "$Windows 95$") &&
      !EqualIgnoringCase(signature, "$Chicago$"))
    Fail(Key("Version", "Signature")->line,
         "Signature is \"" + signature + "\", not \"$Windows NT$\", \"$Windows 95$\" or \"$Chicago$\"");
  const std::string provider = Required("Version", "Provider");
  const std::string ceSignature = Required("Version", "CESignature");
  if (!EqualIgnoringCase(ceSignature, "$Windows CE$"))
    Fail(Key("Version", "CESignature")->line, "CESignature is \"" + ceSignature + "\", not \"$Windows CE$\"");
  const std::string appName = Required("CEStrings", "AppName");
  const std::string installDir = Required("CEStrings", "InstallDir");
  plan_.setup.appName = Ansi(appName, Key("CEStrings", "AppName")->line);
  plan_.setup.provider = Ansi(provider, Key("Version", "Provider")->line);
  if (plan_.setup.appName.size() > 40) Warn(Key("CEStrings", "AppName")->line, "AppName has more than 40 characters");
  if (plan_.setup.provider.size() > 30) Warn(Key("Version", "Provider")->line, "Provider has more than 30 characters");
  const int installDirLine = Key("CEStrings", "InstallDir")->line;
  installDir_ = Folder(installDir, installDirLine);
  plan_.installDir = Ansi(installDir_, installDirLine);

  std::vector<std::string> tags;
  for (const Section& s : sections_)
    if (s.name.size() > 17 && EqualIgnoringCase(s.name.substr(0, 17), "SourceDisksNames."))
      tags.push_back(s.name.substr(17));
  if (Find("SourceDisksNames") == nullptr && cpu_.empty() && !tags.empty()) {
    std::string offered;
    for (const std::string& t : tags) offered += (offered.empty() ? "" : ", ") + t;
    Fail(0, "[SourceDisksNames] exists only for the CPU tags " + offered + ": choose one with --cpu");
  }
  if (!cpu_.empty() &&
      std::none_of(tags.begin(), tags.end(), [&](const std::string& t) { return EqualIgnoringCase(t, cpu_); }) &&
      Find("CEDevice." + cpu_) == nullptr && Find("DefaultInstall." + cpu_) == nullptr)
    Fail(0, "no section is tagged for the CPU " + cpu_);

  ReadDevice();
  std::map<std::string, Value> install = Keys("DefaultInstall");
  if (install.count("copyfiles")) ReadFiles(install["copyfiles"]);
  if (install.count("cesetupdll")) ReadSetupDll(install["cesetupdll"]);
  if (install.count("addreg")) ReadRegistry(install["addreg"]);
  if (install.count("ceshortcuts")) ReadShortcuts(install["ceshortcuts"]);
  if (install.count("ceselfregister")) {
    const Value& v = install["ceselfregister"];
    for (const std::string& field : v.fields) {
      const std::string file = Ansi(Expand(field, v.line), v.line);
      if (file.empty()) continue;
      auto found = std::find_if(plan_.setup.files.begin(), plan_.setup.files.end(),
                                [&](const CeFile& f) { return EqualIgnoringCase(f.name, file); });
      if (found == plan_.setup.files.end())
        Fail(v.line, "CESelfRegister names " + field + ", which no copy section installs");
      found->flags |= kCeSelfRegister;
    }
  }
  return plan_;
}

void Reader::ReadDevice() {
  std::map<std::string, Value> device = Keys("CEDevice");
  CeSetup& s = plan_.setup;
  auto number = [&](const char* key, uint32_t* n) {
    const auto found = device.find(Lower(key));
    if (found != device.end())
      *n = Number(Expand(found->second.fields[0], found->second.line), key, found->second.line);
  };
  number("ProcessorType", &s.architecture);
  std::vector<const Section*> lists = {Find("CEDevice")};
  if (!cpu_.empty()) lists.push_back(Find("CEDevice." + cpu_));
  for (const Section* section : lists)  // the tagged list adds to the untagged one
    for (const Line& line : section != nullptr ? section->lines : std::vector<Line>()) {
      const size_t equals = FindEquals(line.text);
      if (equals == std::string::npos || !EqualIgnoringCase(Trim(line.text.substr(0, equals)), "UnsupportedPlatforms"))
        continue;
      for (const std::string& field : SplitFields(line.text.substr(equals + 1))) {
        const std::string platform = Ansi(Expand(field, line.number), line.number);
        if (!platform.empty()) s.unsupported.push_back(platform);
      }
    }
  auto version = [&](const char* key, CeVersion* v) {
    if (!device.count(Lower(key))) return;
    const Value& value = device[Lower(key)];
    const std::string text = Expand(value.fields[0], value.line);
    const size_t dot = text.find('.');
    v->major = Number(text.substr(0, dot), key, value.line);
    v->minor = dot == std::string::npos ? 0 : Number(text.substr(dot + 1), key, value.line);
  };
  version("VersionMin", &s.leastVersion);
  version("VersionMax", &s.greatestVersion);
  number("BuildMin", &s.leastBuild);
  number("BuildMax", &s.greatestBuild);
}

CabSource Reader::Source(const std::string& sourceName, int line) {
  const auto file = diskFiles_.find(Lower(sourceName));
  if (file == diskFiles_.end()) Fail(line, sourceName + " is not listed in [SourceDisksFiles]");
  const std::string disk = Trim(Expand(file->second.fields[0], file->second.line));
  const auto found = diskNames_.find(Lower(disk));
  if (found == diskNames_.end())
    Fail(file->second.line, sourceName + " is on disk " + disk + ", which [SourceDisksNames] lacks");
  const std::vector<std::string>& fields = found->second.fields;
  return CabSource{"", sourceName, fields.size() > 3 ? Expand(fields[3], found->second.line) : "", line};
}

void Reader::ReadFiles(const Value& copyFiles) {
  for (const std::string& field : copyFiles.fields) {
    const std::string sectionName = Expand(field, copyFiles.line);
    if (sectionName.empty()) continue;
    const Section& section = Named(sectionName, "CopyFiles", copyFiles.line);
    const auto dest = destinations_.count(Lower(sectionName)) ? destinations_.find(Lower(sectionName))
                                                              : destinations_.find("defaultdestdir");
    const std::string folder =
        dest == destinations_.end()
            ? plan_.installDir
            : Ansi(Folder(Expand(dest->second.fields.size() > 1 ? dest->second.fields[1] : "", dest->second.line),
                          dest->second.line),
                   dest->second.line);
    sectionFolders_[Lower(sectionName)] = folder;
    for (const Line& line : section.lines) {
      std::vector<std::string> fields = SplitFields(line.text);
      CeFile file;
      file.name = Ansi(Expand(fields[0], line.number), line.number);
      const std::string source =
          fields.size() > 1 && !fields[1].empty() ? Expand(fields[1], line.number) : Expand(fields[0], line.number);
      if (fields.size() > 3 && !fields[3].empty())
        file.flags = Number(Expand(fields[3], line.number), "the flags", line.number);
      if (file.name.empty()) Fail(line.number, "a copy line without a file name");
      for (const CeFile& other : plan_.setup.files)
        if (EqualIgnoringCase(other.folder, folder) && EqualIgnoringCase(other.name, file.name))
          Fail(line.number, "a second file named " + fields[0] + " in " + Windows1252ToUtf8(folder));
      if (plan_.setup.files.size() == kCeMaxFiles)
        Fail(line.number, "more than " + std::to_string(kCeMaxFiles) + " files (a cabinet numbers them .001 to .998)");
      file.folder = folder;
      file.number = static_cast<uint16_t>(plan_.setup.files.size() + 1);
      CabSource src = Source(source, line.number);
      char number[8];
      snprintf(number, sizeof number, ".%03u", static_cast<unsigned>(file.number));
      src.member = MemberStem(fields[0]) + number;
      plan_.setup.files.push_back(file);
      plan_.sources.push_back(src);
    }
  }
}

void Reader::ReadSetupDll(const Value& dll) {
  const std::string name = Expand(dll.fields[0], dll.line);
  if (name.empty()) return;
  CabSource src = Source(name, dll.line);
  src.member = MemberStem(name) + ".999";
  plan_.sources.push_back(src);
  plan_.hasSetupDll = true;
}

void Reader::ReadRegistry(const Value& addReg) {
  for (const std::string& field : addReg.fields) {
    const std::string sectionName = Expand(field, addReg.line);
    if (sectionName.empty()) continue;
    for (const Line& line : Named(sectionName, "AddReg", addReg.line).lines) {
      std::vector<std::string> fields = SplitFields(line.text);
      for (std::string& f : fields) f = Expand(f, line.number);
      fields.resize(std::max<size_t>(fields.size(), 5));
      CeRegValue v;
      for (uint16_t root = 1; root <= 4; ++root)
        if (EqualIgnoringCase(fields[0], CeRootName(root))) v.root = root;
      if (v.root == 0) Fail(line.number, "the registry root \"" + fields[0] + "\" is not HKCR, HKCU, HKLM or HKU");
      v.key = Ansi(fields[1].substr(fields[1].rfind('\\', 0) == 0 ? 1 : 0), line.number);
      v.name = Ansi(fields[2], line.number);
      v.type = fields[3].empty() ? 0 : Number(fields[3], "the registry flags", line.number);
      if ((v.type & ~(kCeRegTypeMask | kCeRegNoClobber)) != 0)
        Fail(line.number, "the registry flags " + fields[3] + " hold bits other than the type and no-clobber (0x2)");
      const std::vector<std::string> values(fields.begin() + 4, fields.end());
      const uint32_t type = v.type & kCeRegTypeMask;
      if (type == kCeRegDword) {
        AppendLe32(v.data, Number(values[0], "the DWORD value", line.number));
      } else if (type == kCeRegBinary) {
        for (const std::string& byte : values) {
          if (byte.empty() && values.size() == 1) break;
          const uint32_t b = Number("0x" + byte, "the binary byte", line.number);
          if (b > 0xFF) Fail(line.number, "the binary byte \"" + byte + "\" is more than two hexadecimal digits");
          v.data.push_back(static_cast<uint8_t>(b));
        }
      } else {
        for (size_t i = 0; i < (type == kCeRegMultiString ? values.size() : 1); ++i) {
          const std::string text = Ansi(values[i], line.number);
          v.data.insert(v.data.end(), text.c_str(), text.c_str() + text.size() + 1);
          v.substitute =
              v.substitute || text.find("%InstallDir%") != std::string::npos || text.find("%CE") != std::string::npos;
        }
        if (type == kCeRegMultiString) v.data.push_back(0);
      }
      plan_.setup.registry.push_back(v);
    }
  }
}

void Reader::ReadShortcuts(const Value& shortcuts) {
  for (const std::string& field : shortcuts.fields) {
    const std::string sectionName = Expand(field, shortcuts.line);
    if (sectionName.empty()) continue;
    const Section& section = Named(sectionName, "CEShortcuts", shortcuts.line);
    for (const Line& line : section.lines) {
      std::vector<std::string> fields = SplitFields(line.text);
      for (std::string& f : fields) f = Expand(f, line.number);
      fields.resize(std::max<size_t>(fields.size(), 4));
      CeLink link;
      std::string folder = fields[3];
      if (folder.empty()) {
        const auto dest = destinations_.count(Lower(sectionName)) ? destinations_.find(Lower(sectionName))
                                                                  : destinations_.find("defaultdestdir");
        folder = dest == destinations_.end() || dest->second.fields.size() < 2
                     ? "%InstallDir%"
                     : Expand(dest->second.fields[1], dest->second.line);
      }
      // The base is %InstallDir% or %CEn%; a sub-folder below it goes into the name.
      std::string below;
      const std::string expanded = Folder(folder, line.number);
      if (EqualIgnoringCase(expanded.substr(0, installDir_.size()), installDir_) &&
          (expanded.size() == installDir_.size() || expanded[installDir_.size()] == '\\')) {
        below = expanded.substr(installDir_.size());
      } else if (expanded.rfind("%CE", 0) == 0 && expanded.find('%', 1) != std::string::npos) {
        const size_t close = expanded.find('%', 1);
        link.base = static_cast<uint16_t>(Number(expanded.substr(3, close - 3), "the shortcut's folder", line.number));
        below = expanded.substr(close + 1);
      } else {
        Fail(line.number,
             "the shortcut's folder \"" + folder + "\" is neither below %InstallDir% nor below a %CEn% folder");
      }
      if (!below.empty()) below = below.substr(1) + "\\";
      if (fields[0].empty()) Fail(line.number, "a shortcut without a name");
      link.name = Ansi(below + fields[0], line.number);
      link.toFile = fields[1].empty() || fields[1] == "0";
      if (link.toFile) {
        const std::string target = Ansi(fields[2], line.number);
        const auto file = std::find_if(plan_.setup.files.begin(), plan_.setup.files.end(),
                                       [&](const CeFile& f) { return EqualIgnoringCase(f.name, target); });
        if (file == plan_.setup.files.end())
          Fail(line.number, "the shortcut's target " + fields[2] + " is no file of a copy section");
        link.target = file->number;
      } else {
        const auto section = sectionFolders_.find(Lower(fields[2]));
        link.targetFolder =
            section != sectionFolders_.end() ? section->second : Ansi(Folder(fields[2], line.number), line.number);
        if (link.targetFolder == plan_.installDir) link.targetFolder.clear();
      }
      plan_.setup.links.push_back(link);
    }
  }
}

}  // namespace

bool ToWindows1252(const std::string& utf8, std::string* out) {
  out->clear();
  for (size_t at = 0; at < utf8.size();) {
    const std::optional<uint32_t> c = NextUtf8(utf8, &at);
    if (!c) return false;
    if (*c < 0x80 || (*c >= 0xA0 && *c <= 0xFF)) {
      *out += static_cast<char>(*c);
      continue;
    }
    const uint16_t* high = std::find(kHighControls, kHighControls + 32, *c);
    if (*c == 0 || high == kHighControls + 32) return false;
    *out += static_cast<char>(0x80 + (high - kHighControls));
  }
  return true;
}

std::string Windows1252ToUtf8(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const uint8_t c = static_cast<uint8_t>(ch);
    AppendUtf8(out, c >= 0x80 && c < 0xA0 && kHighControls[c - 0x80] != 0 ? kHighControls[c - 0x80] : c);
  }
  return out;
}

std::string MemberStem(const std::string& name) {
  std::string stem;
  for (char c : name.substr(0, name.rfind('.'))) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-') && stem.size() < 8) stem += c;
  }
  return stem.empty() ? "FILE" : stem;
}

CabPlan ReadCabInf(const std::string& bytes, const std::string& name, const std::string& stem, const std::string& cpu) {
  std::string text = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? bytes.substr(3) : bytes;
  const size_t zero = text.find('\0');  // no text of the .000 file can hold one
  if (zero != std::string::npos)
    throw ZqError(name + ":" + std::to_string(1 + std::count(text.begin(), text.begin() + zero, '\n')) +
                  ": a zero byte (a UTF-16 .inf? save it as UTF-8)");
  for (size_t at = 0; at < text.size();)
    if (!NextUtf8(text, &at)) {
      text = Windows1252ToUtf8(text);
      break;
    }
  return Reader(text, name, cpu).Read(stem);
}
