#include "setup_xml_writer.h"

#include <stdint.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "bytes.h"

namespace {

// A text of the plan (Windows-1252) as an XML attribute value.
std::string Attribute(const std::string& ansi) {
  std::string out;
  for (char c : Windows1252ToUtf8(ansi)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Parm(const std::string& name, const std::string& value, bool translate = false) {
  return "<parm name=\"" + Attribute(name) + "\" value=\"" + value + "\"" +
         (translate ? " translation=\"install\"" : "") + " />\n";
}

std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    const uint32_t n = bytes[i] << 16 | (left > 1 ? bytes[i + 1] << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
    for (size_t k = 0; k < 4; ++k) out += k <= left ? kDigits[n >> (18 - 6 * k) & 0x3F] : '=';
  }
  return out;
}

// A registry value's parm: the value as the document writes it and its datatype.
std::string RegistryParm(const CeRegValue& v) {
  const char* const kEnd = "\xEF\x80\x80";  // U+F000, after each string of a multi-string and at its end
  const std::string text(v.data.begin(), v.data.end());
  std::string value, type = "string";
  switch (v.type & kCeRegTypeMask) {
    case kCeRegDword:
      value = std::to_string(v.data.size() == 4 ? GetLe32(v.data.data()) : 0), type = "integer";
      break;
    case kCeRegBinary:
      value = Base64(v.data), type = "binary";
      break;
    case kCeRegMultiString:
      for (size_t at = 0; at < text.size() && text[at] != 0; at = text.find('\0', at) + 1)
        value += Attribute(text.c_str() + at) + kEnd;
      value += kEnd, type = "multiplestring";
      break;
    default:
      value = Attribute(text.c_str());
  }
  return "<parm name=\"" + Attribute(v.name) + "\" value=\"" + value + "\" datatype=\"" + type + "\"" +
         (v.substitute ? " translation=\"install\"" : "") + " />\n";
}

std::string Open(const std::string& type, bool translate = false) {
  return "<characteristic type=\"" + type + "\"" + (translate ? " translation=\"install\"" : "") + ">\n";
}

const char* const kClose = "</characteristic>\n";

class XmlWriter {
 public:
  explicit XmlWriter(const CabPlan& plan) : plan_(plan), s_(plan.setup) {}

  std::string Write() {
    std::vector<std::string> folders;  // with their items, in the order first named
    std::vector<std::string> items;
    auto item = [&](const std::string& folder, const std::string& text) {
      const size_t at = std::find(folders.begin(), folders.end(), folder) - folders.begin();
      if (at == folders.size()) folders.push_back(folder), items.push_back("");
      items[at] += text;
    };
    std::vector<std::string> dirs;
    for (const CeFile& f : s_.files) {
      if (std::find(dirs.begin(), dirs.end(), f.folder) == dirs.end()) dirs.push_back(f.folder);
      std::string extract =
          Open(Attribute(f.name), true) + Open("Extract") + Parm("Source", plan_.sources[&f - &s_.files[0]].member);
      for (const auto& [flag, name] : kFlagNames)
        if (f.flags & flag) extract += "<parm name=\"" + std::string(name) + "\" />\n";
      item(Folder(f.folder), extract + kClose + kClose);
    }
    for (const CeLink& l : s_.links) {
      if (!l.toFile && !l.targetFolder.empty() && std::find(dirs.begin(), dirs.end(), l.targetFolder) == dirs.end())
        dirs.push_back(l.targetFolder);
      const size_t slash = l.name.rfind('\\');
      std::string folder = l.base == 0 ? plan_.installDir : "%CE" + std::to_string(l.base) + "%";
      if (slash != std::string::npos) folder += "\\" + l.name.substr(0, slash);
      std::string target = l.toFile ? "" : l.targetFolder.empty() ? plan_.installDir : l.targetFolder;
      for (const CeFile& f : s_.files)
        if (l.toFile && f.number == l.target) target = f.folder + "\\" + f.name;
      item(Folder(folder), Open(Attribute(l.name.substr(slash + 1) + ".lnk"), true) + Open("Shortcut") +
                               Parm("Source", Attribute(Folder(target)), true) + kClose + kClose);
    }
    std::vector<std::pair<std::string, std::string>> keys;  // "HKLM\path", its parms
    for (const CeRegValue& v : s_.registry) {
      const std::string key = std::string(CeRootName(v.root)) + (v.key.empty() ? "" : "\\" + v.key);
      auto found = std::find_if(keys.begin(), keys.end(), [&](const auto& k) { return k.first == key; });
      if (found == keys.end()) found = keys.insert(keys.end(), {key, ""});
      found->second += RegistryParm(v);
    }

    std::string xml = "<wap-provisioningdoc>\n" + Open("Install") + Parm("InstallPhase", "install");
    if (plan_.hasSetupDll) xml += Parm("SetupDLL", "1");
    xml += Parm("OSVersionMin", Version(s_.leastVersion)) + Parm("OSVersionMax", Version(s_.greatestVersion)) +
           Parm("BuildNumberMin", std::to_string(static_cast<int32_t>(s_.leastBuild))) +
           Parm("BuildNumberMax", std::to_string(static_cast<int32_t>(s_.greatestBuild))) +
           Parm("AppName", Attribute((s_.provider + " " + s_.appName).substr(0, 70))) +
           Parm("InstallDir", Attribute(plan_.installDir), true) + Parm("NumDirs", std::to_string(dirs.size())) +
           Parm("NumFiles", std::to_string(s_.files.size())) + Parm("NumRegKeys", std::to_string(keys.size())) +
           Parm("NumRegVals", std::to_string(s_.registry.size())) +
           Parm("NumShortcuts", std::to_string(s_.links.size())) + kClose;
    xml += Open("FileOperation");
    for (size_t i = 0; i < folders.size(); ++i)
      xml += Open(Attribute(folders[i]), true) + "<characteristic type=\"MakeDir\" />\n" + items[i] + kClose;
    xml += kClose + Open("Registry");
    for (const auto& [key, parms] : keys) xml += Open(Attribute(key)) + parms + kClose;
    return xml + kClose + "</wap-provisioningdoc>\n";
  }

 private:
  static constexpr std::pair<uint32_t, const char*> kFlagNames[] = {{kCeWarnIfSkip, "WarnIfSkip"},
                                                                    {kCeNoSkip, "NoSkip"},
                                                                    {kCeNoOverwrite, "NoOverwrite"},
                                                                    {kCeReplaceOnly, "ReplaceOnly"},
                                                                    {kCeNoDateDialog, "NoDateDialog"},
                                                                    {kCeNoDateCheck, "NoDateCheck"},
                                                                    {kCeShared, "Shared"}};

  // The install folder is %InstallDir% in the document.
  std::string Folder(const std::string& path) const {
    if (path.compare(0, plan_.installDir.size(), plan_.installDir) == 0 &&
        (path.size() == plan_.installDir.size() || path[plan_.installDir.size()] == '\\'))
      return "%InstallDir%" + path.substr(plan_.installDir.size());
    return path;
  }
  static std::string Version(const CeVersion& v) { return std::to_string(v.major) + "." + std::to_string(v.minor); }

  const CabPlan& plan_;
  const CeSetup& s_;
};

}  // namespace

std::string WriteSetupXml(const CabPlan& plan) { return XmlWriter(plan).Write(); }
