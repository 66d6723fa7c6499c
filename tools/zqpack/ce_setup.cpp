#include "ce_setup.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "bytes.h"

namespace {

// A damaged field: what() says which and why.
class Damage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Num(uint64_t n) { return std::to_string(n); }

// Reads forward from an offset, never past the end of the file.
class Cursor {
 public:
  Cursor(const std::vector<uint8_t>& bytes, uint64_t at, const std::string& what)
      : bytes_(bytes), at_(at), what_(what) {
    if (at > bytes.size()) throw Damage(what + " at offset " + Num(at) + ", past the end (" + Num(bytes.size()) + ")");
  }
  const uint8_t* Take(uint64_t count) {
    if (count > bytes_.size() - at_)
      throw Damage(what_ + " runs past the end of the file (" + Num(at_ + count) + " > " + Num(bytes_.size()) + ")");
    const uint8_t* p = &bytes_[0] + at_;
    at_ += count;
    return p;
  }
  uint16_t Le16() { return GetLe16(Take(2)); }
  uint32_t Le32() { return GetLe32(Take(4)); }
  // length bytes holding a text ended by a zero; the text stops at the first zero.
  std::string Text(uint64_t length) {
    const char* p = reinterpret_cast<const char*>(Take(length));
    if (length == 0 || p[length - 1] != 0) throw Damage(what_ + ": a text without its terminating zero");
    return std::string(p);
  }

 private:
  const std::vector<uint8_t>& bytes_;
  uint64_t at_;
  std::string what_;
};

enum Section { kStrings, kDirs, kFiles, kRegHives, kRegKeys, kLinks, kSectionCount };
const char* const kSectionNames[kSectionCount] = {"STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"};

CeSetup Read(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 4 || bytes[0] != 'M' || bytes[1] != 'S' || bytes[2] != 'C' || bytes[3] != 'E')
    throw Damage("it does not begin with \"MSCE\"");
  if (bytes.size() < kCeHeaderBytes)
    throw Damage("cut short inside its " + Num(kCeHeaderBytes) + "-byte header (" + Num(bytes.size()) + " bytes)");
  const uint8_t* h = &bytes[0];
  if (GetLe32(h + 8) != bytes.size())
    throw Damage("cut short or padded: its header says " + Num(GetLe32(h + 8)) + " bytes, it has " + Num(bytes.size()));
  CeSetup s;
  s.architecture = GetLe32(h + 20);
  s.leastVersion = {GetLe32(h + 24), GetLe32(h + 28)};
  s.greatestVersion = {GetLe32(h + 32), GetLe32(h + 36)};
  s.leastBuild = GetLe32(h + 40);
  s.greatestBuild = GetLe32(h + 44);

  auto field = [&](int at, const char* name) {
    const uint16_t length = GetLe16(h + at + 2);
    Cursor c(bytes, GetLe16(h + at), name);
    return length == 0 ? std::string() : c.Text(length);
  };
  s.appName = field(84, "APPNAME");
  s.provider = field(88, "PROVIDER");
  const uint16_t unsupportedBytes = GetLe16(h + 94);
  if (unsupportedBytes > 0) {
    Cursor c(bytes, GetLe16(h + 92), "UNSUPPORTED");
    const char* p = reinterpret_cast<const char*>(c.Take(unsupportedBytes));
    for (size_t i = 0; i < unsupportedBytes && p[i] != 0;) {
      const std::string name(p + i, std::find(p + i, p + unsupportedBytes, '\0'));
      if (i + name.size() == unsupportedBytes) throw Damage("UNSUPPORTED: a name without its terminating zero");
      s.unsupported.push_back(name);
      i += name.size() + 1;
    }
  }

  uint16_t counts[kSectionCount];
  uint32_t offsets[kSectionCount];
  for (int i = 0; i < kSectionCount; ++i) {
    counts[i] = GetLe16(h + 48 + 2 * i);
    offsets[i] = GetLe32(h + 60 + 4 * i);
    if (counts[i] > 0 && offsets[i] >= bytes.size())
      throw Damage(std::string(kSectionNames[i]) + " at offset " + Num(offsets[i]) + ", past the end (" +
                   Num(bytes.size()) + ")");
  }

