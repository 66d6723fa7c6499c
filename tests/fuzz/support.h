// What the fuzz targets share: a scratch folder inside the build tree, the
// failure of an invariant (printed with what was seen, then abort, so that
// libFuzzer keeps the input), and printable views of raw bytes.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

[[noreturn]] void FuzzFailure(const char* invariant, const std::string& seen, const char* file, int line);

#define FUZZ_EXPECT(condition, seen)                                       \
  do {                                                                     \
    if (!(condition)) FuzzFailure(#condition, (seen), __FILE__, __LINE__); \
  } while (0)

// <build>/tests/fuzz/tmp/<target>-<pid> (ZQ_FUZZ_TEMP overrides the parent):
// made empty at first use and removed when the process ends normally.
const std::string& ScratchFolder(const char* target);

// An empty folder below the scratch folder (made, or emptied).
std::string FreshFolder(const std::string& path);

// Removes the files of a folder made by FreshFolder, keeping the folder.
void EmptyFolder(const std::string& path);

// A file in memory (memfd) that still has a path fopen takes,
// /proc/self/fd/N: rewritten for every input without a disk write.
class MemoryFile {
 public:
  MemoryFile();
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  void Replace(const uint8_t* bytes, size_t count);
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// The names of a folder's entries, sorted; the second list holds those that
// are not regular files.
std::vector<std::string> FolderEntries(const std::string& path, std::vector<std::string>* notFiles = nullptr);

// "a\x01b" style, for failure messages.
std::string Printable(const std::string& bytes);
