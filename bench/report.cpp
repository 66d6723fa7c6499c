// zqbench-report: turns the benchmark's raw runs into docs/benchmarks.md and
// the data files of its plots.
//
//   zqbench-report write TEMPLATE OUT.md RESULTS PLOTDATA
//       RESULTS holds meta.txt (key=value lines written by run.sh), one
//       GROUP.tsv per group of runs (the launcher's RUN lines) and, when perf
//       ran, profile.txt.  TEMPLATE is markdown with {{...}} fields (below).
//   zqbench-report profile SETUPMAP FLOORMAP < perf-script-output > profile.txt
//       sums `perf script -F comm,ip,sym,dso` samples of the setup and the
//       floor by what ran: the programs' own functions (named from their
//       link maps), kernel functions, Wine and C library modules.
//
// Fields of the template:
//   {{meta:KEY}}                   a value of meta.txt
//   {{ms:G/J}} {{cpu:G/J}}         median wall / CPU milliseconds of job J in group G
//   {{s:G/J}}                      median wall seconds
//   {{mbs:G/J}}                    inflated MB/s of the median run
//   {{ratio:G/J:G/J}}              wall time of the first over the second: the
//                                  median over the rounds of the two runs' ratio
//   {{cpuratio:G/J:G/J}}           the same for CPU time
//   {{sumratio:G}}                 the setup (job ours) over the floor plus the
//                                  start-up floor of the same round, in group G
//   {{saved:G/J:G/J}}              percent of the second's time that the first saves
//   {{less:G/J:G/J}}               milliseconds the first takes less than the second
//                                  (median of the rounds' differences)
//   {{cpuless:G/J:G/J}}            the same for CPU time
//   {{mib:G/J:FIELD}}              median memory field (peak_ws, vm_hwm, rss_anon) in MiB
//   {{metadiff:KEY:KEY}}           the difference of two numbers of meta.txt
//   {{change:G/J:G/J}}             the first's time against the second's, as a
//                                  signed percentage (−20 % is a fifth faster)
//   {{nativechange:BUILD}}         the same for a native zlib build's CPU time
//                                  against -Os (native.txt)
//   {{table:NAME}}                 a generated table (size, setups, pack, speed,
//                                  cpu, memory, startup, variants, floor,
//                                  profile, native, goals)
// A figure that cannot be computed (a group that did not run) shows as "n/a".
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const double kMiB = 1048576.0;
const long kGoalUsedBytes = 29184;  // with the exploit mitigations (docs/security.md)
const long kBudgetBytes = 32768;

struct Run {
  int round;
  double ms, cpu, runq;
  double peakWs, vmHwm, rssAnon;
};

struct Data {
  std::string resultsDir;
  std::map<std::string, std::string> meta;
  std::map<std::string, std::vector<Run>> runs;  // "group/job"
  std::vector<std::string> profile;              // lines of profile.txt
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

std::vector<std::string> Lines(const std::string& text) { return Split(text, '\n'); }

// The groups run.sh writes, in the order of the report.
std::vector<std::string> GroupFiles(const std::string& dir) {
  std::vector<std::string> names = {"size-1", "size-64", "size-256", "startup", "variants"};
  std::vector<std::string> present;
  for (const std::string& n : names)
    if (std::ifstream(dir + "/" + n + ".tsv")) present.push_back(n);
  return present;
}

Data Load(const std::string& dir) {
  Data d;
  d.resultsDir = dir;
  for (const std::string& line : Lines(ReadText(dir + "/meta.txt"))) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) d.meta[line.substr(0, eq)] = line.substr(eq + 1);
  }
  for (const std::string& group : GroupFiles(dir)) {
    for (const std::string& line : Lines(ReadText(dir + "/" + group + ".tsv"))) {
      const std::vector<std::string> f = Split(line, '\t');
      if (f.size() != 9 || f[0] != "RUN") continue;
      Run r;
      r.round = std::atoi(f[2].c_str());
      r.ms = std::atof(f[3].c_str());
      r.cpu = std::atof(f[4].c_str());
      r.runq = std::atof(f[5].c_str());
      r.peakWs = std::atof(f[6].c_str());
      r.vmHwm = std::atof(f[7].c_str());
      r.rssAnon = std::atof(f[8].c_str());
      d.runs[group + "/" + f[1]].push_back(r);
    }
  }
  for (const std::string& line : Lines(ReadText(dir + "/profile.txt")))
    if (!line.empty()) d.profile.push_back(line);
  return d;
}

double Median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of one field over the runs of "group/job"; NAN without runs
// or when the field was not measured (-1).
double Field(const Data& d, const std::string& key, double Run::*field) {
  auto it = d.runs.find(key);
  if (it == d.runs.end()) return NAN;
  std::vector<double> values;
  for (const Run& r : it->second)
    if (r.*field >= 0) values.push_back(r.*field);
  return Median(values);
}

double MinMax(const Data& d, const std::string& key, bool wantMax) {
  auto it = d.runs.find(key);
  if (it == d.runs.end() || it->second.empty()) return NAN;
  double v = it->second[0].ms;
  for (const Run& r : it->second) v = wantMax ? std::max(v, r.ms) : std::min(v, r.ms);
  return v;
}

