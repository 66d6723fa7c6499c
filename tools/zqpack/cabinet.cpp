#include "cabinet.h"

#include <mspack.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>

namespace {

// libmspack does its I/O through a table of functions: here the cabinet is
// read from memory and each decoded file goes to a buffer, or nowhere when
// only its decoding matters.  Nothing touches the disk.
struct MemoryFile {
  const std::vector<uint8_t>* source;  // the cabinet, for reading
  std::vector<uint8_t>* sink;          // the decoded file, or null to drop it
  size_t at;                           // the read position, in bytes
};

struct MemorySystem : mspack_system {
  const std::vector<uint8_t>* cabinet;
  std::vector<uint8_t>* sink;  // where the next extraction writes
};

MemoryFile* AsMemory(mspack_file* file) { return reinterpret_cast<MemoryFile*>(file); }

mspack_file* OpenMemory(mspack_system* self, const char*, int mode) {
  MemorySystem* sys = static_cast<MemorySystem*>(self);
  MemoryFile* file = new MemoryFile{sys->cabinet, nullptr, 0};
  if (mode != MSPACK_SYS_OPEN_READ) {
    file->source = nullptr;
    file->sink = sys->sink;
  }
  return reinterpret_cast<mspack_file*>(file);
}

void CloseMemory(mspack_file* file) { delete AsMemory(file); }

int ReadMemory(mspack_file* handle, void* buffer, int bytes) {
  MemoryFile* file = AsMemory(handle);
  if (file->source == nullptr || bytes < 0) return -1;
  const size_t count = std::min(static_cast<size_t>(bytes), file->source->size() - file->at);
  if (count > 0) memcpy(buffer, file->source->data() + file->at, count);
  file->at += count;
  return static_cast<int>(count);
}

int WriteMemory(mspack_file* handle, void* buffer, int bytes) {
  MemoryFile* file = AsMemory(handle);
  if (bytes < 0) return -1;
  if (file->sink != nullptr)
    file->sink->insert(file->sink->end(), static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + bytes);
  return bytes;
}

int SeekMemory(mspack_file* handle, off_t offset, int mode) {
  MemoryFile* file = AsMemory(handle);
  if (file->source == nullptr) return -1;
  const int64_t size = static_cast<int64_t>(file->source->size());
  int64_t at = offset;
  if (mode == MSPACK_SYS_SEEK_CUR) at += static_cast<int64_t>(file->at);
  if (mode == MSPACK_SYS_SEEK_END) at += size;
  if (at < 0 || at > size) return -1;
  file->at = static_cast<size_t>(at);
  return 0;
}

off_t TellMemory(mspack_file* handle) { return static_cast<off_t>(AsMemory(handle)->at); }

// libmspack's own notes ("WARNING; ...") would go to stderr: what matters
// comes back as an error code.
void IgnoreMessage(mspack_file*, const char*, ...) {}
void* Allocate(mspack_system*, size_t bytes) { return malloc(bytes); }
void Free(void* p) { free(p); }
void Copy(void* from, void* to, size_t bytes) { memmove(to, from, bytes); }

std::string ErrorText(int code) {
  switch (code) {
    case MSPACK_ERR_SIGNATURE:
      return "not a cabinet (it does not begin with \"MSCF\")";
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
      return "cut short: the cabinet ends before its data does";
    case MSPACK_ERR_DATAFORMAT:
      return "a damaged cabinet header or data block";
    case MSPACK_ERR_CHECKSUM:
      return "a data block whose checksum is wrong";
    case MSPACK_ERR_DECRUNCH:
      return "a damaged data block (it does not decompress)";
    case MSPACK_ERR_NOMEMORY:
      return "too large to decode in memory";
    default:
      return "libmspack error " + std::to_string(code);
  }
}

std::string BaseName(const char* name) {
  const std::string path = name;
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The number of a name ending in a three-digit extension ("APP.001": 1), or -1.
int FileNumber(const std::string& name) {
  const size_t n = name.size();
  if (n < 5 || name[n - 4] != '.') return -1;
  int number = 0;
  for (size_t i = n - 3; i < n; ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

constexpr int kSetupNumber = 0;       // the ".000" file: the setup information
constexpr int kSetupDllNumber = 999;  // the optional Setup DLL, never installed

// Decodes every file; keeps the ".000" and "_setup.xml" ones.  Returns "" or
// what is wrong.
std::string DecodeAll(const std::vector<uint8_t>& bytes, CabinetInfo* info, std::vector<uint8_t>* setup,
                      std::vector<uint8_t>* setupXml) {
  MemorySystem sys{};
  sys.open = OpenMemory;
  sys.close = CloseMemory;
  sys.read = ReadMemory;
  sys.write = WriteMemory;
  sys.seek = SeekMemory;
  sys.tell = TellMemory;
  sys.message = IgnoreMessage;
  sys.alloc = Allocate;
  sys.free = Free;
  sys.copy = Copy;
  sys.cabinet = &bytes;
  mscab_decompressor* cabd = mspack_create_cab_decompressor(&sys);
  if (cabd == nullptr) return "libmspack could not start";
  std::string error;
  mscabd_cabinet* cab = cabd->open(cabd, "cabinet");
  if (cab == nullptr) error = ErrorText(cabd->last_error(cabd));
  for (mscabd_file* f = cab != nullptr ? cab->files : nullptr; f != nullptr && error.empty(); f = f->next) {
    const std::string name = BaseName(f->filename);
    info->fileNames.push_back(name);
    std::vector<uint8_t>* keep = nullptr;
    if (FileNumber(name) == kSetupNumber && setup->empty()) keep = setup;
    if (Lower(name) == "_setup.xml") keep = setupXml;
    sys.sink = keep;
    const int rc = cabd->extract(cabd, f, "decoded");
    if (rc != MSPACK_ERR_OK) error = ErrorText(rc) + " (in " + name + ")";
  }
  if (cab != nullptr) cabd->close(cabd, cab);
  mspack_destroy_cab_decompressor(cabd);
  return error;
}

// FILES against the cabinet's numbered files, both ways.
void CompareFiles(CabinetInfo* info) {
  std::set<int> held, named;
  for (const std::string& name : info->fileNames) held.insert(FileNumber(name));
  for (const CeFile& f : info->ceSetup.files) {
    named.insert(f.number);
    if (held.count(f.number) == 0)
      info->warnings.push_back("its setup information installs file number " + std::to_string(f.number) + " (" +
                               f.name + "), which the cabinet does not hold: the installation fails");
  }
  for (const std::string& name : info->fileNames) {
    const int number = FileNumber(name);
    if (number > kSetupNumber && number != kSetupDllNumber && named.count(number) == 0)
      info->warnings.push_back("the cabinet holds " + name +
                               ", which its setup information never names: it is not installed");
  }
}

// Each Extract source of _setup.xml against the cabinet's files (the device
// looks them up without regard to case).
void CompareExtracts(CabinetInfo* info) {
  std::set<std::string> held;
  for (const std::string& name : info->fileNames) held.insert(Lower(name));
  for (const SetupXmlFile& f : info->setupXml.files)
    if (held.count(Lower(f.source)) == 0)
      info->warnings.push_back("its _setup.xml extracts " + f.source + " (as " + f.folder + "\\" + f.name +
                               "), which the cabinet does not hold: the installation fails");
}

}  // namespace

CabinetInfo InspectCabinet(const std::vector<uint8_t>& bytes) {
  CabinetInfo info;
  std::vector<uint8_t> setup, setupXml;
  if (bytes.size() < 4 || memcmp(bytes.data(), "MSCF", 4) != 0) {
    info.error = ErrorText(MSPACK_ERR_SIGNATURE);
    return info;
  }
  info.error = DecodeAll(bytes, &info, &setup, &setupXml);
  if (!info.error.empty()) return info;
  bool hasSetup = false, hasXml = false;
  for (const std::string& name : info.fileNames) {
    hasSetup = hasSetup || FileNumber(name) == kSetupNumber;
    hasXml = hasXml || Lower(name) == "_setup.xml";
  }
  std::string reason;
  if (hasSetup && !ReadCeSetup(setup, &info.ceSetup, &reason)) {
    info.error = "its setup information (the .000 file) is damaged: " + reason;
    return info;
  }
  info.hasCeSetup = hasSetup;
  if (hasXml && !ReadSetupXml(std::string(setupXml.begin(), setupXml.end()), &info.setupXml, &reason)) {
    info.error = "its _setup.xml is damaged: " + reason;
    return info;
  }
  info.hasSetupXml = hasXml;
  if (!hasSetup && !hasXml)
    info.warnings.push_back(
        "holds no Windows CE setup information (no .000 file, no _setup.xml): the Application Manager cannot "
        "install it");
  if (hasSetup && RefusesSmartphone(info.ceSetup))
    info.warnings.push_back(
        "its setup information lists Smartphone among the unsupported platforms: the Application Manager does "
        "not install it on a Smartphone");
  if (hasSetup && !hasXml)
    info.warnings.push_back(
        "has a .000 file but no _setup.xml: Smartphone 2002 and 2003 read only _setup.xml, so no Smartphone can "
        "install it");
  if (hasSetup) CompareFiles(&info);
  if (hasXml) CompareExtracts(&info);
  return info;
}

std::string CabinetErrorText(const CabinetInfo& info) {
  return info.error + "; the Application Manager cannot install it";
}
