#include "text_report.h"

#include <stdarg.h>
#include <stdio.h>

#include "cabinet_report.h"
#include "mitigations.h"
#include "format/format.h"

namespace {

// printf into a string of any length.
std::string Format(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  std::string text(static_cast<size_t>(vsnprintf(nullptr, 0, format, args)), '\0');
  vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  va_end(args);
  return text;
}

// "label" padded to the column where list's values begin.
std::string Field(const char* label, const std::string& value) { return Format("%-17s%s\n", label, value.c_str()); }

std::string Hex(uint32_t value) { return Format("0x%08X", static_cast<unsigned>(value)); }

std::string ChecksumState(bool computed, uint32_t stored, uint32_t actual) {
  if (!computed) return Hex(stored) + "  not checked";
  if (stored == actual) return Hex(stored) + "  ok";
  return Hex(stored) + "  WRONG (computed " + Hex(actual) + ")";
}

// The program's message on one line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n') c = ' ';
  return text;
}

std::string Counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string FileCount(size_t count) { return Counted(count, "file", "files"); }

std::string SetupListText(const std::string& setup, const SetupReport& r, const std::vector<CabinetReport>& cabinets) {
  const PayloadHeader& h = r.header;
  std::string text = Field("setup", setup + ", " + std::to_string(r.fileBytes) + " bytes");
  if (r.headerRead) {
    text += Field("signature", Hex(h.Signature) + (h.Signature == kPayloadSignature ? "  ok" : "  WRONG"));
    text += Field("CompressedSize", std::to_string(h.CompressedSize));
    std::string inflated = std::to_string(h.InflatedSize);
    if (r.inflated && r.inflatedBytes != h.InflatedSize)
      inflated += "  (the stream yields " + std::to_string(r.inflatedBytes) + ")";
    text += Field("InflatedSize", inflated);
    text += Field("EntryCount", std::to_string(static_cast<int>(h.EntryCount)));
    text += Field("StubChecksum",
                  r.stubChecksumOverEveryByte
                      ? Hex(h.StubChecksum) + "  ok over every byte (a program proper built before signable setups)"
                      : ChecksumState(r.stubChecked, h.StubChecksum, r.stubChecksum));
    text += Field("TableChecksum", ChecksumState(r.tableRead, h.TableChecksum, r.tableChecksum));
    text += Field("DataChecksum", ChecksumState(r.inflated, h.DataChecksum, r.dataChecksum));
    text += Field("Authenticode", DescribeSignature(r));
    text += Field("program proper", DescribeMitigations(r.mitigations));
  }
  text +=
      Field("verdict", r.verdict.accepted() ? "the program extracts it"
                                            : "refused: " + OneLine(r.verdict.text) + " (" + r.verdict.reason + ")");
  if (!r.table.empty()) {
    text += Format("\n%6s  %-32s %12s %12s\n", "#", "name", "offset", "size");
    for (size_t i = 0; i < r.table.size(); ++i)
      text += Format("%6zu  %-32s %12u %12u\n", i + 1, i < r.names.size() ? r.names[i].c_str() : "?",
                     static_cast<unsigned>(r.table[i].DataOffset), static_cast<unsigned>(r.table[i].DataSize));
  }
  for (const CabinetReport& cab : cabinets) text += "\n" + CabinetText(cab);
  return text;
}

std::string SetupVerifyText(const std::string& setup, const SetupReport& r) {
  return setup + ": the program extracts it: " + FileCount(r.table.size()) + ", " + std::to_string(r.inflatedBytes) +
         " bytes\n" + setup + ": Authenticode signature: " + DescribeSignature(r) + "\n" + setup +
         ": program proper: " + DescribeMitigations(r.mitigations) + "\n";
}

std::string SettingsCheckText(const std::string& ini, const SettingsCheck& check, bool verbose, bool quiet) {
  std::string text;
  for (const Finding& f : check.findings) text += FormatFinding(ini, f) + "\n";
  if (verbose)
    for (const CabinetReport& cab : check.cabinets) text += CabinetText(cab);
  if (!quiet)
    text += ini + ": " + Counted(check.Count(Severity::Error), "error", "errors") + ", " +
            Counted(check.Count(Severity::Warning), "warning", "warnings") + "\n";
  return text;
}
