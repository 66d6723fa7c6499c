#!/usr/bin/env bash
# The benchmark of ZQ Installer: size, extraction speed, memory and start-up,
# beside NSIS and beside the floor (the least work that extracts the same
# payload).  Writes docs/benchmarks.md and docs/bench-*.png.
#   bash bench/run.sh            the full benchmark (about 11 minutes on 2 cores)
#   bash bench/run.sh --smoke    one small payload, one run of each program,
#                                written to build/bench/smoke/ (CI keeps it working)
#   bash bench/run.sh --report   only the report and plots again, from the last full run
#   options: --rounds N   runs per figure (default 15 at 1 MiB and for the
#                         start-up, 9 at 64 MiB, 7 at 256 MiB)
#            --no-nice    do not raise the benchmark's CPU priority
# Needs `bash build.sh build` (zlib's source, zqpack, zqwineworld, the GUI driver,
# zqbench-data), mingw-w64, wine64, Xvfb, python3-jinja2; makensis, gnuplot and
# perf for NSIS, plots and profile (each skipped when missing).  Exit code 77:
# no wine64 or Xvfb.  All it makes lives in build/bench/ (out/ is never touched).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=$ROOT/build/bench T=$ROOT/build/bench/tools W=$ROOT/build/bench/world D=$ROOT/build/bench/data
WINE=/usr/lib/wine/wine64 WORLD=$ROOT/out/zqwineworld DRIVER=$ROOT/out/x86_64/zqdriver.exe
ZQPACK=$ROOT/out/zqpack DATA=$ROOT/build/host/bench/zqbench-data ZSRC=$ROOT/build/zlib-src
MINGW=(x86_64-w64-mingw32-g++ -O2 -Wall -Wextra -static -s -DWIN32_LEAN_AND_MEAN)
ZLIB=(inflate inftrees inffast adler32 zutil)
# The setup looks up the Application Manager before it extracts; a Cancel
# never starts it, so the value need not name a real file.
APPMGR='C:\Program Files\Windows CE Services\CeAppMgr.exe'

note() { echo "bench: $*"; }
die() { echo "bench: error: $*" >&2; exit 1; }
meta() { printf '%s=%s\n' "$1" "$2" >>"$RESULTS/meta.txt"; }
stale() { [ ! -e "$1" ] || [ -n "$(find "${@:2}" -newer "$1")" ]; }  # TARGET FILES...: to be made again

# The program proper's sources and what its build runs (tools/zqpe,
# tools/common), copied into a tree of the benchmark's own (no work in
# progress of the other tools or the tests); unchanged files keep their times.
sync_sources() {  # DEST
  local dest=$1 f
  (cd "$ROOT" && find . \( -path ./build -o -path ./out -o -path ./.git -o -path ./tools/zqpack -o -path ./tools/testrig \
     -o -path ./tools/wineworld -o -path ./tests -o -path ./bench -o -path ./docs -o -path ./demo \) -prune -o -type f -print |
     sort) >"$dest.files"
  while IFS= read -r f; do
    cmp -s "$ROOT/$f" "$dest/$f" || { mkdir -p "$(dirname "$dest/$f")"; cp -p "$ROOT/$f" "$dest/$f"; }
  done <"$dest.files"
  (cd "$dest" && find . -type f | sort | comm -23 - "$dest.files" | xargs -r rm -f)
}

# Builds the program proper in build/bench/win-ARCH-NAME from SRC; the padded
# program goes to build/bench/stubs/NAME/.
stub_tree() {  # NAME ARCH SRC [cmake arguments...]
  local name=$1 arch=$2 src=$3 dir=$B/win-$2-$1; shift 3
  if [ ! -f "$dir/build.ninja" ] || [ "$(cat "$dir.options" 2>/dev/null)" != "$src $*" ]; then
    rm -rf "$dir"
    cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZQ_OUT="$B/stubs/$name" \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch.cmake" -DZLIB_SOURCE_DIR="$ZSRC" "$@" \
      >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log" >&2; return 1; }
    echo "$src $*" >"$dir.options"
  fi
  cmake --build "$dir" --target zqstub >"$dir.build.log" 2>&1 || { cat "$dir.build.log" >&2; return 1; }
}
tree() { echo "$B/win-$1-$2"; }                   # ARCH VARIANT: the build tree
stub() { echo "$B/stubs/$1/zqstub-x86_64.exe"; }  # VARIANT: the padded program

