// The one reader of PE headers (the layout of a Windows program file), part
// one: where the headers are.  The program proper finds in them the fields
// that signing rewrites; pe_layout.h reads the rest for zqpack, the build's
// padding step and the benchmark.  Pure code over bytes in memory, no
// windows.h, no C++ library: the program proper compiles it.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

// PE fields are little-endian, read from memory as the format's records are.
inline uint32_t PeLe32(const uint8_t* p) {
  uint32_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

inline uint16_t PeLe16(const uint8_t* p) {
  uint16_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

// Where the headers are, as file offsets from the image's first byte.
struct PeHeaders {
  uint32_t at;           // "PE\0\0", as e_lfanew names it
  uint32_t optional;     // the optional header, behind the file header
  uint32_t directories;  // the data directories, behind NumberOfRvaAndSizes
  bool pe32plus;
};

// Finds the headers from e_lfanew (at 0x3C) in the `bytes` bytes of `image`:
// "PE\0\0" there and a PE32 or PE32+ optional header whose first
// `optionalBytes` lie inside the image.  False when it cannot be read that
// way.  Inline: the program proper's one caller is its StubChecksum, and a
// call costs bytes it has not.
inline bool FindPeHeaders(const uint8_t* image, size_t bytes, uint32_t optionalBytes, PeHeaders* headers) {
  constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
  constexpr uint32_t kFileHeaderBytes = 4 + 20;  // the signature and the file header
  if (bytes < 0x40 || bytes < kFileHeaderBytes + optionalBytes) return false;
  const uint32_t at = PeLe32(image + 0x3C);
  if (at > bytes - kFileHeaderBytes - optionalBytes || PeLe32(image + at) != kPeSignature) return false;
  const uint32_t optional = at + kFileHeaderBytes;
  const uint16_t magic = PeLe16(image + optional);
  if (magic != 0x10B && magic != 0x20B) return false;
  headers->at = at;
  headers->optional = optional;
  headers->pe32plus = magic == 0x20B;
  // PE32+ widens ImageBase and the stack and heap sizes to 8 bytes: its data
  // directories begin 112 bytes into the optional header, a PE32's 96.
  headers->directories = optional + (headers->pe32plus ? 112 : 96);
  return true;
}
