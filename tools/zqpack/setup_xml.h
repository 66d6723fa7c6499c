// The other form of a Windows CE install cabinet's setup information: the
// cabinet's "_setup.xml", a provisioning document that Smartphone 2002 and
// 2003 require (they never read the ".000" file).  Its root
// <wap-provisioningdoc> holds <characteristic type="..."> elements:
//   Install        <parm name value> pairs: AppName, OSVersionMin/Max,
//                  BuildNumberMin/Max, InstallDir, NumFiles, ...
//   FileOperation  one characteristic per destination folder (its type the
//                  folder, "%InstallDir%" or "%CE1%\Sub"), holding one per
//                  item, typed with the item's name on the device:
//                  <characteristic type="Extract"> with a Source parm (the
//                  cabinet's member) and one value-less parm per copy flag,
//                  or, for NAME.lnk, <characteristic type="Shortcut"> with a
//                  Source parm (the shortcut's target).
//   Registry       one characteristic per key ("HKLM\Software\..."), each
//                  value a <parm name value datatype [translation]>.
// Read from text alone, so that the fuzz target and the writer's tests reach
// it without a cabinet.
#pragma once
#include <string>
#include <utility>
#include <vector>

struct SetupXmlValue {
  std::string name, value, datatype;  // datatype: string, integer, multiplestring, binary
  bool translated = false;            // translation="install": the device expands %CEn% / %InstallDir%
};

struct SetupXmlKey {
  std::string path;  // "HKLM\Software\Acme"
  std::vector<SetupXmlValue> values;
};

struct SetupXmlFile {
  std::string folder, name, source;  // source: the cabinet's member that becomes folder\name
  std::vector<std::string> flags;    // the value-less parms ("WarnIfSkip", "NoDateCheck", ...) in order
};

struct SetupXmlShortcut {
  std::string folder, name, target;  // name ends in ".lnk"; target as written ("%InstallDir%\app.exe")
};

struct SetupXml {
  std::vector<std::pair<std::string, std::string>> install;  // Install parms in document order (name, value)
  std::vector<std::string> folders;                          // FileOperation's folders in order
  std::vector<SetupXmlFile> files;
  std::vector<SetupXmlShortcut> shortcuts;
  std::vector<SetupXmlKey> keys;
  // The value of the first Install parm of that name, or "".
  std::string Install(const std::string& name) const;
};

// On success fills xml; else returns false with what is wrong in reason
// (tinyxml2's error and its line, or the element that is malformed and its
// line).  Elements other than characteristic and parm are skipped.
bool ReadSetupXml(const std::string& text, SetupXml* xml, std::string* reason);
