// The programs proper that a build uses when --stub is not given.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct BuiltInProgram {
  const char* arch;
  const unsigned char* bytes;
  size_t size;  // 0: the program proper was not built when zqpack was
};

// Generated at build time (embedded_programs.cpp.in).
extern const BuiltInProgram kBuiltInPrograms[2];

bool IsKnownArch(const std::string& arch);

// The program proper for arch: the copy built into zqpack, else
// zqstub-ARCH.exe beside the zqpack binary.  source says which it took.
std::vector<uint8_t> LoadDefaultProgram(const std::string& arch, std::string* source);
