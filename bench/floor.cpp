// zqbench-floor: the least work that turns a setup's payload into files, the
// floor that the program proper's extraction is measured against.
//   zqbench-floor.exe SETUP OUTDIR [MODE]
// It reads the header and the table (no checksums), inflates the stream with
// the program's own zlib build in the program's chunks and hands
// each output chunk to the mode; copies go in 131072-byte chunks.  No window.
// MODE takes the floor apart, to show where the time goes:
//   full      (default) into a data file in OUTDIR (the attributes of the
//             program's DataFile), then every entry copied out of it into a
//             file of its name in OUTDIR
//   checksum  as full, plus the PayloadChecksum of every inflated byte
//   direct    no data file: the inflated bytes go straight into the entries'
//             files (what a single write would cost)
//   inflate   inflate only: the output is dropped
// Exit code 0, or 1 with a line on stderr.
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "format/format.h"

namespace {

// Z_SOLO: like the program, zlib's memory comes from GlobalAlloc.
voidpf Alloc(voidpf, uInt items, uInt size) { return GlobalAlloc(GMEM_FIXED, SIZE_T(items) * size); }
void Free(voidpf, voidpf block) { GlobalFree(block); }

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "zqbench-floor: %s (error %lu)\n", what, GetLastError());
  ExitProcess(1);
}

void ReadAll(HANDLE file, void* buffer, DWORD bytes) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, bytes, &got, nullptr) || got != bytes) Fail("short read");
}

void WriteAll(HANDLE file, const void* buffer, DWORD bytes) {
  DWORD written = 0;
  if (!WriteFile(file, buffer, bytes, &written, nullptr) || written != bytes) Fail("short write");
}

void SeekTo(HANDLE file, DWORD offset) {
  LONG high = 0;
  SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
}

HANDLE CreateOutput(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("cannot create an entry's file");
  return file;
}

// The setup as read before its stream: the header, the table, the program's
// work buffer and the output folder.  `own` stands at the stream.
struct Setup {
  HANDLE own;
  PayloadHeader header;
  PayloadEntry* table;
  unsigned char* work;
  std::string outDir;
};

Setup Open(const char* path, const char* outDir) {
  Setup s{CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
          {},
          nullptr,
          static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, kSplitChunkBytes)),
          outDir};
  if (s.own == INVALID_HANDLE_VALUE) Fail("cannot open the setup");
  SeekTo(s.own, kProgramBytes);
  ReadAll(s.own, &s.header, sizeof s.header);
  if (s.header.EntryCount < 0 || s.header.EntryCount > kMaxEntryCount) Fail("bad entry count");
  const DWORD tableBytes = DWORD(s.header.EntryCount) * kEntryBytes;
  s.table = static_cast<PayloadEntry*>(GlobalAlloc(GMEM_FIXED, tableBytes + 1));
  ReadAll(s.own, s.table, tableBytes);
  return s;
}

// The program's inflate loop over `compressed` bytes from `read(buffer, want)`
// (0: cannot read), each output chunk to `put(bytes, length)`; false on an error.
template <typename Read, typename Put>
bool InflateChunks(z_stream& stream, unsigned char* work, unsigned long compressed, Read read, Put put) {
  unsigned char* const output = work + kInputChunkBytes;
  for (unsigned long remaining = compressed; remaining > 0;) {
    const unsigned got = read(work, remaining < kInputChunkBytes ? unsigned(remaining) : kInputChunkBytes);
    if (got == 0) return false;
    stream.next_in = work;
    stream.avail_in = got;
    for (;;) {
      stream.next_out = output;
      stream.avail_out = kOutputChunkBytes;
      const int result = inflate(&stream, Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR || result == Z_DATA_ERROR || result == Z_NEED_DICT) return false;
      const unsigned produced = kOutputChunkBytes - stream.avail_out;
      if (produced == 0) break;
      put(output, produced);
      if (result == Z_BUF_ERROR || stream.avail_in == 0) break;
    }
    remaining -= got;
  }
  return true;
}

