#!/usr/bin/env bash
# Runs one fuzz target for a while at low priority, growing a working corpus
# in the build tree from the committed seeds.  Crashes land in
# build/host/tests/fuzz/artifacts/TARGET/.
#   bash tests/fuzz/run.sh TARGET [SECONDS] [extra libFuzzer flags...]
# TARGET: payload_limits, setup_reader, ini or filecheck.
set -euo pipefail
cd "$(dirname "$0")/../.."
target=${1:?usage: run.sh TARGET [SECONDS] [libFuzzer flags...]}
seconds=${2:-600}
shift $(($# < 2 ? $# : 2))
fuzz=build/host/tests/fuzz
binary=$fuzz/clang/${target}_fuzz
[ -x "$binary" ] || { echo "no $binary: build the host tree first (cmake --build build/host)" >&2; exit 1; }
mkdir -p "$fuzz/long/$target" "$fuzz/artifacts/$target"
seeds=(tests/fuzz/corpus/"$target")
[ -d tests/fuzz/regressions/"$target" ] && seeds+=(tests/fuzz/regressions/"$target")
exec nice -n 10 "$binary" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$fuzz/artifacts/$target/" "$@" "$fuzz/long/$target" "${seeds[@]}"
