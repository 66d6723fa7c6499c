#!/usr/bin/env bash
# The benchmark of ZQ Installer: size, extraction speed, memory and start-up,
# beside NSIS and beside the floor (the least work that extracts the same
# payload).  Writes docs/benchmarks.md and docs/bench-*.png.
#
#   bash bench/run.sh            the full benchmark (about 11 minutes on 2 cores)
#   bash bench/run.sh --smoke    one small payload, one run of each program,
#                                written to build/bench/smoke/ (CI keeps it working)
#   bash bench/run.sh --report   only write docs/benchmarks.md and the plots
#                                again from the last full run's results
#   options: --rounds N   runs per figure (default 15 at 1 MiB and for the
#                         start-up, 9 at 64 MiB, 7 at 256 MiB)
#            --no-nice    do not raise the benchmark's CPU priority
#
# Needs: cmake, ninja, g++, mingw-w64, wine64, Xvfb; makensis for the NSIS
# figures, gnuplot for the plots, perf for the profile (each skipped with a
# note when missing).  Exit code 77: wine64 or Xvfb is missing here.
#
# Everything it builds and runs lives under build/bench/: its own builds of
# the program proper (out/ is never touched), its tools, the payloads, a
# private Wine prefix and a private Xvfb display.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=$ROOT/build/bench
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

mode=full rounds= nice=-10
while [ $# -gt 0 ]; do
  case $1 in
    --smoke) mode=smoke ;;
    --rounds) rounds=$2; shift ;;
    --no-nice) nice=0 ;;
    --report) mode=report ;;
    *) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
  shift
done

note() { echo "bench: $*"; }
die() { echo "bench: error: $*" >&2; exit 1; }

# The report, from the results in build/bench/results (and its plots).
write_report() {  # OUT RESULTS PLOTDATA
  local out=$1 results=$2 plotdata=$3
  note "writing $out/benchmarks.md"
  "$B/tools/zqbench-report" write "$ROOT/bench/benchmarks.md.in" "$out/benchmarks.md" "$results" "$plotdata"
  rm -f "$out"/bench-*.png
  if command -v gnuplot >/dev/null; then
    gnuplot -e "datadir='$plotdata'; outdir='$out'" "$ROOT/bench/plots.gp"
    note "plots: $(cd "$out" && ls bench-*.png | tr '\n' ' ')"
  else
    note "gnuplot is missing: no plots"
  fi
}

mkdir -p "$B"
# One benchmark at a time: they share the prefix, the payloads and the
# results.  Only the full run waits for another one (which takes minutes).
exec 9>"$B/.lock"
if [ $mode = full ]; then
  flock 9
else
  flock -n 9 || { echo "bench: a benchmark is running in build/bench: $mode run skipped"; exit 77; }
fi

if [ $mode = report ]; then
  [ -f "$B/results/meta.txt" ] || die "no results in build/bench/results: run the full benchmark first"
  mkdir -p "$B/tools"
  g++ -std=c++17 -O2 -Wall -Wextra -o "$B/tools/zqbench-report" "$ROOT/bench/report.cpp"
  write_report "$ROOT/docs" "$B/results" "$B/plotdata-full"
  exit 0
fi

for tool in "$WINE" /usr/bin/Xvfb; do
  if [ ! -x "$tool" ]; then echo "bench: $tool is missing: skipped"; exit 77; fi
done

if [ $mode = smoke ]; then
  SIZES="1" SMALL_ROUNDS=${rounds:-1} ROUNDS=${rounds:-1} BIG_ROUNDS=${rounds:-1} WARMUP=0 nice=0
  OUT=$B/smoke RESULTS=$B/smoke/results
else
  SIZES="1 64 256" SMALL_ROUNDS=${rounds:-15} ROUNDS=${rounds:-9} BIG_ROUNDS=${rounds:-7} WARMUP=1
  OUT=$ROOT/docs RESULTS=$B/results
