#!/bin/bash
# Packs the demo's cabinet file, DEMO.CAB, from the files in cab-contents/.
#
#   bash demo/make-cab.sh [OUTPUT]
#
# OUTPUT defaults to DEMO.CAB beside this script, where the generated file is
# committed.  Needs gcab.  The cabinet is MSZIP-compressed and stores the
# bare file names.  A cabinet records each file's modification time, so the
# files are packed from a copy dated to a fixed moment: the same contents
# always give the same bytes.
set -euo pipefail
export LC_ALL=C  # file order in the cabinet

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/DEMO.CAB}
stamp='2002-10-01 12:00:00'  # the date recorded for every file

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here"/cab-contents/* "$work"/
(
    cd "$work"
    files=(*)
    TZ=UTC touch -d "$stamp" "${files[@]}"
    TZ=UTC gcab --create --zip --nopath "$work/out.cab" "${files[@]}"
)
mkdir -p "$(dirname "$out")"
mv "$work/out.cab" "$out"
