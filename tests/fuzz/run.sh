#!/usr/bin/env bash
# Runs a fuzz target (setup_reader, or ZQ_FUZZ_TARGET=ce_setup or inf) for a while
# at low priority, growing a working corpus in the build tree from the
# committed seeds.  Crashes land in build/host/tests/fuzz/artifacts/TARGET/.
#   bash tests/fuzz/run.sh [SECONDS] [extra libFuzzer flags...]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
shift $(($# < 1 ? $# : 1))
fuzz=build/host/tests/fuzz target=${ZQ_FUZZ_TARGET:-setup_reader}
binary=$fuzz/clang/${target}_fuzz
[ -x "$binary" ] || { echo "no $binary: build the host tree first (cmake --build build/host)" >&2; exit 1; }
mkdir -p "$fuzz/long/$target" "$fuzz/artifacts/$target"
exec nice -n 10 "$binary" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$fuzz/artifacts/$target/" "$@" "$fuzz/long/$target" tests/fuzz/corpus/"$target"
