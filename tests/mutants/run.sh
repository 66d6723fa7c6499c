#!/usr/bin/env bash
# The mutant set: each row of mutants.tsv breaks the program or zqpack on
# purpose; a mutant is killed when the tests named in its row fail on it.
# Not part of the suite (it rebuilds once per mutant).
#
#   bash tests/mutants/run.sh [NAME-REGEX]
#   ZQ_MUTANT_REV=COMMIT bash tests/mutants/run.sh   the tree of a commit
#   ZQ_MUTANT_TABLE=FILE                             another table
#   ZQ_MUTANT_DIR=NAME                               build/NAME, not build/mutants
#   ZQ_MUTANT_NO_RIG=1                               no Wine rig (rows with host tests only)
#
# Works in a scratch copy of the tracked files (or of COMMIT's tree) under
# build/mutants/tree with its own build trees, never in the working tree
# (docs/testing.md).  Per-mutant results go to build/mutants/results.tsv;
# the last line printed is "killed N of M".
set -uo pipefail
src=${ZQ_MUTANT_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
work=$src/build/${ZQ_MUTANT_DIR:-mutants}
# The script and its table run from copies: the working tree may change
# while a run goes on.
if [ -z "${ZQ_MUTANT_SRC:-}" ]; then
  mkdir -p "$work"
  cp "$0" "$work/run.sh"
  cp "${ZQ_MUTANT_TABLE:-$src/tests/mutants/mutants.tsv}" "$work/mutants.tsv"
  ZQ_MUTANT_SRC=$src exec bash "$work/run.sh" "$@"
fi
tree=$work/tree
results=$work/results.tsv
only=${1:-.}
mkdir -p "$tree"

# The scratch tree holds the tracked files as they stand; a file is written
# only when its contents differ, so unchanged files keep their times and the
# build stays incremental.
sync_tree() {
  local from=$src list=(git -C "$src" -c core.quotepath=off ls-files)
  if [ -n "${ZQ_MUTANT_REV:-}" ]; then
    from=$work/source list=(git -C "$src" -c core.quotepath=off ls-tree -r --name-only "$ZQ_MUTANT_REV")
    rm -rf "$from" && mkdir -p "$from"
    git -C "$src" archive "$ZQ_MUTANT_REV" | tar -x -C "$from"
  fi
  "${list[@]}" | sort >"$work/files"
  (cd "$tree" && find . \( -path ./build -o -path ./out \) -prune -o -type f -printf '%P\n' | sort |
    comm -23 - "$work/files" | xargs -r -d '\n' rm -f)
  while IFS= read -r f; do
    cmp -s "$from/$f" "$tree/$f" || install -D -m "$(stat -c %a "$from/$f")" "$from/$f" "$tree/$f"
  done <"$work/files"
}

# mutate FILE FIND REPLACE: replaces the first occurrence; fails when absent.
mutate() {
  python3 -c '
import sys
path, find, repl = sys.argv[1], sys.argv[2].replace("\\n", "\n"), sys.argv[3].replace("\\n", "\n")
text = open(path).read()
if find not in text: sys.exit(1)
open(path, "w").write(text.replace(find, repl, 1))
' "$@"
}

# build_tree TREE [TARGET...]
build_tree() {
  local name=$1; shift
  cmake --build "$tree/build/$name" ${1:+--target "$@"} >>"$work/build.log" 2>&1
}

# What a mutant of FILE needs rebuilt before its tests run.
build_for() {
  : >"$work/build.log"
  case $1 in
    tools/zqpe/*) build_tree win-x86_64 zqstub && build_tree host zqpack zq_host_tests ;;
    tools/zqpack/fileio.cpp) build_tree win-x86_64 zqpack && build_tree host zqpack zq_host_tests ;;
    tools/*) build_tree host zqpack zq_host_tests ;;
    *) build_tree win-x86_64 && build_tree host zqpack zq_host_tests ;;
  esac
}

# The scratch tree's build trees: the x86_64 programs, the i686 program
# proper and the host.
configure() {  # NAME [cmake args...]
  local name=$1; shift
  cmake -S "$tree" -B "$tree/build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DZLIB_SOURCE_DIR="$src/build/zlib-src" -DMSPACK_SOURCE_DIR="$src/build/libmspack-src" \
        -DTINYXML2_SOURCE_DIR="$src/build/tinyxml2-src" "$@" >"$work/configure-$name.log" 2>&1
}

sync_tree
echo "building the scratch tree"
# The i686 program proper is built once, unmutated: the host tests that read
# both builds need it there.
{ configure win-x86_64 -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/toolchain-x86_64.cmake" &&
  configure win-i686 -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/toolchain-i686.cmake" && configure host &&
  build_tree win-x86_64 && build_tree win-i686 zqstub zqstub_rebased && build_tree host; } ||
  { echo "the unmutated tree does not build: $work/build.log"; exit 1; }

# One Wine rig (display and prefix) for every mutant, taken down at the end.
rig() { (cd "$tree/build/host" && ctest -R "^wine_rig_$1\$" >"$work/rig-$1.log" 2>&1); }
# ZQ_MUTANT_NO_RIG=1: rows whose tests need no Wine only (host tests).
if [ -z "${ZQ_MUTANT_NO_RIG:-}" ]; then
  rig setup || { echo "the Wine rig did not start: $work/rig-setup.log"; exit 1; }
  trap 'rig takedown' EXIT
fi

: >"$results"
total=0 killed=0 survivors=() stale=()
while IFS= read -r line; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  mapfile -td $'\t' field < <(printf '%s' "$line")  # keeps an empty replacement
  name=${field[0]} file=${field[1]} find=${field[2]} replace=${field[3]} regex=${field[4]}
  [[ "$name" =~ $only ]] || continue
  total=$((total + 1))
  cp "$tree/$file" "$work/original"
  if ! mutate "$tree/$file" "$find" "$replace"; then
    verdict=stale
  elif ! build_for "$file"; then
    verdict=unbuildable
  elif (cd "$tree/build/host" && timeout 900 ctest -j1 -FA wine_rig -R "$regex" -E i686 >"$work/$name.log" 2>&1); then
    verdict=survived
  elif grep -q "No tests were found" "$work/$name.log"; then
    verdict=no-tests
  else
    verdict=killed
  fi
  cat "$work/original" >"$tree/$file"  # a fresh time: the next build compiles it again
  case $verdict in
    killed) killed=$((killed + 1)) ;;
    survived) survivors+=("$name") ;;
    *) stale+=("$name ($verdict)") ;;
  esac
  printf '%s\t%s\n' "$name" "$verdict" | tee -a "$results"
done <"$work/mutants.tsv"
build_for app  # the tree as it stands again

[ ${#stale[@]} -gt 0 ] && printf 'not run: %s\n' "${stale[@]}"
[ ${#survivors[@]} -gt 0 ] && printf 'survived: %s\n' "${survivors[@]}"
echo "killed $killed of $total"
