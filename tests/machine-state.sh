#!/usr/bin/env bash
# Puts back what a test run may leave behind when a test is killed (by its timeout, say)
# before it could clean up after itself: this build's test programs,
# their temporary folders, stale locks of the X displays they made, and the account an
# older version of the suite added. Run before and after the suite (a CTest fixture).
#   tests/machine-state.sh BUILD_DIR
set -uo pipefail
build=$(realpath -m "${1:?build folder}")
tests=$(ls "$build/tests" 2>/dev/null | grep '^tst_' || true)

# Test programs of this build (what they started ends with them).
pkill -KILL -f "^$build/tests/tst_" 2>/dev/null || true

# The tests' temporary folders (QTemporaryDir names them after the test program).
for t in $tests; do
  find "${TMPDIR:-/tmp}" -maxdepth 1 -name "$t-??????" -exec rm -rf {} + 2>/dev/null || true
done

# X displays whose server is gone but whose lock and socket stayed.
for lock in /tmp/.X[0-9]*-lock; do
  [ -e "$lock" ] || continue
  pid=$(tr -dc '0-9' < "$lock")
  if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
    n=${lock#/tmp/.X}; n=${n%-lock}
    rm -f "$lock" "/tmp/.X11-unix/X$n"
  fi
done

# An older suite added this account for its normal-user run.
if id photoforkp-tester >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ]; then
  userdel photoforkp-tester 2>/dev/null || true
fi
exit 0