# The bytes that an image's headers and sections fill (file alignment and
# .bss aside), from the build's own PE reader (zqpe, built in each tree).
filled_bytes() {  # IMAGE
  "$(dirname "$1")/zqpe" sections "$1" | awk '{ s += ($2 < $3 ? $2 : $3) } END { print s }'
}

# What was tried on top of the build as it is: NAME|cmake options|patches of
# bench/variants/.  byte-copy, bar-lookup and checksum-pass undo one change
# each that the build has taken from this benchmark; checksum-pass is the
# build before this round's change, which the size runs measure beside it.
VARIANT_DEFS=("o2|-DZQ_INFFAST_FLAGS=-O2|" "progress-on-change||progress-on-change" "byte-copy||byte-copy"
              "bar-lookup||bar-lookup" "checksum-pass||checksum-pass")
build_variants() {
  local def v options patches src p label
  stub_tree base i686 "$B/src/base"
  for def in "${VARIANT_DEFS[@]}"; do
    IFS='|' read -r v options patches <<<"$def"
    src=$B/src/base label=$options
    if [ -n "$patches" ]; then
      src=$B/src/$v
      mkdir -p "$src" && sync_sources "$src"
      for p in $patches; do
        patch -s -p1 -d "$src" <"$ROOT/bench/variants/$p.patch" >"$src.patch.log" 2>&1 ||
          { note "variant $v: bench/variants/$p.patch no longer applies, skipped"; continue 2; }
        label="${label:+$label + }$p.patch"
      done
    fi
    # shellcheck disable=SC2086  # the options are words
    if stub_tree "$v" x86_64 "$src" $options >/dev/null 2>&1 && stub_tree "$v" i686 "$src" $options >/dev/null 2>&1
    then VARIANTS="$VARIANTS $v" REC=$v && meta "label.$v" "$label"
    else note "variant $v does not build, skipped (build/bench/win-*-$v.build.log)"; fi
  done
  [ "$REC" = checksum-pass ] || REC=
}
build_programs() {
  VARIANTS=base REC=
  meta label.base "as built"
  local v arch s own=$ROOT/build/win-x86_64
  if [ "$MODE" = smoke ] && [ -f "$own/zqstub.exe" ] && [ -f "$own/libzqzlib.a" ] && [ -f "$ROOT/out/zqstub-x86_64.exe" ]
  then  # Quick: the project's own x86_64 build stands in for the benchmark's.
    tree() { echo "$ROOT/build/win-$1"; }
    stub() { echo "$ROOT/out/zqstub-x86_64.exe"; }
  else
    note "building the program proper (build/bench/win-*)"
    mkdir -p "$B/src/base" && sync_sources "$B/src/base"
    stub_tree base x86_64 "$B/src/base"
  fi
  if [ "$MODE" = full ]; then build_variants; fi
  meta compare "$REC"
  for v in $VARIANTS; do
    for arch in i686 x86_64; do
      [ -f "$(tree $arch "$v")/zqstub.exe" ] || continue
      # The image as linked, before padding: the bytes that the program uses.
      meta "stub.$arch.$v" "$(stat -c %s "$(tree $arch "$v")/zqstub.exe")"
      meta "content.$arch.$v" "$(filled_bytes "$(tree $arch "$v")/zqstub.exe")"
    done
  done
  meta variants "$VARIANTS"
  for s in zlib-x86-ansi zlib-x86-unicode zlib-amd64-unicode; do
    if [ -f "/usr/share/nsis/Stubs/$s" ]; then meta "nsis_stub.$s" "$(stat -c %s "/usr/share/nsis/Stubs/$s")"; fi
  done
}