// Inflates the stream and gives every output chunk to `put`.
template <typename Put>
void InflateStream(Setup& s, Put put) {
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  stream.zalloc = Alloc;
  stream.zfree = Free;
  if (inflateInit(&stream) != Z_OK) Fail("inflateInit");
  const auto read = [&s](unsigned char* buffer, unsigned want) {
    DWORD got = 0;
    return ReadFile(s.own, buffer, want, &got, nullptr) ? unsigned(got) : 0u;
  };
  if (!InflateChunks(stream, s.work, s.header.CompressedSize, read, put)) Fail("cannot read or inflate the stream");
  inflateEnd(&stream);
}

// --- the modes ------------------------------------------------------------------

void InflateOnly(Setup& s) {
  InflateStream(s, [](const unsigned char*, DWORD) {});
}

// Into a data file that deletes itself, then every entry copied out; with
// `checksum`, the PayloadChecksum of every byte as well.
void ThroughDataFile(Setup& s, bool checksum) {
  HANDLE data = CreateFileA((s.outDir + "\\data.tmp").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (data == INVALID_HANDLE_VALUE) Fail("cannot create the data file");
  uLong running = kPayloadSignature;  // PayloadChecksum: Adler-32 started from the signature
  InflateStream(s, [&](const unsigned char* bytes, DWORD length) {
    if (checksum) running = adler32(running, bytes, length);
    WriteAll(data, bytes, length);
  });
  if (checksum && running != s.header.DataChecksum) Fail("data checksum");
  for (LONG i = 0; i < s.header.EntryCount; ++i) {
    const PayloadEntry& e = s.table[i];
    SeekTo(data, e.NameOffset);
    ReadAll(data, s.work, e.DataOffset - e.NameOffset);
    HANDLE file = CreateOutput(s.outDir + "\\" + reinterpret_cast<char*>(s.work));
    SeekTo(data, e.DataOffset);
    for (DWORD left = e.DataSize; left > 0;) {
      const DWORD want = left < kSplitChunkBytes ? left : kSplitChunkBytes;
      DWORD got = 0;
      if (!ReadFile(data, s.work, want, &got, nullptr) || got == 0) Fail("cannot read the data file");
      WriteAll(file, s.work, got);
      left -= got;
    }
    CloseHandle(file);
  }
  CloseHandle(data);  // deletes it
}

// Walks the table as the bytes arrive: names into a buffer, contents into
// the entry's file.  Assumes the gapless layout that every packer writes.
void Direct(Setup& s) {
  LONG index = 0;
  DWORD offset = 0;  // of the next inflated byte
  std::string name;
  HANDLE file = INVALID_HANDLE_VALUE;
  InflateStream(s, [&](const unsigned char* bytes, DWORD length) {
    while (length > 0 && index < s.header.EntryCount) {
      const PayloadEntry& e = s.table[index];
      const DWORD end = offset < e.DataOffset ? e.DataOffset : e.DataOffset + e.DataSize;
      const DWORD n = end - offset < length ? end - offset : length;
      if (offset < e.DataOffset)
        name.append(reinterpret_cast<const char*>(bytes), n);
      else if (n > 0)
        WriteAll(file, bytes, n);
      bytes += n, length -= n, offset += n;
      if (offset == e.DataOffset && file == INVALID_HANDLE_VALUE) file = CreateOutput(s.outDir + "\\" + name.c_str());
      if (offset == e.DataOffset + e.DataSize && file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        name.clear();
        ++index;
      }
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  const struct {
    const char* name;
    void (*run)(Setup&);
  } modes[] = {{"full", [](Setup& s) { ThroughDataFile(s, false); }},
               {"checksum", [](Setup& s) { ThroughDataFile(s, true); }},
               {"direct", Direct},
               {"inflate", InflateOnly}};
  const std::string wanted = argc > 3 ? argv[3] : "full";
  for (const auto& mode : modes) {
    if (argc < 3 || wanted != mode.name) continue;
    Setup setup = Open(argv[1], argv[2]);
    mode.run(setup);
    CloseHandle(setup.own);
    return 0;
  }
  std::fprintf(stderr, "usage: zqbench-floor SETUP OUTDIR [full|checksum|direct|inflate]\n");
  return 2;
}