  std::map<uint16_t, std::string> strings;
  Cursor stringsAt(bytes, offsets[kStrings], "STRINGS");
  for (uint16_t i = 0; i < counts[kStrings]; ++i) {
    const uint16_t id = stringsAt.Le16();
    strings[id] = stringsAt.Text(stringsAt.Le16());
  }
  // A list of string ids of length bytes, ending with 0, joined with "\".
  auto path = [&strings](Cursor& at, uint16_t length, const std::string& what) {
    if (length % 2 != 0 || length == 0) throw Damage(what + ": a length of " + Num(length));
    const uint8_t* ids = at.Take(length);
    std::string joined;
    for (uint16_t k = 0; k + 2 < length; k += 2) {
      const auto found = strings.find(GetLe16(ids + k));
      if (found == strings.end())
        throw Damage(what + " names string " + Num(GetLe16(ids + k)) + ", which STRINGS lacks");
      joined += (k == 0 ? "" : "\\") + found->second;
    }
    if (GetLe16(ids + length - 2) != 0) throw Damage(what + " does not end with 0");
    return joined;
  };
  std::map<uint16_t, std::string> dirs;
  auto dir = [&dirs](uint16_t id, const std::string& what) {
    const auto found = dirs.find(id);
    if (found == dirs.end()) throw Damage(what + " names folder " + Num(id) + ", which DIRS lacks");
    return found->second;
  };
  Cursor dirsAt(bytes, offsets[kDirs], "DIRS");
  for (uint16_t i = 0; i < counts[kDirs]; ++i) {
    const uint16_t id = dirsAt.Le16();
    dirs[id] = path(dirsAt, dirsAt.Le16(), "DIRS entry " + Num(id));
  }
  Cursor filesAt(bytes, offsets[kFiles], "FILES");
  for (uint16_t i = 0; i < counts[kFiles]; ++i) {
    CeFile file;
    file.number = filesAt.Le16();
    const uint16_t folder = filesAt.Le16();
    filesAt.Le16();  // the file number again
    file.flags = filesAt.Le32();
    file.name = filesAt.Text(filesAt.Le16());
    file.folder = dir(folder, "FILES entry " + Num(file.number));
    s.files.push_back(file);
  }
  std::map<uint16_t, std::pair<uint16_t, std::string>> hives;
  Cursor hivesAt(bytes, offsets[kRegHives], "REGHIVES");
  for (uint16_t i = 0; i < counts[kRegHives]; ++i) {
    const uint16_t id = hivesAt.Le16();
    const uint16_t root = hivesAt.Le16();
    hivesAt.Le16();
    hives[id] = {root, path(hivesAt, hivesAt.Le16(), "REGHIVES entry " + Num(id))};
  }
  Cursor keysAt(bytes, offsets[kRegKeys], "REGKEYS");
  for (uint16_t i = 0; i < counts[kRegKeys]; ++i) {
    CeRegValue value;
    const uint16_t id = keysAt.Le16();
    const auto hive = hives.find(keysAt.Le16());
    if (hive == hives.end()) throw Damage("REGKEYS entry " + Num(id) + " names a hive REGHIVES lacks");
    value.root = hive->second.first;
    value.key = hive->second.second;
    value.substitute = keysAt.Le16() != 0;
    value.type = keysAt.Le32();
    const uint16_t length = keysAt.Le16();
    const uint8_t* p = keysAt.Take(length);
    const uint8_t* zero = std::find(p, p + length, 0);
    if (zero == p + length) throw Damage("REGKEYS entry " + Num(id) + ": a value name without its terminating zero");
    value.name.assign(p, zero);
    value.data.assign(zero + 1, p + length);
    s.registry.push_back(value);
  }
  Cursor linksAt(bytes, offsets[kLinks], "LINKS");
  for (uint16_t i = 0; i < counts[kLinks]; ++i) {
    CeLink link;
    const uint16_t id = linksAt.Le16();
    linksAt.Le16();
    link.base = linksAt.Le16();
    link.target = linksAt.Le16();
    link.toFile = linksAt.Le16() != 0;
    if (!link.toFile && link.target != 0) link.targetFolder = dir(link.target, "LINKS entry " + Num(id));
    link.name = path(linksAt, linksAt.Le16(), "LINKS entry " + Num(id));
    s.links.push_back(link);
  }
  return s;
}

}  // namespace

