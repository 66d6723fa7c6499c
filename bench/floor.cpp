// zqbench-floor: the least work that turns a setup's payload into files, the
// floor that the program proper's extraction is measured against.
//
//   zqbench-floor.exe SETUP OUTDIR [MODE]
//
// It reads the header and the table (no checksums), inflates the stream with
// the program's own zlib build into a data file in OUTDIR (the same
// attributes as the program's DataFile), then copies every entry out into a
// file of its name in OUTDIR.  The chunks are the program's: 65536-byte
// input reads, a fresh 65536-byte output space per inflate call, 131072-byte
// copies.  No window, no message, no checksum of ours.
//
// MODE takes the floor apart, to show where the time goes:
//   full        (default) as above
//   checksum    as above, plus the PayloadChecksum of every inflated byte,
//               which the program adds
//   direct      no data file: the inflated bytes go straight into the
//               entries' files (what a single write would cost)
//   inflate     inflate only: the output is dropped
// Exit code 0, or 1 with a line on stderr.
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "payload/format.h"

namespace {

enum class Mode { kFull, kChecksum, kDirect, kInflate };

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

// Where inflated bytes go in "direct" mode: walks the table as the bytes
// arrive, names into a buffer, contents into the entry's file.  Assumes the
// gapless layout that every packer writes.
struct DirectSink {
  const PayloadEntry* table = nullptr;
  LONG count = 0;
  std::string outDir;
  LONG index = 0;
  DWORD offset = 0;  // of the next inflated byte
  std::string name;
  HANDLE file = INVALID_HANDLE_VALUE;

  void Put(const unsigned char* bytes, DWORD length) {
    while (length > 0 && index < count) {
      const PayloadEntry& e = table[index];
      if (offset < e.DataOffset) {  // the name
        DWORD n = e.DataOffset - offset < length ? e.DataOffset - offset : length;
        name.append(reinterpret_cast<const char*>(bytes), n);
        bytes += n, length -= n, offset += n;
        if (offset == e.DataOffset) file = CreateOutput(outDir + "\\" + name.c_str());
      } else {  // the contents
        DWORD end = e.DataOffset + e.DataSize;
        DWORD n = end - offset < length ? end - offset : length;
        if (n > 0) WriteAll(file, bytes, n);
        bytes += n, length -= n, offset += n;
      }
      if (offset == e.DataOffset + e.DataSize && file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        name.clear();
        ++index;
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zqbench-floor SETUP OUTDIR [full|checksum|direct|inflate]\n");
    return 2;
  }
  const std::string outDir = argv[2];
  const std::string modeName = argc > 3 ? argv[3] : "full";
  Mode mode = Mode::kFull;
  if (modeName == "checksum") mode = Mode::kChecksum;
  else if (modeName == "direct") mode = Mode::kDirect;
  else if (modeName == "inflate") mode = Mode::kInflate;
  else if (modeName != "full") Fail("unknown mode");

  HANDLE own = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (own == INVALID_HANDLE_VALUE) Fail("cannot open the setup");
  unsigned char* work = static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, kSplitChunkBytes));
  PayloadHeader header;
  SeekTo(own, kStubBytes);
  ReadAll(own, &header, sizeof header);
  if (header.EntryCount < 0 || header.EntryCount > kMaxEntryCount) Fail("bad entry count");
  const DWORD tableBytes = DWORD(header.EntryCount) * kEntryBytes;
  PayloadEntry* table = static_cast<PayloadEntry*>(GlobalAlloc(GMEM_FIXED, tableBytes + 1));
  ReadAll(own, table, tableBytes);

  HANDLE data = INVALID_HANDLE_VALUE;
  if (mode == Mode::kFull || mode == Mode::kChecksum) {
    data = CreateFileA((outDir + "\\data.tmp").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (data == INVALID_HANDLE_VALUE) Fail("cannot create the data file");
  }
  DirectSink direct;
  direct.table = table;
  direct.count = header.EntryCount;
  direct.outDir = outDir;

  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  stream.zalloc = Alloc;
  stream.zfree = Free;
  if (inflateInit(&stream) != Z_OK) Fail("inflateInit");
  uLong running = kPayloadSignature;  // PayloadChecksum: Adler-32 started from the signature
  unsigned char* const output = work + kInputChunkBytes;
  for (DWORD remaining = header.CompressedSize; remaining > 0;) {
    const DWORD want = remaining < kInputChunkBytes ? remaining : kInputChunkBytes;
    DWORD got = 0;
    if (!ReadFile(own, work, want, &got, nullptr) || got == 0) Fail("cannot read the stream");
    stream.next_in = work;
    stream.avail_in = got;
    for (;;) {
      stream.next_out = output;
      stream.avail_out = kOutputChunkBytes;
      const int result = inflate(&stream, Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR || result == Z_DATA_ERROR || result == Z_NEED_DICT) Fail("inflate");
      const DWORD produced = kOutputChunkBytes - stream.avail_out;
      if (produced == 0) break;
      if (mode == Mode::kChecksum) running = adler32(running, output, produced);
      if (data != INVALID_HANDLE_VALUE) WriteAll(data, output, produced);
      if (mode == Mode::kDirect) direct.Put(output, produced);
      if (result == Z_BUF_ERROR || stream.avail_in == 0) break;
    }
    remaining -= got;
  }
  inflateEnd(&stream);
  if (mode == Mode::kChecksum && running != header.DataChecksum) Fail("data checksum");

  if (data != INVALID_HANDLE_VALUE) {
    for (LONG i = 0; i < header.EntryCount; ++i) {
      const PayloadEntry& e = table[i];
      SeekTo(data, e.NameOffset);
      ReadAll(data, work, e.DataOffset - e.NameOffset);
      HANDLE file = CreateOutput(outDir + "\\" + reinterpret_cast<char*>(work));
      SeekTo(data, e.DataOffset);
      for (DWORD left = e.DataSize; left > 0;) {
        const DWORD want = left < kSplitChunkBytes ? left : kSplitChunkBytes;
        DWORD got = 0;
        if (!ReadFile(data, work, want, &got, nullptr) || got == 0) Fail("cannot read the data file");
        WriteAll(file, work, got);
        left -= got;
      }
      CloseHandle(file);
    }
    CloseHandle(data);  // deletes it
  }
  CloseHandle(own);
  return 0;
}
