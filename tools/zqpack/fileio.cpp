#include "fileio.h"

#include <errno.h>
#include <signal.h>
#include <string.h>

#include <filesystem>
#include <utility>

#include "errors.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

static std::string Reason(int error) { return strerror(error); }

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)), name_(std::move(other.name_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) fclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    name_ = std::move(other.name_);
  }
  return *this;
}

File::~File() {
  if (handle_ != nullptr) fclose(handle_);
}

File File::OpenForReading(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw ZqError("cannot read " + path + ": it is a folder");
  FILE* handle = fopen(path.c_str(), "rb");
  if (handle == nullptr) throw ZqError("cannot open " + path + ": " + Reason(errno));
  return File(handle, path);
}

File File::CreateNew(const std::string& path) {
  // "x": the file is created or the open fails, in one step.
  FILE* handle = fopen(path.c_str(), "wbx");
  if (handle == nullptr && errno == EEXIST) throw ZqError(path + " exists already");
  if (handle == nullptr) throw ZqError("cannot create " + path + ": " + Reason(errno));
  return File(handle, path);
}

size_t File::Read(void* buffer, size_t count) {
  const size_t got = fread(buffer, 1, count, handle_);
  if (got < count && ferror(handle_)) throw ZqError("cannot read " + name_ + ": " + Reason(errno));
  return got;
}

void File::Write(const void* bytes, size_t count) {
  if (count > 0 && fwrite(bytes, 1, count, handle_) != count)
    throw ZqError("cannot write " + name_ + ": " + Reason(errno));
}

void File::Seek(uint64_t offset) {
#ifdef _WIN32
  const int rc = _fseeki64(handle_, static_cast<__int64>(offset), SEEK_SET);
#else
  const int rc = fseeko(handle_, static_cast<off_t>(offset), SEEK_SET);
#endif
  if (rc != 0) throw ZqError("cannot seek in " + name_ + ": " + Reason(errno));
}

uint64_t File::Size() {
#ifdef _WIN32
  if (_fseeki64(handle_, 0, SEEK_END) != 0) throw ZqError("cannot seek in " + name_ + ": " + Reason(errno));
  const __int64 size = _ftelli64(handle_);
#else
  if (fseeko(handle_, 0, SEEK_END) != 0) throw ZqError("cannot seek in " + name_ + ": " + Reason(errno));
  const off_t size = ftello(handle_);
#endif
  if (size < 0) throw ZqError("cannot tell the size of " + name_ + ": " + Reason(errno));
  Seek(0);
  return static_cast<uint64_t>(size);
}

void File::Close() {
  if (handle_ == nullptr) return;
  const bool flushed = fflush(handle_) == 0;
  const int flushError = errno;
  const bool closed = fclose(handle_) == 0;
  handle_ = nullptr;
  if (!flushed) throw ZqError("cannot write " + name_ + ": " + Reason(flushError));
  if (!closed) throw ZqError("cannot write " + name_ + ": " + Reason(errno));
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  File file = File::OpenForReading(path);
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
  if (file.Read(bytes.data(), bytes.size()) != bytes.size())
    throw ZqError("cannot read " + path + ": it changed while it was read");
  return bytes;
}

// The temporary file that an interrupt must remove: one output is written at
// a time.  A fixed buffer, since the signal handler may not allocate.
static char gPartialOutput[4096];

static void RemovePartialOutputAndExit(int signalNumber) {
  if (gPartialOutput[0] != 0) remove(gPartialOutput);
#ifdef _WIN32
  _exit(128 + signalNumber);
#else
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
#endif
}

void RemovePartialOutputOnInterrupt() {
  signal(SIGINT, RemovePartialOutputAndExit);
  signal(SIGTERM, RemovePartialOutputAndExit);
}

static void RememberPartialOutput(const std::string& path) {
  if (path.size() < sizeof gPartialOutput) {
    memcpy(gPartialOutput, path.c_str(), path.size() + 1);
  } else {
    gPartialOutput[0] = 0;
  }
}

static std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

#ifdef _WIN32

File File::CreateAnonymous(const std::string& dir) {
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string path =
        (fs::path(dir) / ("zqpack-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp"))
            .string();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      break;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    FILE* handle = fd < 0 ? nullptr : _fdopen(fd, "w+b");
    if (handle == nullptr) {
      CloseHandle(h);
      break;
    }
    return File(handle, path);
  }
  throw ZqError("cannot create a scratch file in " + dir);
}

AtomicOutputFile::AtomicOutputFile(const std::string& finalPath) : finalPath_(finalPath) {
  const std::string base = fs::path(finalPath).filename().string();
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    tempPath_ = (fs::path(FolderOf(finalPath)) /
                 ("." + base + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp"))
                    .string();
    FILE* handle = fopen(tempPath_.c_str(), "wbx");
    if (handle != nullptr) {
      RememberPartialOutput(tempPath_);
      file_ = File(handle, finalPath);
      return;
    }
    if (errno != EEXIST) break;
  }
  throw ZqError("cannot create " + finalPath + ": " + Reason(errno));
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::string SelfDirectory() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return "";
  return fs::path(path).parent_path().string();
}

#else

File File::CreateAnonymous(const std::string& dir) {
  std::string pattern = (fs::path(dir) / "zqpack-data.XXXXXX").string();
  const int fd = mkstemp(&pattern[0]);
  if (fd < 0) throw ZqError("cannot create a scratch file in " + dir + ": " + Reason(errno));
  unlink(pattern.c_str());
  FILE* handle = fdopen(fd, "w+b");
  if (handle == nullptr) {
    close(fd);
    throw ZqError("cannot create a scratch file in " + dir + ": " + Reason(errno));
  }
  return File(handle, pattern);
}

AtomicOutputFile::AtomicOutputFile(const std::string& finalPath) : finalPath_(finalPath) {
  const std::string base = fs::path(finalPath).filename().string();
  tempPath_ = (fs::path(FolderOf(finalPath)) / ("." + base + ".XXXXXX")).string();
  const int fd = mkstemp(&tempPath_[0]);
  if (fd < 0) throw ZqError("cannot create " + finalPath + ": " + Reason(errno));
  RememberPartialOutput(tempPath_);
  // mkstemp makes the file private; a setup is an ordinary file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  FILE* handle = fdopen(fd, "wb");
  if (handle == nullptr) {
    const int error = errno;
    close(fd);
    unlink(tempPath_.c_str());
    gPartialOutput[0] = 0;
    throw ZqError("cannot create " + finalPath + ": " + Reason(error));
  }
  file_ = File(handle, finalPath);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

std::string SelfDirectory() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

#endif

AtomicOutputFile::~AtomicOutputFile() {
  if (committed_) return;
  file_ = File();  // closes the handle, if open
  remove(tempPath_.c_str());
  gPartialOutput[0] = 0;
}

void AtomicOutputFile::Commit() {
  file_.Close();
  std::error_code ec;
  fs::rename(tempPath_, finalPath_, ec);
  if (ec) throw ZqError("cannot write " + finalPath_ + ": " + ec.message());
  committed_ = true;
  gPartialOutput[0] = 0;
}

std::string TemporaryDirectory() {
  std::error_code ec;
  const fs::path dir = fs::temp_directory_path(ec);
  return ec ? std::string(".") : dir.string();
}

std::string WindowsStoredName(const std::string& name) {
  size_t end = name.size();
  while (end > 0 && (name[end - 1] == ' ' || name[end - 1] == '.')) --end;
  return name.substr(0, end);
}