// The runs of two jobs of one group paired by round: both ran seconds
// apart, so a pair shares the machine's state.  Ratios and differences are
// the medians of the pairs' ratios and differences.
std::vector<std::pair<double, double>> Pairs(const Data& d, const std::string& a, const std::string& b,
                                             double Run::*field) {
  std::vector<std::pair<double, double>> pairs;
  auto ra = d.runs.find(a), rb = d.runs.find(b);
  if (ra == d.runs.end() || rb == d.runs.end()) return pairs;
  for (const Run& x : ra->second)
    for (const Run& y : rb->second)
      if (x.round == y.round && x.*field >= 0 && y.*field >= 0) pairs.push_back({x.*field, y.*field});
  return pairs;
}

double Ratio(const Data& d, const std::string& a, const std::string& b, double Run::*field = &Run::ms) {
  std::vector<double> ratios;
  for (const auto& p : Pairs(d, a, b, field)) ratios.push_back(p.first / p.second);
  return Median(ratios);
}

// a over the sum of b and c, round by round: the setup against a floor that
// also starts the program's windows.
double SumRatio(const Data& d, const std::string& a, const std::string& b, const std::string& c) {
  std::vector<double> ratios;
  auto ra = d.runs.find(a), rb = d.runs.find(b), rc = d.runs.find(c);
  if (ra == d.runs.end() || rb == d.runs.end() || rc == d.runs.end()) return NAN;
  for (const Run& x : ra->second)
    for (const Run& y : rb->second)
      for (const Run& z : rc->second)
        if (x.round == y.round && y.round == z.round) ratios.push_back(x.ms / (y.ms + z.ms));
  return Median(ratios);
}

// How much longer a takes than b (negative: shorter).
double Difference(const Data& d, const std::string& a, const std::string& b, double Run::*field = &Run::ms) {
  std::vector<double> differences;
  for (const auto& p : Pairs(d, a, b, field)) differences.push_back(p.first - p.second);
  return Median(differences);
}

size_t RunCount(const Data& d, const std::string& key) {
  auto it = d.runs.find(key);
  return it == d.runs.end() ? 0 : it->second.size();
}

