// zqpack's command line: parses the arguments, calls the library and prints.
// Exit codes: 0 success, 1 the setup or the settings are bad or a file could
// not be read or written, 2 the command line is wrong.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "builtin_stub.h"
#include "cabinet_report.h"
#include "deflater.h"
#include "errors.h"
#include "fileio.h"
#include "ini.h"
#include "init.h"
#include "json_report.h"
#include "make_cab.h"
#include "payload/format.h"
#include "progress.h"
#include "run.h"
#include "settings_check.h"
#include "setup_reader.h"
#include "setup_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBad = 1;
constexpr int kExitUsage = 2;
constexpr int kDefaultLevel = 9;
constexpr const char* kDefaultArch = "i686";

const char* const kToolHelp =
    "Usage: zqpack [-q] COMMAND [ARGUMENTS]\n"
    "\n"
    "Builds, checks and takes apart ZQ Installer setups: the program proper\n"
    "(32768 bytes) followed by a payload of files.\n"
    "\n"
    "Commands:\n"
    "  build     pack a setup from a Setup.ini, or from a list of files\n"
    "  check     report what a Setup.ini and the files it names would do wrong\n"
    "  list      show a setup's header, checksums and entries\n"
    "  verify    run the program's own checks on a setup\n"
    "  extract   write a setup's files into a folder\n"
    "  init      write an example product to start from\n"
    "  cab       make a Windows CE install cabinet from a CAB Wizard .inf\n"
    "  run       run a setup under Wine and report what it did\n"
    "\n"
    "Options:\n"
    "  -q, --quiet   no progress bar and no summary lines\n"
    "  --help        this text; 'zqpack COMMAND --help' for a command\n"
    "  --version     the version and where the built-in programs proper come from\n"
    "\n"
    "Exit codes: 0 success; 1 the setup or the settings are bad, or a file could\n"
    "not be read or written; 2 the command line is wrong.\n"
    "\n"
    "setup-ini.md describes every key of Setup.ini, cab-inf.md every section\n"
    "and key of the .inf that 'zqpack cab' reads; they come with zqpack (in\n"
    "/usr/share/doc/zqpack/ from the Debian package, docs/ in the sources).\n";