bool ReadCeSetup(const std::vector<uint8_t>& bytes, CeSetup* setup, std::string* reason) {
  try {
    *setup = Read(bytes);
    return true;
  } catch (const Damage& e) {
    *reason = e.what();
    return false;
  }
}

namespace {

// The sections of a .000 file being written, and the string and folder ids
// handed out so far.
class CeWriter {
 public:
  explicit CeWriter(const CeSetup& s) : s_(s) {}

  std::vector<uint8_t> Write() {
    for (const CeFile& f : s_.files) Dir(f.folder);
    for (const CeLink& l : s_.links)
      if (!l.toFile && !l.targetFolder.empty()) Dir(l.targetFolder);
    std::vector<std::pair<uint16_t, std::string>> hives;  // root, key
    std::vector<uint16_t> hiveIds;
    for (const CeRegValue& v : s_.registry) {
      const auto found = std::find(hives.begin(), hives.end(), std::make_pair(v.root, v.key));
      hiveIds.push_back(static_cast<uint16_t>(found - hives.begin() + 1));
      if (found == hives.end()) hives.push_back({v.root, v.key});
    }
    std::vector<std::vector<uint16_t>> hivePaths, linkPaths;
    for (const auto& hive : hives) hivePaths.push_back(Ids(hive.second));
    for (const CeLink& l : s_.links) linkPaths.push_back(Ids(l.name));

    out_.assign(kCeHeaderBytes, 0);
    out_[0] = 'M', out_[1] = 'S', out_[2] = 'C', out_[3] = 'E';
    Put32(16, 1);
    Put32(20, s_.architecture);
    Put32(24, s_.leastVersion.major), Put32(28, s_.leastVersion.minor);
    Put32(32, s_.greatestVersion.major), Put32(36, s_.greatestVersion.minor);
    Put32(40, s_.leastBuild), Put32(44, s_.greatestBuild);
    HeaderText(84, {s_.appName}, false);
    HeaderText(88, {s_.provider}, false);
    HeaderText(92, s_.unsupported, true);

    Section(kStrings, strings_.size());
    for (size_t i = 0; i < strings_.size(); ++i) {
      Add16(i + 1);
      Add16(strings_[i].size() + 1);
      AddText(strings_[i]);
    }
    Section(kDirs, dirs_.size());
    for (size_t i = 0; i < dirs_.size(); ++i) {
      Add16(i + 1);
      AddIds(dirPaths_[i]);
    }
    Section(kFiles, s_.files.size());
    for (const CeFile& f : s_.files) {
      Add16(f.number), Add16(Dir(f.folder)), Add16(f.number), Add32(f.flags);
      Add16(f.name.size() + 1);
      AddText(f.name);
    }
    Section(kRegHives, hives.size());
    for (size_t i = 0; i < hives.size(); ++i) {
      Add16(i + 1), Add16(hives[i].first), Add16(0);
      AddIds(hivePaths[i]);
    }
    Section(kRegKeys, s_.registry.size());
    for (size_t i = 0; i < s_.registry.size(); ++i) {
      const CeRegValue& v = s_.registry[i];
      Add16(i + 1), Add16(hiveIds[i]), Add16(v.substitute ? 1 : 0), Add32(v.type);
      Add16(v.name.size() + 1 + v.data.size());
      AddText(v.name);
      out_.insert(out_.end(), v.data.begin(), v.data.end());
    }
    Section(kLinks, s_.links.size());
    for (size_t i = 0; i < s_.links.size(); ++i) {
      const CeLink& l = s_.links[i];
      Add16(i + 1), Add16(0), Add16(l.base);
      Add16(l.toFile ? l.target : l.targetFolder.empty() ? 0 : Dir(l.targetFolder));
      Add16(l.toFile ? 1 : 0);
      AddIds(linkPaths[i]);
    }
    Put32(8, static_cast<uint32_t>(out_.size()));
    return out_;
  }

