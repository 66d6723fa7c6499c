#include "builtin_stub.h"

#include <filesystem>

#include "errors.h"
#include "fileio.h"
#include "format/format.h"
#include "setup_writer.h"

bool IsKnownArch(const std::string& arch) {
  for (const BuiltInStub& stub : kBuiltInStubs)
    if (arch == stub.arch) return true;
  return false;
}

std::vector<uint8_t> LoadDefaultStub(const std::string& arch, std::string* source) {
  for (const BuiltInStub& stub : kBuiltInStubs) {
    if (arch == stub.arch && stub.size == kStubBytes) {
      *source = "built into zqpack";
      return std::vector<uint8_t>(stub.bytes, stub.bytes + stub.size);
    }
  }
  const std::string dir = SelfDirectory();
  const std::string beside = (std::filesystem::path(dir) / ("zqstub-" + arch + ".exe")).string();
  std::error_code ec;
  if (dir.empty() || !std::filesystem::exists(beside, ec))
    throw ZqError("no program proper for " + arch + ": zqpack was built without it and there is no " + beside +
                  "; give one with --stub");
  *source = beside;
  return ReadStub(beside);
}
