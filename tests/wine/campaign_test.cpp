// Damaged setups: whatever is broken in a setup, the program ends within 10 s
// in one message of its catalogue with exit code FFFFFFFF, or shows the
// wizard with every file as the payload says; it never crashes, never
// creates a file outside its Workspace and never leaves its data file.
//
// Three valid setups (small; 10922 entries; about 20 MB) are damaged in a
// fixed, seeded way through the fixture builder: bit flips in the header, the
// table, the stream and the bytes behind it; cuts at every region boundary
// and at random points; random EntryCount, offsets and sizes.  zqpack's
// reader, which runs the program's checks in the program's order, says for
// each which of the two outcomes is due and with what message.
//
// CTest runs a fixed sample of 50 (16 for i686, which runs emulated here);
// tests/wine/campaign/run.sh runs the whole campaign (ZQ_CAMPAIGN=full, over
// 500 setups) on a rig of its own.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>

#include "bytes.h"
#include "fileio.h"
#include "ini.h"
#include "payload/checksum.h"
#include "payload/filename.h"
#include "resources/resource.h"
#include "rig.h"
#include "setup_reader.h"

namespace zqrig {
namespace {

constexpr int kRunLimitMs = 10000;         // every wait of the driver, so every run
constexpr int kLongSplitLimitMs = 150000;  // see IsLongSplit
constexpr size_t kLongSplitEntries = 1000;
constexpr size_t kLongSplitsInFull = 4;  // the rest are skipped, and counted
constexpr size_t kSampleCases = 50;      // what CTest runs for x86_64
// and for i686: 32-bit programs run emulated on the test machines, where a
// case takes about 13 s, not 5; the sample is spread the same way.
constexpr size_t kI686SampleCases = 16;
constexpr uint32_t kCampaignSeed = 2002;

// --- the valid setups --------------------------------------------------------

// How many setups of each random kind are made from one valid setup.
struct Counts {
  int headerBits, tableBits, streamBits, behindBits, randomCuts, entryFields;
};

struct Base {
  std::string name;
  Counts counts;
  std::vector<uint8_t> stub;  // the program proper
  std::vector<PayloadEntry> table;
  std::vector<uint8_t> inflated;
  std::vector<uint8_t> stream;  // deflated once, shared by every case
  std::vector<uint8_t> behind;  // bytes behind the stream
  PayloadHeader header{};       // as the builder computes it
  size_t fileBytes = 0;
  size_t TableEnd() const { return kTableOffset + table.size() * kEntryBytes; }
  size_t StreamEnd() const { return TableEnd() + stream.size(); }
};

SetupRecipe ValidRecipe(const Base& base) {
  SetupRecipe recipe;
  recipe.stub = base.stub;
  recipe.table = base.table;
  recipe.inflated = base.inflated;
  recipe.stream = base.stream;
  recipe.bytesBehindStream = base.behind;
  return recipe;
}

Base MakeBase(const std::string& name, Counts counts, const std::vector<uint8_t>& stub, std::vector<Entry> entries) {
  Base base;
  base.name = name;
  base.counts = counts;
  base.stub = stub;
  base.table = zqfixture::LayOutTable(entries);
  base.inflated = zqfixture::LayOutData(entries);
  base.stream = zqfixture::ZlibStream(base.inflated, 6);
  base.behind = zqfixture::TextLikeBytes(1000, 99);
  const std::vector<uint8_t> file = zqfixture::BuildSetup(ValidRecipe(base));
  base.header = DecodeHeader(&file[kStubBytes]);
  base.fileBytes = file.size();
  return base;
}

// What stays in the Workspace after a Cancel, so that its contents can be
// compared: the sample's files go to the wizard and the Cancel.
Entry Readme() { return {"readme.txt", zqfixture::TextLikeBytes(3000, 11), false}; }

std::vector<Base> MakeBases(const std::vector<uint8_t>& stub) {
  std::vector<Base> bases = {MakeBase("small", {30, 8, 40, 6, 30, 40}, stub, Put(SampleFiles(), Readme()))};
  std::vector<Entry> many = SampleFiles();
  for (int i = 0; many.size() < static_cast<size_t>(kMaxEntryCount); ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%05d.txt", i);
    many.push_back({name, zqfixture::TextLikeBytes(16 + i % 48, static_cast<uint32_t>(i)), false});
  }
  // Few kinds of damage that leave the payload whole: each makes a long
  // split (IsLongSplit).
  bases.push_back(MakeBase("many", {24, 8, 30, 2, 20, 30}, stub, many));

  const Entry large = {"DEMO.CAB", zqfixture::MakeCabinet("big.exe", zqfixture::RandomBytes(20u << 20, 5))};
  bases.push_back(MakeBase("large", {24, 8, 30, 6, 20, 30}, stub, Put(Put(SampleFiles(), large), Readme())));
  return bases;
}

// Where the program proper's image ends: a file cut before that is no
// program Windows would start, so the cuts begin there.
size_t ImageEnd(const std::vector<uint8_t>& stub) {
  const uint32_t pe = GetLe32(&stub[0x3C]);
  const uint16_t sections = GetLe16(&stub[pe + 6]);
  const uint16_t optional = GetLe16(&stub[pe + 20]);
  size_t end = 0;
  for (uint16_t i = 0; i < sections; ++i) {
    const uint8_t* section = &stub[pe + 24 + optional + 40u * i];
    end = std::max<size_t>(end, GetLe32(section + 20) + GetLe32(section + 16));
  }
  return end;
}

// --- the damage --------------------------------------------------------------

struct Case {
  size_t base;
  std::string kind;  // "header bit", "cut at boundary", ...
  std::string what;  // the damage in words
  std::function<void(const Base&, SetupRecipe&)> apply;
};

// The checksum that a table of `count` entries read from the damaged file
// would need: a count that disagrees with the table then reaches the stream.
uint32_t TableChecksumFor(const Base& base, int32_t count) {
  std::vector<uint8_t> after = EncodeTable(base.table);
  after.insert(after.end(), base.stream.begin(), base.stream.end());
  after.insert(after.end(), base.behind.begin(), base.behind.end());
  const size_t bytes = std::min(after.size(), static_cast<size_t>(count) * kEntryBytes);
  return PayloadChecksum(kPayloadSignature, after.data(), bytes);
}

void SetHeaderField(SetupRecipe& r, const PayloadHeader& h, int field, uint32_t mask) {
  switch (field) {
    case 0: r.signature = h.Signature ^ mask; break;
    case 1: r.compressedSize = h.CompressedSize ^ mask; break;
    case 2: r.inflatedSize = h.InflatedSize ^ mask; break;
    case 3: r.entryCount = static_cast<int32_t>(static_cast<uint32_t>(h.EntryCount) ^ mask); break;
    case 4: r.stubChecksum = h.StubChecksum ^ mask; break;
    case 5: r.tableChecksum = h.TableChecksum ^ mask; break;
    default: r.dataChecksum = h.DataChecksum ^ mask; break;
  }
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Every damaged setup of the campaign, in a fixed order from a fixed seed.
std::vector<Case> MakeCases(const std::vector<Base>& bases, size_t imageEnd) {
  static const char* const kFields[] = {"Signature",    "CompressedSize", "InflatedSize", "EntryCount",
                                        "StubChecksum", "TableChecksum",  "DataChecksum"};
  std::mt19937 random(kCampaignSeed);
  auto below = [&](uint64_t bound) { return bound == 0 ? 0 : random() % bound; };
  std::vector<Case> cases;
  for (size_t b = 0; b < bases.size(); ++b) {
    const Base& base = bases[b];
    auto add = [&](const std::string& kind, const std::string& what,
                   std::function<void(const Base&, SetupRecipe&)> apply) {
      cases.push_back(Case{b, kind, what, std::move(apply)});
    };

    const Counts& counts = base.counts;
    for (int i = 0; i < counts.headerBits; ++i) {
      const int field = static_cast<int>(below(7));
      const uint32_t mask = 1u << below(32);
      add("header bit", std::string(kFields[field]) + " ^ " + Hex(mask),
          [=](const Base& valid, SetupRecipe& recipe) { SetHeaderField(recipe, valid.header, field, mask); });
    }

    const size_t tableBytes = base.table.size() * kEntryBytes;
    for (int i = 0; i < counts.tableBits; ++i) {
      const size_t offset = below(tableBytes);
      const uint8_t mask = static_cast<uint8_t>(1u << below(8));
      add("table bit", "table byte " + std::to_string(offset) + " ^ " + Hex(mask), [=](const Base&, SetupRecipe& recipe) {
        recipe.tableChanges.push_back({offset, mask});
      });
    }

    const size_t streamBytes = base.stream.size();
    for (int i = 0; i < counts.streamBits; ++i) {
      // The zlib header, the first block header and the Adler-32 trailer,
      // then anywhere.
      static const size_t kFixed[] = {0, 1, 2, 3};
      const size_t offset = i < 4 ? kFixed[i] : i < 8 ? streamBytes - 1 - (i - 4) : below(streamBytes);
      const uint8_t mask = static_cast<uint8_t>(1u << below(8));
      add("stream bit",
          "stream byte " + std::to_string(offset) + " of " + std::to_string(streamBytes) + " ^ " + Hex(mask),
          [=](const Base& valid, SetupRecipe& recipe) {
            std::vector<uint8_t> stream = valid.stream;
            stream[offset] ^= mask;
            recipe.stream = std::move(stream);
          });
    }

    for (int i = 0; i < counts.behindBits; ++i) {
      const size_t offset = below(base.behind.size());
      const uint8_t mask = static_cast<uint8_t>(1u << below(8));
      add("behind bit", "byte " + std::to_string(offset) + " behind the stream ^ " + Hex(mask),
          [=](const Base& valid, SetupRecipe& recipe) {
            recipe.bytesBehindStream = valid.behind;
            recipe.bytesBehindStream[offset] ^= mask;
          });
    }

    // The end of the image, of the program proper, of the header, of the
    // smallest file, of the first entry, of the table, of the zlib header,
    // of the first input chunk, of the stream and of the file, each with
    // its neighbours.
    const size_t tableEnd = base.TableEnd(), streamEnd = base.StreamEnd();
    std::vector<size_t> boundaries = {
        imageEnd,         kStubBytes - 1,       kStubBytes,     kStubBytes + 1,   kTableOffset - 1,
        kTableOffset,     kMinFileBytes - 1,    kMinFileBytes,  kTableOffset + kEntryBytes,
        tableEnd - 1,     tableEnd,             tableEnd + 1,   tableEnd + 2,     tableEnd + kInputChunkBytes - 1,
        tableEnd + kInputChunkBytes,            tableEnd + kInputChunkBytes + 1,  streamEnd - 4,
        streamEnd - 1,    streamEnd,            streamEnd + 1,  base.fileBytes - 1};
    std::sort(boundaries.begin(), boundaries.end());
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());
    for (size_t cut : boundaries) {
      if (cut >= base.fileBytes) continue;
      add("cut at boundary", "cut to " + std::to_string(cut) + " of " + std::to_string(base.fileBytes) + " bytes",
          [=](const Base&, SetupRecipe& recipe) { recipe.cutTo = cut; });
    }
    for (int i = 0; i < counts.randomCuts; ++i) {
      const size_t cut = imageEnd + below(base.fileBytes - imageEnd);
      add("cut anywhere", "cut to " + std::to_string(cut) + " of " + std::to_string(base.fileBytes) + " bytes",
          [=](const Base&, SetupRecipe& recipe) { recipe.cutTo = cut; });
    }

    // EntryCount: out of the limits, and within them with a table checksum
    // that matches whatever 12 x EntryCount bytes the program reads.
    const int32_t n = static_cast<int32_t>(base.table.size());
    const std::vector<int32_t> outside = {
        INT32_MIN,          -1,        -static_cast<int32_t>(below(100000)) - 2,
        kMaxEntryCount + 1, INT32_MAX, kMaxEntryCount + 2 + static_cast<int32_t>(below(1000000))};
    for (int32_t count : outside)
      add("entry count", "EntryCount " + std::to_string(count),
          [=](const Base&, SetupRecipe& recipe) { recipe.entryCount = count; });
    const std::vector<int32_t> inside = {0, 1, std::max(n - 1, 0), std::min(n + 1, kMaxEntryCount), kMaxEntryCount,
                                         static_cast<int32_t>(below(kMaxEntryCount + 1))};
    for (int32_t count : inside) {
      add("entry count", "EntryCount " + std::to_string(count),
          [=](const Base&, SetupRecipe& recipe) { recipe.entryCount = count; });
      add("entry count", "EntryCount " + std::to_string(count) + " with its table checksum",
          [=](const Base& valid, SetupRecipe& recipe) {
            recipe.entryCount = count;
            recipe.tableChecksum = TableChecksumFor(valid, count);
          });
    }

    // One entry's fields; the builder takes the table's checksum afterwards,
    // so every one of them reaches the split.  In a long table only the
    // first entries: a split that stops late takes Wine long (IsLongSplit).
    const uint32_t inflatedBytes = static_cast<uint32_t>(base.inflated.size());
    const size_t damageable = std::min<size_t>(base.table.size(), 64);
    for (int i = 0; i < counts.entryFields; ++i) {
      const size_t e = i < 10 ? static_cast<size_t>(i) % damageable : below(damageable);
      const PayloadEntry old = base.table[e];
      PayloadEntry entry = old;
      const int32_t delta = static_cast<int32_t>(below(16)) - 8;
      const uint32_t step = static_cast<uint32_t>(delta >= 0 ? delta + 1 : delta);
      std::string what;
      const PayloadEntry& other = base.table[i % 10 == 6 ? below(base.table.size()) : 0];
      switch (i % 10) {
        case 0: entry.NameOffset = static_cast<uint32_t>(random()), what = "NameOffset random"; break;
        case 1: entry.DataOffset = static_cast<uint32_t>(random()), what = "DataOffset random"; break;
        case 2: entry.NameOffset += step, what = "NameOffset moved"; break;
        case 3: entry.DataOffset += step, what = "DataOffset moved"; break;
        case 4: entry.DataSize = static_cast<uint32_t>(random()), what = "DataSize random"; break;
        case 5: entry.DataSize += step, what = "DataSize changed"; break;
        case 6:
          entry.NameOffset = other.NameOffset, entry.DataOffset = other.DataOffset;
          what = "offsets of another entry";
          break;
        case 7:
          entry.DataSize = inflatedBytes - entry.DataOffset + static_cast<uint32_t>(below(2));
          what = "DataSize to the end of the data";
          break;
        case 8:
          entry.DataOffset = entry.NameOffset - static_cast<uint32_t>(below(2));
          what = "DataOffset at or before NameOffset";
          break;
        default:
          entry.NameOffset = inflatedBytes + static_cast<uint32_t>(below(100));
          entry.DataOffset = entry.NameOffset + 1 + static_cast<uint32_t>(below(20));
          what = "name behind the data";
          break;
      }
      char fields[96];
      std::snprintf(fields, sizeof fields, " (entry %zu: %u,%u,%u -> %u,%u,%u)", e + 1, old.NameOffset, old.DataOffset,
                    old.DataSize, entry.NameOffset, entry.DataOffset, entry.DataSize);
      add("entry fields", what + fields, [=](const Base& valid, SetupRecipe& recipe) {
        std::vector<PayloadEntry> table = valid.table;
        table[e] = entry;
        recipe.table = std::move(table);
      });
    }

    const uint32_t compressed = base.header.CompressedSize, behind = static_cast<uint32_t>(base.behind.size());
    for (uint32_t size : {0u, 1u, 2u, compressed - 1, compressed - 4, compressed + 1, compressed + behind,
                          compressed + behind + 1, 0xFFFFFFFFu, static_cast<uint32_t>(random())})
      add("compressed size", "CompressedSize " + std::to_string(size) + " for " + std::to_string(compressed),
          [=](const Base&, SetupRecipe& recipe) { recipe.compressedSize = size; });

    for (uint32_t size : {0u, 1u, inflatedBytes - 1, inflatedBytes + 1, 0xFFFFFFFFu, static_cast<uint32_t>(random())})
      add("inflated size", "InflatedSize " + std::to_string(size) + " for " + std::to_string(inflatedBytes),
          [=](const Base&, SetupRecipe& recipe) { recipe.inflatedSize = size; });
  }
  return cases;
}

// --- what is due -------------------------------------------------------------

// A file as the program leaves it in its Workspace.
struct WorkspaceFile {
  std::string name;  // as stored: the first name it was created under
  std::vector<uint8_t> contents;
};

// Windows folds letter case in names; for ASCII that is enough here.
std::string Folded(const std::string& name) {
  std::string folded = WindowsStoredName(name);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

// The name a Windows (code page 1252) name gets in the Unix folder under Wine.
std::string UnixName(const std::string& name) {
  static const uint16_t k80To9F[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                       0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                       0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
  std::string out;
  for (unsigned char c : name) {
    const uint32_t code = c < 0x80 ? c : c < 0xA0 ? k80To9F[c - 0x80] : c;
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

// The Workspace after extraction, by folded name: every entry the split
// reached, the last of equal names winning.  An entry whose contents run past
// the data stays as far as the data went.
std::map<std::string, WorkspaceFile> ExtractedFiles(const SetupReport& report, const std::vector<uint8_t>& data) {
  std::map<std::string, WorkspaceFile> files;
  const Verdict& verdict = report.verdict;
  for (size_t i = 0; i < report.names.size(); ++i) {
    const PayloadEntry& entry = report.table[i];
    const bool cut = verdict.stage == ReadStage::Split && verdict.entry == static_cast<int>(i);
    const size_t from = std::min<size_t>(entry.DataOffset, data.size());
    const size_t to = cut ? data.size() : from + entry.DataSize;
    WorkspaceFile& file = files[Folded(report.names[i])];
    if (file.name.empty()) file.name = WindowsStoredName(report.names[i]);
    file.contents.assign(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(to));
  }
  return files;
}

// The names the wizard and its Cancel delete: the license and both bitmaps
// once loaded, then the CAB files and Setup.ini.  Only plain names name a file.
std::vector<std::string> ConsumedNames(const std::map<std::string, WorkspaceFile>& files, std::string* title) {
  IniFile ini = IniFile::Parse("");
  auto setupIni = files.find("setup.ini");
  if (setupIni != files.end())
    ini = IniFile::Parse(std::string(setupIni->second.contents.begin(), setupIni->second.contents.end()));
  auto value = [&](const std::string& section, const char* key, size_t capacity) {
    return ReadSetting(ini, section, key, capacity).value;
  };
  const std::string zqi = Texts[TXT_SECTION_ZQI];
  std::string text =
      value(zqi, "ProductName", 256) + " " + value(zqi, "ProductVersion", 256) + " for SmartPhone 2002 Setup";
  *title = text.substr(0, 255);

  std::vector<std::string> names = {value(zqi, "LicenseFile", 256), value(zqi, "BodyBitmap", 512),
                                    value(zqi, "HeadBitmap", 256), "Setup.ini"};
  std::string cabs = value(value(Texts[TXT_SECTION_APPMGR], "Component", 256), "CabFiles", 512);
  for (size_t start = 0;;) {
    const size_t comma = cabs.find(',', start);
    names.push_back(cabs.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  std::vector<std::string> consumed;
  for (const std::string& name : names)
    if (!name.empty() && IsPlainFileName(name.c_str())) consumed.push_back(Folded(name));
  return consumed;
}

// --- one run -----------------------------------------------------------------

// A message's name in the summary: its text without code and placeholder.
std::string OutcomeName(MessageId id) {
  std::string text = Messages[id];
  if (text.rfind("Error Code: %08X\n", 0) == 0) text.erase(0, 17);
  if (text.size() > 3 && text.compare(text.size() - 3, 3, " %s") == 0) text.resize(text.size() - 3);
  return text;
}

// A damaged setup written to its folder, with what zqpack's reader says of it.
struct Prepared {
  fs::path dir, setup;
  SetupReport report;
  // Wine creates files slowly (2 to 5 ms a file, measured, also on tmpfs:
  // 30 to 55 s for 10922 in one folder), far beyond what the program spends:
  // a split of more than kLongSplitEntries files gets a limit with room for
  // Wine, and the campaign runs only a few of them.
  bool LongSplit() const { return report.names.size() > kLongSplitEntries; }
};

struct CaseResult {
  std::string outcome;                // "wizard" or the message shown
  std::vector<std::string> problems;  // empty when the run was as it must be
  double seconds = 0;
};

class DamagedSetups : public ProgramTest {
 protected:
  Prepared Prepare(const Base& base, const Case& c, const fs::path& dir) const {
    Prepared prepared{dir, dir / "setup.exe", {}};
    fs::remove_all(dir);
    fs::create_directories(dir / "temp");
    SetupRecipe recipe = ValidRecipe(base);
    c.apply(base, recipe);
    zqfixture::WriteFileBytes(prepared.setup.string(), zqfixture::BuildSetup(recipe));
    prepared.report = SetupReader(prepared.setup.string(), folder().Make("oracle").string()).Check();
    return prepared;
  }
  CaseResult Run(const Base& base, const Prepared& prepared, const fs::path& appMgr) const;
};

CaseResult DamagedSetups::Run(const Base& base, const Prepared& prepared, const fs::path& appMgr) const {
  CaseResult result;
  auto problem = [&](const std::string& text) { result.problems.push_back(text); };
  const fs::path& dir = prepared.dir;
  const SetupReport& report = prepared.report;
  const Verdict& verdict = report.verdict;
  const bool wizardDue = verdict.accepted();

  Launch launch = Setup(prepared.setup);
  launch.cwd = dir;
  launch.temp = dir / "temp";
  launch.appPaths = AppPaths::Pointing(appMgr);
  launch.timeoutMs = prepared.LongSplit() ? kLongSplitLimitMs : kRunLimitMs;
  if (wizardDue)
    launch.script.Wizard().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  else
    launch.script.Box().Answer("ok").Exit();

  const fs::path driveC = Rig::Get().Prefix() / "drive_c";
  const Snapshot before(dir), systemBefore(driveC);
  const Outcome run = Drive(launch);
  result.seconds = run.seconds;
  const std::string crashed = EndCrashDebuggers();
  if (!crashed.empty()) problem("Wine's crash debugger ran (winedbg " + crashed + ")");
  if (!run.errors.empty()) problem("the driver: " + run.errors.front());

  if (!run.wizardTitle.empty() || run.boxes.empty()) {
    result.outcome = run.wizardTitle.empty() ? "nothing" : "wizard";
  } else {
    std::optional<MessageId> id = CatalogueMessage(run.boxes[0].text);
    result.outcome = id ? OutcomeName(*id) : "unknown message";
  }

  std::map<std::string, WorkspaceFile> expected;
  if (verdict.stage >= ReadStage::Split) {
    if (report.inflatedBytes != base.inflated.size())
      problem("the reader inflated " + std::to_string(report.inflatedBytes) + " bytes, the setup holds " +
              std::to_string(base.inflated.size()));
    expected = ExtractedFiles(report, base.inflated);
  }

  if (wizardDue) {
    std::string title;
    for (const std::string& name : ConsumedNames(expected, &title)) expected.erase(name);
    if (run.wizardTitle != title) problem("wizard title \"" + run.wizardTitle + "\", wanted \"" + title + "\"");
    if (run.boxes.size() != 1 || run.boxes[0].text != Messages[MSG_CANCEL_QUESTION])
      problem("wanted the Cancel question as the only box, saw " + std::to_string(run.boxes.size()) + " box(es)");
    if (!run.ExitedWith(0)) problem("wanted exit code 00000000");
  } else {
    // The very text zqpack's reader gives, but where a path fills the
    // message: the reader does not know the Workspace's.
    const bool withPath = verdict.message == MSG_CREATE_DIRECTORY || verdict.message == MSG_CREATE_FILE ||
                          verdict.message == MSG_WRITE_FILE;
    const std::string text = run.boxes.size() == 1 ? run.boxes[0].text : "";
    if (run.boxes.size() != 1 || run.boxes[0].caption != "ZQ Installer Error" ||
        !(withPath ? IsMessage(text, verdict.message) : text == verdict.text))
      problem("wanted one box \"" + verdict.text + "\" (" + verdict.reason + "), saw " +
              std::to_string(run.boxes.size()) + ": \"" + text + "\"");
    if (!run.ExitedWith(0xFFFFFFFF)) problem("wanted exit code FFFFFFFF");
  }

  // The Workspace: what is due in it, byte for byte, and nothing else; no
  // data file; gone when a Cancel emptied it.
  const std::vector<fs::path> workspaces = Workspaces(dir / "temp");
  if (workspaces.size() > 1) problem("more than one Workspace");
  std::vector<std::string> left = workspaces.empty() ? std::vector<std::string>() : FilesIn(workspaces[0]);
  if (wizardDue && expected.empty() && !workspaces.empty()) problem("the Workspace stayed: " + Joined(left));
  if (!wizardDue && workspaces.empty()) problem("no Workspace was made");
  std::vector<std::string> wrong;
  for (const auto& [folded, file] : expected) {
    const std::string unixName = UnixName(file.name);
    auto found = std::find(left.begin(), left.end(), unixName);
    if (found == left.end()) {
      wrong.push_back("missing " + unixName);
      continue;
    }
    left.erase(found);
    if (FileBytes(workspaces[0] / unixName) != file.contents) wrong.push_back("wrong contents " + unixName);
  }
  for (const std::string& name : left)
    wrong.push_back((name.rfind("data", 0) == 0 ? "data file left " : "unexpected ") + name);
  if (wrong.size() > 8) wrong.resize(8);
  if (!wrong.empty()) problem("Workspace: " + Joined(wrong));

  // Nothing outside the Workspace: not beside the setup, not in the
  // temporary folder, not on drive C: of the prefix.
  std::vector<std::string> outside = before.Changes(Snapshot(dir));
  for (const std::string& change : systemBefore.Changes(Snapshot(driveC))) outside.push_back("drive_c/" + change);
  if (!outside.empty()) problem("outside the Workspace: " + Joined(outside));
  if (!result.problems.empty()) problem(run.Transcript());
  return result;
}

TEST_P(DamagedSetups, EndInOneMessageOrTheWizard) {
  const char* mode = std::getenv("ZQ_CAMPAIGN");
  const bool full = mode != nullptr && std::string(mode) == "full";
  const std::vector<uint8_t> stub = zqfixture::ReadFileBytes(ProgramProper(arch()).string());
  ASSERT_EQ(stub.size(), kStubBytes) << ProgramProper(arch());
  const std::vector<Base> bases = MakeBases(stub);
  const std::vector<Case> cases = MakeCases(bases, ImageEnd(stub));
  // All with ZQ_CAMPAIGN=full, else a fixed sample spread evenly over the
  // bases and kinds of damage.
  // ZQ_CAMPAIGN_CASE=N runs case #N alone, as a failure names it.
  const char* only = std::getenv("ZQ_CAMPAIGN_CASE");
  const size_t sample = arch() == Arch::i686 ? kI686SampleCases : kSampleCases;
  const size_t count = only ? 1 : full ? cases.size() : std::min(cases.size(), sample);
  if (only) {
    ASSERT_LT(std::strtoul(only, nullptr, 10), cases.size()) << "ZQ_CAMPAIGN_CASE is beyond the campaign";
  }
  const fs::path appMgr = StandIn();

  std::map<std::string, int> byOutcome;
  std::vector<std::string> failures;
  size_t ran = 0, longSplits = 0, skipped = 0;
  double slowest = 0, total = 0;
  std::printf("campaign: %zu of %zu damaged setups (%s)\n", count, cases.size(),
              full ? "ZQ_CAMPAIGN=full" : arch() == Arch::i686 ? "the i686 CI sample; ZQ_CAMPAIGN=full runs all"
                                                              : "the CI sample; ZQ_CAMPAIGN=full runs all");
  for (size_t n = 0; n < count; ++n) {
    // A long split beyond the few the full campaign runs is skipped; the
    // sample runs none and takes the next case behind it instead.
    size_t index = only ? std::strtoul(only, nullptr, 10) : n * cases.size() / count;
    const size_t end = only ? index + 1 : (n + 1) * cases.size() / count;
    std::optional<Prepared> prepared;
    for (; index < end && !prepared; ++index) {
      const Base& base = bases[cases[index].base];
      prepared = Prepare(base, cases[index], folder().Root() / "cases" / (std::to_string(index) + "-" + base.name));
      if (!prepared->LongSplit() || only || (full && longSplits < kLongSplitsInFull)) break;
      fs::remove_all(prepared->dir);
      prepared.reset();
      if (full) {
        ++skipped;
        std::printf("[%3zu/%zu] #%zu: skipped, its split would create over %zu files\n", n + 1, count, index,
                    kLongSplitEntries);
        index = end;
      }
    }
    if (!prepared) continue;
    longSplits += prepared->LongSplit();
    const Case& c = cases[index];
    const Base& base = bases[c.base];
    const std::string id = "#" + std::to_string(index) + "-" + base.name;
    // One run decides: a case that passes only when run again is a fault,
    // of the program or of the rig, and fails here.
    const CaseResult result = Run(base, *prepared, appMgr);
    std::printf("[%3zu/%zu] %s %s: %s -> %s (%.1f s)%s\n", n + 1, count, id.c_str(), c.kind.c_str(), c.what.c_str(),
                result.outcome.c_str(), result.seconds, result.problems.empty() ? "" : "  FAILED");
    std::fflush(stdout);
    ++ran;
    ++byOutcome[result.outcome];
    slowest = std::max(slowest, result.seconds);
    total += result.seconds;
    if (result.problems.empty())
      fs::remove_all(prepared->dir);
    else
      failures.push_back(id + " " + c.kind + ": " + c.what + " (seed " + std::to_string(kCampaignSeed) +
                         ", case " + std::to_string(index) + ": ZQ_CAMPAIGN_CASE=" + std::to_string(index) +
                         " runs it alone; setup kept: " + prepared->setup.string() + ")\n  " +
                         Joined(result.problems, "\n  "));
  }

  std::printf("campaign: %zu run, %zu as they must be, %zu long splits skipped; %.0f s in Wine, slowest %.1f s\n", ran,
              ran - failures.size(), skipped, total, slowest);
  for (const auto& [outcome, number] : byOutcome) std::printf("  %5d  %s\n", number, outcome.c_str());
  for (const std::string& failure : failures) ADD_FAILURE() << failure;
}

ZQ_WINE_TEST_SUITE(DamagedSetups);

}  // namespace
}  // namespace zqrig
