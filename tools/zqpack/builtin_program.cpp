#include "builtin_program.h"

#include <filesystem>

#include "errors.h"
#include "fileio.h"
#include "format/format.h"
#include "setup_writer.h"

bool IsKnownArch(const std::string& arch) {
  for (const BuiltInProgram& program : kBuiltInPrograms)
    if (arch == program.arch) return true;
  return false;
}

std::vector<uint8_t> LoadDefaultProgram(const std::string& arch, std::string* source) {
  for (const BuiltInProgram& program : kBuiltInPrograms) {
    if (arch == program.arch && program.size == kProgramBytes) {
      *source = "built into zqpack";
      return std::vector<uint8_t>(program.bytes, program.bytes + program.size);
    }
  }
  const std::string dir = SelfDirectory();
  const std::string beside = (std::filesystem::path(dir) / ("zqstub-" + arch + ".exe")).string();
  std::error_code ec;
  if (dir.empty() || !std::filesystem::exists(beside, ec))
    throw ZqError("no program proper for " + arch + ": zqpack was built without it and there is no " + beside +
                  "; give one with --stub");
  *source = beside;
  return ReadProgram(beside);
}