const std::map<std::string, const char*> kCommandHelp = {
    {"build",
     "Usage: zqpack build Setup.ini -o SETUP [--arch i686|x86_64] [--stub STUB]\n"
     "                    [--level 0-9 | --best] [--force] [--sign COMMAND]\n"
     "       zqpack build [--stub STUB] -o SETUP [--level 0-9 | --best]\n"
     "                    [--sign COMMAND] [--raw] FILE...\n"
     "\n"
     "From a Setup.ini: checks it first (see 'zqpack check') and refuses on\n"
     "errors unless --force; then packs the license, the body bitmap, the head\n"
     "bitmap, Setup.ini and the CAB files, in that order, from the Setup.ini's\n"
     "folder.\n"
     "From files: packs each FILE under its base name, in the order given\n"
     "(--raw packs a lone .ini file as a file rather than reading it).\n"
     "\n"
     "  -o, --output SETUP  the setup to write; it appears only when complete\n"
     "  --stub STUB         the program proper, exactly 32768 bytes; by default\n"
     "                      the one built into zqpack for --arch (i686)\n"
     "  --arch ARCH         i686 (runs on every desktop Windows) or x86_64\n"
     "  --level N           zlib level, 0 (stored) to 9 (the default)\n"
     "  --best              the smallest stream (libdeflate's top level): slower,\n"
     "                      and it holds the files and their compressed copy in\n"
     "                      memory, about twice the files' size\n"
     "  --force             build even when the check found errors\n"
     "  --sign COMMAND      once the setup is complete, run COMMAND with %1\n"
     "                      replaced by its path (quote it yourself: \"%1\"), to\n"
     "                      sign it in place; then check the signed setup as\n"
     "                      'verify' does.  When the command fails, leaves no\n"
     "                      signature or breaks the setup, no setup is left.\n"
     "\n"
     "The same inputs always give the same bytes (before signing).\n"},
    {"check",
     "Usage: zqpack check Setup.ini [-v] [--json]\n"
     "\n"
     "Reads Setup.ini as the program will and reports, one line each, naming\n"
     "the file, the section and the key:\n"
     "  errors    a named file that is missing; an item or name that is not a\n"
     "            plain file name; a CabFiles item with a blank behind a comma;\n"
     "            a license that cannot be read, a bitmap that LoadImageA cannot\n"
     "            load; a CAB file that is not a cabinet, is cut short or holds\n"
     "            a damaged data block, or whose .000 file or _setup.xml is\n"
     "            damaged\n"
     "  warnings  a missing key and what the program does instead; a title or a\n"
     "            Welcome text too long for its buffer; a body bitmap over\n"
     "            500 x 314; a head bitmap not 55 pixels high or over 500 wide;\n"
     "            an InstallDirectory of more than one level; a value cut short;\n"
     "            a file named for two uses; a CAB file without Windows CE\n"
     "            setup information (a .000 file or _setup.xml), with a .000\n"
     "            file but no _setup.xml (no Smartphone installs it), whose\n"
     "            .000 file lists Smartphone as unsupported, whose .000 file\n"
     "            and numbered files disagree, or whose _setup.xml extracts a\n"
     "            file the cabinet does not hold\n"
     "Each line ends with the key's place in setup-ini.md.\n"
     "\n"
     "  -v, --verbose  also what each CAB file tells the Application Manager:\n"
     "                 application, provider, architecture, Windows CE\n"
     "                 versions, the platforms it refuses, the files it installs;\n"
     "                 from a _setup.xml, its Install parameters (AppName,\n"
     "                 OSVersionMin, ..., InstallDir) and the files it extracts\n"
     "  --json   one JSON document instead: \"findings\" (each with \"severity\",\n"
     "           \"section\", \"key\", \"text\", \"reference\"), the counts \"errors\"\n"
     "           and \"warnings\", the \"files\" a build would pack and the\n"
     "           \"cabinets\" (what --verbose shows)\n"
     "Exit code 1 when there are errors; warnings alone give 0.\n"},
    {"list",
     "Usage: zqpack list SETUP [--json]\n"
     "\n"
     "Shows the header fields, each checksum with its state, the Authenticode\n"
     "signature (where it lies), the program proper's exploit mitigations (ASLR\n"
     "with its relocation table, high-entropy VA, NX, no SEH, stack cookies\n"
     "where the image records them), the program's verdict, the entries (name,\n"
     "offset of the contents in the inflated data, size) and what each CAB file\n"
     "among them tells the Application Manager (see 'zqpack check --verbose').\n"
     "Exit code 1 when the program would refuse the setup.\n"
     "\n"
     "  --json   one JSON document instead: \"setup\", \"fileBytes\", \"header\"\n"
     "           (null when it could not be read; each checksum with \"stored\",\n"
     "           \"computed\" and \"state\": ok, wrong or not checked),\n"
     "           \"programProper\" (\"pe\", \"dllCharacteristics\", \"aslr\",\n"
     "           \"relocationBytes\", \"highEntropyVA\", \"nx\", \"noSEH\",\n"
     "           \"stackCookies\", each null where the image cannot say; \"text\"),\n"
     "           \"verdict\" (\"accepted\", \"stage\", the program's \"message\" or\n"
     "           null, \"reason\", \"entry\"), \"entries\" (\"index\", \"name\",\n"
     "           \"offset\", \"size\") and \"cabinets\" as in 'check --json';\n"
     "           'verify --json' writes the same document\n"},
    {"verify",
     "Usage: zqpack verify SETUP [--json]\n"
     "\n"
     "Runs the checks of the program proper in its order: the file's size, the\n"
     "signature, the three checksums, the inflation and the reader's limits on\n"
     "the table and the names.  On a failure prints the message the program's\n"
     "box would show on standard output and exits with 1; exits with 0 when the\n"
     "program would extract the setup, and then says whether it carries an\n"
     "Authenticode signature and where, and names the program proper's exploit\n"
     "mitigations as 'list' does.  The signature sits behind the payload,\n"
     "where the program never reads, and leaves every check unchanged.\n"
     "\n"
     "  --json   the document of 'zqpack list --json' instead; same exit codes\n"},
    {"extract",
     "Usage: zqpack extract SETUP [-C DIR]\n"
     "\n"
     "Checks SETUP as 'verify' does and writes its files into DIR (default: the\n"
     "current folder), created if needed.  A setup the program would refuse,\n"
     "for example one with an entry name that is not a plain file name, writes\n"
     "nothing; nothing is ever written outside DIR.  Blanks and dots at the end\n"
     "of a name are dropped, as Windows does.\n"},
    {"run",
     "Usage: zqpack run SETUP [--interactive] [--decline] [--screenshots DIR]\n"
     "                  [--fresh] [--appmgr-dir DIR] [--json]\n"
     "\n"
     "Runs the setup under Wine with a stand-in Windows CE Application Manager\n"
     "that records what it receives, and reports what the setup showed (its\n"
     "error box and exit code, or the wizard's title and each view) and the\n"
     "hand-off: the Application Manager's command line and each file delivered\n"
     "into the install folder, compared byte for byte with what the setup packs.\n"
     "First it prints what 'zqpack check' finds wrong with the setup's CAB files\n"
     "(a cabinet no Smartphone installs runs just as well here).\n"
     "Without --interactive it runs on a private Xvfb display and works the\n"
     "wizard as a user would: Welcome, Next, License, Cancel (the question\n"
     "answered No), accept, Next.  Wine runs in a private prefix under\n"
     "$XDG_CACHE_HOME/zqpack (~/.cache/zqpack), made on the first run and reused;\n"
     "runs at once each take their own.  Your own Wine prefix is never used.\n"
     "\n"
     "  --interactive      on your display ($DISPLAY): you click through it\n"
     "  --decline          Cancel in the License view and answer Yes instead\n"
     "  --screenshots DIR  a PNG of each view: welcome.png, license.png,\n"
     "                     cancel-question.png (needs ImageMagick's import)\n"
     "  --fresh            make the Wine prefix anew\n"
     "  --appmgr-dir DIR   install the stand-in in DIR instead of a fresh folder\n"
     "  --json             one JSON document instead of the report\n"
     "\n"
     "Needs Wine and Xvfb (Debian: wine, wine64, xvfb; wine32:i386 for i686\n"
     "setups).  Exit code 0 when the hand-off was complete (with --decline: when\n"
     "Cancel ended the setup cleanly: Workspace gone, nothing delivered), 1\n"
     "otherwise, with the reason.\n"},
    {"cab",
     "Usage: zqpack cab APP.inf [-o OUT] [--cpu TAG] [--compress] [--files DIR]...\n"
     "                  [--json]\n"
     "\n"
     "Makes one Windows CE install cabinet from a CAB Wizard .inf, on Linux:\n"
     "the setup information both as a .000 file (Pocket PC, Windows Mobile)\n"
     "and as _setup.xml (Smartphone 2002/2003, Windows Mobile), then the files,\n"
     "each named after its file name and numbered (NAME.001; the CESetupDLL as\n"
     "NAME.999).  Each keeps its source's modification time, never later than\n"
     "SOURCE_DATE_EPOCH when that is set: the same inputs give the same bytes.\n"
     "Source files are found below the .inf's folder by their [SourceDisksNames]\n"
     "path, without regard to case; a drive path or a missing one falls back to\n"
     "each --files DIR.  The cabinet is then read back as 'zqpack check' reads\n"
     "it and described as 'check -v' does.  A mistake in the .inf is reported\n"
     "with its file and line, and no cabinet is written; an existing OUT stays\n"
     "as it was.  cab-inf.md lists every section and key it reads.\n"
     "\n"
     "  -o, --output OUT  the cabinet; by default APP.CAB beside the .inf\n"
     "                    (APP.TAG.CAB with --cpu)\n"
     "  --cpu TAG         read the sections tagged .TAG ([CEDevice.TAG],\n"
     "                    [DefaultInstall.TAG], [SourceDisksNames.TAG],\n"
     "                    [SourceDisksFiles.TAG]) over the untagged ones\n"
     "  --compress        MSZIP instead of stored\n"
     "  --files DIR       another folder to look for source files in\n"
     "  --json            the cabinet's description as in 'check --json'\n"
     "\n"
     "zqpack.exe, the Windows build, does not make cabinets: use the Linux\n"
     "zqpack (or the SDK's CAB tool).\n"},
    {"init",
     "Usage: zqpack init DIR [--product NAME]\n"
     "\n"
     "Writes an example product into DIR (created if needed): Setup.ini with\n"
     "every key explained, license.rtf, body.bmp (164 x 314), head.bmp (55 x 55),\n"
     "a CAB Wizard .inf with one example file (readme.txt) that 'zqpack cab'\n"
     "makes the CAB file from, and PUT-CAB-FILES-HERE.txt.  Then 'zqpack cab',\n"
     "'zqpack check' and 'zqpack build' make the setup.\n"
     "Never replaces a file: when one of them exists, nothing is written.\n"
     "\n"
     "  --product NAME   the product's name (default \"My Product\"): printable\n"
     "                   ASCII without brackets or quotes, at most 224\n"
     "                   characters; the CAB file and the install folder are\n"
     "                   named after it\n"},
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class HelpRequested {};

struct OptionRule {
  const char* name;   // "--level"
  const char* alias;  // "-o", or nullptr
  bool takesValue;
};

struct Arguments {
  std::vector<std::string> positionals;
  std::map<std::string, std::string> values;
  std::set<std::string> flags;

  bool Has(const std::string& name) const { return values.count(name) != 0 || flags.count(name) != 0; }
  std::string Value(const std::string& name, const std::string& fallback = "") const {
    const auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
  }
};

// The options of every command include -q and --help.
Arguments Parse(const std::vector<std::string>& words, std::vector<OptionRule> rules) {
  rules.push_back({"--quiet", "-q", false});
  rules.push_back({"--help", "-h", false});
  Arguments args;
  bool optionsEnded = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      args.positionals.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = word, inlineValue;
    bool hasInlineValue = false;
    const size_t equals = word.find('=');
    if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name = word.substr(0, equals);
      inlineValue = word.substr(equals + 1);
      hasInlineValue = true;
    }
    const OptionRule* recipe = nullptr;
    for (const OptionRule& s : rules)
      if (name == s.name || (s.alias != nullptr && name == s.alias)) recipe = &s;
    if (recipe == nullptr) throw UsageError("unknown option '" + name + "'");
    if (std::string(recipe->name) == "--help") throw HelpRequested();
    if (args.Has(recipe->name)) throw UsageError(std::string(recipe->name) + " is given twice");
    if (!recipe->takesValue) {
      if (hasInlineValue) throw UsageError(std::string(recipe->name) + " takes no value");
      args.flags.insert(recipe->name);
      continue;
    }
    if (!hasInlineValue) {
      if (i + 1 >= words.size()) throw UsageError(std::string(recipe->name) + " needs a value");
      inlineValue = words[++i];
    }
    args.values[recipe->name] = inlineValue;
  }
  return args;
}

