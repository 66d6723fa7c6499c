// The validity checks of a payload: their order, their limits and the
// message each failure gives.  Pure functions over what a reader has read or
// computed; the reader does the I/O around them (the program proper with
// Win32 calls, zqpack's verify with its portable files), so both refuse a
// setup at the same check with the same message.  Each returns the message
// to report, or kPayloadValid.  Inline: in the program proper each has one
// caller, and a call costs bytes.
#pragma once
#include <stdint.h>
#include <zlib.h>

#include "format/filename.h"
#include "format/format.h"
#include "format/limits.h"
#include "format/messages.h"

constexpr MessageId kPayloadValid = MSG_COUNT;

// The file's length as GetFileSize gives it (its low 32 bits).
inline MessageId CheckFileSize(uint32_t fileBytes) {
  return fileBytes < kMinFileBytes ? MSG_BAD_FILE_SIZE : kPayloadValid;
}

// Once the program proper and the header are read: the
// signature, the stub checksum, then an EntryCount whose table the work
// buffer holds.  The count is checked before the table is allocated or read.
inline MessageId CheckHeader(const PayloadHeader& header, uint32_t stubChecksum) {
  if (header.Signature != kPayloadSignature) return MSG_BAD_SIGNATURE;
  if (stubChecksum != header.StubChecksum) return MSG_BAD_STUB_CRC;
  if (!EntryCountFitsLimits(header.EntryCount)) return MSG_INVALID_DATA;
  return kPayloadValid;
}

// The entry table's checksum, once the table is read.
inline MessageId CheckTable(const PayloadHeader& header, uint32_t tableChecksum) {
  return tableChecksum != header.TableChecksum ? MSG_BAD_TABLE_CRC : kPayloadValid;
}

// Each inflate call: a stream the inflater refuses ends extraction.
// `result` is zlib's.
inline MessageId CheckInflateResult(int result) {
  return result == Z_STREAM_ERROR || result == Z_DATA_ERROR || result == Z_NEED_DICT ? MSG_EXTRACT_FAILED
                                                                                     : kPayloadValid;
}

// A call that yielded bytes: InflatedSize divides the progress count, so
// data behind a size of 0 is refused.
inline MessageId CheckInflatedSize(const PayloadHeader& header) {
  return header.InflatedSize == 0 ? MSG_INVALID_DATA : kPayloadValid;
}

// The data checksum, once the stream is used up.
inline MessageId CheckData(const PayloadHeader& header, uint32_t dataChecksum) {
  return dataChecksum != header.DataChecksum ? MSG_BAD_DATA_CRC : kPayloadValid;
}

// One entry, before its name is read: a name span of 1 to
// kMaxNameBytes.
inline MessageId CheckEntrySpan(const PayloadEntry& entry) {
  return NameSpanFitsLimits(entry) ? kPayloadValid : MSG_INVALID_DATA;
}

// The entry's name as read (`readBytes` of the span) ends inside what was
// read and names only a file in the Workspace.
inline MessageId CheckEntryName(const char* nameBytes, uint32_t readBytes) {
  return NameIsTerminated(nameBytes, readBytes) && IsPlainFileName(nameBytes) ? kPayloadValid : MSG_INVALID_DATA;
}