# The floor, linked with each build's own zlib (libzqzlib.a of its tree);
# builds whose zlib is the same share one floor.  It keeps a link map and its
# preferred address, so that the profile can name its functions.
floor_exe() {  # NAME ZLIB...
  local name=$1; shift
  "${MINGW[@]}" -Wl,--disable-dynamicbase -Wl,--disable-high-entropy-va -Wl,-Map,"$T/floor-$name.map" -DZ_SOLO \
    -DNO_GZIP -I "$ROOT" -I "$ZSRC" -o "$T/floor-$name.exe" "$ROOT/bench/floor.cpp" "$@"
}
build_tools() {
  note "building the benchmark's tools (build/bench/tools)"
  # The start-up floor: the program's windows without a payload.
  if stale "$T/zqbench-startup-floor.exe" "$ROOT"/bench/startup_floor.*; then
    x86_64-w64-mingw32-windres "$ROOT/bench/startup_floor.rc" -O coff -o "$T/startup_floor.res.o"
    "${MINGW[@]}" -mwindows -o "$T/zqbench-startup-floor.exe" "$ROOT/bench/startup_floor.cpp" \
      "$T/startup_floor.res.o" -lcomctl32
  fi
  local v f lib same c
  FLOORS="" && declare -gA FLOOR_OF
  for v in $VARIANTS; do
    lib=$(tree x86_64 "$v")/libzqzlib.a same=""
    for f in $FLOORS; do cmp -s "$lib" "$(tree x86_64 "$f")/libzqzlib.a" && same=$f && break; done
    if [ -z "$same" ]; then
      if stale "$T/floor-$v.exe" "$ROOT/bench/floor.cpp" "$ROOT/format/format.h" "$lib" ||
         [ "$(cat "$T/floor-$v.lib" 2>/dev/null)" != "$lib" ]; then
        floor_exe "$v" "$lib"
        echo "$lib" >"$T/floor-$v.lib"
      fi
      FLOORS="$FLOORS $v" same=$v
    fi
    meta "floor_of.$v" "$same"
    FLOOR_OF[$v]=$same
  done
  meta floors "$FLOORS"
  [ "$MODE" = full ] || return 0
  # And with all of zlib at -O2, to show what the rest of zlib would buy.
  if stale "$T/floor-allo2.exe" "$ROOT/bench/floor.cpp" "$ROOT/format/format.h" "$ZSRC/inflate.c"; then
    mkdir -p "$T/allo2"
    for c in "${ZLIB[@]}"; do
      x86_64-w64-mingw32-gcc -O2 -w -c -mcmodel=small -DNO_GZIP -DZ_SOLO -I "$ZSRC" -fno-asynchronous-unwind-tables \
        -fno-stack-protector -o "$T/allo2/$c.o" "$ZSRC/$c.c"
    done
    (cd "$T/allo2" && floor_exe allo2 "${ZLIB[@]/%/.o}")
  fi
  FLOORS="$FLOORS allo2"
}

