#include "payload/extract.h"

#include <zlib.h>

#include "base/errors.h"
#include "base/paths.h"
#include "base/state.h"
#include "format/checksum.h"
#include "format/percent.h"
#include "format/validity.h"
#include "payload/progress.h"
#include "resources/resource.h"

void InitRunResources(RunResources* run) {
  run->OwnFile = INVALID_HANDLE_VALUE;
  run->OutFile = INVALID_HANDLE_VALUE;
  run->DataFile = INVALID_HANDLE_VALUE;
  run->ProgressWnd = nullptr;
  run->WorkBuffer = nullptr;
  run->EntryTable = nullptr;
  // Without an allocator inflateEnd sees no state and frees nothing.
  run->Inflater.zalloc = nullptr;
}

static void CloseOnce(HANDLE* handle) {
  if (*handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
  *handle = INVALID_HANDLE_VALUE;
}

template <typename T>
static void FreeOnce(T** slot) {
  if (*slot != nullptr) GlobalFree(*slot);
  *slot = nullptr;
}

static void DestroyProgressWindow(RunResources* run) {
  if (run->ProgressWnd != nullptr) DestroyWindow(run->ProgressWnd);
  run->ProgressWnd = nullptr;
}

void ReleaseRunResources(RunResources* run) {
  DestroyProgressWindow(run);
  CloseOnce(&run->OwnFile);
  CloseOnce(&run->OutFile);
  CloseOnce(&run->DataFile);  // closing the handle deletes the data file
  FreeOnce(&run->WorkBuffer);
  FreeOnce(&run->EntryTable);
  // On every path, also after a failure halfway through the stream; zlib
  // then forgets the state, so a second call frees nothing.
  inflateEnd(&run->Inflater);
}

// zlib's memory comes from the same heap as the work buffer: no C runtime.
static voidpf ZlibAlloc(voidpf, uInt items, uInt size) {
  return GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(items) * size);
}
static void ZlibFree(voidpf, voidpf block) { GlobalFree(block); }

// Reads up to `want` bytes.  A ReadFile that meets the end of the file
// succeeds without setting an error code, so the code is cleared first: a
// short read then reports 00000000, not whatever an earlier call left.
static bool ReadSome(HANDLE file, void* buffer, DWORD want, DWORD* got) {
  *got = 0;
  SetLastError(0);
  return ReadFile(file, buffer, want, got, nullptr) != FALSE;
}

// A read that must yield every byte asked for; a short one is a failure.
static bool ReadExactly(HANDLE file, void* buffer, DWORD bytes) {
  DWORD got;
  return ReadSome(file, buffer, bytes, &got) && got == bytes;
}

