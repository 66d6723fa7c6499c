// Setup.ini as the program reads it through GetPrivateProfileStringA: section
// and key names without regard to letter case, blanks around '=' and at the
// ends of a value dropped, one pair of matching quotes around a value
// dropped, "NO" for whatever is missing, values cut to their buffer.
#pragma once
#include <stddef.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/common/helpers.h"

class IniFile {
 public:
  static IniFile Load(const std::string& path);  // ZqError when unreadable
  static IniFile Parse(const std::string& text);

  // The value of key in the first section of that name, as stored (quotes
  // removed, not yet cut); nullopt when that section does not hold the key.
  // Lines without '=' are no keys: the profile reader gives the default.
  std::optional<std::string> Find(const std::string& section, const std::string& key) const;
  bool HasSection(const std::string& section) const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
  };
  const Section* FindSection(const std::string& name) const;

  std::vector<Section> sections_;
};

// One value as ReadSetupValue hands it to the program.
struct Setting {
  bool present = false;  // false: the program gets "NO"
  std::string value;     // what the program gets: cut to capacity - 1 characters
  size_t storedLength = 0;

  bool cut() const { return present && storedLength > value.size(); }
};

Setting ReadSetting(const IniFile& ini, const std::string& section, const std::string& key, size_t capacity);

using zq::EqualIgnoringCase;