 private:
  // The id of a text in STRINGS, added when new.
  uint16_t String(const std::string& text) {
    const auto found = std::find(strings_.begin(), strings_.end(), text);
    if (found != strings_.end()) return static_cast<uint16_t>(found - strings_.begin() + 1);
    strings_.push_back(text);
    return static_cast<uint16_t>(strings_.size());
  }
  std::vector<uint16_t> Ids(const std::string& path) {
    std::vector<uint16_t> ids;
    for (size_t at = 0; at <= path.size();) {
      const size_t end = std::min(path.find('\\', at), path.size());
      ids.push_back(String(path.substr(at, end - at)));
      at = end + 1;
    }
    return ids;
  }
  uint16_t Dir(const std::string& path) {
    const auto found = std::find(dirs_.begin(), dirs_.end(), path);
    if (found != dirs_.end()) return static_cast<uint16_t>(found - dirs_.begin() + 1);
    dirs_.push_back(path);
    dirPaths_.push_back(Ids(path));
    return static_cast<uint16_t>(dirs_.size());
  }

  void Put16(size_t at, size_t v) { PutLe16(&out_[at], static_cast<uint16_t>(v)); }
  void Put32(size_t at, uint32_t v) { PutLe32(&out_[at], v); }
  void Add16(size_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Add32(uint32_t v) { AppendLe32(out_, v); }
  void AddText(const std::string& text) { out_.insert(out_.end(), text.c_str(), text.c_str() + text.size() + 1); }
  void AddIds(const std::vector<uint16_t>& ids) {
    Add16(2 * ids.size() + 2);
    for (uint16_t id : ids) Add16(id);
    Add16(0);
  }
  void HeaderText(size_t at, const std::vector<std::string>& texts, bool list) {
    if (texts.empty()) return;  // 0 and 0
    const size_t start = out_.size();
    for (const std::string& t : texts) AddText(t);
    if (list) out_.push_back(0);
    Put16(at, start);
    Put16(at + 2, out_.size() - start);
  }
  void Section(int index, size_t count) {
    Put16(48 + 2 * index, count);
    Put32(60 + 4 * index, static_cast<uint32_t>(out_.size()));
  }

  const CeSetup& s_;
  std::vector<uint8_t> out_;
  std::vector<std::string> strings_;  // id - 1
  std::vector<std::string> dirs_;     // id - 1
  std::vector<std::vector<uint16_t>> dirPaths_;
};

}  // namespace

std::vector<uint8_t> WriteCeSetup(const CeSetup& setup) { return CeWriter(setup).Write(); }

const char* CeRootName(uint16_t root) {
  static const char* const kRoots[] = {"", "HKCR", "HKCU", "HKLM", "HKU"};
  return root < 5 ? kRoots[root] : "";
}

std::string CeArchitectureName(uint32_t architecture) {
  static const std::map<uint32_t, const char*> kNames = {{0, "none"},
                                                         {103, "SHx SH3"},
                                                         {104, "SHx SH4"},
                                                         {386, "Intel 386"},
                                                         {486, "Intel 486"},
                                                         {586, "Intel 586"},
                                                         {601, "PowerPC 601"},
                                                         {603, "PowerPC 603"},
                                                         {604, "PowerPC 604"},
                                                         {620, "PowerPC 620"},
                                                         {821, "Motorola 821"},
                                                         {1824, "ARM 720"},
                                                         {2080, "ARM 820"},
                                                         {2336, "ARM 920"},
                                                         {2577, "StrongARM"},
                                                         {4000, "MIPS R4000"},
                                                         {10003, "Hitachi SH3"},
                                                         {10004, "Hitachi SH3E"},
                                                         {10005, "Hitachi SH4"},
                                                         {21064, "Alpha"},
                                                         {70001, "ARM 7TDMI"}};
  const auto found = kNames.find(architecture);
  return found == kNames.end() ? "unknown" : found->second;
}

static std::string VersionText(const CeVersion& v) { return Num(v.major) + "." + Num(v.minor); }

std::string CeVersionRange(const CeSetup& s) {
  const bool least = s.leastVersion.major != 0 || s.leastVersion.minor != 0;
  const bool greatest = s.greatestVersion.major != 0 || s.greatestVersion.minor != 0;
  if (least && greatest) return VersionText(s.leastVersion) + " to " + VersionText(s.greatestVersion);
  if (least) return VersionText(s.leastVersion) + " and later";
  if (greatest) return "up to " + VersionText(s.greatestVersion);
  return "any";
}

bool RefusesSmartphone(const CeSetup& s) {
  for (std::string name : s.unsupported) {
    for (char& ch : name)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    if (name == "smartphone") return true;
  }
  return false;
}