// Writes every byte given.  A short write would leave a silently short
// file, so it fails like a failed write; the code is cleared first, so that
// a short write without an error reports 00000000.
static bool WriteAll(HANDLE file, const void* bytes, DWORD count) {
  DWORD written = 0;
  SetLastError(0);
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// Positions at an unsigned 32-bit offset from the start of the file.
static void SeekTo(HANDLE file, uint32_t offset) {
  LONG high = 0;
  SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
}

template <typename T>
static bool AllocateOrFail(T** slot, SIZE_T bytes) {
  *slot = static_cast<T*>(GlobalAlloc(GMEM_FIXED, bytes));
  return *slot != nullptr || RecordFailure(MSG_ALLOCATE, GetLastError());
}

// Each check of payload/validity.h is followed by `found != kPayloadValid`
// in sight of the compiler, which then branches from each failing test
// straight to its message: smaller than a helper that takes the verdict.
//
// Everything before inflating: size, program proper, header, signature, the
// two checksums that need no inflating, and the reader's limits on the table.
static bool CheckHeaderAndTable(RunResources* run, PayloadHeader* header) {
  if (const MessageId found = CheckFileSize(GetFileSize(run->OwnFile, nullptr)); found != kPayloadValid)
    return RecordCorruption(found);
  if (!AllocateOrFail(&run->WorkBuffer, kWorkBufferBytes)) return false;
  if (!ReadExactly(run->OwnFile, run->WorkBuffer, kProgramBytes) ||
      !ReadExactly(run->OwnFile, header, sizeof *header))
    return RecordFailure(MSG_READ_INSTALLER, GetLastError());
  // The count is checked here, before the table is allocated: a negative
  // count or one whose table would not fit the work buffer never reaches an
  // allocation or a read.
  const uint32_t stubChecksum = ComputeStubChecksumInPlace(run->WorkBuffer);
  if (const MessageId found = CheckHeader(*header, stubChecksum); found != kPayloadValid)
    return RecordCorruption(found);
  const DWORD tableBytes = EntryTableBytes(header->EntryCount);
  if (!AllocateOrFail(&run->EntryTable, tableBytes != 0 ? tableBytes : 1)) return false;
  if (!ReadExactly(run->OwnFile, run->EntryTable, tableBytes))
    return RecordFailure(MSG_READ_INSTALLER, GetLastError());
  const uint32_t tableChecksum = PayloadChecksum(kPayloadSignature, run->EntryTable, tableBytes);
  if (const MessageId found = CheckTable(*header, tableChecksum); found != kPayloadValid)
    return RecordCorruption(found);
  return true;
}

// Works one input chunk through the inflater, each call with a
// fresh output space, until a call yields nothing or the chunk is used up.
// ScratchText holds the data file's path for the messages.
static bool InflateChunk(RunResources* run, const PayloadHeader& header) {
  z_stream* const stream = &run->Inflater;
  unsigned char* const output = run->WorkBuffer + kInputChunkBytes;
  for (;;) {
    stream->next_out = output;
    stream->avail_out = kOutputChunkBytes;
    const int result = inflate(stream, Z_NO_FLUSH);
    if (const MessageId found = CheckInflateResult(result); found != kPayloadValid) return RecordCorruption(found);
    const DWORD produced = kOutputChunkBytes - stream->avail_out;
    if (produced == 0) return true;
    // The size divides the progress count: data behind a size of 0 is refused.
    if (const MessageId found = CheckInflatedSize(header); found != kPayloadValid) return RecordCorruption(found);
    if (!WriteAll(run->DataFile, output, produced))
      return RecordFailure(MSG_WRITE_FILE, GetLastError(), ScratchText);
    InflatedTotal += produced;
    SendMessageA(run->ProgressWnd, PM_SETPOS, ProgressPercent(InflatedTotal, header.InflatedSize), 0);
    if (result == Z_BUF_ERROR || stream->avail_in == 0) return true;
  }
}

// The compressed stream into the data file, then the data checksum.  The own file stands at the first byte of the stream.  The
// inflater sums what it puts out for the stream's trailer; after each call
// its running sum covers exactly the bytes inflated so far (a stream cut
// short included), so the data checksum comes from it without a second pass
// over the data.  The inflater is ended on the exit path.
static bool InflateToDataFile(RunResources* run, const PayloadHeader& header) {
  constexpr int kDataFileNameChars = 13;  // "\\data" + four digits + ".tmp"
  if (lstrlenA(WorkspaceDir) + kDataFileNameChars >= kPathChars)
    return RecordFailure(MSG_CREATE_FILE, ERROR_FILENAME_EXCED_RANGE, WorkspaceDir);
  wsprintfA(ScratchText, Texts[TXT_DATAFILE_FMT], WorkspaceDir, GetTickCount() & 0xFFFF);
  run->DataFile = CreateFileA(ScratchText, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (run->DataFile == INVALID_HANDLE_VALUE) return RecordFailure(MSG_CREATE_FILE, GetLastError(), ScratchText);

  uint32_t remaining = header.CompressedSize;
  z_stream* const stream = &run->Inflater;
  ZeroMemory(stream, sizeof *stream);
  stream->zalloc = ZlibAlloc;
  stream->zfree = ZlibFree;
  stream->adler = 1;    // the sum of no data, also when the set-up fails
  inflateInit(stream);  // a failed set-up makes the first inflate a stream error
  run->ProgressWnd = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                        ProgressDialogProc, 0);
  while (remaining > 0) {
    const DWORD want = remaining < kInputChunkBytes ? remaining : kInputChunkBytes;
    DWORD got;
    // A file that ends before CompressedSize bytes fails here, never waits.
    if (!ReadSome(run->OwnFile, run->WorkBuffer, want, &got) || got == 0)
      return RecordFailure(MSG_READ_INSTALLER, GetLastError());
    stream->next_in = run->WorkBuffer;
    stream->avail_in = got;
    if (!InflateChunk(run, header)) return false;
    remaining -= got;
  }
  DestroyProgressWindow(run);
  const uint32_t dataChecksum = PayloadChecksumFromAdler(stream->adler, InflatedTotal);
  if (const MessageId found = CheckData(header, dataChecksum); found != kPayloadValid) return RecordCorruption(found);
  return true;
}

// One entry's name read from the data file and checked, and its file
// created in the Workspace.  ScratchText then holds its path.
static bool CreateEntryFile(RunResources* run, const PayloadEntry& entry) {
  if (const MessageId found = CheckEntrySpan(entry); found != kPayloadValid) return RecordCorruption(found);
  const DWORD span = entry.DataOffset - entry.NameOffset;
  SeekTo(run->DataFile, entry.NameOffset);
  DWORD got;
  if (!ReadSome(run->DataFile, run->WorkBuffer, span, &got))
    return RecordFailure(MSG_READ_TEMPORARY, GetLastError());
  const char* name = reinterpret_cast<const char*>(run->WorkBuffer);
  // The name must end inside what was read, and may only name a file in the
  // Workspace: no folders, drives, streams or devices.
  if (const MessageId found = CheckEntryName(name, got); found != kPayloadValid) return RecordCorruption(found);
  if (!JoinPath(ScratchText, WorkspaceDir, name))
    return RecordFailure(MSG_CREATE_FILE, ERROR_FILENAME_EXCED_RANGE, WorkspaceDir);
  run->OutFile = CreateFileA(ScratchText, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (run->OutFile == INVALID_HANDLE_VALUE) return RecordFailure(MSG_CREATE_FILE, GetLastError(), ScratchText);
  return true;
}

// The entry's contents copied in work-buffer chunks.
static bool CopyEntryData(RunResources* run, const PayloadEntry& entry) {
  SeekTo(run->DataFile, entry.DataOffset);
  for (uint32_t left = entry.DataSize; left > 0;) {
    const DWORD want = left < kSplitChunkBytes ? left : kSplitChunkBytes;
    DWORD got;
    if (!ReadSome(run->DataFile, run->WorkBuffer, want, &got) || got == 0)
      return RecordFailure(MSG_READ_TEMPORARY, GetLastError());
    left -= got;
    if (!WriteAll(run->OutFile, run->WorkBuffer, got))
      return RecordFailure(MSG_WRITE_FILE, GetLastError(), ScratchText);
  }
  CloseOnce(&run->OutFile);
  return true;
}

static bool SplitEntries(RunResources* run, int32_t entryCount) {
  for (int32_t i = 0; i < entryCount; ++i) {
    const PayloadEntry& entry = run->EntryTable[i];
    if (!CreateEntryFile(run, entry) || !CopyEntryData(run, entry)) return false;
  }
  return true;
}

bool ExtractPayload(RunResources* run) {
  PayloadHeader header;
  return CheckHeaderAndTable(run, &header) && InflateToDataFile(run, header) &&
         SplitEntries(run, header.EntryCount);
}
