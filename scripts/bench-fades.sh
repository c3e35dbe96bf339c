#!/usr/bin/env bash
# Prints the real durations of the splash's fades and hold and of the main window's
# fades beside their nominal values at the 10 ms timer period, as ratios; then the same
# with an album viewer loading during the main window's fades.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
scripts/with-display.sh build/benchmarks/bench_fades 2>/dev/null | awk '
  BEGIN { printf "%-34s%10s%10s%8s\n", "phase", "measured", "nominal", "ratio" }
  { printf "%-34s%10.1f%10.0f%8.3f\n", $1, $2, $3, $2 / $3 }
  END { print "target: every ratio within 1.05" }'
