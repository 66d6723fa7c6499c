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

static std::string gScratch;  // the target's folder, removed at exit

static void RemoveScratch() {
  std::error_code ec;
  fs::remove_all(gScratch, ec);
}

std::string FreshFolder(const char* target, const std::string& name) {
  if (gScratch.empty()) {
    const char* parent = getenv("ZQ_FUZZ_TEMP");
    gScratch = (parent != nullptr && *parent != 0 ? parent : ZQ_FUZZ_TEMP) + ("/" + std::string(target)) + "-" +
               std::to_string(getpid());
    atexit(RemoveScratch);
  }
  const std::string path = gScratch + "/" + name;
  std::error_code ec;
  fs::remove_all(path, ec);
  fs::create_directories(path, ec);
  if (ec) FuzzFailure("the scratch folder can be made", path + ": " + ec.message(), __FILE__, __LINE__);
  return path;
}

// The descriptor stays open for the life of the process.
MemoryFile::MemoryFile() : fd_(memfd_create("zq-fuzz-input", 0)), path_("/proc/self/fd/" + std::to_string(fd_)) {
  if (fd_ < 0) FuzzFailure("memfd_create works", "no in-memory file", __FILE__, __LINE__);
}

void MemoryFile::Replace(const uint8_t* bytes, size_t count) {
  bool ok = ftruncate(fd_, 0) == 0;
  for (size_t done = 0; ok && done < count;) {
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
    names.push_back(entry.path().filename().string());
    if (notFiles != nullptr && !entry.is_regular_file(ec)) notFiles->push_back(names.back());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    char escaped[8];
    snprintf(escaped, sizeof escaped, "\\x%02x", u);
    out += u >= 32 && u < 127 && u != '\\' ? std::string(1, c) : escaped;
  }
  return out;
}

// AddressSanitizer keeps 256 MB of freed memory out of use by default; with
// the reader's 64 and 128 KiB buffers every run then faults in fresh pages
// and runs four times slower.  16 MB still holds the frees of many runs, so a
// use after free is still caught.  ASAN_OPTIONS overrides it.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
