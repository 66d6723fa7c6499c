// zqbench-inflate: the program's inflate loop alone, natively on Linux, to
// compare builds of zlib by CPU time without Wine, files or windows.
//
//   zqbench-inflate SETUP ROUNDS
//
// Reads the setup into memory, then ROUNDS times runs the loop of the
// extraction: 65536-byte input chunks copied into the low half of a
// 131072-byte work buffer, a fresh 65536-byte output space per inflate
// call, and the PayloadChecksum of every byte produced.  Prints one line
// per round: its CPU time in milliseconds and the bytes it inflated.
#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "format/format.h"

namespace {

double CpuMs() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// Like the program: zlib's memory from the allocator we give it (Z_SOLO).
voidpf Alloc(voidpf, uInt items, uInt size) { return calloc(items, size); }
void Free(voidpf, voidpf block) { free(block); }

}  // namespace

// For zlib built with -Dmemcpy=zq_memcpy: the copy the program proper would
// use (one string instruction), instead of the C library's.
extern "C" void* zq_memcpy(void* dest, const void* source, size_t count) {
  void* d = dest;
  __asm__ volatile("rep movsb" : "+D"(d), "+S"(source), "+c"(count) : : "memory");
  return dest;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: zqbench-inflate SETUP ROUNDS\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < kProgramBytes + kHeaderBytes) {
    fprintf(stderr, "zqbench-inflate: %s is no setup\n", argv[1]);
    return 1;
  }
  // The header's fields are little-endian, as this host is.
  PayloadHeader header;
  memcpy(&header, &file[kProgramBytes], sizeof header);
  const size_t streamAt = kTableOffset + size_t(kEntryBytes) * uint32_t(header.EntryCount);
  if (header.EntryCount < 0 || streamAt + header.CompressedSize > file.size()) {
    fprintf(stderr, "zqbench-inflate: %s is cut short\n", argv[1]);
    return 1;
  }
  std::vector<unsigned char> work(kWorkBufferBytes);
  for (int round = 0; round < atoi(argv[2]); ++round) {
    const double start = CpuMs();
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    stream.zalloc = Alloc;
    stream.zfree = Free;
    inflateInit(&stream);
    uLong running = kPayloadSignature;
    unsigned long long inflated = 0;
    for (size_t at = streamAt, left = header.CompressedSize; left > 0;) {
      const unsigned got = left < kInputChunkBytes ? unsigned(left) : kInputChunkBytes;
      memcpy(work.data(), &file[at], got);  // what ReadFile does
      at += got, left -= got;
      stream.next_in = work.data();
      stream.avail_in = got;
      for (;;) {
        stream.next_out = work.data() + kInputChunkBytes;
        stream.avail_out = kOutputChunkBytes;
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_ERROR || result == Z_DATA_ERROR || result == Z_NEED_DICT) {
          fprintf(stderr, "zqbench-inflate: inflate failed\n");
          return 1;
        }
        const unsigned produced = kOutputChunkBytes - stream.avail_out;
        if (produced == 0) break;
        running = adler32(running, work.data() + kInputChunkBytes, produced);
        inflated += produced;
        if (result == Z_BUF_ERROR || stream.avail_in == 0) break;
      }
    }
    inflateEnd(&stream);
    const double ms = CpuMs() - start;
    if (running != header.DataChecksum) {
      fprintf(stderr, "zqbench-inflate: wrong data checksum\n");
      return 1;
    }
    printf("%.1f %llu\n", ms, inflated);
  }
  return 0;
}
