// Files for zqpack: an owning file handle whose failures name the file,
// output that appears only when complete, and the few things that differ
// between the Linux and the Windows build (all in fileio.cpp).
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// An open file that closes itself.  Every failure throws ZqError with a line
// that names the file.
class File {
 public:
  File() = default;
  File(FILE* handle, std::string name) : handle_(handle), name_(std::move(name)) {}
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  static File OpenForReading(const std::string& path);
  // A new file for writing; ZqError when anything of that name exists.
  static File CreateNew(const std::string& path);
  // A scratch file in dir that no name reaches once it is open: it is gone
  // from the folder when it is closed, also when zqpack is killed (POSIX:
  // unlinked at once; Windows: delete-on-close).
  static File CreateAnonymous(const std::string& dir);

  // Reads up to count bytes; fewer only at the end of the file.
  size_t Read(void* buffer, size_t count);
  void Write(const void* bytes, size_t count);
  void Seek(uint64_t offset);
  uint64_t Size();
  // Flushes and closes; reports a failed flush (a full disk shows up here).
  void Close();

  bool IsOpen() const { return handle_ != nullptr; }
  const std::string& name() const { return name_; }

 private:
  FILE* handle_ = nullptr;
  std::string name_;
};

std::vector<uint8_t> ReadWholeFile(const std::string& path);

// A file that gets its final name only when Commit() is called: until then
// the bytes go to a temporary file in the same folder, which the destructor
// removes.  So a failure, or an interrupt, never leaves a partial file nor a
// temporary one behind.
class AtomicOutputFile {
 public:
  explicit AtomicOutputFile(const std::string& finalPath);
  ~AtomicOutputFile();
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  File& file() { return file_; }
  void Commit();

 private:
  std::string finalPath_;
  std::string tempPath_;
  File file_;
  bool committed_ = false;
};

// Makes SIGINT and SIGTERM remove the temporary file of an AtomicOutputFile
// that is being written before zqpack ends.
void RemovePartialOutputOnInterrupt();

bool StderrIsTerminal();
// The folder that holds the running zqpack binary, or "" when unknown.
std::string SelfDirectory();
// Where scratch files go when no folder is given: TMPDIR (TMP/TEMP on
// Windows), else the system's temporary folder.
std::string TemporaryDirectory();
// The name of a folder's entry with the blanks and dots at its end removed,
// as Windows stores it.
std::string WindowsStoredName(const std::string& name);
