#!/usr/bin/env bash
# The whole damaged-setups campaign: every setup that campaign_test.cpp makes
# (over 500, from a fixed seed), each run under Wine and checked, then the
# counts of outcomes by class.  CTest runs a sample of 50 of them (16 for i686).
#
#   bash tests/wine/campaign/run.sh [GTEST OPTIONS...]
#
# Needs the host tree built (bash build.sh build).  Uses a Wine rig of its
# own (display and prefix) in build/rig-campaign unless ZQ_RIG_DIR names
# another, so it does not disturb a test run going on at the same time.
# Exits non-zero when a setup did not end as it must.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
PROGRAM=$ROOT/build/host/tests/wine/wine_campaign_test
if [ ! -x "$PROGRAM" ]; then
  echo "run.sh: $PROGRAM is not built (bash build.sh build)" >&2
  exit 2
fi
export ZQ_CAMPAIGN=full
export ZQ_RIG_DIR=${ZQ_RIG_DIR:-$ROOT/build/rig-campaign}
exec "$PROGRAM" "$@"