fi
mkdir -p "$OUT" "$RESULTS" "$B/tools" "$B/data" "$B/jobs" "$B/world"
rm -f "$RESULTS"/*.tsv
META=$RESULTS/meta.txt
: >"$META"
meta() { printf '%s=%s\n' "$1" "$2" >>"$META"; }
started=$(date +%s)

# --- building -------------------------------------------------------------------

# True when $1 is missing or older than any of the other files.
stale() {
  local target=$1; shift
  [ -e "$target" ] || return 0
  local f
  for f in "$@"; do [ "$f" -nt "$target" ] && return 0; done
  return 1
}

# The program proper's sources, copied into a tree of the benchmark's own:
# everything but the folders of the tools, tests and outputs, so that the
# configure step never depends on work in progress there.  Unchanged files
# keep their times, so builds stay incremental.
sync_sources() {  # DEST
  local dest=$1 list f
  mkdir -p "$dest"
  list=$dest.files
  (cd "$ROOT" && find . -path ./build -prune -o -path ./out -prune -o -path ./.git -prune \
     -o -path ./tools -prune -o -path ./tests -prune -o -path ./bench -prune -o -path ./docs -prune \
     -o -path ./demo -prune -o -type f -print | sed 's#^\./##' | sort) >"$list"
  while IFS= read -r f; do
    if ! cmp -s "$ROOT/$f" "$dest/$f"; then mkdir -p "$dest/$(dirname "$f")"; cp -p "$ROOT/$f" "$dest/$f"; fi
  done <"$list"
  (cd "$dest" && find . -type f | sed 's#^\./##' | sort) | comm -23 - "$list" |
    while IFS= read -r f; do rm -f "$dest/$f"; done
}

# Builds the program proper in build/bench/win-ARCH-NAME from SRC; the padded
# stub goes to build/bench/stubs/NAME/.  Prints nothing on success.
stub_tree() {  # NAME ARCH SRC [cmake arguments...]
  local name=$1 arch=$2 src=$3; shift 3
  local dir=$B/win-$arch-$name
  if [ ! -f "$dir/build.ninja" ] || [ "$(cat "$dir.options" 2>/dev/null)" != "$src $*" ]; then
    rm -rf "$dir"
    cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch.cmake" \
          -DZLIB_SOURCE_DIR="$ROOT/build/zlib-src" -DZQ_OUT="$B/stubs/$name" "$@" \
          >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log" >&2; return 1; }
    echo "$src $*" >"$dir.options"
  fi
  cmake --build "$dir" --target zqstub >"$dir.build.log" 2>&1 || { cat "$dir.build.log" >&2; return 1; }
}

# Where a build of the program proper is: its tree and its padded stub.
tree() { echo "$B/win-$1-$2"; }  # ARCH VARIANT
stub() { echo "$B/stubs/$1/zqstub-x86_64.exe"; }  # VARIANT
# The image as linked, before padding: the bytes that the program uses.
image_bytes() { stat -c %s "$(tree "$1" "$2")/zqstub.exe"; }
# The bytes that its sections and headers really fill (file alignment aside).
content_bytes() {
  x86_64-w64-mingw32-objdump -h -p "$(tree "$1" "$2")/zqstub.exe" | awk '
    /SizeOfHeaders/ { h = $2 }
    /^ +[0-9]+ \./ && $2 != ".bss" { s += ("0x" $3) + 0 }
    END { print "0x" h, s }' | { read -r h s; echo $((h + s)); }
}

[ -f "$ROOT/build/zlib-src/inflate.c" ] || die "no zlib source in build/zlib-src: run 'bash build.sh deps' first"
[ -x "$ROOT/out/zqpack" ] || die "no out/zqpack: run 'bash build.sh build' first"

VARIANTS="base"
if [ $mode = smoke ] && [ -f "$ROOT/build/win-x86_64/zqstub.exe" ] && [ -f "$ROOT/build/win-x86_64/libzqzlib.a" ] &&
   [ -f "$ROOT/out/zqstub-x86_64.exe" ]; then
  # Quick: the project's own x86_64 build stands in for the benchmark's.
  tree() { echo "$ROOT/build/win-$1"; }
  stub() { echo "$ROOT/out/zqstub-x86_64.exe"; }
else
  note "building the program proper (build/bench/win-*)"
  sync_sources "$B/src/base"
  stub_tree base x86_64 "$B/src/base"
fi
# What was tried on top of the build as it is: NAME|cmake options|patches
# (bench/variants/PATCH.patch, applied to a copy of the sources).  byte-copy,
# bar-lookup and checksum-pass undo one change each that the build has taken
# from this benchmark; the last one, checksum-pass, is the build before this
# round's change, which the size runs measure beside the build as it is.
VARIANT_DEFS=(
  "o2|-DZQ_INFFAST_FLAGS=-O2|"
  "progress-on-change||progress-on-change"
  "byte-copy||byte-copy"
  "bar-lookup||bar-lookup"
  "checksum-pass||checksum-pass"
)
meta label.base "as built"
REC=
if [ $mode = full ]; then
  stub_tree base i686 "$B/src/base"
  for def in "${VARIANT_DEFS[@]}"; do
    IFS='|' read -r v options patches <<<"$def"
    src=$B/src/base
    if [ -n "$patches" ]; then
      src=$B/src/$v
      sync_sources "$src"
      for p in $patches; do
        if ! patch -s -p1 -d "$src" <"$ROOT/bench/variants/$p.patch" >"$src.patch.log" 2>&1; then
          note "variant $v: bench/variants/$p.patch no longer applies, skipped"; continue 2
        fi
      done
    fi
    # shellcheck disable=SC2086  # the options are words
    if stub_tree "$v" x86_64 "$src" $options >/dev/null 2>&1 && stub_tree "$v" i686 "$src" $options >/dev/null 2>&1
    then
      VARIANTS="$VARIANTS $v"
      label=$options
      for p in $patches; do label="${label:+$label + }$p.patch"; done
      meta "label.$v" "$label"
      REC=$v
    else
      note "variant $v does not build, skipped (build/bench/win-*-$v.build.log)"
    fi
  done
  [ "$REC" = checksum-pass ] || REC=
fi
meta compare "$REC"
for v in $VARIANTS; do
  for arch in i686 x86_64; do
    [ -f "$(tree "$arch" "$v")/zqstub.exe" ] || continue
    meta "stub.$arch.$v" "$(image_bytes "$arch" "$v")"
    meta "content.$arch.$v" "$(content_bytes "$arch" "$v")"
  done
done
meta variants "$VARIANTS"
for s in /usr/share/nsis/Stubs/zlib-x86-ansi /usr/share/nsis/Stubs/zlib-x86-unicode /usr/share/nsis/Stubs/zlib-amd64-unicode; do
  [ -f "$s" ] && meta "nsis_stub.$(basename "$s")" "$(stat -c %s "$s")"
done

note "building the benchmark's tools (build/bench/tools)"
T=$B/tools
DATA_SOURCES=("$ROOT/bench/data.cpp" "$ROOT/tests/fixture/fixture.cpp" "$ROOT/tools/zqpack/bitmap.cpp"
              "$ROOT/tools/zqpack/deflater.cpp" "$ROOT/tools/zqpack/smallest_libdeflate.cpp"
              "$ROOT/payload/checksum.cpp" "$ROOT/tools/zqpack/cab_writer.cpp" "$ROOT/tools/zqpack/ce_setup.cpp"
              "$ROOT/tools/zqpack/setup_xml_writer.cpp" "$ROOT/tools/zqpack/inf.cpp")
# The fixture's cabinets come from zqpack's own writer, through libgcab.
if stale "$T/zqbench-data" "${DATA_SOURCES[@]}" "$ROOT/tests/fixture/fixture.h"; then
  g++ -std=c++17 -O2 -Wall -Wextra -I "$ROOT/tools/zqpack" -I "$ROOT/tests/fixture" -I "$ROOT" -o "$T/zqbench-data" \
    "${DATA_SOURCES[@]}" $(pkg-config --cflags --libs libgcab-1.0) -lz -ldeflate
fi
if stale "$T/zqbench-report" "$ROOT/bench/report.cpp"; then
  g++ -std=c++17 -O2 -Wall -Wextra -o "$T/zqbench-report" "$ROOT/bench/report.cpp"
fi
MINGW=(x86_64-w64-mingw32-g++ -O2 -Wall -Wextra -static -s -DWIN32_LEAN_AND_MEAN)
# The floor keeps a link map and its preferred address, so that the profile
# can name its functions.
FLOOR_LINK=(-Wl,--disable-dynamicbase -Wl,--disable-high-entropy-va)
if stale "$T/zqbench-launch.exe" "$ROOT/bench/launch.cpp"; then
  "${MINGW[@]}" -o "$T/zqbench-launch.exe" "$ROOT/bench/launch.cpp" -lpsapi
fi
# The start-up floor: the program's windows without a payload.
if stale "$T/zqbench-startup-floor.exe" "$ROOT/bench/startup_floor.cpp" "$ROOT/bench/startup_floor.rc"; then
  x86_64-w64-mingw32-windres "$ROOT/bench/startup_floor.rc" -O coff -o "$T/startup_floor.res.o"
  "${MINGW[@]}" -mwindows -o "$T/zqbench-startup-floor.exe" "$ROOT/bench/startup_floor.cpp" "$T/startup_floor.res.o" \
    -lcomctl32
fi
# The floor, linked with each build's own zlib (libzqzlib.a of its tree);
# builds whose zlib is the same share one floor.
FLOORS=""
declare -A FLOOR_OF
for v in $VARIANTS; do
  lib=$(tree x86_64 "$v")/libzqzlib.a
  same=""
  for f in $FLOORS; do cmp -s "$lib" "$(tree x86_64 "$f")/libzqzlib.a" && same=$f && break; done
  if [ -z "$same" ]; then
    if stale "$T/floor-$v.exe" "$ROOT/bench/floor.cpp" "$ROOT/payload/format.h" "$lib" || [ "$(cat "$T/floor-$v.lib" 2>/dev/null)" != "$lib" ]; then
      "${MINGW[@]}" "${FLOOR_LINK[@]}" -Wl,-Map,"$T/floor-$v.map" -DZ_SOLO -DNO_GZIP -I "$ROOT" -I "$ROOT/build/zlib-src" \
        -o "$T/floor-$v.exe" "$ROOT/bench/floor.cpp" "$lib"
      echo "$lib" >"$T/floor-$v.lib"
    fi
    FLOORS="$FLOORS $v"
    same=$v
  fi
  meta "floor_of.$v" "$same"
  FLOOR_OF[$v]=$same
done
meta floors "$FLOORS"
if [ $mode = full ]; then
  # And with all of zlib at -O2, to show what the rest of zlib would buy.
  ZSRC=$ROOT/build/zlib-src
  ZFILES=("$ZSRC/inflate.c" "$ZSRC/inftrees.c" "$ZSRC/inffast.c" "$ZSRC/adler32.c" "$ZSRC/zutil.c")
  if stale "$T/floor-allo2.exe" "$ROOT/bench/floor.cpp" "$ROOT/payload/format.h" "${ZFILES[@]}"; then
    objs=()
    for c in "${ZFILES[@]}"; do
      o=$T/allo2-$(basename "$c" .c).o
      x86_64-w64-mingw32-gcc -O2 -w -c -mcmodel=small -DNO_GZIP -DZ_SOLO -I "$ZSRC" \
        -fno-asynchronous-unwind-tables -fno-stack-protector -o "$o" "$c"
      objs+=("$o")
    done
    "${MINGW[@]}" "${FLOOR_LINK[@]}" -DZ_SOLO -DNO_GZIP -I "$ROOT" -I "$ZSRC" -o "$T/floor-allo2.exe" \
      "$ROOT/bench/floor.cpp" "${objs[@]}"
  fi
  FLOORS="$FLOORS allo2"
fi

# --- payloads -------------------------------------------------------------------

note "making the payloads (build/bench/data)"
STUB_BASE=$(stub base)
# Every setup is packed once and kept; the wall seconds and the peak memory
# (KiB) of the packing that made it are kept beside it in SETUP.pack.
timed_pack() {  # SETUP COMMAND...
  local out=$1; shift
  /usr/bin/time -f '%e %M' -o "$out.pack" "$@"
}
pack_meta() {  # KIND SET SETUP
  local secs kib
  meta "setup_bytes.$1.$2" "$(stat -c %s "$3")"
  [ -f "$3.pack" ] || return 0
  read -r secs kib <"$3.pack"
  meta "pack_s.$1.$2" "$secs"
  meta "pack_kib.$1.$2" "$kib"
}
# NSIS installing the same files into a folder, compressed with COMPRESSOR.
nsis_pack() {  # SETUP COMPRESSOR STAMP FILES...
  local out=$1 compressor=$2 stamp=$3 nsi=$1.nsi f; shift 3
  {
    echo 'Target amd64-unicode'
    echo "SetCompressor $compressor"
    echo 'Name "Bench"'
    echo "OutFile \"$out\""
    echo 'RequestExecutionLevel user'
    echo 'SilentInstall silent'
    echo 'InstallDir "$TEMP\Bench"'
    echo 'Section'
    echo '  SetOutPath "$INSTDIR"'
    for f in "$@"; do echo "  File \"$f\""; done
    echo 'SectionEnd'
  } >"$nsi.new"
  if ! cmp -s "$nsi.new" "$nsi" || stale "$out" "$stamp"; then
    mv "$nsi.new" "$nsi"
    timed_pack "$out" makensis -V1 "$nsi" >"$out.log" 2>&1 || { cat "$out.log" >&2; die "makensis failed"; }
  fi
  rm -f "$nsi.new"
}
have_nsis=0
command -v makensis >/dev/null && have_nsis=1
# The sets whose setups are compared by size: the payloads that run, and a
# wholly compressible one (text-like cabinets) that only the full run packs.
PACK_SETS=$SIZES
[ $mode = full ] && PACK_SETS="$SIZES text64"
for set in $PACK_SETS; do
  dir=$B/data/$set
  files=("$dir/license.rtf" "$dir/body.bmp" "$dir/head.bmp" "$dir/Setup.ini" "$dir/APP.CAB" "$dir/DATA.CAB")
  if stale "$dir/.done" "$T/zqbench-data"; then
    rm -rf "$dir" && mkdir -p "$dir"
    case $set in
      text*) "$T/zqbench-data" files $((${set#text} * 1048576)) "$dir" text ;;
      *) "$T/zqbench-data" files $((set * 1048576)) "$dir" ;;
    esac
    touch "$dir/.done"
  fi
  # Packed once at level 9 (the runs' setups) and once at the best level;
  # each build gets its own copy of the first with its stub.
  if stale "$B/data/packed-$set.exe" "$dir/.done" "$ROOT/out/zqpack"; then
    timed_pack "$B/data/packed-$set.exe" \
      "$ROOT/out/zqpack" -q build --stub "$STUB_BASE" -o "$B/data/packed-$set.exe" --level 9 "${files[@]}"
  fi
  if stale "$B/data/best-$set.exe" "$dir/.done" "$ROOT/out/zqpack"; then
    timed_pack "$B/data/best-$set.exe" \
      "$ROOT/out/zqpack" -q build --stub "$STUB_BASE" -o "$B/data/best-$set.exe" --best "${files[@]}"
  fi
  pack_meta ours "$set" "$B/data/packed-$set.exe"
  pack_meta best "$set" "$B/data/best-$set.exe"
  meta "inflated.$set" "$("$ROOT/out/zqpack" list "$B/data/packed-$set.exe" | awk '$1 == "InflatedSize" {print $2}')"
  if [ $have_nsis = 1 ]; then
    nsis_pack "$B/data/nsis-$set.exe" "/FINAL zlib" "$dir/.done" "${files[@]}"
    nsis_pack "$B/data/nsislzma-$set.exe" "/SOLID /FINAL lzma" "$dir/.done" "${files[@]}"
    pack_meta nsis "$set" "$B/data/nsis-$set.exe"
    pack_meta nsislzma "$set" "$B/data/nsislzma-$set.exe"
  fi
  case $set in text*) continue ;; esac
  for v in $VARIANTS; do
    out=$B/data/ours-$v-$set.exe
    if stale "$out" "$B/data/packed-$set.exe" "$(stub "$v")"; then
      "$T/zqbench-data" restub "$B/data/packed-$set.exe" "$(stub "$v")" "$out"
    fi
  done
done
meta pack_sets "$PACK_SETS"
# The demo product, for the start-up figure and its size at both levels.
timed_pack "$B/data/packed-demo.exe" \
  "$ROOT/out/zqpack" -q build "$ROOT/demo/Setup.ini" -o "$B/data/packed-demo.exe" --stub "$STUB_BASE" --level 9
timed_pack "$B/data/best-demo.exe" \
  "$ROOT/out/zqpack" -q build "$ROOT/demo/Setup.ini" -o "$B/data/best-demo.exe" --stub "$STUB_BASE" --best
for v in $VARIANTS; do
  "$T/zqbench-data" restub "$B/data/packed-demo.exe" "$(stub "$v")" "$B/data/demo-$v.exe"
done
meta "setup_bytes.demo" "$(stat -c %s "$B/data/demo-base.exe")"
meta "inflated.demo" "$("$ROOT/out/zqpack" list "$B/data/packed-demo.exe" | awk '$1 == "InflatedSize" {print $2}')"
pack_meta ours demo "$B/data/packed-demo.exe"
pack_meta best demo "$B/data/best-demo.exe"

# --- Wine on a private display ----------------------------------------------------

# The Wine world of tools/wineworld (out/zqwineworld): a private Xvfb display
# and a private prefix under build/bench/wine, made once; HOME and the XDG
# folders of its Wine programs inside it.
[ -x "$ROOT/out/zqwineworld" ] || die "out/zqwineworld is not built (bash build.sh build)"
cleanup() { "$ROOT/out/zqwineworld" down "$B/wine" || true; }
trap cleanup EXIT
world=$("$ROOT/out/zqwineworld" up "$B/wine") || die "the Wine world could not be set up"
eval "$world"
# Priority over the rest of a shared machine, so that other work on the same
# two cores bends the figures less.  Linux schedules each session as one
# group (autogroup), so the group's nice value is the one that counts; the
# wineserver runs in the foreground of this session to share it.  The
# builds above ran at the normal priority.
if [ "$nice" != 0 ] && renice -n "$nice" -p $$ >/dev/null 2>&1; then
  [ -w /proc/$$/autogroup ] && echo "$nice" >/proc/$$/autogroup 2>/dev/null || true
  meta nice "$nice"
else
  meta nice 0
fi
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -f -p >/dev/null 2>&1 &
# The setup looks up the Application Manager before it extracts; a Cancel
# never starts it, so the value need not name a real file.
"$WINE" reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\CEAPPMGR.EXE' /ve \
  /d 'C:\Program Files\Windows CE Services\CeAppMgr.exe' /f >/dev/null 2>&1

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
W=$B/world
mkdir -p "$W/temp" "$W/nsis" "$W/floor"
job() {  # NAME MODE EXE ARGS TEMPDIR CLEANDIR
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@"
}
ours_job() { job "$1" wizard "$(winpath "$2")" - "$(winpath "$W/temp")" "$(winpath "$W/temp")"; }
nsis_job() { job "$1" exit "$(winpath "$2")" "/S /D=$(winpath "$W/nsis")" - "$(winpath "$W/nsis")"; }
startup_floor_job() { job "$1" wizard "$(winpath "$T/zqbench-startup-floor.exe")" - - -; }
floor_job() {  # NAME FLOOR SETUP [MODE]
  job "$1" exit "$(winpath "$T/floor-$2.exe")" "$(winpath "$3") $(winpath "$W/floor") ${4:-full}" - \
      "$(winpath "$W/floor")"
}

run_group() {  # NAME ROUNDS: runs build/bench/jobs/NAME.txt
  local name=$1 n=$2
  note "running $name: $(grep -c . "$B/jobs/$name.txt") programs, $n rounds (+$WARMUP warm-up)"
  "$WINE" "$T/zqbench-launch.exe" "$(winpath "$B/jobs/$name.txt")" "$n" "$WARMUP" | tr -d '\r' \
    >"$RESULTS/$name.tsv" || true
  if grep -q '^FAIL' "$RESULTS/$name.tsv"; then
    grep '^FAIL' "$RESULTS/$name.tsv" >&2
    die "a run of $name failed"
  fi
}

meta machine "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GB"
meta kernel "$(uname -r)"
meta wine "$("$WINE" --version)"
meta nsis "$(makensis -VERSION 2>/dev/null || echo none)"
meta load_before "$(cut -d' ' -f1-3 /proc/loadavg)"
meta date "$(date -u '+%Y-%m-%d %H:%M UTC')"
meta mode "$mode"

# --- the runs -----------------------------------------------------------------------

for size in $SIZES; do
  {
    ours_job ours "$B/data/ours-base-$size.exe"
    [ $have_nsis = 1 ] && nsis_job nsis "$B/data/nsis-$size.exe"
    floor_job floor base "$B/data/ours-base-$size.exe"
    startup_floor_job startup-floor
    if [ -n "$REC" ]; then
      ours_job rec "$B/data/ours-$REC-$size.exe"
      floor_job floor-rec "${FLOOR_OF[$REC]}" "$B/data/ours-$REC-$size.exe"
    fi
  } >"$B/jobs/size-$size.txt"
  n=$ROUNDS
  [ "$size" -le 1 ] && n=$SMALL_ROUNDS
  [ "$size" -ge 256 ] && n=$BIG_ROUNDS
  run_group "size-$size" "$n"
done

{
  for v in $VARIANTS; do ours_job "demo-$v" "$B/data/demo-$v.exe"; done
  startup_floor_job startup-floor
} >"$B/jobs/startup.txt"
run_group startup "$SMALL_ROUNDS"

if [ $mode = full ]; then
  # What each build buys at the largest size, and where the floor's time goes.
  big=${SIZES##* }
  {
    for v in $VARIANTS; do ours_job "ours-$v" "$B/data/ours-$v-$big.exe"; done
    for f in $FLOORS; do
      for m in full checksum; do floor_job "floor-$f-$m" "$f" "$B/data/ours-base-$big.exe" "$m"; done
    done
    floor_job floor-base-direct base "$B/data/ours-base-$big.exe" direct
    floor_job floor-base-inflate base "$B/data/ours-base-$big.exe" inflate
  } >"$B/jobs/variants.txt"
  run_group variants "$BIG_ROUNDS"
  meta variants_size "$big"

  # A profile of one run of the setup and one of the floor: where the CPU
  # time goes, by function of the program (from the link map) and by Linux
  # and Wine component.  At 64 MiB, the size furthest from the floors.
  psize=$big
  case " $SIZES " in *" 64 "*) psize=64 ;; esac
  meta profile_size "$psize"
  if perf record -o "$B/perf-check.data" -q true >/dev/null 2>&1; then
    note "profiling one run of each (perf)"
    {
      ours_job ours "$B/data/ours-base-$psize.exe"
      floor_job floor base "$B/data/ours-base-$psize.exe"
    } >"$B/jobs/profile.txt"
    perf record -a -F 999 -o "$B/perf.data" -q -- \
      "$WINE" "$T/zqbench-launch.exe" "$(winpath "$B/jobs/profile.txt")" 1 0 >/dev/null 2>&1 || true
    perf script -i "$B/perf.data" -F comm,ip,sym,dso 2>/dev/null |
      "$T/zqbench-report" profile "$(tree x86_64 base)/zqstub-x86_64.map" "$T/floor-base.map" \
      >"$RESULTS/profile.txt" || true
  fi
  rm -f "$B/perf-check.data"

  # The inflate loop alone, natively, with zlib built each way: CPU time
  # without Wine, files or windows, over the 64 MiB payload; five passes over
  # the builds in turn, three rounds each.
  note "timing zlib's builds natively"
  ZSRC=$ROOT/build/zlib-src
  ZBASE=(-Os -w -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables
         -fno-tree-loop-distribute-patterns -fno-stack-protector -DNO_GZIP -DZ_SOLO -I "$ZSRC")
  MEMCPY=(-DHAVE_MEMCPY -Dmemcpy=zq_memcpy)
  native_build() {  # NAME "INFFAST FLAGS" [flags for all of zlib...]
    local name=$1 inffast=$2 c objs=(); shift 2
    for c in inflate inftrees inffast adler32 zutil; do
      # shellcheck disable=SC2086  # the flags are words
      gcc "${ZBASE[@]}" "$@" $([ $c = inffast ] && echo $inffast) -c -o "$T/native-$name-$c.o" "$ZSRC/$c.c"
      objs+=("$T/native-$name-$c.o")
    done
    g++ -std=c++17 -O2 -Wall -Wextra -DNO_GZIP -DZ_SOLO -I "$ROOT" -I "$ZSRC" -o "$T/native-$name" \
      "$ROOT/bench/inflate_loop.cpp" "${objs[@]}"
  }
  : >"$RESULTS/native.txt"
  if [ -f "$B/data/ours-base-64.exe" ]; then
    native_build os ""
    native_build inffast-o2 -O2
    native_build all-o2 "" -O2
    native_build memcpy "" "${MEMCPY[@]}"
    native_build memcpy-o2 -O2 "${MEMCPY[@]}"
    for _ in 1 2 3 4 5; do
      for n in os inffast-o2 all-o2 memcpy memcpy-o2; do
        "$T/native-$n" "$B/data/ours-base-64.exe" 3 | sed "s/^/$n\t/" >>"$RESULTS/native.txt"
      done
    done
  fi
fi
meta load_after "$(cut -d' ' -f1-3 /proc/loadavg)"
meta minutes "$(( ($(date +%s) - started + 59) / 60 ))"

# --- the report ----------------------------------------------------------------------

write_report "$OUT" "$RESULTS" "$B/plotdata-$mode"
note "done in $(( $(date +%s) - started )) s"
