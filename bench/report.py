#!/usr/bin/env python3
"""The benchmark's report (bench/run.sh).
  report.py write TEMPLATE OUT.md RESULTS PLOTDATA: the report from a Jinja2
      template and the results (meta.txt of run.sh, GROUP.tsv of the driver's
      RUN lines, native.txt, profile.txt), and the data files of the plots
  report.py profile SETUPMAP FLOORMAP < perf-script-output > profile.txt:
      `perf script -F comm,ip,sym,dso` samples of the setup and the floor by
      what ran: the programs' functions (from their link maps), kernel
      functions, Wine and C library modules
Runs are named GROUP/JOB; a ratio or difference of two jobs is the median
over the rounds of those of their runs of the same round, made seconds apart.
"""
import bisect
import collections
import math
import os
import pathlib
import re
import statistics
import sys

import jinja2

MIB = 1048576.0
FIELDS = ["round", "ms", "cpu", "runq", "peak_ws", "vm_hwm", "rss_anon"]


def read(path):
    return pathlib.Path(path).read_text(encoding="utf-8") if os.path.exists(path) else ""


def median(values):
    return statistics.median(values) if values else math.nan


def fixed(v, decimals=0):
    return "n/a" if math.isnan(v) or math.isinf(v) else "%.*f" % (decimals, v)


def th(v):  # thousands: 12,345
    return "n/a" if not math.isfinite(v) else ("-" if v < 0 else "") + "{:,}".format(int(fixed(abs(v))))


def pct(fraction):  # a signed percentage: +4.1 % or −9.5 %
    return "n/a" if math.isnan(fraction) else ("−" if fraction < 0 else "+") + fixed(abs(100 * fraction), 1) + " %"


class Results:
    def __init__(self, folder):
        self.meta = dict(l.split("=", 1) for l in read(folder + "/meta.txt").splitlines() if "=" in l)
        self.runs = collections.defaultdict(list)
        for group in ["size-1", "size-64", "size-256", "startup", "variants"]:
            for line in read("%s/%s.tsv" % (folder, group)).splitlines():
                f = line.split("\t")
                if len(f) == 9 and f[0] == "RUN":
                    self.runs[group + "/" + f[1]].append(dict(zip(FIELDS, map(float, f[2:]))))
        self.profile = [(p, k, n, float(c)) for p, k, n, c in
                        (l.split("\t") for l in read(folder + "/profile.txt").splitlines() if l.count("\t") == 3)]
        native = collections.defaultdict(list)
        for build, ms, inflated in (l.split() for l in read(folder + "/native.txt").splitlines() if l.count(" ") == 1):
            native[build].append((float(ms), float(inflated)))
        self.native = {b: (median([r[0] for r in v]), v[-1][1]) for b, v in native.items()}

    # --- figures of meta.txt ---
    def m(self, key):
        return self.meta.get(key, "n/a")

    def num(self, key):
        try:
            return float(self.meta[key])
        except (KeyError, ValueError):
            return math.nan

    def words(self, key):
        return self.meta.get(key, "").split()

    def label(self, v):  # how run.sh built variant v
        text = self.m("label." + v)
        return "as built" if text in ("n/a", "as built") else " + ".join("`%s`" % p.strip() for p in text.split("+"))

    # --- figures of the runs ---
    def count(self, key):
        return len(self.runs.get(key, []))

    def field(self, key, name="ms"):
        return median([r[name] for r in self.runs.get(key, []) if r[name] >= 0])

    def pairs(self, a, b, name="ms"):
        return [(x[name], y[name]) for x in self.runs.get(a, []) for y in self.runs.get(b, [])
                if x["round"] == y["round"] and x[name] >= 0 and y[name] >= 0]

    def ratio(self, a, b, name="ms"):
        return median([x / y for x, y in self.pairs(a, b, name)])

    def difference(self, a, b, name="ms"):
        return median([x - y for x, y in self.pairs(a, b, name)])

    def sumratio(self, a, b, c):  # a over b + c, round by round
        return median([x["ms"] / (y["ms"] + z["ms"]) for x in self.runs.get(a, []) for y in self.runs.get(b, [])
                       for z in self.runs.get(c, []) if x["round"] == y["round"] == z["round"]])

    def mbps(self, key):
        group = key.split("/")[0]
        size = group[5:] if group.startswith("size-") else self.m("variants_size") if group == "variants" else ""
        return self.num("inflated." + size) / MIB / (self.field(key) / 1000)

    def timecell(self, key):
        if not self.count(key):
            return "n/a"
        times = [r["ms"] for r in self.runs[key]]
        return "%s (%s–%s)" % (th(self.field(key)), th(min(times)), th(max(times)))

    def sizes(self):
        return [s for s in ["1", "64", "256"] if self.count("size-%s/ours" % s)]

    def builds(self):  # as built and, when run.sh had one, the build before this round's change
        builds = [dict(label="as built", ours="ours", floor="floor", variant="base")]
        if self.meta.get("compare"):
            builds.append(dict(label="before", ours="rec", floor="floor-rec", variant=self.meta["compare"]))
        return builds

    def pack_sets(self):
        return [(s, s[4:] + " MiB, text only" if s.startswith("text") else s + " MiB")
                for s in self.words("pack_sets")] + [("demo", "the demo")]

    def nativechange(self, build):
        return pct(self.native[build][0] / self.native["os"][0] - 1) if {build, "os"} <= set(self.native) else "n/a"


