// Reads a setup the way the program proper does: the same checks in the same
// order, stopping at the first that fails, with the very message its box
// would show.  zqpack's verify, list and extract rest on it.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "fileio.h"
#include "format/format.h"
#include "format/messages.h"
#include "mitigations.h"
#include "progress.h"

// The program's checks, in the order it runs them.
enum class ReadStage {
  FileSize,  // longer than 32808 bytes
  Header,    // program proper and header read in full
  Signature,
  StubChecksum,
  TableLimits,  // EntryCount within the work buffer
  Table,        // the table read in full
  TableChecksum,
  Inflate,  // the stream read, inflated, InflatedSize usable
  DataChecksum,
  Split,  // every entry's name and contents usable
  Accepted,
};

struct Verdict {
  ReadStage stage = ReadStage::FileSize;  // Accepted, or the check that failed
  MessageId message = MSG_COUNT;          // MSG_COUNT when accepted
  std::string text;                       // the message box's text, exactly
  std::string reason;                     // what was found, for people
  int entry = -1;                         // the entry the split stopped at (0-based)

  bool accepted() const { return stage == ReadStage::Accepted; }
};

// The certificate table that Authenticode signing appends, as the data
// directory of the program proper names it (directory 4: file offset, size).
struct CertTable {
  bool present = false;  // a data directory that names a table
  uint32_t offset = 0;   // from the first byte of the file
  uint32_t bytes = 0;
};

// What a check found out about a setup, as far as it got.
struct SetupReport {
  uint64_t fileBytes = 0;
  bool headerRead = false;
  PayloadHeader header{};
  bool stubChecked = false;
  uint32_t stubChecksum = 0;  // ComputeStubChecksum of bytes 0..32767
  // StubChecksum matched only as the sum over every byte, as programs proper
  // built before setups became signable compute it (see Check()).
  bool stubChecksumOverEveryByte = false;
  CertTable certTable;             // read with the program proper
  ProgramMitigations mitigations;  // what its PE headers declare, read with it
  uint64_t payloadEnd = 0;         // the first byte behind the stream, once the header allows it
  bool tableRead = false;
  std::vector<PayloadEntry> table;
  uint32_t tableChecksum = 0;
  bool inflated = false;
  uint64_t inflatedBytes = 0;
  uint32_t dataChecksum = 0;
  std::vector<std::string> names;  // of the entries the split reached, in table order
  Verdict verdict;
};

// The text of message id as the program's box shows it: "%08X" takes
// osCode, "%s" takes path in the OS-error messages and "The file may be
// corrupted." in the damaged-payload ones; cut to the program's 1024-character
// buffer.
std::string ProgramMessage(MessageId id, uint32_t osCode = 0, const std::string& path = "");

// The setup's Authenticode signature in a few words: "none", or where it
// lies ("2120 bytes at 1203896 to 1206015, behind the payload (which ends at
// 1203890)"); SignatureSitsBehindPayload: present, wholly behind the payload
// and inside the file.
std::string DescribeSignature(const SetupReport& report);
bool SignatureSitsBehindPayload(const SetupReport& report);

class SetupReader {
 public:
  // dataDir: the folder for the scratch copy of the inflated data, which the
  // program keeps in its Workspace; it vanishes when the reader is done.
  SetupReader(const std::string& path, const std::string& dataDir);

  void SetProgress(ProgressFn progress) { progress_ = std::move(progress); }

  // Runs every check of the program up to the creation of the entries' files.
  // Throws ZqError only for failures of zqpack's own I/O.
  const SetupReport& Check();

  // After Check() accepted the setup: writes each entry into dir as the
  // program writes it into its Workspace (a later entry of the same name
  // replaces the earlier one; blanks and dots at the end of a name are
  // dropped, as Windows does).  Each file appears complete or not at all.
  // Returns the paths written, in table order.
  std::vector<std::string> ExtractTo(const std::string& dir);

 private:
  bool Fail(ReadStage stage, MessageId message, std::string reason, int entry = -1);
  bool CheckHeaderAndTable();
  bool InflateToData();
  bool CheckEntries();

  std::string path_;
  std::string dataDir_;
  File setup_;
  File data_;
  SetupReport report_;
  ProgressFn progress_;
};
