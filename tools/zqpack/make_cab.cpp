#include "make_cab.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "cab_writer.h"
#include "ce_setup.h"
#include "errors.h"
#include "fileio.h"
#include "inf.h"
#include "ini.h"
#include "setup_xml_writer.h"

namespace fs = std::filesystem;

namespace {

// relative (backslashes or slashes between levels) below dir, each level
// matched without regard to case as a Windows project checked out on Linux
// needs; "" when there is no such file.
std::string FindIgnoringCase(const fs::path& dir, const std::string& relative) {
  fs::path at = dir;
  std::string rest = relative;
  for (char& c : rest)
    if (c == '\\') c = '/';
  std::error_code ec;
  for (size_t start = 0; start <= rest.size();) {
    const size_t end = std::min(rest.find('/', start), rest.size());
    const std::string level = rest.substr(start, end - start);
    start = end + 1;
    if (level.empty() || level == ".") continue;
    if (!fs::exists(at / level, ec)) {
      fs::path match;
      for (auto it = fs::directory_iterator(at, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        if (EqualIgnoringCase(it->path().filename().string(), level)) match = it->path();
      if (match.empty()) return "";
      at = match;
    } else {
      at /= level;
    }
  }
  return fs::is_regular_file(at, ec) ? at.string() : "";
}

bool IsDrivePath(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || path.rfind("\\\\", 0) == 0 || path.rfind("\\", 0) == 0;
}

// Where a source file is: its disk's folder relative to the .inf, else
// each of the --files folders in turn.
std::string FindSource(const CabSource& source, const fs::path& infDir, const CabOptions& options) {
  std::string looked;
  if (!IsDrivePath(source.diskPath)) {
    const std::string path = FindIgnoringCase(infDir, source.diskPath + "\\" + source.sourceName);
    if (!path.empty()) return path;
    looked = (infDir / source.diskPath).string();
    for (char& c : looked)
      if (c == '\\') c = '/';
  }
  for (const std::string& dir : options.fileDirs) {
    const std::string path = FindIgnoringCase(dir, source.sourceName);
    if (!path.empty()) return path;
    looked += (looked.empty() ? "" : ", ") + dir;
  }
  throw ZqError(options.inf + ":" + std::to_string(source.line) + ": " + source.sourceName + " not found (looked in " +
                (looked.empty() ? "no folder: its disk is a drive path and no --files was given" : looked) + ")");
}

// SOURCE_DATE_EPOCH, or -1 when it is not set.
int64_t SourceDateEpoch() {
  const char* text = getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == 0) return -1;
  char* end = nullptr;
  const long long epoch = strtoll(text, &end, 10);
  if (*end != 0 || epoch < 0) throw ZqError(std::string("SOURCE_DATE_EPOCH is \"") + text + "\", not a number");
  return epoch;
}

int64_t Modified(const std::string& path, int64_t clamp) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw ZqError("cannot read " + path);
  return clamp >= 0 && st.st_mtime > clamp ? clamp : static_cast<int64_t>(st.st_mtime);
}

std::string DefaultOutput(const CabOptions& options) {
  const fs::path inf(options.inf);
  return (inf.parent_path() / (inf.stem().string() + (options.cpu.empty() ? "" : "." + options.cpu) + ".CAB")).string();
}

}  // namespace

CabResult MakeCab(const CabOptions& options) {
  const std::vector<uint8_t> infBytes = ReadWholeFile(options.inf);
  const fs::path infDir = fs::path(options.inf).parent_path();
  CabPlan plan = ReadCabInf(std::string(infBytes.begin(), infBytes.end()), options.inf,
                            MemberStem(fs::path(options.inf).filename().string()), options.cpu);
  const int64_t clamp = SourceDateEpoch();
  const int64_t infTime = Modified(options.inf, clamp);

  const std::vector<uint8_t> ceSetup = WriteCeSetup(plan.setup);
  if (ceSetup.size() > kCeSetupMaxBytes)
    throw ZqError(options.inf + ": its .000 file would have " + std::to_string(ceSetup.size()) +
                  " bytes, more than the 65,535 its 16-bit offsets reach (fewer files, registry values or shortcuts)");
  const std::string xml = WriteSetupXml(plan);
  std::vector<CabMember> members = {{plan.setupMember, ceSetup, infTime},
                                    {"_setup.xml", std::vector<uint8_t>(xml.begin(), xml.end()), infTime}};
  for (const CabSource& source : plan.sources) {
    const std::string path = FindSource(source, infDir.empty() ? fs::path(".") : infDir, options);
    members.push_back({source.member, ReadWholeFile(path), Modified(path, clamp)});
  }
  const std::vector<uint8_t> cab = WriteCabinet(members, options.compress);

  const std::string output = options.output.empty() ? DefaultOutput(options) : options.output;
  CabResult result{{fs::path(output).filename().string(), InspectCabinet(cab)}, plan.warnings};
  if (!result.report.info.error.empty())
    throw ZqError(output + ": the cabinet written does not read back (" + result.report.info.error +
                  "); nothing written");
  AtomicOutputFile out(output);
  out.file().Write(cab.data(), cab.size());
  out.Commit();
  return result;
}