void ExpectPositionals(const Arguments& args, size_t count, const char* what) {
  if (args.positionals.size() < count) throw UsageError(std::string("missing ") + what);
  if (args.positionals.size() > count) throw UsageError("unexpected argument '" + args.positionals[count] + "'");
}

int ParseLevel(const Arguments& args) {
  if (args.Has("--best")) {
    if (args.Has("--level")) throw UsageError("--level and --best exclude each other");
    return kBestLevel;
  }
  const std::string text = args.Value("--level", std::to_string(kDefaultLevel));
  if (text.size() != 1 || text[0] < '0' || text[0] > '9') throw UsageError("--level takes 0 to 9, not '" + text + "'");
  return text[0] - '0';
}

std::string Files(size_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

bool EndsWithIni(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  return name.size() > 4 && EqualIgnoringCase(name.substr(name.size() - 4), ".ini");
}

std::vector<uint8_t> ChooseStub(const Arguments& args, bool quiet) {
  if (args.Has("--stub")) return ReadStub(args.Value("--stub"));
  const std::string arch = args.Value("--arch", kDefaultArch);
  std::string source;
  std::vector<uint8_t> stub = LoadDefaultStub(arch, &source);
  if (!quiet) fprintf(stderr, "zqpack: program proper for %s: %s\n", arch.c_str(), source.c_str());
  return stub;
}

void Summarise(bool quiet, const std::string& output, size_t files) {
  if (quiet) return;
  std::error_code ec;
  printf("%s: %s, %llu bytes\n", output.c_str(), Files(files).c_str(),
         static_cast<unsigned long long>(fs::file_size(output, ec)));
}

std::string WithPathFor1(const std::string& command, const std::string& path) {
  std::string text;
  for (size_t i = 0; i < command.size(); ++i) {
    if (command.compare(i, 2, "%1") == 0) {
      text += path;
      ++i;
    } else {
      text += command[i];
    }
  }
  return text;
}

// Signs the complete setup in place with the publisher's command, then reads
// it as the program would.  A setup the command failed on, left unsigned or
// broke is removed: an unsigned or refused setup never passes for a signed one.
void SignSetup(const std::string& command, const std::string& setup, bool quiet) {
  const std::string line = WithPathFor1(command, setup);
  if (!quiet) fprintf(stderr, "zqpack: signing: %s\n", line.c_str());
  fflush(stdout);
  const int status = std::system(line.c_str());
  std::string refusal;
  if (status != 0) {
    refusal = "the signing command failed: " + line;
  } else {
    SetupReader reader(setup, TemporaryDirectory());
    const SetupReport& report = reader.Check();
    if (!report.verdict.accepted()) {
      std::string text = report.verdict.text;
      std::replace(text.begin(), text.end(), '\n', ' ');
      refusal = "the signed setup is refused: " + text + " (" + report.verdict.reason + ")";
    } else if (!SignatureSitsBehindPayload(report))
      refusal = "the signed setup's Authenticode signature: " + DescribeSignature(report);
  }
  if (refusal.empty()) return;
  std::error_code ec;
  fs::remove(setup, ec);
  throw ZqError(refusal + "; no setup written");
}

int Build(const std::vector<std::string>& words, bool quiet) {
  const Arguments args = Parse(words, {{"--output", "-o", true},
                                       {"--stub", nullptr, true},
                                       {"--arch", nullptr, true},
                                       {"--level", nullptr, true},
                                       {"--best", nullptr, false},
                                       {"--force", nullptr, false},
                                       {"--raw", nullptr, false},
                                       {"--sign", nullptr, true}});
  quiet = quiet || args.Has("--quiet");
  if (!args.Has("--output")) throw UsageError("missing -o SETUP");
  if (args.positionals.empty()) throw UsageError("missing Setup.ini or the files to pack");
  if (args.Has("--arch") && args.Has("--stub")) throw UsageError("--arch and --stub exclude each other");
  if (args.Has("--arch") && !IsKnownArch(args.Value("--arch")))
    throw UsageError("--arch takes i686 or x86_64, not '" + args.Value("--arch") + "'");
  const int level = ParseLevel(args);
  const std::string output = args.Value("--output");
  const bool fromSettings = args.positionals.size() == 1 && EndsWithIni(args.positionals[0]) && !args.Has("--raw");
  if (args.Has("--force") && !fromSettings) throw UsageError("--force applies only to a build from a Setup.ini");

  std::vector<PackItem> items;
  if (fromSettings) {
    const std::string& ini = args.positionals[0];
    const SettingsCheck check = CheckSettings(ini);
    for (const Finding& f : check.findings) fprintf(stderr, "%s\n", FormatFinding(ini, f).c_str());
    const size_t errors = check.Count(Severity::Error);
    if (errors > 0 && !args.Has("--force"))
      throw ZqError(ini + ": " + std::to_string(errors) + (errors == 1 ? " error" : " errors") +
                    ", no setup written (--force builds anyway)");
    items = check.files;
  } else {
    for (const std::string& path : args.positionals) {
      const std::string name = fs::path(path).filename().string();
      for (const PackItem& item : items)
        if (EqualIgnoringCase(item.name, name))
          throw ZqError(path + ": a second file named " + name + " (the program keeps only the later one)");
      items.push_back(PackItem{name, path, {}});
    }
  }

  SetupWriter writer(ChooseStub(args, quiet), level);
  for (PackItem& item : items) writer.Add(std::move(item));
  {
    ProgressBar bar("zqpack: packing", quiet);
    writer.SetProgress(bar.Callback());
    writer.WriteFile(output);
    writer.SetProgress(nullptr);
  }
  if (args.Has("--sign")) SignSetup(args.Value("--sign"), output, quiet);
  Summarise(quiet, output, items.size());
  return kExitOk;
}

// --json: one document on stdout, no bar and no summary; the exit codes of
// the text output.
int PrintCheckJson(const std::string& ini, const SettingsCheck& check) {
  printf("%s", SettingsCheckJson(ini, check).c_str());
  return check.Count(Severity::Error) > 0 ? kExitBad : kExitOk;
}

int PrintSetupJson(const std::string& setup) {
  SetupReader reader(setup, TemporaryDirectory());
  const SetupReport& report = reader.Check();
  const std::vector<CabinetReport> cabs =
      report.verdict.accepted() ? InspectSetupCabinets(reader) : std::vector<CabinetReport>();
  printf("%s", SetupReportJson(setup, report, cabs).c_str());
  return report.verdict.accepted() ? kExitOk : kExitBad;
}

int Check(const std::vector<std::string>& words, bool quiet) {
  const Arguments args = Parse(words, {{"--json", nullptr, false}, {"--verbose", "-v", false}});
  quiet = quiet || args.Has("--quiet");
  ExpectPositionals(args, 1, "Setup.ini");
  const std::string& ini = args.positionals[0];
  const SettingsCheck check = CheckSettings(ini);
  if (args.Has("--json")) return PrintCheckJson(ini, check);
  for (const Finding& f : check.findings) printf("%s\n", FormatFinding(ini, f).c_str());
  if (args.Has("--verbose"))
    for (const CabinetReport& cab : check.cabinets) printf("%s", CabinetText(cab).c_str());
  const size_t errors = check.Count(Severity::Error);
  const size_t warnings = check.Count(Severity::Warning);
  if (!quiet)
    printf("%s: %zu %s, %zu %s\n", ini.c_str(), errors, errors == 1 ? "error" : "errors", warnings,
           warnings == 1 ? "warning" : "warnings");
  return errors > 0 ? kExitBad : kExitOk;
}

// A refused setup: the box's text on stdout, one line for people on stderr.
int Refuse(const std::string& setup, const Verdict& verdict) {
  printf("%s\n", verdict.text.c_str());
  fprintf(stderr, "zqpack: %s: the program refuses this setup: %s\n", setup.c_str(), verdict.reason.c_str());
  return kExitBad;
}

// The program's checks on a setup, with a bar while they run; the bar is
// gone before anything else is printed.
const SetupReport& RunChecks(SetupReader& reader, const char* label, bool quiet) {
  ProgressBar bar(label, quiet);
  reader.SetProgress(bar.Callback());
  const SetupReport& report = reader.Check();
  reader.SetProgress(nullptr);
  return report;
}

// The reading commands take one SETUP and the given options.
Arguments ParseReadCommand(const std::vector<std::string>& words, std::vector<OptionRule> rules, bool* quiet) {
  Arguments args = Parse(words, std::move(rules));
  *quiet = *quiet || args.Has("--quiet");
  ExpectPositionals(args, 1, "SETUP");
  return args;
}

int Verify(const std::vector<std::string>& words, bool quiet) {
  const Arguments args = ParseReadCommand(words, {{"--json", nullptr, false}}, &quiet);
  const std::string& setup = args.positionals[0];
  if (args.Has("--json")) return PrintSetupJson(setup);
  SetupReader reader(setup, TemporaryDirectory());
  const SetupReport& report = RunChecks(reader, "zqpack: verifying", quiet);
  if (!report.verdict.accepted()) return Refuse(setup, report.verdict);
  if (!quiet) {
    printf("%s: the program extracts it: %s, %llu bytes\n", setup.c_str(), Files(report.table.size()).c_str(),
           static_cast<unsigned long long>(report.inflatedBytes));
    printf("%s: Authenticode signature: %s\n", setup.c_str(), DescribeSignature(report).c_str());
    printf("%s: program proper: %s\n", setup.c_str(), DescribeMitigations(report.mitigations).c_str());
  }
  return kExitOk;
}

std::string ChecksumState(bool computed, uint32_t stored, uint32_t actual) {
  char text[64];
  if (!computed)
    snprintf(text, sizeof text, "0x%08X  not checked", static_cast<unsigned>(stored));
  else if (stored == actual)
    snprintf(text, sizeof text, "0x%08X  ok", static_cast<unsigned>(stored));
  else
    snprintf(text, sizeof text, "0x%08X  WRONG (computed 0x%08X)", static_cast<unsigned>(stored),
             static_cast<unsigned>(actual));
  return text;
}

int List(const std::vector<std::string>& words, bool quiet) {
  const Arguments args = ParseReadCommand(words, {{"--json", nullptr, false}}, &quiet);
  const std::string& setup = args.positionals[0];
  if (args.Has("--json")) return PrintSetupJson(setup);
  SetupReader reader(setup, TemporaryDirectory());
  const SetupReport& r = RunChecks(reader, "zqpack: reading", quiet);
  const PayloadHeader& h = r.header;
  printf("setup            %s, %llu bytes\n", setup.c_str(), static_cast<unsigned long long>(r.fileBytes));
  if (r.headerRead) {
    printf("signature        0x%08X  %s\n", static_cast<unsigned>(h.Signature),
           h.Signature == kPayloadSignature ? "ok" : "WRONG");
    printf("CompressedSize   %u\n", static_cast<unsigned>(h.CompressedSize));
    printf("InflatedSize     %u%s\n", static_cast<unsigned>(h.InflatedSize),
           r.inflated && r.inflatedBytes != h.InflatedSize
               ? ("  (the stream yields " + std::to_string(r.inflatedBytes) + ")").c_str()
               : "");
    printf("EntryCount       %d\n", static_cast<int>(h.EntryCount));
    if (r.stubChecksumOverEveryByte)
      printf("StubChecksum     0x%08X  ok over every byte (a program proper built before signable setups)\n",
             static_cast<unsigned>(h.StubChecksum));
    else
      printf("StubChecksum     %s\n", ChecksumState(r.stubChecked, h.StubChecksum, r.stubChecksum).c_str());
    printf("TableChecksum    %s\n", ChecksumState(r.tableRead, h.TableChecksum, r.tableChecksum).c_str());
    printf("DataChecksum     %s\n", ChecksumState(r.inflated, h.DataChecksum, r.dataChecksum).c_str());
    printf("Authenticode     %s\n", DescribeSignature(r).c_str());
    printf("program proper   %s\n", DescribeMitigations(r.mitigations).c_str());
  }
  if (r.verdict.accepted()) {
    printf("verdict          the program extracts it\n");
  } else {
    std::string oneLine = r.verdict.text;
    for (char& c : oneLine)
      if (c == '\n') c = ' ';
    printf("verdict          refused: %s (%s)\n", oneLine.c_str(), r.verdict.reason.c_str());
  }
  if (!r.table.empty()) {
    printf("\n%6s  %-32s %12s %12s\n", "#", "name", "offset", "size");
    for (size_t i = 0; i < r.table.size(); ++i) {
      const std::string name = i < r.names.size() ? r.names[i] : "?";
      printf("%6zu  %-32s %12u %12u\n", i + 1, name.c_str(), static_cast<unsigned>(r.table[i].DataOffset),
             static_cast<unsigned>(r.table[i].DataSize));
    }
  }
  if (r.verdict.accepted())
    for (const CabinetReport& cab : InspectSetupCabinets(reader)) printf("\n%s", CabinetText(cab).c_str());
  return r.verdict.accepted() ? kExitOk : kExitBad;
}

int Extract(const std::vector<std::string>& words, bool quiet) {
  const Arguments args = ParseReadCommand(words, {{"--directory", "-C", true}}, &quiet);
  const std::string& setup = args.positionals[0];
  const std::string dir = args.Value("--directory", ".");
  File::OpenForReading(setup);  // a missing setup is reported before DIR is made
  // The levels of DIR that this run makes, deepest last: removed again when
  // the setup is refused, so that a refusal leaves no trace.
  std::vector<fs::path> made;
  std::error_code ec;
  for (fs::path level = fs::absolute(dir); !level.empty() && !fs::exists(level, ec); level = level.parent_path())
    made.insert(made.begin(), level);
  fs::create_directories(dir, ec);
  if (ec) throw ZqError("cannot create " + dir + ": " + ec.message());
  SetupReader reader(setup, dir);
  const SetupReport& report = RunChecks(reader, "zqpack: extracting", quiet);
  if (!report.verdict.accepted()) {
    for (auto level = made.rbegin(); level != made.rend(); ++level) fs::remove(*level, ec);
    return Refuse(setup, report.verdict);
  }
  const std::vector<std::string> written = reader.ExtractTo(dir);
  if (!quiet) printf("%s: %s written into %s\n", setup.c_str(), Files(written.size()).c_str(), dir.c_str());
  return kExitOk;
}

int Init(const std::vector<std::string>& words, bool quiet) {
  const Arguments args = Parse(words, {{"--product", nullptr, true}});
  quiet = quiet || args.Has("--quiet");
  ExpectPositionals(args, 1, "DIR");
  const std::string product = args.Value("--product", "My Product");
  const std::string problem = ProductNameProblem(product);
  if (!problem.empty()) throw UsageError(problem);
  const std::vector<std::string> written = WriteExampleProduct(args.positionals[0], product);
  if (!quiet) {
    for (const std::string& path : written) printf("%s\n", path.c_str());
    printf("next: 'zqpack cab %s' makes %s, then 'zqpack check' and 'zqpack build' Setup.ini\n",
           (fs::path(args.positionals[0]) / ExampleInfName(product)).string().c_str(), ExampleCabName(product).c_str());
  }
  return kExitOk;
}

// Options that may be given more than once: --files DIR.
std::vector<std::string> TakeRepeated(std::vector<std::string>* words, const std::string& name) {
  std::vector<std::string> values, rest;
  for (size_t i = 0; i < words->size(); ++i) {
    const std::string& word = (*words)[i];
    if (word == name && i + 1 < words->size())
      values.push_back((*words)[++i]);
    else if (word.rfind(name + "=", 0) == 0)
      values.push_back(word.substr(name.size() + 1));
    else
      rest.push_back(word);
  }
  *words = rest;
  return values;
}

int Cab(const std::vector<std::string>& given, bool) {
  std::vector<std::string> words = given;
  CabOptions options;
  options.fileDirs = TakeRepeated(&words, "--files");
  const Arguments args = Parse(words, {{"--output", "-o", true},
                                       {"--cpu", nullptr, true},
                                       {"--compress", nullptr, false},
                                       {"--files", nullptr, true},
                                       {"--json", nullptr, false}});
  ExpectPositionals(args, 1, "APP.inf");
  options.inf = args.positionals[0];
  options.output = args.Value("--output");
  options.cpu = args.Value("--cpu");
  options.compress = args.Has("--compress");
  const CabResult result = MakeCab(options);
  for (const std::string& warning : result.warnings) fprintf(stderr, "%s\n", warning.c_str());
  for (const std::string& warning : result.report.info.warnings)
    fprintf(stderr, "zqpack cab: %s: warning: %s\n", result.report.name.c_str(), warning.c_str());
  if (args.Has("--json"))
    printf("%s\n",
           CabinetsJson({result.report})[0].dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  else
    printf("%s", CabinetText(result.report).c_str());
  return kExitOk;
}

int RunCommand(const std::vector<std::string>& words, bool) {
  const Arguments args = Parse(words, {{"--interactive", nullptr, false},
                                       {"--decline", nullptr, false},
                                       {"--fresh", nullptr, false},
                                       {"--json", nullptr, false},
                                       {"--screenshots", nullptr, true},
                                       {"--appmgr-dir", nullptr, true}});
  ExpectPositionals(args, 1, "SETUP");
  RunOptions options;
  options.setup = args.positionals[0];
  options.interactive = args.Has("--interactive");
  options.decline = args.Has("--decline");
  options.fresh = args.Has("--fresh");
  options.json = args.Has("--json");
  options.screenshots = args.Value("--screenshots");
  options.appMgrDir = args.Value("--appmgr-dir");
  return RunSetup(options);
}

void PrintVersion() {
  printf("zqpack %s\n", ZQPACK_VERSION);
  for (const BuiltInStub& stub : kBuiltInStubs) {
    if (stub.size != 0)
      printf("program proper %s: built in\n", stub.arch);
    else
      printf("program proper %s: not built in; looked for as zqstub-%s.exe beside zqpack\n", stub.arch, stub.arch);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RemovePartialOutputOnInterrupt();
  std::vector<std::string> words(argv + 1, argv + argc);
  bool quiet = false;
  while (!words.empty() && (words[0] == "-q" || words[0] == "--quiet")) {
    quiet = true;
    words.erase(words.begin());
  }
  if (words.empty()) {
    fprintf(stderr, "zqpack: missing command (see zqpack --help)\n");
    return kExitUsage;
  }
  const std::string command = words[0];
  if (command == "--help" || command == "-h" || command == "help") {
    printf("%s", kToolHelp);
    return kExitOk;
  }
  if (command == "--version") {
    PrintVersion();
    return kExitOk;
  }
  words.erase(words.begin());
  using Handler = int (*)(const std::vector<std::string>&, bool);
  const std::map<std::string, Handler> handlers = {{"build", Build},    {"check", Check},     {"list", List},
                                                   {"verify", Verify},  {"extract", Extract}, {"init", Init},
                                                   {"run", RunCommand}, {"cab", Cab}};
  const auto handler = handlers.find(command);
  if (handler == handlers.end()) {
    fprintf(stderr, "zqpack: unknown command '%s' (see zqpack --help)\n", command.c_str());
    return kExitUsage;
  }
  try {
    return handler->second(words, quiet);
  } catch (const HelpRequested&) {
    printf("%s", kCommandHelp.at(command));
    return kExitOk;
  } catch (const UsageError& e) {
    fprintf(stderr, "zqpack %s: %s (see zqpack %s --help)\n", command.c_str(), e.what(), command.c_str());
    return kExitUsage;
  } catch (const std::exception& e) {
    fprintf(stderr, "zqpack %s: %s\n", command.c_str(), e.what());
    return kExitBad;
  }
}
