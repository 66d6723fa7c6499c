// Builds a setup: the program proper followed by a payload laid out to the
// byte as the program reads it (header at 32768, the entry table, one zlib
// stream of name-and-contents records without gaps, three checksums).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "progress.h"

// One file of a setup: its name in the payload and where its bytes come from.
struct PackItem {
  std::string name;            // a plain file name
  std::string path;            // the bytes are read from this file when set,
  std::vector<uint8_t> bytes;  // else taken from here
};

// Reads a program proper, which must be exactly 32768 bytes.
std::vector<uint8_t> ReadProgram(const std::string& path);

class SetupWriter {
 public:
  // level: zlib's 0 (stored) to 9, or kBestLevel (deflater.h: the smallest,
  // with the whole payload in memory).
  SetupWriter(std::vector<uint8_t> program, int level);

  // Entries go into the table in the order they are added.
  void Add(PackItem item);
  void SetProgress(ProgressFn progress) { progress_ = std::move(progress); }

  std::vector<uint8_t> BuildInMemory();
  // Writes through a temporary file beside path: nothing is left at path or
  // beside it unless the whole setup was written.
  void WriteFile(const std::string& path);

  class Sink;

 private:
  void Write(Sink& sink);

  std::vector<uint8_t> program_;
  int level_;
  std::vector<PackItem> items_;
  ProgressFn progress_;
};
