// Little-endian fields of the payload format, read and written byte by byte
// so that the host's byte order never matters.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "format/format.h"

inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline void PutLe32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

inline void PutLe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

inline void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t field[4];
  PutLe32(field, value);
  out.insert(out.end(), field, field + 4);
}

inline PayloadHeader DecodeHeader(const uint8_t* p) {
  PayloadHeader h;
  h.Signature = GetLe32(p);
  h.CompressedSize = GetLe32(p + 4);
  h.InflatedSize = GetLe32(p + 8);
  h.EntryCount = static_cast<int32_t>(GetLe32(p + 12));
  h.StubChecksum = GetLe32(p + 16);
  h.TableChecksum = GetLe32(p + 20);
  h.DataChecksum = GetLe32(p + 24);
  return h;
}

inline void EncodeHeader(const PayloadHeader& h, uint8_t* p) {
  PutLe32(p, h.Signature);
  PutLe32(p + 4, h.CompressedSize);
  PutLe32(p + 8, h.InflatedSize);
  PutLe32(p + 12, static_cast<uint32_t>(h.EntryCount));
  PutLe32(p + 16, h.StubChecksum);
  PutLe32(p + 20, h.TableChecksum);
  PutLe32(p + 24, h.DataChecksum);
}

inline PayloadEntry DecodeEntry(const uint8_t* p) { return PayloadEntry{GetLe32(p), GetLe32(p + 4), GetLe32(p + 8)}; }

inline std::vector<uint8_t> EncodeTable(const std::vector<PayloadEntry>& table) {
  std::vector<uint8_t> bytes;
  bytes.reserve(table.size() * kEntryBytes);
  for (const PayloadEntry& e : table) {
    AppendLe32(bytes, e.NameOffset);
    AppendLe32(bytes, e.DataOffset);
    AppendLe32(bytes, e.DataSize);
  }
  return bytes;
}