def template_functions(r):
    """What the template calls: the figures, formatted, and the raw facts."""
    return dict(
        r=r, fixed=fixed, th=th, pct=pct, m=r.m, num=r.num, label=r.label, count=r.count, field=r.field,
        timecell=r.timecell, MIB=MIB,
        ms=lambda k: th(r.field(k)), cpu=lambda k: th(r.field(k, "cpu")),
        mbs=lambda k: fixed(r.mbps(k)), ratio=lambda a, b, name="ms": fixed(r.ratio(a, b, name), 2),
        sumratio=lambda g: fixed(r.sumratio(g + "/ours", g + "/floor", g + "/startup-floor"), 2),
        less=lambda a, b: th(-r.difference(a, b)), cpuless=lambda a, b: th(-r.difference(a, b, "cpu")),
        change=lambda a, b: pct(r.ratio(a, b) - 1), metadiff=lambda a, b: th(r.num(a) - r.num(b)),
        nativechange=r.nativechange,
        row=lambda *cells: "|" + "".join(" %s |" % c for c in cells),
        header=lambda *cells: "|" + "".join(" %s |" % c for c in cells) + "\n|---|" + "---:|" * (len(cells) - 1))


def write_plot_data(r, folder):
    def num(v, decimals):
        return "NaN" if math.isnan(v) else fixed(v, decimals)

    speed, memory, size = ["# payload ZQ NSIS floor ZQ-before (MB/s)"], ["# payload peak-working-set "
                                                                        "private-resident (MiB)"], ["# program bytes"]
    for s in r.sizes():
        g = "size-%s/" % s
        speed.append('"%s MiB" ' % s + " ".join(num(r.mbps(g + j), 1) for j in ["ours", "nsis", "floor", "rec"]))
        memory.append('"%s MiB" ' % s + " ".join(num(r.field(g + "ours", f) / MIB, 2) for f in ["peak_ws", "rss_anon"]))
    for v, tag in [("base", ""), (r.m("compare"), ", before")]:
        if not math.isnan(r.num("stub.i686." + v)):
            size += ['"ZQ %s%s" %s' % (a, tag, num(r.num("stub.%s.%s" % (b, v)), 0))
                     for a, b in [("i686", "i686"), ("x86-64", "x86_64")]]
    size += ['"NSIS %s" %s' % (s, num(r.num("nsis_stub.zlib-" + s), 0)) for s in ["x86-ansi", "x86-unicode", "amd64-unicode"]]
    variants = ["# program seconds (%s MiB payload)" % r.m("variants_size")]
    for job, name in [("floor-base-inflate", "inflate only"), ("floor-base-direct", "inflate into files"),
                      ("floor-base-full", "floor"), ("floor-base-checksum", "floor + checksum")] + [
                          ("ours-" + v, "ZQ " + ("as built" if v == "base" else v)) for v in r.words("variants")]:
        if r.count("variants/" + job):
            variants.append('"%s" %s' % (name, num(r.field("variants/" + job) / 1000, 3)))
    os.makedirs(folder, exist_ok=True)
    for name, lines in [("speed", speed), ("memory", memory), ("size", size), ("variants", variants)]:
        with open("%s/%s.dat" % (folder, name), "w") as f:
            f.write("\n".join(lines) + "\n")


def write(template_path, out_path, results, plot_folder):
    r = Results(results)
    env = jinja2.Environment(trim_blocks=True, lstrip_blocks=True, keep_trailing_newline=True,
                             undefined=jinja2.StrictUndefined)
    env.tests["nan"] = math.isnan
    text = env.from_string(read(template_path)).render(template_functions(r))
    with open(out_path, "w", encoding="utf-8") as f:
        f.write(text)
    write_plot_data(r, plot_folder)


def map_symbols(path):
    """Function start addresses of a program from its GNU ld map: the lines
    that hold only an address and a name (C++ names without parameters)."""
    symbols = {}
    for m in re.finditer(r"^ {8,}0x([0-9a-f]+) +([^ 0][^\n]*)$", read(path), re.M):
        address, name = int(m.group(1), 16), m.group(2).split("(")[0]
        if " = " not in m.group(2) and address >= 0x400000 and name and not name.startswith("_"):
            symbols[address] = name
    return sorted(symbols), [symbols[a] for a in sorted(symbols)]


def profile(setup_map, floor_map):
    symbols = {"setup": map_symbols(setup_map), "floor": map_symbols(floor_map)}
    counts = collections.Counter()
    for line in sys.stdin:
        # "  COMM  IP SYM (DSO)": the comm may hold blanks, the rest does not.
        head, _, dso = line.rstrip("\n").rpartition(" (")
        words, dso = head.split(), dso[:-1]
        comm = " ".join(words[:-2])
        process = "setup" if comm.startswith("ours-") else "floor" if comm.startswith("floor-") else None
        if len(words) < 3 or not process:
            continue
        if dso == "[kernel.kallsyms]":
            kind, name = "Linux kernel", words[-1]
        elif "/perf-" in dso or ".exe" in dso:  # the Windows program's own code, which perf cannot name
            addresses, names = symbols[process]
            address = int(words[-2], 16)
            at = bisect.bisect_right(addresses, address)
            kind, name = "program code", names[at - 1] if at and address < 0x200000000 else "(unnamed)"
        else:
            kind, name = "Wine" if "/wine/" in dso else "Linux libraries", dso.rsplit("/", 1)[-1]
        counts["%s\t%s\t%s" % (process, kind, name)] += 1
    for key in sorted(counts):
        print("%s\t%d" % (key, counts[key]))


if __name__ == "__main__":
    if len(sys.argv) == 6 and sys.argv[1] == "write":
        write(*sys.argv[2:])
    elif len(sys.argv) == 4 and sys.argv[1] == "profile":
        profile(*sys.argv[2:])
    else:
        sys.exit(__doc__)
