#!/usr/bin/env bash
# Fuzzes every parser of outside bytes with libFuzzer (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer): builds the targets of tests/fuzz into build-fuzz/ and runs
# each for SECONDS (default 30) from a copy of its seed corpus, so that every seed (each
# input that once failed among them) is replayed and the repository stays as it is.
# Targets run side by side, one per core (FUZZ_JOBS=N for fewer). Prints the inputs each
# target ran; any finding fails the run, its input kept in build-fuzz/findings/.
# Expects what scripts/install-deps.sh installs.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
jobs="${FUZZ_JOBS:-$(nproc)}"
targets=(request answer chunked roundtrip proxyhead wayback moviemenu policy sniff media host numeric warc cdxj wacz)
declare -A dicts=([request]=http [answer]=http [chunked]=http [proxyhead]=http [policy]=policy [host]=host)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
start=$SECONDS
if ! { cmake -S tests/fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ && cmake --build build-fuzz -j"$jobs"; } \
  >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  exit 1
fi
mkdir -p build-fuzz/findings
export UBSAN_OPTIONS="print_stacktrace=1"

fuzz() {
  local t="$1"
  mkdir -p "$work/$t"
  cp tests/fuzz/corpus/"$t"/* "$work/$t/"
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="build-fuzz/findings/$t-")
  [ -z "${dicts[$t]:-}" ] || options+=(-dict="tests/fuzz/${dicts[$t]}.dict")
  local rc=0
  build-fuzz/fuzz_"$t" "${options[@]}" "$work/$t" >"$work/$t.log" 2>&1 || rc=$?
  echo "$rc" >"$work/$t.rc"
}

for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n || true
  done
  fuzz "$t" &
done
wait

failed=()
for t in "${targets[@]}"; do
  if [ "$(cat "$work/$t.rc")" = 0 ]; then
    printf '%-10s %12s runs\n' "$t" "$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")"
  else
    failed+=("$t")
    printf '%-10s FAILED (log in build-fuzz/findings/%s.log)\n' "$t" "$t"
    cp "$work/$t.log" build-fuzz/findings/"$t".log
    grep -v -e '^#[0-9]' -e '^INFO:' "$work/$t.log" | tail -n 40 >&2
  fi
done
echo "fuzzing took $((SECONDS - start)) s, builds included"
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]} (inputs in build-fuzz/findings/)" >&2
  exit 1
fi
