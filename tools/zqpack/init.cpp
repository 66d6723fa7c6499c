#include "init.h"

#include <stdint.h>

#include <filesystem>

#include "bitmap.h"
#include "errors.h"
#include "fileio.h"
#include "payload/filename.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kExampleVersion = "1.00";
constexpr int kBodyWidthPx = 164;  // leaves the Welcome texts uncovered
constexpr int kBodyHeightPx = 314;
constexpr int kHeadSidePx = 55;  // the banner's height
constexpr size_t kCabStemMaxChars = 8;
constexpr size_t kInstallDirectoryMaxChars = 32;
constexpr const char* kCabNote = "PUT-CAB-FILES-HERE.txt";

bool IsLetterOrDigit(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// name's letters and digits, at most maxChars; fallback when none; with a
// prefix when the result would be a device name such as CON.
std::string Stem(const std::string& name, size_t maxChars, const std::string& fallback, const std::string& suffix) {
  std::string stem;
  for (char c : name)
    if (IsLetterOrDigit(c) && stem.size() < maxChars) stem += c;
  if (stem.empty()) stem = fallback;
  if (!IsPlainFileName((stem + suffix).c_str())) stem = "ZQ" + stem;
  return stem + suffix;
}

std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Replaces every @NAME@ of text by its value, in one pass: a value that
// holds such a name stays as it is.
std::string Fill(const std::string& text, const std::vector<std::pair<std::string, std::string>>& values) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    bool replaced = false;
    for (const auto& [name, value] : values) {
      if (text.compare(at, name.size(), name) == 0) {
        out += value;
        at += name.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[at++];
  }
  return out;
}

// Comments hold no '=': a line "; text = x" is no key for the program's
// reader, but other INI readers may disagree.
const char* const kSetupIniTemplate =
    "; Setup.ini of @PRODUCT@: the settings of a ZQ Installer setup, written by\n"
    "; 'zqpack init'.  setup-ini.md describes every key (docs/ in the sources,\n"
    "; /usr/share/doc/zqpack/ when zqpack is installed from its package).\n"
    "; Lines that begin with a semicolon are comments.  A missing key makes the\n"
    "; program use the text NO in its place; 'zqpack check' warns of that.\n"
    ";   zqpack check Setup.ini              what the program would do wrong\n"
    ";   zqpack build Setup.ini -o Setup.exe the setup\n"
    "\n"
    "[CEAppManager]\n"
    "; Read by the Windows CE Application Manager only.\n"
    "Version = 1.0\n"
    "; The name of the section below that lists the CAB files (255 characters).\n"
    "Component = @PRODUCT@\n"
    "\n"
    "[@PRODUCT@]\n"
    "; A one-line description, for the Application Manager only.\n"
    "Description = @PRODUCT@ for Smartphone 2002\n"
    "; The CAB files, files in this folder, separated by commas with no blank\n"
    "; behind a comma (511 characters in all).  The program moves them beside\n"
    "; CeAppMgr.exe, which installs them onto the phone.\n"
    "CabFiles = @CAB@\n"
    "\n"
    "[ZQINSTALLER]\n"
    "; The product's name and version, shown in the wizard's title and on the\n"
    "; Welcome page (255 characters each; the title holds 228 of both together).\n"
    "ProductName = @PRODUCT@\n"
    "ProductVersion = @VERSION@\n"
    "; The folder beside CeAppMgr.exe that receives the CAB files and Setup.ini:\n"
    "; one folder name (255 characters).\n"
    "InstallDirectory = @FOLDER@\n"
    "; The license on the License page: a name ending in rtf is read as rich\n"
    "; text, any other as plain text (255 characters).\n"
    "LicenseFile = license.rtf\n"
    "; The License page's banner picture: a BMP file 55 pixels high and at most\n"
    "; 500 wide, shown at the banner's right edge (255 characters).\n"
    "HeadBitmap = head.bmp\n"
    "; The Welcome page's picture at its left edge: a BMP file of at most\n"
    "; 500 x 314 pixels; 164 pixels wide leaves the texts clear (511 characters).\n"
    "BodyBitmap = body.bmp\n";

const char* const kLicenseTemplate =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\n"
    "\\f0\\fs16{\\b @PRODUCT@ License Agreement}\\par\n"
    "\\par\n"
    "Replace this text with the license of @PRODUCT@ before you ship the setup. The License page shows this file "
    "as rich text because its name ends in rtf; WordPad and most word processors save RTF.\\par\n"
    "\\par\n"
    "The user must accept the license before Next installs the product.\\par\n"
    "}\n";

std::string ExampleSetupIni(const std::string& product) {
  return Crlf(Fill(kSetupIniTemplate, {{"@PRODUCT@", product},
                                       {"@CAB@", ExampleCabName(product)},
                                       {"@VERSION@", kExampleVersion},
                                       {"@FOLDER@", ExampleInstallDirectory(product)}}));
}

std::string ExampleLicense(const std::string& product) {
  // The product name is printable ASCII; only \ { } mean something in RTF.
  std::string escaped;
  for (char c : product) {
    if (c == '\\' || c == '{' || c == '}') escaped += '\\';
    escaped += c;
  }
  return Crlf(Fill(kLicenseTemplate, {{"@PRODUCT@", escaped}}));
}

const char* const kCabNoteTemplate =
    "The CAB file @CAB@ goes here, beside Setup.ini.\n"
    "\n"
    "It is the cabinet that the Windows CE Application Manager installs onto\n"
    "the phone.  zqpack makes it from @INF@, a CAB Wizard .inf that lists\n"
    "the files to install (here readme.txt, an example to replace with your\n"
    "application's files), their folders, registry values and shortcuts:\n"
    "  zqpack cab @INF@\n"
    "docs/cab-inf.md (/usr/share/doc/zqpack/ in the package) describes every\n"
    "section and key it reads.  A cabinet made with your platform SDK's CAB\n"
    "tools works too.  Another name works as well: change CabFiles in\n"
    "Setup.ini to match.  Several CAB files go into CabFiles separated by\n"
    "commas, with no blank behind a comma.\n"
    "\n"
    "The Application Manager installs only a Windows CE install cabinet: one\n"
    "that holds its setup information, a file whose name ends in .000 (which\n"
    "names the application, its provider, the processor and Windows CE\n"
    "versions it runs on and the folder of each installed file) and a\n"
    "_setup.xml provisioning document (Smartphone 2002 and 2003 read only\n"
    "that one).  Its other files are numbered .001, .002, ...  An ordinary\n"
    "cabinet made from your files alone installs nothing.\n"
    "\n"
    "Then:\n"
    "  zqpack check -v Setup.ini             reports what is still wrong and\n"
    "                                        what each CAB file installs\n"
    "  zqpack build Setup.ini -o Setup.exe   packs the setup\n"
    "  zqpack run Setup.exe                  runs it under Wine\n"
    "\n"
    "This note is not packed: a build takes only the files that Setup.ini names.\n";

// The .inf is read as Windows INF: values in quotes keep their ';' and ','
// and a percent sign is written %%.
const char* const kInfTemplate =
    "; @INF@: what 'zqpack cab @INF@' puts into @CAB@, the Windows CE\n"
    "; install cabinet of @PRODUCT@ that Setup.ini names.  A CAB Wizard .inf;\n"
    "; cab-inf.md describes every section and key that zqpack cab reads.\n"
    "; To install your application, list each of its files in [Files.App] and\n"
    "; in [SourceDisksFiles] instead of the example readme.txt.\n"
    "\n"
    "[Version]\n"
    "Signature = \"$Windows NT$\"\n"
    "; Your name or your company's, shown with the application (30 characters).\n"
    "Provider = \"Your Company\"\n"
    "CESignature = \"$Windows CE$\"\n"
    "\n"
    "[CEStrings]\n"
    "; The application's name on the phone (40 characters) and the folder it is\n"
    "; installed into: %CE1% is the phone's \\Program Files.\n"
    "AppName = \"@APPNAME@\"\n"
    "InstallDir = %CE1%\\@FOLDER@\n"
    "\n"
    "[CEDevice]\n"
    "; Smartphone 2002 is Windows CE 3.0.\n"
    "VersionMin = 3.0\n"
    "\n"
    "[DefaultInstall]\n"
    "CopyFiles = Files.App\n"
    "\n"
    "[SourceDisksNames]\n"
    "; Disk 1: the folder of this .inf.\n"
    "1 = ,\"Files\",,.\n"
    "\n"
    "[SourceDisksFiles]\n"
    "readme.txt = 1\n"
    "\n"
    "[DestinationDirs]\n"
    "Files.App = 0,%InstallDir%\n"
    "\n"
    "[Files.App]\n"
    "readme.txt\n";

const char* const kExampleFileTemplate =
    "@PRODUCT@: an example file, installed into \\Program Files\\@FOLDER@ on the\n"
    "phone.  Replace it with your application's files in @INF@.\n";

// A vertical gradient from night blue to teal with a white phone outline;
// colour 255 is white, colours 0 to 254 the gradient.
std::vector<uint8_t> ExampleBitmap(int widthPx, int heightPx, bool phone) {
  std::vector<uint32_t> palette(256);
  const uint32_t top = 0x0D2B63, bottom = 0x169B96;
  for (uint32_t i = 0; i < 255; ++i) {
    uint32_t colour = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const uint32_t a = (top >> shift) & 0xFF, b = (bottom >> shift) & 0xFF;
      colour |= ((a * (254 - i) + b * i) / 254) << shift;
    }
    palette[i] = colour;
  }
  palette[255] = 0xFFFFFF;
  std::vector<uint8_t> pixels(static_cast<size_t>(widthPx) * heightPx);
  const int left = widthPx * 3 / 10, right = widthPx * 7 / 10, upper = heightPx / 3, lower = heightPx * 4 / 5;
  for (int y = 0; y < heightPx; ++y) {
    for (int x = 0; x < widthPx; ++x) {
      const bool edge = phone && x >= left && x <= right && y >= upper && y <= lower &&
                        (x - left < 2 || right - x < 2 || y - upper < 2 || lower - y < 2);
      pixels[static_cast<size_t>(y) * widthPx + x] = edge ? 255 : static_cast<uint8_t>(y * 254 / (heightPx - 1));
    }
  }
  return EncodeBitmap8(widthPx, heightPx, palette, pixels);
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace

std::string ProductNameProblem(const std::string& name) {
  if (name.empty()) return "the product name is empty";
  if (name.front() == ' ' || name.back() == ' ') return "the product name begins or ends with a blank";
  if (name.size() > kInitProductMaxChars)
    return "the product name has " + std::to_string(name.size()) + " characters; the wizard title holds " +
           std::to_string(kInitProductMaxChars) + " of it";
  for (char c : name) {
    if (c < 0x20 || c > 0x7E)
      return "the product name holds a character other than printable ASCII (Setup.ini is 8-bit ANSI: write "
             "such names into it by hand)";
    if (c == '[' || c == ']' || c == '"') return std::string("the product name holds ") + c;
  }
  return "";
}

std::string ExampleCabName(const std::string& product) {
  std::string name = Stem(product, kCabStemMaxChars, "PRODUCT", ".CAB");
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

std::string ExampleInstallDirectory(const std::string& product) {
  return Stem(product, kInstallDirectoryMaxChars, "Product", "");
}

std::string ExampleInfName(const std::string& product) {
  const std::string cab = ExampleCabName(product);
  return cab.substr(0, cab.size() - 4) + ".inf";
}

std::vector<std::string> WriteExampleProduct(const std::string& dir, const std::string& product) {
  std::string appName;  // a percent sign is %% in the .inf
  for (char c : product) appName += c == '%' ? "%%" : std::string(1, c);
  const std::vector<std::pair<std::string, std::string>> values = {{"@PRODUCT@", product},
                                                                   {"@APPNAME@", appName},
                                                                   {"@CAB@", ExampleCabName(product)},
                                                                   {"@INF@", ExampleInfName(product)},
                                                                   {"@FOLDER@", ExampleInstallDirectory(product)}};
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"Setup.ini", Bytes(ExampleSetupIni(product))},
      {"license.rtf", Bytes(ExampleLicense(product))},
      {"body.bmp", ExampleBitmap(kBodyWidthPx, kBodyHeightPx, true)},
      {"head.bmp", ExampleBitmap(kHeadSidePx, kHeadSidePx, false)},
      {kCabNote, Bytes(Crlf(Fill(kCabNoteTemplate, values)))},
      {ExampleInfName(product), Bytes(Crlf(Fill(kInfTemplate, values)))},
      {"readme.txt", Bytes(Crlf(Fill(kExampleFileTemplate, values)))},
  };
  std::error_code ec;
  for (const auto& file : files) {
    const fs::path path = fs::path(dir) / file.first;
    if (fs::symlink_status(path, ec).type() != fs::file_type::not_found)
      throw ZqError(path.string() + " exists already; zqpack init never replaces a file, so it wrote nothing");
  }
  fs::create_directories(dir, ec);
  if (ec) throw ZqError("cannot create " + dir + ": " + ec.message());
  std::vector<std::string> written;
  try {
    for (const auto& file : files) {
      const std::string path = (fs::path(dir) / file.first).string();
      File out = File::CreateNew(path);
      written.push_back(path);
      out.Write(file.second.data(), file.second.size());
      out.Close();
    }
  } catch (const ZqError&) {
    for (const std::string& path : written) fs::remove(path, ec);  // all or nothing
    throw;
  }
  return written;
}
