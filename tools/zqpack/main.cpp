// zqpack's commands: for each, its help, its options and the handler that
// calls the library and prints.  command_line.h reads the command line
// against this table.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "builtin_program.h"
#include "cabinet_report.h"
#include "command_line.h"
#include "deflater.h"
#include "errors.h"
#include "fileio.h"
#include "ini.h"
#include "init.h"
#include "json_report.h"
#include "make_cab.h"
#include "progress.h"
#include "run.h"
#include "settings_check.h"
#include "setup_reader.h"
#include "setup_writer.h"
#include "text_report.h"

namespace fs = std::filesystem;

namespace {

// A value checked as it is read: "takes WHAT, not 'VALUE'" when ok says no.
CLI::Validator Takes(const char* what, bool (*ok)(const std::string&)) {
  return CLI::Validator(
      [what, ok](std::string& value) {
        return ok(value) ? "" : std::string("takes ") + what + ", not '" + value + "'";
      },
      "");
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

// ---- build

struct BuildOptions {
  std::vector<std::string> inputs;  // a Setup.ini, or the files to pack
  std::string output, stub, arch = "i686", sign;
  int level = 9;
  bool best = false, force = false, raw = false;
};

bool EndsWithIni(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  return name.size() > 4 && EqualIgnoringCase(name.substr(name.size() - 4), ".ini");
}

std::vector<uint8_t> ChooseProgram(const BuildOptions& o, bool quiet) {
  if (!o.stub.empty()) return ReadProgram(o.stub);
  std::string source;
  std::vector<uint8_t> stub = LoadDefaultProgram(o.arch, &source);
  if (!quiet) fprintf(stderr, "zqpack: program proper for %s: %s\n", o.arch.c_str(), source.c_str());
  return stub;
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

int Build(const BuildOptions& o, bool quiet) {
  if (o.inputs.empty()) throw UsageError("missing Setup.ini or the files to pack");
  const bool fromSettings = o.inputs.size() == 1 && EndsWithIni(o.inputs[0]) && !o.raw;
  if (o.force && !fromSettings) throw UsageError("--force applies only to a build from a Setup.ini");

  std::vector<PackItem> items;
  if (fromSettings) {
    const std::string& ini = o.inputs[0];
    const SettingsCheck check = CheckSettings(ini);
    for (const Finding& f : check.findings) fprintf(stderr, "%s\n", FormatFinding(ini, f).c_str());
    const size_t errors = check.Count(Severity::Error);
    if (errors > 0 && !o.force)
      throw ZqError(ini + ": " + std::to_string(errors) + (errors == 1 ? " error" : " errors") +
                    ", no setup written (--force builds anyway)");
    items = check.files;
  } else {
    for (const std::string& path : o.inputs) {
      const std::string name = fs::path(path).filename().string();
      for (const PackItem& item : items)
        if (EqualIgnoringCase(item.name, name))
          throw ZqError(path + ": a second file named " + name + " (the program keeps only the later one)");
      items.push_back(PackItem{name, path, {}});
    }
  }

  SetupWriter writer(ChooseProgram(o, quiet), o.best ? kBestLevel : o.level);
  for (PackItem& item : items) writer.Add(std::move(item));
  {
    ProgressBar bar("zqpack: packing", quiet);
    writer.SetProgress(bar.Callback());
    writer.WriteFile(o.output);
    writer.SetProgress(nullptr);
  }
  if (!o.sign.empty()) SignSetup(o.sign, o.output, quiet);
  if (!quiet) {
    std::error_code ec;
    printf("%s: %s, %llu bytes\n", o.output.c_str(), FileCount(items.size()).c_str(),
           static_cast<unsigned long long>(fs::file_size(o.output, ec)));
  }
  return kExitOk;
}

Handler DefineBuild(CLI::App& app) {
  auto o = std::make_shared<BuildOptions>();
  app.add_option("FILE", o->inputs);
  app.add_option("-o,--output", o->output, "the setup to write; it appears only when complete")
      ->type_name("SETUP")
      ->required();
  auto stub = app.add_option("--stub", o->stub,
                             "the program proper, exactly 32768 bytes; by default the one built into zqpack for "
                             "--arch (i686)")
                  ->type_name("STUB");
  app.add_option("--arch", o->arch, "i686 (runs on every desktop Windows) or x86_64")
      ->type_name("ARCH")
      ->check(Takes("i686 or x86_64", IsKnownArch))
      ->excludes(stub);
  auto level =
      app.add_option("--level", o->level, "zlib level, 0 (stored) to 9 (the default)")
          ->type_name("N")
          ->check(Takes("0 to 9", [](const std::string& v) { return v.size() == 1 && v[0] >= '0' && v[0] <= '9'; }));
  app.add_flag("--best", o->best,
               "the smallest stream (libdeflate's top level): slower, and it holds the files and their "
               "compressed copy in memory, about twice the files' size")
      ->excludes(level);
  app.add_flag("--force", o->force, "build even when the check found errors");
  app.add_flag("--raw", o->raw, "pack a lone .ini file as a file rather than reading it");
  app.add_option("--sign", o->sign,
                 "once the setup is complete, run COMMAND with %1 replaced by its path (quote it yourself: \"%1\"), "
                 "to sign it in place; then check the signed setup as 'verify' does. When the command fails, "
                 "leaves no signature or breaks the setup, no setup is left.")
      ->type_name("COMMAND");
  return [o](bool quiet) { return Build(*o, quiet); };
}

const Command kBuild = {"build",
                        "pack a setup from a Setup.ini, or from a list of files",
                        "zqpack build Setup.ini -o SETUP [--arch i686|x86_64] [--stub STUB]\n"
                        "                    [--level 0-9 | --best] [--force] [--sign COMMAND]\n"
                        "       zqpack build [--stub STUB] -o SETUP [--level 0-9 | --best]\n"
                        "                    [--sign COMMAND] [--raw] FILE...\n",
                        "From a Setup.ini: checks it first (see 'zqpack check') and refuses on\n"
                        "errors unless --force; then packs the license, the body bitmap, the head\n"
                        "bitmap, Setup.ini and the CAB files, in that order, from the Setup.ini's\n"
                        "folder.\n"
                        "From files: packs each FILE under its base name, in the order given.\n",
                        "The same inputs always give the same bytes (before signing).\n",
                        DefineBuild};

// ---- check

struct CheckOptions {
  std::string ini;
  bool verbose = false, json = false;
};

int Check(const CheckOptions& o, bool quiet) {
  const SettingsCheck check = CheckSettings(o.ini);
  printf("%s", (o.json ? SettingsCheckJson(o.ini, check) : SettingsCheckText(o.ini, check, o.verbose, quiet)).c_str());
  return check.Count(Severity::Error) > 0 ? kExitBad : kExitOk;
}

Handler DefineCheck(CLI::App& app) {
  auto o = std::make_shared<CheckOptions>();
  app.add_option("Setup.ini", o->ini)->required();
  app.add_flag("-v,--verbose", o->verbose,
               "also what each CAB file tells the Application Manager: application, provider, architecture, "
               "Windows CE versions, the platforms it refuses, the files it installs; from a _setup.xml, its Install "
               "parameters (AppName, OSVersionMin, ..., InstallDir) and the files it extracts");
  app.add_flag("--json", o->json,
               "one JSON document instead: \"findings\" (each with \"severity\", \"section\", \"key\", \"text\", "
               "\"reference\"), the counts \"errors\" and \"warnings\", the \"files\" a build would pack and the "
               "\"cabinets\" (what --verbose shows)");
  return [o](bool quiet) { return Check(*o, quiet); };
}

const Command kCheck = {"check",
                        "report what a Setup.ini and the files it names would do wrong",
                        "zqpack check Setup.ini [-v] [--json]\n",
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
                        "Each line ends with the key's place in setup-ini.md.\n",
                        "Exit code 1 when there are errors; warnings alone give 0.\n",
                        DefineCheck};

// ---- list, verify

struct SetupOptions {
  std::string setup;
  bool json = false;
};

// The setup's one argument and --json, as list and verify take them.
std::shared_ptr<SetupOptions> DefineSetupOptions(CLI::App& app, const char* json) {
  auto o = std::make_shared<SetupOptions>();
  app.add_option("SETUP", o->setup)->required();
  app.add_flag("--json", o->json, json);
  return o;
}

int List(const SetupOptions& o, bool quiet) {
  SetupReader reader(o.setup, TemporaryDirectory());
  const SetupReport& report = RunChecks(reader, "zqpack: reading", quiet || o.json);
  const bool accepted = report.verdict.accepted();
  const std::vector<CabinetReport> cabinets = accepted ? InspectSetupCabinets(reader) : std::vector<CabinetReport>();
  printf("%s",
         (o.json ? SetupReportJson(o.setup, report, cabinets) : SetupListText(o.setup, report, cabinets)).c_str());
  return accepted ? kExitOk : kExitBad;
}

Handler DefineList(CLI::App& app) {
  auto o = DefineSetupOptions(
      app,
      "one JSON document instead: \"setup\", \"fileBytes\", \"header\" (null when it could not be read; each "
      "checksum with \"stored\", \"computed\" and \"state\": ok, wrong or not checked), \"programProper\" (\"pe\", "
      "\"dllCharacteristics\", \"aslr\", \"relocationBytes\", \"highEntropyVA\", \"nx\", \"noSEH\", \"stackCookies\", "
      "each null where the image cannot say; \"text\"), \"verdict\" (\"accepted\", \"stage\", the program's "
      "\"message\" or null, \"reason\", \"entry\"), \"entries\" (\"index\", \"name\", \"offset\", \"size\") and "
      "\"cabinets\" as in 'check --json'; 'verify --json' writes the same document");
  return [o](bool quiet) { return List(*o, quiet); };
}

const Command kList = {"list",
                       "show a setup's header, checksums and entries",
                       "zqpack list SETUP [--json]\n",
                       "Shows the header fields, each checksum with its state, the Authenticode\n"
                       "signature (where it lies), the program proper's exploit mitigations (ASLR\n"
                       "with its relocation table, high-entropy VA, NX, no SEH, stack cookies\n"
                       "where the image records them), the program's verdict, the entries (name,\n"
                       "offset of the contents in the inflated data, size) and what each CAB file\n"
                       "among them tells the Application Manager (see 'zqpack check --verbose').\n"
                       "Exit code 1 when the program would refuse the setup.\n",
                       "",
                       DefineList};

int Verify(const SetupOptions& o, bool quiet) {
  if (o.json) return List(o, quiet);
  SetupReader reader(o.setup, TemporaryDirectory());
  const SetupReport& report = RunChecks(reader, "zqpack: verifying", quiet);
  if (!report.verdict.accepted()) return Refuse(o.setup, report.verdict);
  if (!quiet) printf("%s", SetupVerifyText(o.setup, report).c_str());
  return kExitOk;
}

Handler DefineVerify(CLI::App& app) {
  auto o = DefineSetupOptions(app, "the document of 'zqpack list --json' instead; same exit codes");
  return [o](bool quiet) { return Verify(*o, quiet); };
}

const Command kVerify = {"verify",
                         "run the program's own checks on a setup",
                         "zqpack verify SETUP [--json]\n",
                         "Runs the checks of the program proper in its order: the file's size, the\n"
                         "signature, the three checksums, the inflation and the reader's limits on\n"
                         "the table and the names.  On a failure prints the message the program's\n"
                         "box would show on standard output and exits with 1; exits with 0 when the\n"
                         "program would extract the setup, and then says whether it carries an\n"
                         "Authenticode signature and where, and names the program proper's exploit\n"
                         "mitigations as 'list' does.  The signature sits behind the payload,\n"
                         "where the program never reads, and leaves every check unchanged.\n",
                         "",
                         DefineVerify};

// ---- extract

struct ExtractOptions {
  std::string setup, directory = ".";
};

int Extract(const ExtractOptions& o, bool quiet) {
  const std::string& dir = o.directory;
  File::OpenForReading(o.setup);  // a missing setup is reported before DIR is made
  // The levels of DIR that this run makes, deepest last: removed again when
  // the setup is refused, so that a refusal leaves no trace.
  std::vector<fs::path> made;
  std::error_code ec;
  for (fs::path level = fs::absolute(dir); !level.empty() && !fs::exists(level, ec); level = level.parent_path())
    made.insert(made.begin(), level);
  fs::create_directories(dir, ec);
  if (ec) throw ZqError("cannot create " + dir + ": " + ec.message());
  SetupReader reader(o.setup, dir);
  const SetupReport& report = RunChecks(reader, "zqpack: extracting", quiet);
  if (!report.verdict.accepted()) {
    for (auto level = made.rbegin(); level != made.rend(); ++level) fs::remove(*level, ec);
    return Refuse(o.setup, report.verdict);
  }
  const std::vector<std::string> written = reader.ExtractTo(dir);
  if (!quiet) printf("%s: %s written into %s\n", o.setup.c_str(), FileCount(written.size()).c_str(), dir.c_str());
  return kExitOk;
}

Handler DefineExtract(CLI::App& app) {
  auto o = std::make_shared<ExtractOptions>();
  app.add_option("SETUP", o->setup)->required();
  app.add_option("-C,--directory", o->directory, "the folder to write into (default: the current one)")
      ->type_name("DIR");
  return [o](bool quiet) { return Extract(*o, quiet); };
}

const Command kExtract = {"extract",
                          "write a setup's files into a folder",
                          "zqpack extract SETUP [-C DIR]\n",
                          "Checks SETUP as 'verify' does and writes its files into DIR (default: the\n"
                          "current folder), created if needed.  A setup the program would refuse,\n"
                          "for example one with an entry name that is not a plain file name, writes\n"
                          "nothing; nothing is ever written outside DIR.  Blanks and dots at the end\n"
                          "of a name are dropped, as Windows does.\n",
                          "",
                          DefineExtract};

// ---- init

struct InitOptions {
  std::string dir, product = "My Product";
};

int Init(const InitOptions& o, bool quiet) {
  const std::vector<std::string> written = WriteExampleProduct(o.dir, o.product);
  if (!quiet) {
    for (const std::string& path : written) printf("%s\n", path.c_str());
    printf("next: 'zqpack cab %s' makes %s, then 'zqpack check' and 'zqpack build' Setup.ini\n",
           (fs::path(o.dir) / ExampleInfName(o.product)).string().c_str(), ExampleCabName(o.product).c_str());
  }
  return kExitOk;
}

Handler DefineInit(CLI::App& app) {
  auto o = std::make_shared<InitOptions>();
  app.add_option("DIR", o->dir)->required();
  app.add_option("--product", o->product,
                 "the product's name (default \"My Product\"): printable ASCII without brackets or quotes, at most "
                 "224 characters; the CAB file and the install folder are named after it")
      ->type_name("NAME")
      ->check(CLI::Validator([](std::string& name) { return ProductNameProblem(name); }, ""));
  return [o](bool quiet) { return Init(*o, quiet); };
}

const Command kInit = {"init",
                       "write an example product to start from",
                       "zqpack init DIR [--product NAME]\n",
                       "Writes an example product into DIR (created if needed): Setup.ini with\n"
                       "every key explained, license.rtf, body.bmp (164 x 314), head.bmp (55 x 55),\n"
                       "a CAB Wizard .inf with one example file (readme.txt) that 'zqpack cab'\n"
                       "makes the CAB file from, and PUT-CAB-FILES-HERE.txt.  Then 'zqpack cab',\n"
                       "'zqpack check' and 'zqpack build' make the setup.\n"
                       "Never replaces a file: when one of them exists, nothing is written.\n",
                       "",
                       DefineInit};

// ---- cab

struct CabCommandOptions : CabOptions {
  bool json = false;
};

int Cab(const CabCommandOptions& o, bool) {
  const CabResult result = MakeCab(o);
  for (const std::string& warning : result.warnings) fprintf(stderr, "%s\n", warning.c_str());
  for (const std::string& warning : result.report.info.warnings)
    fprintf(stderr, "zqpack cab: %s: warning: %s\n", result.report.name.c_str(), warning.c_str());
  if (o.json)
    printf("%s\n",
           CabinetsJson({result.report})[0].dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  else
    printf("%s", CabinetText(result.report).c_str());
  return kExitOk;
}

Handler DefineCab(CLI::App& app) {
  auto o = std::make_shared<CabCommandOptions>();
  app.add_option("APP.inf", o->inf)->required();
  app.add_option("-o,--output", o->output, "the cabinet; by default APP.CAB beside the .inf (APP.TAG.CAB with --cpu)")
      ->type_name("OUT");
  app.add_option("--cpu", o->cpu,
                 "read the sections tagged .TAG ([CEDevice.TAG], [DefaultInstall.TAG], [SourceDisksNames.TAG], "
                 "[SourceDisksFiles.TAG]) over the untagged ones")
      ->type_name("TAG");
  app.add_flag("--compress", o->compress, "MSZIP instead of stored");
  app.add_option("--files", o->fileDirs, "another folder to look for source files in (may be repeated)")
      ->type_name("DIR")
      ->allow_extra_args(false);
  app.add_flag("--json", o->json, "the cabinet's description as in 'check --json'");
  return [o](bool quiet) { return Cab(*o, quiet); };
}

const Command kCab = {"cab",
                      "make a Windows CE install cabinet from a CAB Wizard .inf",
                      "zqpack cab APP.inf [-o OUT] [--cpu TAG] [--compress] [--files DIR]...\n"
                      "                  [--json]\n",
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
                      "as it was.  cab-inf.md lists every section and key it reads.\n",
                      "zqpack.exe, the Windows build, does not make cabinets: use the Linux\n"
                      "zqpack (or the SDK's CAB tool).\n",
                      DefineCab};

// ---- run

Handler DefineRun(CLI::App& app) {
  auto o = std::make_shared<RunOptions>();
  app.add_option("SETUP", o->setup)->required();
  app.add_flag("--interactive", o->interactive, "on your display ($DISPLAY): you click through it");
  app.add_flag("--decline", o->decline, "Cancel in the License view and answer Yes instead");
  app.add_option("--screenshots", o->screenshots,
                 "a PNG of each view: welcome.png, license.png, cancel-question.png (needs ImageMagick's import)")
      ->type_name("DIR");
  app.add_flag("--fresh", o->fresh, "make the Wine prefix anew");
  app.add_option("--appmgr-dir", o->appMgrDir, "install the stand-in in DIR instead of a fresh folder")
      ->type_name("DIR");
  app.add_flag("--json", o->json, "one JSON document instead of the report");
  return [o](bool) { return RunSetup(*o); };
}

const Command kRun = {"run",
                      "run a setup under Wine and report what it did",
                      "zqpack run SETUP [--interactive] [--decline] [--screenshots DIR]\n"
                      "                  [--fresh] [--appmgr-dir DIR] [--json]\n",
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
                      "runs at once each take their own.  Your own Wine prefix is never used.\n",
                      "Needs Wine and Xvfb (Debian: wine, wine64, xvfb; wine32:i386 for i686\n"
                      "setups).  Exit code 0 when the hand-off was complete (with --decline: when\n"
                      "Cancel ended the setup cleanly: Workspace gone, nothing delivered), 1\n"
                      "otherwise, with the reason.\n",
                      DefineRun};

// ---- zqpack itself

std::string VersionText() {
  std::string text = std::string("zqpack ") + ZQPACK_VERSION + "\n";
  for (const BuiltInProgram& stub : kBuiltInPrograms)
    text +=
        std::string("program proper ") + stub.arch +
        (stub.size != 0 ? ": built in\n"
                        : std::string(": not built in; looked for as zqstub-") + stub.arch + ".exe beside zqpack\n");
  return text;
}

Handler DefineTool(CLI::App& app) {
  app.set_version_flag("--version", VersionText, "the version and where the built-in programs proper come from");
  return nullptr;
}

const Command kTool = {"zqpack",
                       "",
                       "zqpack [-q] COMMAND [ARGUMENTS]\n",
                       "Builds, checks and takes apart ZQ Installer setups: the program proper\n"
                       "(32768 bytes) followed by a payload of files.\n",
                       "Exit codes: 0 success; 1 the setup or the settings are bad, or a file could\n"
                       "not be read or written; 2 the command line is wrong.\n"
                       "\n"
                       "setup-ini.md describes every key of Setup.ini, cab-inf.md every section\n"
                       "and key of the .inf that 'zqpack cab' reads; they come with zqpack (in\n"
                       "/usr/share/doc/zqpack/ from the Debian package, docs/ in the sources).\n",
                       DefineTool};

}  // namespace

int main(int argc, char** argv) {
  RemovePartialOutputOnInterrupt();
  return RunCommandLine(kTool, {&kBuild, &kCheck, &kList, &kVerify, &kExtract, &kInit, &kCab, &kRun}, argc, argv);
}