std::string Fixed(double v, int decimals) {
  if (std::isnan(v) || std::isinf(v)) return "n/a";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

// A signed percentage of a fraction: +4.1 % or −9.5 %.
std::string Percent(double fraction) {
  if (std::isnan(fraction)) return "n/a";
  return (fraction < 0 ? "−" : "+") + Fixed(std::fabs(100 * fraction), 1) + " %";
}

std::string Thousands(double v) {
  if (std::isnan(v)) return "n/a";
  std::string digits = Fixed(std::fabs(v), 0);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return (v < 0 ? "-" : "") + out;
}

std::string Meta(const Data& d, const std::string& key) {
  auto it = d.meta.find(key);
  return it == d.meta.end() ? "n/a" : it->second;
}

double MetaNumber(const Data& d, const std::string& key) {
  auto it = d.meta.find(key);
  return it == d.meta.end() ? NAN : std::atof(it->second.c_str());
}

// The inflated bytes of the payload that group G extracts: size-N groups
// carry N, the variants group the size in meta "variants_size".
double InflatedBytes(const Data& d, const std::string& group) {
  if (group.rfind("size-", 0) == 0) return MetaNumber(d, "inflated." + group.substr(5));
  if (group == "variants") return MetaNumber(d, "inflated." + Meta(d, "variants_size"));
  return NAN;
}

double MBps(const Data& d, const std::string& key) {
  const std::string group = key.substr(0, key.find('/'));
  return InflatedBytes(d, group) / kMiB / (Field(d, key, &Run::ms) / 1000.0);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

std::vector<std::string> Sizes(const Data& d) {
  std::vector<std::string> sizes;
  for (const char* s : {"1", "64", "256"})
    if (d.runs.count(std::string("size-") + s + "/ours")) sizes.push_back(s);
  return sizes;
}

// --- tables -----------------------------------------------------------------------

std::string Row(const std::vector<std::string>& cells) {
  std::string row = "|";
  for (const std::string& c : cells) row += " " + c + " |";
  return row + "\n";
}

std::string Header(const std::vector<std::string>& cells) {
  std::string rule = "|";
  for (size_t i = 0; i < cells.size(); ++i) rule += i == 0 ? "---|" : "---:|";
  return Row(cells) + rule + "\n";
}

// How run.sh built variant v: "as built", or its cmake options and patches.
std::string VariantLabel(const Data& d, const std::string& v) {
  const std::string label = Meta(d, "label." + v);
  if (label == "n/a" || label == "as built") return "as built";
  std::string out;
  for (const std::string& part : Split(label, '+')) {
    std::string p = part;
    while (!p.empty() && p.front() == ' ') p.erase(0, 1);
    while (!p.empty() && p.back() == ' ') p.pop_back();
    out += (out.empty() ? "" : " + ") + ("`" + p + "`");
  }
  return out;
}

std::string SizeTable(const Data& d) {
  std::string t =
      Header({"program", "i686 bytes used", "x86_64 bytes used", "i686 bytes filled", "i686 headroom to 29184"});
  for (const std::string& v : Words(Meta(d, "variants"))) {
    const double i686 = MetaNumber(d, "stub.i686." + v);
    if (std::isnan(i686) && std::isnan(MetaNumber(d, "stub.x86_64." + v))) continue;
    t += Row({"ZQ Installer, " + VariantLabel(d, v), Thousands(i686) + (std::isnan(i686) ? "" : " of 32,768"),
              Thousands(MetaNumber(d, "stub.x86_64." + v)) + " of 32,768",
              Thousands(MetaNumber(d, "content.i686." + v)), Thousands(kGoalUsedBytes - i686)});
  }
  t += Row({"NSIS 3.08 zlib stub, x86-ansi", Thousands(MetaNumber(d, "nsis_stub.zlib-x86-ansi")), "", "", ""});
  t += Row({"NSIS 3.08 zlib stub, x86-unicode", Thousands(MetaNumber(d, "nsis_stub.zlib-x86-unicode")), "", "", ""});
  t +=
      Row({"NSIS 3.08 zlib stub, amd64-unicode", "", Thousands(MetaNumber(d, "nsis_stub.zlib-amd64-unicode")), "", ""});
  return t;
}

// The sets whose setups run.sh packed (meta pack_sets), then the demo.
std::vector<std::pair<std::string, std::string>> PackSets(const Data& d) {
  std::vector<std::pair<std::string, std::string>> sets;
  for (const std::string& s : Words(Meta(d, "pack_sets")))
    sets.push_back({s, s.rfind("text", 0) == 0 ? s.substr(4) + " MiB, text only" : s + " MiB"});
  sets.push_back({"demo", "the demo"});
  return sets;
}

std::string SetupsTable(const Data& d) {
  std::string t = Header({"payload", "inflated bytes", "ZQ level 9", "ZQ best", "NSIS zlib", "NSIS LZMA (solid)",
                          "ZQ best / level 9", "ZQ level 9 / NSIS zlib", "ZQ best / NSIS zlib"});
  for (const auto& set : PackSets(d)) {
    const std::string& s = set.first;
    const double ours = MetaNumber(d, "setup_bytes.ours." + s), best = MetaNumber(d, "setup_bytes.best." + s),
                 nsis = MetaNumber(d, "setup_bytes.nsis." + s);
    t += Row({set.second, Thousands(MetaNumber(d, "inflated." + s)), Thousands(ours), Thousands(best), Thousands(nsis),
              Thousands(MetaNumber(d, "setup_bytes.nsislzma." + s)), Fixed(best / ours, 3), Fixed(ours / nsis, 3),
              Fixed(best / nsis, 3)});
  }
  return t;
}

// Wall seconds of each packing, and the packer's peak resident memory.
std::string PackTable(const Data& d) {
  std::string t = Header({"payload", "ZQ level 9 s", "ZQ best s", "NSIS zlib s", "NSIS LZMA s", "ZQ level 9 peak MiB",
                          "ZQ best peak MiB", "NSIS LZMA peak MiB"});
  auto mib = [&d](const std::string& key) { return Fixed(MetaNumber(d, key) / 1024, 0); };
  for (const auto& set : PackSets(d)) {
    const std::string& s = set.first;
    t += Row({set.second, Meta(d, "pack_s.ours." + s), Meta(d, "pack_s.best." + s), Meta(d, "pack_s.nsis." + s),
              Meta(d, "pack_s.nsislzma." + s), mib("pack_kib.ours." + s), mib("pack_kib.best." + s),
              mib("pack_kib.nsislzma." + s)});
  }
  return t;
}

std::string TimeCell(const Data& d, const std::string& key) {
  if (!RunCount(d, key)) return "n/a";
  return Thousands(Field(d, key, &Run::ms)) + " (" + Thousands(MinMax(d, key, false)) + "–" +
         Thousands(MinMax(d, key, true)) + ")";
}

// The builds that the size runs measured: as built ("ours", "floor") and,
// when run.sh had one, the build before this round's changes ("rec",
// "floor-rec"; run.sh: meta compare).
struct Build {
  std::string label, ours, floor;
};

std::vector<Build> SizeBuilds(const Data& d) {
  std::vector<Build> builds = {{"as built", "ours", "floor"}};
  const std::string rec = Meta(d, "compare");
  if (rec != "n/a" && !rec.empty()) builds.push_back({"before", "rec", "floor-rec"});
  return builds;
}

std::string SpeedTable(const Data& d) {
  std::string t = Header({"payload", "ZQ build", "runs", "ZQ ms to wizard", "NSIS /S ms", "floor ms", "ZQ MB/s",
                          "NSIS MB/s", "floor MB/s", "ZQ / NSIS", "ZQ / floor", "ZQ / (floor + start-up floor)"});
  for (const std::string& s : Sizes(d)) {
    const std::string g = "size-" + s + "/";
    for (const Build& b : SizeBuilds(d)) {
      t += Row({s + " MiB", b.label, std::to_string(RunCount(d, g + b.ours)), TimeCell(d, g + b.ours),
                TimeCell(d, g + "nsis"), TimeCell(d, g + b.floor), Fixed(MBps(d, g + b.ours), 0),
                Fixed(MBps(d, g + "nsis"), 0), Fixed(MBps(d, g + b.floor), 0),
                "**" + Fixed(Ratio(d, g + b.ours, g + "nsis"), 2) + "**",
                "**" + Fixed(Ratio(d, g + b.ours, g + b.floor), 2) + "**",
                Fixed(SumRatio(d, g + b.ours, g + b.floor, g + "startup-floor"), 2)});
    }
  }
  return t;
}

std::string CpuTable(const Data& d) {
  std::string t = Header({"payload", "ZQ build", "ZQ CPU ms", "ZQ waiting for a CPU, ms", "NSIS CPU ms", "floor CPU ms",
                          "ZQ / NSIS (CPU)", "ZQ / floor (CPU)"});
  for (const std::string& s : Sizes(d)) {
    const std::string g = "size-" + s + "/";
    for (const Build& b : SizeBuilds(d)) {
      const double ours = Field(d, g + b.ours, &Run::cpu);
      t += Row({s + " MiB", b.label, Thousands(ours), Thousands(Field(d, g + b.ours, &Run::runq)),
                Thousands(Field(d, g + "nsis", &Run::cpu)), Thousands(Field(d, g + b.floor, &Run::cpu)),
                Fixed(Ratio(d, g + b.ours, g + "nsis", &Run::cpu), 2),
                Fixed(Ratio(d, g + b.ours, g + b.floor, &Run::cpu), 2)});
    }
  }
  return t;
}

std::string MemoryTable(const Data& d) {
  std::string t = Header({"payload", "ZQ build", "peak working set", "VmHWM (Linux)", "private resident (RssAnon)",
                          "peak working set − the 1 MiB payload's"});
  for (const std::string& s : Sizes(d)) {
    for (const Build& b : SizeBuilds(d)) {
      const std::string k = "size-" + s + "/" + b.ours;
      const double ws = Field(d, k, &Run::peakWs);
      const double base = Field(d, "size-1/" + b.ours, &Run::peakWs);
      t += Row({s + " MiB", b.label, Fixed(ws / kMiB, 2) + " MiB", Fixed(Field(d, k, &Run::vmHwm) / kMiB, 2) + " MiB",
                Fixed(Field(d, k, &Run::rssAnon) / kMiB, 2) + " MiB", Fixed((ws - base) / 1024, 0) + " KiB"});
    }
  }
  return t;
}

std::string StartupTable(const Data& d) {
  std::string t = Header({"build", "runs", "ms to wizard, median (min–max)", "CPU ms", "waiting for a CPU, ms"});
  for (const std::string& v : Words(Meta(d, "variants"))) {
    const std::string k = "startup/demo-" + v;
    if (!RunCount(d, k)) continue;
    t += Row({VariantLabel(d, v), std::to_string(RunCount(d, k)), TimeCell(d, k), Thousands(Field(d, k, &Run::cpu)),
              Thousands(Field(d, k, &Run::runq))});
  }
  const std::string k = "startup/startup-floor";
  if (RunCount(d, k))
    t += Row({"the start-up floor (no payload)", std::to_string(RunCount(d, k)), TimeCell(d, k),
              Thousands(Field(d, k, &Run::cpu)), Thousands(Field(d, k, &Run::runq))});
  return t;
}

std::string VariantsTable(const Data& d) {
  std::string t = Header({"program", "ms", "MB/s", "CPU ms", "time vs as built", "/ floor of the same zlib"});
  for (const std::string& v : Words(Meta(d, "variants"))) {
    const std::string k = "variants/ours-" + v;
    if (!RunCount(d, k)) continue;
    // The floor linked with the same zlib build (run.sh: floor_of.VARIANT).
    const std::string floorKey = "variants/floor-" + Meta(d, "floor_of." + v) + "-full";
    t += Row({"ZQ, " + VariantLabel(d, v), TimeCell(d, k), Fixed(MBps(d, k), 0), Thousands(Field(d, k, &Run::cpu)),
              v == "base" ? "" : Percent(Ratio(d, k, "variants/ours-base") - 1), Fixed(Ratio(d, k, floorKey), 2)});
  }
  std::vector<std::string> floors = Words(Meta(d, "floors"));
  floors.push_back("allo2");
  for (const std::string& f : floors) {
    const std::string what = f == "allo2" ? "all of zlib at -O2" : "zlib of the build " + VariantLabel(d, f);
    for (const char* mode : {"full", "checksum"}) {
      const std::string k = "variants/floor-" + f + "-" + mode;
      if (!RunCount(d, k)) continue;
      t += Row({"floor, " + what + (std::string(mode) == "checksum" ? ", + checksum" : ""), TimeCell(d, k),
                Fixed(MBps(d, k), 0), Thousands(Field(d, k, &Run::cpu)), "", ""});
    }
  }
  return t;
}

std::string FloorTable(const Data& d) {
  struct Step {
    const char* job;
    const char* what;
    const char* adds;
  };
  const Step steps[] = {
      {"floor-base-inflate", "inflate only (reads the setup, output dropped)", "read + inflate"},
      {"floor-base-direct", "inflate into the entries' files", "one write of every byte"},
      {"floor-base-full", "inflate into the data file, then copy out (the floor)",
       "the data file: a second write and a read"},
      {"floor-base-checksum", "the floor + PayloadChecksum of every byte", "the checksum pass"},
  };
  std::string t = Header({"step", "ms", "CPU ms", "adds", "ms added", "CPU ms added"});
  std::string previous;
  for (const Step& s : steps) {
    const std::string k = std::string("variants/") + s.job;
    if (!RunCount(d, k)) continue;
    t += Row({s.what, TimeCell(d, k), Thousands(Field(d, k, &Run::cpu)), s.adds,
              previous.empty() ? "" : Thousands(Difference(d, k, previous)),
              previous.empty() ? "" : Thousands(Difference(d, k, previous, &Run::cpu))});
    previous = k;
  }
  const std::string ours = "variants/ours-base";
  t += Row({"the setup, as built, to its wizard", TimeCell(d, ours), Thousands(Field(d, ours, &Run::cpu)),
            "window start-up, progress messages, wizard", Thousands(Difference(d, ours, previous)),
            Thousands(Difference(d, ours, previous, &Run::cpu))});
  return t;
}

// profile.txt lines: process TAB kind TAB name TAB samples
std::string ProfileTable(const Data& d) {
  if (d.profile.empty()) return "_perf was not available here: no profile._\n";
  struct Line {
    std::string process, kind, name;
    double samples;
  };
  std::vector<Line> lines;
  std::map<std::string, double> total;
  for (const std::string& l : d.profile) {
    std::vector<std::string> f = Split(l, '\t');
    if (f.size() != 4) continue;
    lines.push_back({f[0], f[1], f[2], std::atof(f[3].c_str())});
    total[f[0]] += lines.back().samples;
  }
  std::string t = Header({"process", "where", "what", "CPU ms", "share"});
  for (const auto& process : total) {
    std::vector<Line> mine;
    for (const Line& l : lines)
      if (l.process == process.first) mine.push_back(l);
    std::sort(mine.begin(), mine.end(), [](const Line& a, const Line& b) { return a.samples > b.samples; });
    double shown = 0;
    for (size_t i = 0; i < mine.size() && i < 12; ++i) {
      if (mine[i].samples / process.second < 0.01) break;
      t += Row({process.first, mine[i].kind, mine[i].name, Thousands(mine[i].samples),
                Fixed(100 * mine[i].samples / process.second, 1) + " %"});
      shown += mine[i].samples;
    }
    t += Row({process.first, "", "the rest", Thousands(process.second - shown),
              Fixed(100 * (process.second - shown) / process.second, 1) + " %"});
  }
  return t;
}

struct Goal {
  std::string what;
  std::vector<std::string> figures;  // per build
  std::vector<int> verdicts;         // 1 met, 0 not met, -1 not measured
};

int Verdict(double value, bool met) { return std::isnan(value) ? -1 : met ? 1 : 0; }

std::vector<Goal> Goals(const Data& d) {
  const std::vector<Build> builds = SizeBuilds(d);
  std::vector<Goal> goals;
  Goal size{"bytes used on i686 ≤ 29,184", {}, {}};
  for (const Build& b : builds) {
    const double used = MetaNumber(d, "stub.i686." + (b.ours == "ours" ? std::string("base") : Meta(d, "compare")));
    size.figures.push_back(Thousands(used));
    size.verdicts.push_back(Verdict(used, used <= kGoalUsedBytes));
  }
  goals.push_back(size);
  for (const std::string& s : Sizes(d)) {
    Goal g{"faster than NSIS at " + s + " MiB (ZQ / NSIS < 1)", {}, {}};
    for (const Build& b : builds) {
      const double r = Ratio(d, "size-" + s + "/" + b.ours, "size-" + s + "/nsis");
      g.figures.push_back(Fixed(r, 2));
      g.verdicts.push_back(Verdict(r, r < 1));
    }
    goals.push_back(g);
  }
  for (const std::string& s : Sizes(d)) {
    Goal g{"within 1.3× of the floor at " + s + " MiB", {}, {}};
    for (const Build& b : builds) {
      const double r = Ratio(d, "size-" + s + "/" + b.ours, "size-" + s + "/" + b.floor);
      g.figures.push_back(Fixed(r, 2));
      g.verdicts.push_back(Verdict(r, r <= 1.3));
    }
    goals.push_back(g);
  }
  for (const std::string& s : Sizes(d)) {
    Goal g{"ZQ / (floor + start-up floor) ≤ 1.10 at " + s + " MiB", {}, {}};
    for (const Build& b : builds) {
      const std::string group = "size-" + s + "/";
      const double r = SumRatio(d, group + b.ours, group + b.floor, group + "startup-floor");
      g.figures.push_back(Fixed(r, 2));
      g.verdicts.push_back(Verdict(r, r <= 1.10));
    }
    goals.push_back(g);
  }
  // Sizes do not depend on the build: the same figure in every column.
  for (const std::string& s : Words(Meta(d, "pack_sets"))) {
    if (s.rfind("text", 0) != 0) continue;
    Goal g{"best-level setup ≤ 0.96 × NSIS zlib (" + s.substr(4) + " MiB, text only)", {}, {}};
    const double r = MetaNumber(d, "setup_bytes.best." + s) / MetaNumber(d, "setup_bytes.nsis." + s);
    for (size_t i = 0; i < builds.size(); ++i) {
      g.figures.push_back(Fixed(r, 3));
      g.verdicts.push_back(Verdict(r, r <= 0.96));
    }
    goals.push_back(g);
  }
  Goal memory{"peak working set at 256 MiB within 1 MiB of 1 MiB's", {}, {}};
  for (const Build& b : builds) {
    const double grow = Field(d, "size-256/" + b.ours, &Run::peakWs) - Field(d, "size-1/" + b.ours, &Run::peakWs);
    memory.figures.push_back(Fixed(grow / 1024, 0) + " KiB");
    memory.verdicts.push_back(Verdict(grow, std::fabs(grow) <= kMiB));
  }
  goals.push_back(memory);
  return goals;
}

std::string GoalsTable(const Data& d) {
  std::vector<std::string> header = {"goal"};
  for (const Build& b : SizeBuilds(d)) header.push_back(b.label);
  std::string t = Header(header);
  for (const Goal& g : Goals(d)) {
    std::vector<std::string> row = {g.what};
    for (size_t i = 0; i < g.figures.size(); ++i)
      row.push_back(g.figures[i] + (g.verdicts[i] < 0 ? " (not measured)" : g.verdicts[i] ? " met" : " **not met**"));
    t += Row(row);
  }
  return t;
}

// native.txt lines: build TAB CPU-ms inflated-bytes, one per round.  The
// figure of a build is the median of its rounds.
std::map<std::string, std::pair<double, double>> NativeRuns(const Data& d) {
  std::map<std::string, std::vector<double>> ms;
  std::map<std::string, double> bytes;
  for (const std::string& l : Lines(ReadText(d.resultsDir + "/native.txt"))) {
    std::vector<std::string> f = Split(l, '\t');
    if (f.size() != 2) continue;
    std::vector<std::string> w = Words(f[1]);
    if (w.size() != 2) continue;
    ms[f[0]].push_back(std::atof(w[0].c_str()));
    bytes[f[0]] = std::atof(w[1].c_str());
  }
  std::map<std::string, std::pair<double, double>> runs;
  for (const auto& m : ms) runs[m.first] = {Median(m.second), bytes[m.first]};
  return runs;
}

std::map<std::string, double> NativeMs(const Data& d) {
  std::map<std::string, double> ms;
  for (const auto& r : NativeRuns(d)) ms[r.first] = r.second.first;
  return ms;
}

std::string NativeTable(const Data& d) {
  std::map<std::string, std::pair<double, double>> runs = NativeRuns(d);
  if (runs.empty()) return "_not run_\n";
  const char* builds[][2] = {{"os", "`-Os`, zlib's own byte copy (the build before)"},
                             {"inffast-o2", "the same with inffast.c at `-O2`"},
                             {"all-o2", "the same with all of zlib at `-O2`"},
                             {"memcpy", "`-Os`, copies with `rep movsb` (as the program builds it)"},
                             {"memcpy-o2", "the same with inffast.c at `-O2`"}};
  std::string t = Header({"zlib build", "CPU ms (median of 15)", "MB/s", "CPU time vs the first row"});
  const double base = runs.count("os") ? runs["os"].first : NAN;
  for (auto& b : builds) {
    if (!runs.count(b[0])) continue;
    const auto& r = runs[b[0]];
    t += Row({b[1], Fixed(r.first, 0), Fixed(r.second / kMiB / (r.first / 1000), 0),
              std::string(b[0]) == "os" ? "" : Percent(r.first / base - 1)});
  }
  return t;
}

// --- fields -------------------------------------------------------------------------

std::string Expand(const Data& d, const std::string& field) {
  const size_t colon = field.find(':');
  const std::string kind = field.substr(0, colon);
  const std::string arg = colon == std::string::npos ? "" : field.substr(colon + 1);
  const std::vector<std::string> a = Split(arg, ':');
  auto ms = [&](const std::string& k) { return Field(d, k, &Run::ms); };
  if (kind == "meta") return Meta(d, arg);
  if (kind == "ms") return Thousands(ms(arg));
  if (kind == "cpu") return Thousands(Field(d, arg, &Run::cpu));
  if (kind == "s") return Fixed(ms(arg) / 1000, 2);
  if (kind == "mbs") return Fixed(MBps(d, arg), 0);
  if (kind == "ratio" && a.size() == 2) return Fixed(Ratio(d, a[0], a[1]), 2);
  if (kind == "sumratio") return Fixed(SumRatio(d, arg + "/ours", arg + "/floor", arg + "/startup-floor"), 2);
  if (kind == "cpuratio" && a.size() == 2) return Fixed(Ratio(d, a[0], a[1], &Run::cpu), 2);
  if (kind == "saved" && a.size() == 2) return Fixed(100 * (1 - Ratio(d, a[0], a[1])), 0);
  if (kind == "less" && a.size() == 2) return Thousands(-Difference(d, a[0], a[1]));
  if (kind == "cpuless" && a.size() == 2) return Thousands(-Difference(d, a[0], a[1], &Run::cpu));
  if (kind == "mib" && a.size() == 2) {
    double Run::*f = a[1] == "peak_ws" ? &Run::peakWs : a[1] == "vm_hwm" ? &Run::vmHwm : &Run::rssAnon;
    return Fixed(Field(d, a[0], f) / kMiB, 1);
  }
  if (kind == "metadiff" && a.size() == 2) return Thousands(MetaNumber(d, a[0]) - MetaNumber(d, a[1]));
  if (kind == "nativechange") {
    const std::map<std::string, double> native = NativeMs(d);
    auto it = native.find(arg), base = native.find("os");
    if (it == native.end() || base == native.end()) return "n/a";
    return Percent(it->second / base->second - 1);
  }
  if (kind == "change" && a.size() == 2) return Percent(Ratio(d, a[0], a[1]) - 1);
  if (kind == "table") {
    if (arg == "size") return SizeTable(d);
    if (arg == "setups") return SetupsTable(d);
    if (arg == "speed") return SpeedTable(d);
    if (arg == "cpu") return CpuTable(d);
    if (arg == "memory") return MemoryTable(d);
    if (arg == "startup") return StartupTable(d);
    if (arg == "variants") return RunCount(d, "variants/ours-base") ? VariantsTable(d) : "_not run_\n";
    if (arg == "floor") return RunCount(d, "variants/floor-base-full") ? FloorTable(d) : "_not run_\n";
    if (arg == "profile") return ProfileTable(d);
    if (arg == "goals") return GoalsTable(d);
    if (arg == "pack") return PackTable(d);
    if (arg == "native") return NativeTable(d);
  }
  std::fprintf(stderr, "zqbench-report: unknown field {{%s}}\n", field.c_str());
  return "{{" + field + "}}";
}

// A number for gnuplot: NaN marks a figure that was not measured.
std::string Num(double v, int decimals) { return std::isnan(v) ? "NaN" : Fixed(v, decimals); }

void WritePlotData(const Data& d, const std::string& dir) {
  std::ofstream speed(dir + "/speed.dat");
  speed << "# payload ZQ NSIS floor ZQ-before (MB/s)\n";
  for (const std::string& s : Sizes(d)) {
    const std::string g = "size-" + s + "/";
    speed << '"' << s << " MiB\" " << Num(MBps(d, g + "ours"), 1) << ' ' << Num(MBps(d, g + "nsis"), 1) << ' '
          << Num(MBps(d, g + "floor"), 1) << ' ' << Num(MBps(d, g + "rec"), 1) << '\n';
  }
  std::ofstream memory(dir + "/memory.dat");
  memory << "# payload peak-working-set private-resident (MiB)\n";
  for (const std::string& s : Sizes(d)) {
    const std::string k = "size-" + s + "/ours";
    memory << '"' << s << " MiB\" " << Num(Field(d, k, &Run::peakWs) / kMiB, 2) << ' '
           << Num(Field(d, k, &Run::rssAnon) / kMiB, 2) << '\n';
  }
  std::ofstream size(dir + "/size.dat");
  size << "# program bytes\n";
  const std::string rec = Meta(d, "compare");
  for (const std::string& v : {std::string("base"), rec}) {
    if (std::isnan(MetaNumber(d, "stub.i686." + v))) continue;
    const std::string tag = v == "base" ? "" : ", before";
    size << "\"ZQ i686" << tag << "\" " << Num(MetaNumber(d, "stub.i686." + v), 0) << '\n';
    size << "\"ZQ x86-64" << tag << "\" " << Num(MetaNumber(d, "stub.x86_64." + v), 0) << '\n';
  }
  size << "\"NSIS x86-ansi\" " << Num(MetaNumber(d, "nsis_stub.zlib-x86-ansi"), 0) << '\n';
  size << "\"NSIS x86-unicode\" " << Num(MetaNumber(d, "nsis_stub.zlib-x86-unicode"), 0) << '\n';
  size << "\"NSIS amd64-unicode\" " << Num(MetaNumber(d, "nsis_stub.zlib-amd64-unicode"), 0) << '\n';
  std::ofstream variants(dir + "/variants.dat");
  variants << "# program seconds (" << Meta(d, "variants_size") << " MiB payload)\n";
  const char* rows[][2] = {{"floor-base-inflate", "inflate only"},
                           {"floor-base-direct", "inflate into files"},
                           {"floor-base-full", "floor"},
                           {"floor-base-checksum", "floor + checksum"}};
  for (auto& r : rows) {
    const double ms = Field(d, std::string("variants/") + r[0], &Run::ms);
    if (!std::isnan(ms)) variants << '"' << r[1] << "\" " << Num(ms / 1000, 3) << '\n';
  }
  for (const std::string& v : Words(Meta(d, "variants"))) {
    const double ms = Field(d, "variants/ours-" + v, &Run::ms);
    if (!std::isnan(ms)) variants << "\"ZQ " << (v == "base" ? "as built" : v) << "\" " << Num(ms / 1000, 3) << '\n';
  }
}

int Write(const std::string& templatePath, const std::string& outPath, const std::string& resultsDir,
          const std::string& plotDir) {
  const Data d = Load(resultsDir);
  const std::string text = ReadText(templatePath);
  if (text.empty()) {
    std::fprintf(stderr, "zqbench-report: cannot read %s\n", templatePath.c_str());
    return 1;
  }
  std::string out;
  size_t at = 0;
  for (;;) {
    const size_t open = text.find("{{", at);
    if (open == std::string::npos) break;
    const size_t close = text.find("}}", open);
    if (close == std::string::npos) break;
    out += text.substr(at, open - at) + Expand(d, text.substr(open + 2, close - open - 2));
    at = close + 2;
  }
  out += text.substr(at);
  std::ofstream(outPath) << out;
  std::system(("mkdir -p '" + plotDir + "'").c_str());
  WritePlotData(d, plotDir);
  return 0;
}

// --- profile ------------------------------------------------------------------------

// Function start addresses of the program from its GNU ld map: the lines that
// hold only an address and a name.
std::map<unsigned long long, std::string> MapSymbols(const std::string& mapPath) {
  std::map<unsigned long long, std::string> symbols;
  for (const std::string& line : Lines(ReadText(mapPath))) {
    size_t p = line.find_first_not_of(' ');
    if (p == std::string::npos || p < 8 || line.compare(p, 2, "0x") != 0) continue;
    size_t end = line.find(' ', p);
    if (end == std::string::npos) continue;
    const unsigned long long address = std::strtoull(line.c_str() + p, nullptr, 16);
    size_t name = line.find_first_not_of(' ', end);
    if (name == std::string::npos || line.compare(name, 2, "0x") == 0 || line.find(" = ", name) != std::string::npos)
      continue;
    std::string symbol = line.substr(name);
    symbol = symbol.substr(0, symbol.find('('));  // C++ names without their parameters
    if (address >= 0x400000 && !symbol.empty() && symbol[0] != '_') symbols[address] = symbol;
  }
  return symbols;
}

std::string ProcessOf(const std::string& comm) {
  if (comm.rfind("ours-", 0) == 0) return "setup";
  if (comm.rfind("floor-", 0) == 0) return "floor";
  return "";
}

int Profile(const std::string& setupMap, const std::string& floorMap) {
  const std::map<std::string, std::map<unsigned long long, std::string>> symbols = {{"setup", MapSymbols(setupMap)},
                                                                                    {"floor", MapSymbols(floorMap)}};
  std::map<std::string, double> counts;  // process \t kind \t name
  std::string line;
  while (std::getline(std::cin, line)) {
    // "  COMM  IP SYM (DSO)": the comm may hold blanks, the rest does not.
    const size_t dsoOpen = line.rfind(" (");
    if (dsoOpen == std::string::npos) continue;
    const std::string dso = line.substr(dsoOpen + 2, line.size() - dsoOpen - 3);
    std::vector<std::string> w = Words(line.substr(0, dsoOpen));
    if (w.size() < 3) continue;
    const std::string sym = w.back();
    const std::string ip = w[w.size() - 2];
    std::string comm;
    for (size_t i = 0; i + 2 < w.size(); ++i) comm += (i ? " " : "") + w[i];
    const std::string process = ProcessOf(comm);
    if (process.empty()) continue;
    std::string kind, name;
    if (dso == "[kernel.kallsyms]") {
      kind = "Linux kernel";
      name = sym;
    } else if (dso.find("/perf-") != std::string::npos || dso.find(".exe") != std::string::npos) {
      // The Windows program's own code, which perf cannot name.
      kind = "program code";
      name = "(unnamed)";
      const unsigned long long address = std::strtoull(ip.c_str(), nullptr, 16);
      const std::map<unsigned long long, std::string>& mine = symbols.at(process);
      auto it = mine.upper_bound(address);
      if (it != mine.begin() && address < 0x200000000ull) name = std::prev(it)->second;
    } else {
      kind = dso.find("/wine/") != std::string::npos ? "Wine" : "Linux libraries";
      name = dso.substr(dso.rfind('/') + 1);
    }
    counts[process + "\t" + kind + "\t" + name] += 1;
  }
  for (const auto& c : counts) std::printf("%s\t%.0f\n", c.first.c_str(), c.second);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "write" && argc == 6) return Write(argv[2], argv[3], argv[4], argv[5]);
  if (command == "profile" && argc == 4) return Profile(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: zqbench-report write TEMPLATE OUT.md RESULTS PLOTDATA\n"
               "       zqbench-report profile SETUPMAP FLOORMAP < perf-script-output\n");
  return 2;
}
