#include "support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

void FuzzFailure(const char* invariant, const std::string& seen, const char* file, int line) {
  fprintf(stderr, "\n%s:%d: invariant broken: %s\n  seen: %s\n", file, line, invariant, seen.c_str());
  fflush(stderr);
  abort();
}

static std::string gScratch;  // removed at exit; empty until the first use

static void RemoveScratch() {
  std::error_code ec;
  if (!gScratch.empty()) fs::remove_all(gScratch, ec);
}

const std::string& ScratchFolder(const char* target) {
  if (gScratch.empty()) {
    const char* parent = getenv("ZQ_FUZZ_TEMP");
    const std::string base = parent != nullptr && *parent != 0 ? parent : ZQ_FUZZ_TEMP;
    gScratch = base + "/" + target + "-" + std::to_string(getpid());
    FreshFolder(gScratch);
    atexit(RemoveScratch);
  }
  return gScratch;
}

std::string FreshFolder(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
  fs::create_directories(path, ec);
  if (ec) FuzzFailure("the scratch folder can be made", path + ": " + ec.message(), __FILE__, __LINE__);
  return path;
}

void EmptyFolder(const std::string& path) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, ec)) fs::remove_all(entry.path(), ec);
}

MemoryFile::MemoryFile() : fd_(memfd_create("zq-fuzz-input", 0)) {
  if (fd_ < 0) FuzzFailure("memfd_create works", "no in-memory file", __FILE__, __LINE__);
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() { close(fd_); }

void MemoryFile::Replace(const uint8_t* bytes, size_t count) {
  size_t done = 0;
  bool ok = ftruncate(fd_, 0) == 0;
  while (ok && done < count) {
    const ssize_t n = pwrite(fd_, bytes + done, count - done, static_cast<off_t>(done));
    ok = n > 0;
    done += ok ? static_cast<size_t>(n) : 0;
  }
  if (!ok) FuzzFailure("the in-memory file takes the input", path_, __FILE__, __LINE__);
}

std::vector<std::string> FolderEntries(const std::string& path, std::vector<std::string>* notFiles) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, ec)) {
    const std::string name = entry.path().filename().string();
    names.push_back(name);
    if (notFiles != nullptr && !entry.is_regular_file(ec)) notFiles->push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 32 && u < 127 && u != '\\') {
      out += c;
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", u);
      out += escaped;
    }
  }
  return out;
}

// AddressSanitizer keeps 256 MB of freed memory out of use by default; with
// the reader's 64 and 128 KiB buffers every run then faults in fresh pages
// and runs four times slower.  16 MB still holds the frees of many runs, so a
// use after free is still caught.  ASAN_OPTIONS overrides it.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
