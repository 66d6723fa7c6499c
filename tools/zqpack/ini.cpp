#include "ini.h"

#include <algorithm>

#include "errors.h"
#include "fileio.h"
#include "format/messages.h"

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

static std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

IniFile IniFile::Load(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  return Parse(std::string(bytes.begin(), bytes.end()));
}

IniFile IniFile::Parse(const std::string& text) {
  IniFile ini;
  ini.sections_.push_back(Section{});  // keys in front of the first header belong to no section
  size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      // The name runs to the last ']'; a header without one is skipped.
      const size_t close = line.rfind(']');
      if (close != std::string::npos) ini.sections_.push_back(Section{line.substr(1, close - 1), {}});
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
    ini.sections_.back().keys.emplace_back(Trim(line.substr(0, equals)), value);
  }
  return ini;
}

const IniFile::Section* IniFile::FindSection(const std::string& name) const {
  for (size_t i = 1; i < sections_.size(); ++i)
    if (EqualIgnoringCase(sections_[i].name, name)) return &sections_[i];
  return nullptr;
}

bool IniFile::HasSection(const std::string& section) const { return FindSection(section) != nullptr; }

std::optional<std::string> IniFile::Find(const std::string& section, const std::string& key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return std::nullopt;
  for (const auto& [name, value] : s->keys)
    if (EqualIgnoringCase(name, key)) return value;
  return std::nullopt;
}

Setting ReadSetting(const IniFile& ini, const std::string& section, const std::string& key, size_t capacity) {
  Setting setting;
  const std::optional<std::string> stored = ini.Find(section, key);
  setting.present = stored.has_value();
  setting.value = stored ? *stored : std::string(Texts[TXT_NO]);
  // The program receives each value as a C string: a zero byte ends it.
  setting.value.resize(std::min(setting.value.size(), setting.value.find('\0')));
  setting.storedLength = setting.value.size();
  if (setting.value.size() > capacity - 1) setting.value.resize(capacity - 1);
  return setting;
}
