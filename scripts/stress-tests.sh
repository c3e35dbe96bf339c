#!/usr/bin/env bash
# Runs the windowed and engine tests N times (default 5) while stress-ng keeps every
# core busy, and prints for each test how many runs passed and failed: how the suite is
# shown to be sturdy on a slow machine. Not part of the test command; expects build/
# (scripts/build.sh) and installs stress-ng when missing.
#   scripts/stress-tests.sh [N] [CTEST ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
shift || true
if ! command -v stress-ng >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends stress-ng >/dev/null
fi
# A group of its own: killing only stress-ng's parent leaves its workers loading the
# cores for whatever runs next.
setsid stress-ng --cpu "$(nproc)" --cpu-method matrixprod --quiet &
load=$!
trap 'kill -TERM -- -$load 2>/dev/null || true; wait 2>/dev/null || true' EXIT
trap 'exit 1' INT TERM

declare -A passed failed
log=$(mktemp)
for run in $(seq "$runs"); do
  scripts/with-display.sh ctest --test-dir build -L 'x11|engine' --output-on-failure --timeout 900 "$@" >"$log" 2>&1 || true
  while read -r name result; do
    if [ "$result" = Passed ]; then passed[$name]=$(( ${passed[$name]:-0} + 1 ))
    else failed[$name]=$(( ${failed[$name]:-0} + 1 )); fi
  done < <(sed -En 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) [.]*[*]* *([A-Za-z]+).*/\1 \2/p' "$log" | grep -v '^machine_state')
  echo "run $run of $runs: $(grep -E 'tests passed' "$log" || echo 'no summary')"
  # What failed, and the whole log of a run that had failures, kept for reading.
  if grep -q 'FAIL!' "$log"; then
    grep -A2 'FAIL!' "$log" | sed 's/^/    /'
    mkdir -p build/stress-logs && cp "$log" "build/stress-logs/run-$run.log"
  fi
done
rm -f "$log"
for name in $(printf '%s\n' "${!passed[@]}" "${!failed[@]}" | sort -u); do
  printf '%-28s %d passed, %d failed\n' "$name" "${passed[$name]:-0}" "${failed[$name]:-0}"
done