# Every setup is packed once and kept, with the wall seconds and peak KiB of
# its packing in SETUP.pack.
timed_pack() { local out=$1; shift; /usr/bin/time -f '%e %M' -o "$out.pack" "$@"; }  # SETUP COMMAND...
zq_pack() { local out=$1; shift; timed_pack "$out" "$ZQPACK" -q build --stub "$(stub base)" -o "$out" "$@"; }
pack_meta() {  # KIND SET SETUP
  local secs kib
  meta "setup_bytes.$1.$2" "$(stat -c %s "$3")"
  if [ -f "$3.pack" ] && read -r secs kib <"$3.pack"; then meta "pack_s.$1.$2" "$secs" && meta "pack_kib.$1.$2" "$kib"; fi
}
inflated() {  # SETUP: its inflated bytes, from zqpack's report
  "$ZQPACK" list --json "$1" | python3 -c 'import json, sys; print(json.load(sys.stdin)["header"]["inflatedSize"])'
}
# NSIS installing the same files into a folder, compressed with COMPRESSOR.
nsis_pack() {  # SETUP COMPRESSOR STAMP FILES...
  local out=$1 compressor=$2 stamp=$3 f; shift 3
  { printf '%s\n' 'Target amd64-unicode' "SetCompressor $compressor" 'Name "Bench"' "OutFile \"$out\"" \
      'RequestExecutionLevel user' 'SilentInstall silent' 'InstallDir "$TEMP\Bench"' 'Section' '  SetOutPath "$INSTDIR"'
    for f in "$@"; do echo "  File \"$f\""; done; echo 'SectionEnd'; } >"$out.nsi.new"
  if ! cmp -s "$out.nsi.new" "$out.nsi" || stale "$out" "$stamp"; then
    mv "$out.nsi.new" "$out.nsi"
    timed_pack "$out" makensis -V1 "$out.nsi" >"$out.log" 2>&1 || { cat "$out.log" >&2; die "makensis failed"; }
  fi
  rm -f "$out.nsi.new"
}
payload_set() {  # SET: its files (made once), its setups and their sizes
  local set=$1 dir=$D/$1 v f files=()
  for f in license.rtf body.bmp head.bmp Setup.ini APP.CAB DATA.CAB; do files+=("$dir/$f"); done
  if stale "$dir/.done" "$DATA"; then
    rm -rf "$dir" && mkdir -p "$dir"
    case $set in
      text*) "$DATA" files $((${set#text} * 1048576)) "$dir" text ;;
      *) "$DATA" files $((set * 1048576)) "$dir" ;;
    esac
    touch "$dir/.done"
  fi
  # Packed once at level 9 (the runs' setups) and once at the best level;
  # each build gets its own copy of the first with its program proper.
  stale "$D/packed-$set.exe" "$dir/.done" "$ZQPACK" && zq_pack "$D/packed-$set.exe" --level 9 "${files[@]}"
  stale "$D/best-$set.exe" "$dir/.done" "$ZQPACK" && zq_pack "$D/best-$set.exe" --best "${files[@]}"
  pack_meta ours "$set" "$D/packed-$set.exe"
  pack_meta best "$set" "$D/best-$set.exe"
  meta "inflated.$set" "$(inflated "$D/packed-$set.exe")"
  if command -v makensis >/dev/null; then
    nsis_pack "$D/nsis-$set.exe" "/FINAL zlib" "$dir/.done" "${files[@]}"
    nsis_pack "$D/nsislzma-$set.exe" "/SOLID /FINAL lzma" "$dir/.done" "${files[@]}"
    pack_meta nsis "$set" "$D/nsis-$set.exe"
    pack_meta nsislzma "$set" "$D/nsislzma-$set.exe"
  fi
  [[ $set != text* ]] || return 0
  for v in $VARIANTS; do
    if stale "$D/ours-$v-$set.exe" "$D/packed-$set.exe" "$(stub "$v")"; then
      "$DATA" restub "$D/packed-$set.exe" "$(stub "$v")" "$D/ours-$v-$set.exe"
    fi
  done
}
make_payloads() {
  note "making the payloads (build/bench/data)"
  local set v
  for set in $PACK_SETS; do payload_set "$set"; done
  meta pack_sets "$PACK_SETS"
  # The demo product, for the start-up figure and its size at both levels.
  zq_pack "$D/packed-demo.exe" --level 9 "$ROOT/demo/Setup.ini"
  zq_pack "$D/best-demo.exe" --best "$ROOT/demo/Setup.ini"
  for v in $VARIANTS; do "$DATA" restub "$D/packed-demo.exe" "$(stub "$v")" "$D/demo-$v.exe"; done
  meta "setup_bytes.demo" "$(stat -c %s "$D/demo-base.exe")"
  meta "inflated.demo" "$(inflated "$D/packed-demo.exe")"
  pack_meta ours demo "$D/packed-demo.exe"
  pack_meta best demo "$D/best-demo.exe"
}

# The Wine world of tools/wineworld, made once under build/bench/wine.
start_world() {
  local world
  trap '"$WORLD" down "$B/wine" || true' EXIT
  world=$("$WORLD" up "$B/wine") || die "the Wine world could not be set up"
  eval "$world"
  # Priority over the rest of a shared machine (the builds above ran at the
  # normal one).  Linux schedules each session as one group (autogroup), whose
  # nice value counts; the world's wineserver runs in this session to share it.
  if [ "$NICE" != 0 ] && renice -n "$NICE" -p $$ >/dev/null 2>&1; then
    { [ -w /proc/$$/autogroup ] && echo "$NICE" >/proc/$$/autogroup; } 2>/dev/null || true
    meta nice "$NICE"
  else
    meta nice 0
  fi
  "$WORLD" serve "$B/wine" >/dev/null 2>&1 &
  mkdir -p "$W/temp" "$W/nsis" "$W/floor"
}

# Job lines of the driver's --bench mode: NAME MODE EXE ARGS TEMPDIR CLEANDIR.
wp() { "$WORLD" path "$1"; }
job() { printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@"; }
ours_job() { job "$1" wizard "$(wp "$2")" - "$(wp "$W/temp")" "$(wp "$W/temp")"; }      # NAME SETUP
nsis_job() { job "$1" exit "$(wp "$2")" "/S /D=$(wp "$W/nsis")" - "$(wp "$W/nsis")"; }  # NAME SETUP
startup_floor_job() { job startup-floor wizard "$(wp "$T/zqbench-startup-floor.exe")" - - -; }
floor_job() {  # NAME FLOOR SETUP [MODE]
  job "$1" exit "$(wp "$T/floor-$2.exe")" "$(wp "$3") $(wp "$W/floor") ${4:-full}" - "$(wp "$W/floor")"
}
run_group() {  # NAME ROUNDS: runs build/bench/jobs/NAME.txt
  note "running $1: $(grep -c . "$B/jobs/$1.txt") programs, $2 rounds (+$WARMUP warm-up)"
  "$WINE" "$DRIVER" --bench "$(wp "$B/jobs/$1.txt")" "$2" "$WARMUP" "$APPMGR" | tr -d '\r' >"$RESULTS/$1.tsv" || true
  ! grep '^FAIL' "$RESULTS/$1.tsv" >&2 || die "a run of $1 failed"
}

run_sizes() {
  local size v n
  for size in $SIZES; do
    {
      ours_job ours "$D/ours-base-$size.exe"
      if command -v makensis >/dev/null; then nsis_job nsis "$D/nsis-$size.exe"; fi
      floor_job floor base "$D/ours-base-$size.exe"
      startup_floor_job
      if [ -n "$REC" ]; then
        ours_job rec "$D/ours-$REC-$size.exe"
        floor_job floor-rec "${FLOOR_OF[$REC]}" "$D/ours-$REC-$size.exe"
      fi
    } >"$B/jobs/size-$size.txt"
    n=$ROUNDS && { [ "$size" -gt 1 ] || n=$SMALL_ROUNDS; } && { [ "$size" -lt 256 ] || n=$BIG_ROUNDS; }
    run_group "size-$size" "$n"
  done
  { for v in $VARIANTS; do ours_job "demo-$v" "$D/demo-$v.exe"; done; startup_floor_job; } >"$B/jobs/startup.txt"
  run_group startup "$SMALL_ROUNDS"
}

# What each build buys at the largest size, and where the floor's time goes.
run_variants() {
  local big=${SIZES##* } v f m
  {
    for v in $VARIANTS; do ours_job "ours-$v" "$D/ours-$v-$big.exe"; done
    for f in $FLOORS; do
      for m in full checksum; do floor_job "floor-$f-$m" "$f" "$D/ours-base-$big.exe" "$m"; done
    done
    floor_job floor-base-direct base "$D/ours-base-$big.exe" direct
    floor_job floor-base-inflate base "$D/ours-base-$big.exe" inflate
  } >"$B/jobs/variants.txt"
  run_group variants "$BIG_ROUNDS"
  meta variants_size "$big"
}

# A profile of one run of the setup and one of the floor at 64 MiB, the size
# furthest from the floors: CPU time by function (from the link maps) and module.
run_profile() {
  meta profile_size 64
  perf record -o "$B/perf-check.data" -q true >/dev/null 2>&1 || return 0
  note "profiling one run of each (perf)"
  { ours_job ours "$D/ours-base-64.exe"; floor_job floor base "$D/ours-base-64.exe"; } >"$B/jobs/profile.txt"
  perf record -a -F 999 -o "$B/perf.data" -q -- "$WINE" "$DRIVER" --bench "$(wp "$B/jobs/profile.txt")" 1 0 \
    "$APPMGR" >/dev/null 2>&1 || true
  perf script -i "$B/perf.data" -F comm,ip,sym,dso 2>/dev/null | python3 "$ROOT/bench/report.py" profile \
    "$(tree x86_64 base)/zqstub-x86_64.map" "$T/floor-base.map" >"$RESULTS/profile.txt" || true
}

# The inflate loop alone, natively, with zlib built each way: CPU time
# without Wine, files or windows, over the 64 MiB payload; five passes over
# the builds in turn, three rounds each.
native_build() {  # NAME "INFFAST FLAGS" [flags for all of zlib...]
  local name=$1 inffast=$2 c; shift 2
  mkdir -p "$T/native/$name"
  for c in "${ZLIB[@]}"; do
    # shellcheck disable=SC2046,SC2086  # the flags are words
    gcc -Os -w -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-tree-loop-distribute-patterns \
      -fno-stack-protector -DNO_GZIP -DZ_SOLO -I "$ZSRC" "$@" $([ $c = inffast ] && echo $inffast) \
      -c -o "$T/native/$name/$c.o" "$ZSRC/$c.c"
  done
  (cd "$T/native/$name" && g++ -std=c++17 -O2 -Wall -Wextra -DNO_GZIP -DZ_SOLO -I "$ROOT" -I "$ZSRC" \
    -o "$T/native-$name.exe" "$ROOT/bench/inflate_loop.cpp" "${ZLIB[@]/%/.o}")
}
run_native() {
  note "timing zlib's builds natively"
  local memcpy=(-DHAVE_MEMCPY -Dmemcpy=zq_memcpy) n
  native_build os ""
  native_build inffast-o2 -O2
  native_build all-o2 "" -O2
  native_build memcpy "" "${memcpy[@]}"
  native_build memcpy-o2 -O2 "${memcpy[@]}"
  for _ in 1 2 3 4 5; do
    for n in os inffast-o2 all-o2 memcpy memcpy-o2; do
      "$T/native-$n.exe" "$D/ours-base-64.exe" 3 | sed "s/^/$n\t/"
    done
  done >"$RESULTS/native.txt"
}

write_report() {  # OUT RESULTS PLOTDATA
  note "writing $1/benchmarks.md"
  python3 "$ROOT/bench/report.py" write "$ROOT/bench/benchmarks.md.j2" "$1/benchmarks.md" "$2" "$3"
  rm -f "$1"/bench-*.png
  if ! command -v gnuplot >/dev/null; then note "gnuplot is missing: no plots" && return 0; fi
  gnuplot -e "datadir='$3'; outdir='$1'" "$ROOT/bench/plots.gp"
  note "plots: $(cd "$1" && ls bench-*.png | tr '\n' ' ')"
}

main() {
  MODE=full NICE=-10
  local rounds= started tool
  while [ $# -gt 0 ]; do
    case $1 in
      --smoke | --report) MODE=${1#--} ;;
      --rounds) rounds=$2 && shift ;;
      --no-nice) NICE=0 ;;
      *) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
    shift
  done
  mkdir -p "$B"
  # One benchmark at a time: they share the prefix, the payloads and the
  # results.  Only the full run waits for another one (which takes minutes).
  exec 9>"$B/.lock"
  if [ "$MODE" = full ]; then flock 9; else
    flock -n 9 || { echo "bench: a benchmark is running in build/bench: $MODE run skipped"; exit 77; }
  fi
  if [ "$MODE" = report ]; then
    [ -f "$B/results/meta.txt" ] || die "no results in build/bench/results: run the full benchmark first"
    write_report "$ROOT/docs" "$B/results" "$B/plotdata-full"
    exit 0
  fi
  for tool in "$WINE" /usr/bin/Xvfb; do [ -x "$tool" ] || { echo "bench: $tool is missing: skipped"; exit 77; }; done
  for tool in "$ZSRC/inflate.c" "$ZQPACK" "$WORLD" "$DRIVER" "$DATA"; do
    [ -e "$tool" ] || die "no $tool: run 'bash build.sh build' first"
  done
  if [ "$MODE" = smoke ]; then
    SIZES=1 PACK_SETS=1 SMALL_ROUNDS=${rounds:-1} ROUNDS=${rounds:-1} BIG_ROUNDS=${rounds:-1} WARMUP=0 NICE=0
    OUT=$B/smoke RESULTS=$B/smoke/results
  else
    SIZES="1 64 256" PACK_SETS="1 64 256 text64" SMALL_ROUNDS=${rounds:-15} ROUNDS=${rounds:-9}
    BIG_ROUNDS=${rounds:-7} WARMUP=1 OUT=$ROOT/docs RESULTS=$B/results
  fi
  mkdir -p "$OUT" "$RESULTS" "$T" "$D" "$B/jobs"
  rm -f "$RESULTS"/*.tsv && : >"$RESULTS/meta.txt"
  started=$(date +%s)
  build_programs
  build_tools
  make_payloads
  start_world
  meta machine "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores, $(free -g |
    awk '/^Mem:/ {print $2}') GB"
  meta kernel "$(uname -r)"
  meta wine "$("$WINE" --version)"
  meta nsis "$(makensis -VERSION 2>/dev/null || echo none)"
  meta load_before "$(cut -d' ' -f1-3 /proc/loadavg)"
  meta date "$(date -u '+%Y-%m-%d %H:%M UTC')"
  meta mode "$MODE"
  run_sizes
  if [ "$MODE" = full ]; then
    run_variants
    run_profile
    run_native
  fi
  meta load_after "$(cut -d' ' -f1-3 /proc/loadavg)"
  meta minutes "$((($(date +%s) - started + 59) / 60))"
  write_report "$OUT" "$RESULTS" "$B/plotdata-$MODE"
  note "done in $(($(date +%s) - started)) s"
}

main "$@"
