#!/usr/bin/env bash
# tools/reproduce.sh [COMMIT]: builds a commit (HEAD by default) twice, in
# build/reproduce/a and build/reproduce/b, each with 'bash build.sh package'
# from its own copy of the commit's files, and compares every file of the
# two out/ folders byte for byte: the programs proper, zqpack and zqpack.exe,
# the Debian package and the zip, and the Windows test programs.  Prints one
# line per file and "same: N of M"; exits 0 only when every file is the
# same.  Not part of the suite: two whole builds take a while.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
commit=$(git rev-parse "${1:-HEAD}")
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
work=$ROOT/build/reproduce
rm -rf "$work"
for copy in a b; do
  dir=$work/$copy
  mkdir -p "$dir/build"
  git archive "$commit" | tar -x -C "$dir"
  # The source packages that the Windows builds compile, as build.sh deps fetched them.
  for src in zlib-src libmspack-src tinyxml2-src; do cp -a "$ROOT/build/$src" "$dir/build/"; done
  echo "building $commit in $dir"
  bash "$dir/build.sh" package >"$work/$copy.log" 2>&1 || { tail -n 30 "$work/$copy.log" >&2; exit 1; }
done
same=0 all=0
while read -r file; do
  all=$((all + 1))
  if cmp -s "$work/a/out/$file" "$work/b/out/$file"; then
    same=$((same + 1))
    echo "same     $file"
  else
    echo "DIFFERS  $file"
  fi
done < <( (cd "$work/a/out" && find . -type f; cd "$work/b/out" && find . -type f) | sed 's|^\./||' | sort -u)
echo "same: $same of $all"
[ "$same" = "$all" ]
