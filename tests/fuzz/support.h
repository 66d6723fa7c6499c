// What the fuzz targets share: the failure of an invariant (printed with what
// was seen, then abort, so that libFuzzer keeps the input), scratch folders
// inside the build tree, an in-memory input file and printable raw bytes.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

[[noreturn]] void FuzzFailure(const char* invariant, const std::string& seen, const char* file, int line);

#define FUZZ_EXPECT(condition, seen)                                       \
  do {                                                                     \
    if (!(condition)) FuzzFailure(#condition, (seen), __FILE__, __LINE__); \
  } while (0)

// <ZQ_FUZZ_TEMP>/<target>-<pid>/<name>, made empty (again at every call);
// the target's folder is removed when the process ends normally.
std::string FreshFolder(const char* target, const std::string& name);

// A file in memory (memfd) with a path fopen takes, /proc/self/fd/N:
// rewritten for every input without a disk write.
class MemoryFile {
 public:
  MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  void Replace(const uint8_t* bytes, size_t count);
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// The names of a folder's entries, sorted; notFiles gets those that are not
// regular files.
std::vector<std::string> FolderEntries(const std::string& path, std::vector<std::string>* notFiles = nullptr);

// "a\x01b" style, for failure messages.
std::string Printable(const std::string& bytes);
