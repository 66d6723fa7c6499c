// Extraction's own bookkeeping, which no window shows: the data checksum
// taken from the inflater's running sum, and zlib's state ended by the exit
// path on every way out of extraction.
#include "payload/extract.h"

#include <windows.h>

#include <initializer_list>

#include "base/state.h"
#include "format/checksum.h"
#include "tests/module/check.h"

static char TempPath[MAX_PATH];

// Short writes that report success, as a full medium or a network share may
// give them: the program's calls to WriteFile reach ShortWriteFile through
// the import slot defined here, which the linker takes before kernel32's.
static bool ShortWrites;  // armed: each write moves half its bytes
static BOOL WINAPI ShortWriteFile(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
  static auto* real = Kernel32(&WriteFile, "WriteFile");
  return real(file, bytes, ShortWrites && count > 1 ? count / 2 : count, written, overlapped);
}
ZQ_REPLACE_IMPORT(WriteFile, 20, ShortWriteFile);
static unsigned char Data[200000];  // pseudo-random bytes, then zeros

// PayloadChecksum from the inflater's Adler-32 equals the second pass it
// replaces, for any data and any 32-bit length (zlib takes lengths as a
// 32-bit long on Windows).
static void CheckChecksumFromAdler() {
  uint32_t seed = 12345;
  for (unsigned char& byte : Data) byte = static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 24);
  for (uint32_t n : {0u, 1u, 5552u, 5553u, static_cast<uint32_t>(sizeof Data)})
    CHECK_TRUE("data", PayloadChecksumFromAdler(adler32(1, Data, n), n) == PayloadChecksum(kPayloadSignature, Data, n));
  // Over zeros both sums depend on the length modulo 65521 only, so a few
  // kilobytes stand for runs of 2 and 4 GiB.
  ZeroMemory(Data, sizeof Data);
  for (uint32_t n : {0x7FFFFFFFu, 0x80000000u + 777, 0xFFFFFFFFu})
    CHECK_TRUE("zeros", PayloadChecksumFromAdler(adler32(1, Data, n % 65521), n) ==
                            PayloadChecksum(kPayloadSignature, Data, n % 65521));
}

enum class Damage { None, Signature, Trailer, DataChecksum, CutShort, ShortWrites };

// A setup of one entry "a.bin" of `size` bytes of Data in a zlib stream of
// one stored block, damaged as asked.
static void WriteSetup(const char* path, uint16_t size, Damage damage) {
  static unsigned char file[32768 + 28 + 12 + 7 + 6 + 65535 + 4];
  ZeroMemory(file, sizeof file);
  const uint32_t inflatedSize = 6 + size;
  unsigned char* stream = file + 32768 + 28 + 12;
  const unsigned char head[] = {0x78,
                                0x01,
                                0x01,
                                static_cast<unsigned char>(inflatedSize),
                                static_cast<unsigned char>(inflatedSize >> 8),
                                static_cast<unsigned char>(~inflatedSize),
                                static_cast<unsigned char>(~inflatedSize >> 8)};
  CopyMemory(stream, head, sizeof head);
  unsigned char* inflated = stream + sizeof head;
  lstrcpyA(reinterpret_cast<char*>(inflated), "a.bin");
  CopyMemory(inflated + 6, Data, size);
  const uint32_t adler = static_cast<uint32_t>(adler32(1, inflated, inflatedSize));
  for (int i = 0; i < 4; ++i) inflated[inflatedSize + i] = static_cast<unsigned char>(adler >> (24 - 8 * i));
  if (damage == Damage::Trailer) inflated[inflatedSize + 3] ^= 1;
  const uint32_t streamBytes = sizeof head + inflatedSize + 4;

  PayloadHeader header = {kPayloadSignature, streamBytes, inflatedSize, 1, 0, 0, 0};
  const PayloadEntry entry = {0, 6, size};
  header.StubChecksum = PayloadChecksum(kPayloadSignature, file, 32768);
  header.TableChecksum = PayloadChecksum(kPayloadSignature, &entry, sizeof entry);
  header.DataChecksum = PayloadChecksum(kPayloadSignature, inflated, inflatedSize);
  if (damage == Damage::Signature) header.Signature ^= 1;
  if (damage == Damage::DataChecksum) header.DataChecksum ^= 1;
  if (damage == Damage::CutShort) header.CompressedSize += 100;  // the file ends first
  CopyMemory(file + 32768, &header, sizeof header);
  CopyMemory(file + 32768 + 28, &entry, sizeof entry);
  WriteWholeFile(path, file, 32768 + 28 + 12 + streamBytes);
}

int main() {
  GetTempPathA(MAX_PATH, TempPath);
  CheckChecksumFromAdler();
  const struct {
    const char* what;
    Damage damage;
    const char* message;  // part of the pending message; null: none
    bool inflaterSetUp;
  } paths[] = {
      {"a whole setup", Damage::None, nullptr, true},
      {"a wrong signature", Damage::Signature, "Invalid signature in installer.", false},
      {"a wrong zlib trailer", Damage::Trailer, "Installer failed to extract data block.", true},
      {"a wrong data checksum", Damage::DataChecksum, "Invalid CRC in compressed data.", true},
      {"a file that ends inside the stream", Damage::CutShort, "Error reading data from installer.", true},
      {"writes that move half their bytes", Damage::ShortWrites, "Error Code: 00000000\nError writing data to ", true},
  };
  char setup[MAX_PATH + 16], entryPath[MAX_PATH + 16];
  wsprintfA(WorkspaceDir, "%sws", TempPath);
  wsprintfA(setup, "%ssetup.exe", TempPath);
  wsprintfA(entryPath, "%s\\a.bin", WorkspaceDir);
  CreateDirectoryA(WorkspaceDir, nullptr);
  for (const auto& p : paths) {
    WriteSetup(setup, 40000, p.damage);
    ShortWrites = p.damage == Damage::ShortWrites;
    PendingError = nullptr;
    InflatedTotal = 0;
    RunResources run;
    InitRunResources(&run);
    run.OwnFile = CreateFileA(setup, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK_TRUE(p.what, ExtractPayload(&run) == (p.message == nullptr));
    if (p.message != nullptr) CHECK_HAS(p.what, PendingError != nullptr ? PendingError : "(none)", p.message);
    CHECK_TRUE(p.what, (run.Inflater.state != nullptr) == p.inflaterSetUp);
    ShortWrites = false;
    ReleaseRunResources(&run);
    CHECK_TRUE(p.what, run.Inflater.state == nullptr);
    ReleaseRunResources(&run);  // safe a second time
    DeleteFileA(entryPath);
    DeleteFileA(setup);
  }
  RemoveDirectoryA(WorkspaceDir);
  return FinishChecks();
}
