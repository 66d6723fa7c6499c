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
  std::map<uint16_t, std::string> dirs;
  Cursor dirsAt(bytes, offsets[kDirs], "DIRS");
  for (uint16_t i = 0; i < counts[kDirs]; ++i) {
    const uint16_t id = dirsAt.Le16();
    const uint16_t length = dirsAt.Le16();
    if (length % 2 != 0 || length == 0) throw Damage("DIRS entry " + Num(id) + ": a length of " + Num(length));
    const uint8_t* ids = dirsAt.Take(length);
    std::string path;
    for (uint16_t k = 0; k + 2 < length; k += 2) {
      const auto found = strings.find(GetLe16(ids + k));
      if (found == strings.end())
        throw Damage("DIRS entry " + Num(id) + " names string " + Num(GetLe16(ids + k)) + ", which STRINGS lacks");
      path += (path.empty() ? "" : "\\") + found->second;
    }
    if (GetLe16(ids + length - 2) != 0) throw Damage("DIRS entry " + Num(id) + " does not end with 0");
    dirs[id] = path;
  }
  Cursor filesAt(bytes, offsets[kFiles], "FILES");
  for (uint16_t i = 0; i < counts[kFiles]; ++i) {
    CeFile file;
    file.number = filesAt.Le16();
    const uint16_t dir = filesAt.Le16();
    filesAt.Take(2 + 4);  // unknown, flags
    file.name = filesAt.Text(filesAt.Le16());
    const auto found = dirs.find(dir);
    if (found == dirs.end())
      throw Damage("FILES entry " + Num(file.number) + " names folder " + Num(dir) + ", which DIRS lacks");
    file.folder = found->second;
    s.files.push_back(file);
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
