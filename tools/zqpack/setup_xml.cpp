#include "setup_xml.h"

#include <string.h>
#include <tinyxml2.h>

#include <stdexcept>

using tinyxml2::XMLElement;

namespace {

// A malformed element: what() says which, and on which line.
class Malformed : public std::runtime_error {
 public:
  Malformed(const XMLElement* e, const std::string& what)
      : std::runtime_error(what + " on line " + std::to_string(e->GetLineNum())) {}
};

bool Is(const XMLElement* e, const char* name) { return strcmp(e->Name(), name) == 0; }

// A required attribute.
std::string Attribute(const XMLElement* e, const char* name) {
  const char* value = e->Attribute(name);
  if (value == nullptr) throw Malformed(e, std::string("<") + e->Name() + "> without its " + name + " attribute");
  return value;
}

std::string Optional(const XMLElement* e, const char* name) {
  const char* value = e->Attribute(name);
  return value != nullptr ? value : "";
}

// The child elements of parent that are <name>.
template <typename Visit>
void Each(const XMLElement* parent, const char* name, Visit visit) {
  for (const XMLElement* e = parent->FirstChildElement(name); e != nullptr; e = e->NextSiblingElement(name)) visit(e);
}

void ReadInstall(const XMLElement* install, SetupXml* xml) {
  Each(install, "parm",
       [&](const XMLElement* p) { xml->install.emplace_back(Attribute(p, "name"), Optional(p, "value")); });
}

// An item of a folder: a file (Extract) or a shortcut (Shortcut); both carry
// a Source parm.
void ReadItem(const std::string& folder, const XMLElement* item, SetupXml* xml) {
  const std::string name = Attribute(item, "type");
  if (name == "MakeDir") return;
  Each(item, "characteristic", [&](const XMLElement* action) {
    const std::string type = Attribute(action, "type");
    if (type != "Extract" && type != "Shortcut") return;
    std::string source;
    std::vector<std::string> flags;
    bool sourced = false;
    Each(action, "parm", [&](const XMLElement* p) {
      const std::string parm = Attribute(p, "name");
      if (parm == "Source") {
        source = Attribute(p, "value");
        sourced = true;
      } else if (p->Attribute("value") == nullptr) {
        flags.push_back(parm);
      }
    });
    if (!sourced) throw Malformed(action, "<characteristic type=\"" + type + "\"> of " + name + " without a Source");
    if (type == "Extract")
      xml->files.push_back({folder, name, source, flags});
    else
      xml->shortcuts.push_back({folder, name, source});
  });
}

void ReadFileOperation(const XMLElement* operations, SetupXml* xml) {
  Each(operations, "characteristic", [&](const XMLElement* folder) {
    xml->folders.push_back(Attribute(folder, "type"));
    Each(folder, "characteristic", [&](const XMLElement* item) { ReadItem(xml->folders.back(), item, xml); });
  });
}

void ReadRegistry(const XMLElement* registry, SetupXml* xml) {
  Each(registry, "characteristic", [&](const XMLElement* key) {
    xml->keys.push_back({Attribute(key, "type"), {}});
    Each(key, "parm", [&](const XMLElement* p) {
      xml->keys.back().values.push_back({Attribute(p, "name"), Optional(p, "value"), Optional(p, "datatype"),
                                         Optional(p, "translation") == "install"});
    });
  });
}

}  // namespace

std::string SetupXml::Install(const std::string& name) const {
  for (const auto& [key, value] : install)
    if (key == name) return value;
  return "";
}

bool ReadSetupXml(const std::string& text, SetupXml* xml, std::string* reason) {
  tinyxml2::XMLDocument doc;
  if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
    *reason = std::string("not well-formed XML: ") + doc.ErrorName() + " on line " + std::to_string(doc.ErrorLineNum());
    return false;
  }
  const XMLElement* root = doc.RootElement();
  if (root == nullptr || !Is(root, "wap-provisioningdoc")) {
    *reason =
        std::string("its root element is <") + (root != nullptr ? root->Name() : "") + ">, not <wap-provisioningdoc>";
    return false;
  }
  SetupXml read;
  try {
    Each(root, "characteristic", [&](const XMLElement* c) {
      const std::string type = Attribute(c, "type");
      if (type == "Install") ReadInstall(c, &read);
      if (type == "FileOperation") ReadFileOperation(c, &read);
      if (type == "Registry") ReadRegistry(c, &read);
    });
  } catch (const Malformed& e) {
    *reason = e.what();
    return false;
  }
  *xml = std::move(read);
  return true;
}
