#include "json_report.h"

#include <nlohmann/json.hpp>

#include "cabinet_report.h"

// ordered: the keys come in the order of the text output.
using json = nlohmann::ordered_json;

namespace {

// In the order of ReadStage.
const char* const kStageNames[] = {"file-size",     "header", "signature",      "stub-checksum",
                                   "table-limits",  "table",  "table-checksum", "inflate",
                                   "data-checksum", "split",  "accepted"};
static_assert(sizeof kStageNames / sizeof kStageNames[0] == static_cast<size_t>(ReadStage::Accepted) + 1);

// "ok", "wrong" or "not checked", as the text shows it; computed is null
// when the check never got that far.
json Checksum(bool computed, uint32_t stored, uint32_t actual) {
  json c = {{"stored", stored}, {"computed", nullptr}, {"state", "not checked"}};
  if (computed) {
    c["computed"] = actual;
    c["state"] = stored == actual ? "ok" : "wrong";
  }
  return c;
}

// The program proper's mitigations; null where the image cannot say (all of
// them when it is no PE image, a flag of the other architecture, stack
// cookies that leave no trace in the headers).
json Mitigations(const ProgramMitigations& m) {
  const auto known = [&m](bool applies, json value) { return m.pe && applies ? value : json(nullptr); };
  return {{"pe", m.pe},
          {"dllCharacteristics", known(true, m.dllCharacteristics)},
          {"aslr", known(true, m.Aslr())},
          {"relocationBytes", known(true, m.relocationBytes)},
          {"highEntropyVA", known(m.pe32plus, m.Has(kHighEntropyVa))},
          {"nx", known(true, m.Has(kNxCompat))},
          {"noSEH", known(!m.pe32plus, m.Has(kNoSeh))},
          {"stackCookies", known(m.stackCookies, true)},
          {"text", DescribeMitigations(m)}};
}

// Texts from files may hold any bytes; nlohmann::json throws on invalid
// UTF-8 when it writes, so such bytes are shown as U+FFFD instead.
std::string Dump(const json& document) { return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n"; }

}  // namespace

std::string SetupReportJson(const std::string& setup, const SetupReport& r,
                            const std::vector<CabinetReport>& cabinets) {
  const PayloadHeader& h = r.header;
  json document = {{"setup", setup}, {"fileBytes", r.fileBytes}, {"header", nullptr}};
  if (r.headerRead) {
    document["header"] = {
        {"signature", {{"stored", h.Signature}, {"state", h.Signature == kPayloadSignature ? "ok" : "wrong"}}},
        {"compressedSize", h.CompressedSize},
        {"inflatedSize", h.InflatedSize},
        {"inflatedBytes", r.inflated ? json(r.inflatedBytes) : json(nullptr)},  // what the stream yields
        {"entryCount", h.EntryCount},
        {"stubChecksum", Checksum(r.stubChecked, h.StubChecksum, r.stubChecksum)},
        {"tableChecksum", Checksum(r.tableRead, h.TableChecksum, r.tableChecksum)},
        {"dataChecksum", Checksum(r.inflated, h.DataChecksum, r.dataChecksum)},
        {"authenticode", nullptr},
    };
    // A setup of a program proper built before signable setups: its sum is
    // the one over every byte, and it matches.
    if (r.stubChecksumOverEveryByte)
      document["header"]["stubChecksum"] = Checksum(true, h.StubChecksum, h.StubChecksum);
    document["header"]["stubChecksum"]["overEveryByte"] = r.stubChecksumOverEveryByte;
    if (r.certTable.present)
      document["header"]["authenticode"] = {{"offset", r.certTable.offset},
                                            {"bytes", r.certTable.bytes},
                                            {"behindPayload", SignatureSitsBehindPayload(r)},
                                            {"text", DescribeSignature(r)}};
  }
  document["programProper"] = r.headerRead ? Mitigations(r.mitigations) : json(nullptr);
  const Verdict& v = r.verdict;
  document["verdict"] = {
      {"accepted", v.accepted()},
      {"stage", kStageNames[static_cast<size_t>(v.stage)]},
      {"message", v.accepted() ? json(nullptr) : json(v.text)},  // the program's box, exactly
      {"reason", v.accepted() ? json(nullptr) : json(v.reason)},
      {"entry", v.entry >= 0 ? json(v.entry + 1) : json(nullptr)},  // numbered from 1 as in the list
  };
  json entries = json::array();
  for (size_t i = 0; i < r.table.size(); ++i) {
    entries.push_back({{"index", i + 1},
                       {"name", i < r.names.size() ? json(r.names[i]) : json(nullptr)},
                       {"offset", r.table[i].DataOffset},
                       {"size", r.table[i].DataSize}});
  }
  document["entries"] = entries;
  document["cabinets"] = CabinetsJson(cabinets);
  return Dump(document);
}

std::string SettingsCheckJson(const std::string& ini, const SettingsCheck& check) {
  json findings = json::array();
  for (const Finding& f : check.findings) {
    findings.push_back({{"severity", f.severity == Severity::Error ? "error" : "warning"},
                        {"section", f.section},
                        {"key", f.key},
                        {"text", f.text},
                        {"reference", SettingReference(f.key)}});
  }
  json files = json::array();
  for (const PackItem& item : check.files) files.push_back({{"name", item.name}, {"path", item.path}});
  return Dump({{"settings", ini},
               {"errors", check.Count(Severity::Error)},
               {"warnings", check.Count(Severity::Warning)},
               {"findings", findings},
               {"files", files},
               {"cabinets", CabinetsJson(check.cabinets)}});
}
