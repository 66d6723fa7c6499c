// A cabinet (MSCF) written by libgcab: the members in the order given, in
// one folder, stored or MSZIP-compressed, each with its modification time.
// The Linux build only; zqpack.exe has no cabinet writer.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct CabMember {
  std::string name;
  std::vector<uint8_t> bytes;
  int64_t modified = 0;  // seconds since 1970, UTC; recorded as the DOS date and time of that moment in UTC
};

// ZqError when libgcab refuses.
std::vector<uint8_t> WriteCabinet(const std::vector<CabMember>& members, bool compress);
