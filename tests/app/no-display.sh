#!/usr/bin/env bash
# Without a display to show windows on, the program says so in one line on stderr and
# exits with status 1, where Qt alone aborts with a core dump: with no DISPLAY at all,
# and with one that nothing answers on.
#   tests/app/no-display.sh PROGRAM
set -uo pipefail
program="$1"
err=$(mktemp)
trap 'rm -f "$err"' EXIT
failed=0

# A display number with no server: no socket and no lock (other test runs take 90-140).
for n in $(seq 197 260); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { unused=":$n"; break; }
done

expect_refusal() {
  local what="$1"
  shift
  env -i "$@" "$program" 2>"$err" </dev/null >/dev/null
  local status=$? lines
  lines=$(wc -l <"$err")
  if [ "$status" -ne 1 ] || [ "$lines" -ne 1 ] || ! grep -q '^photoforKP: no display' "$err"; then
    echo "FAIL $what: status $status, $lines line(s) on stderr:" >&2
    cat "$err" >&2
    failed=1
  else
    echo "PASS $what: $(cat "$err")"
  fi
}

expect_refusal "no DISPLAY"
expect_refusal "DISPLAY=${unused:?no unused display number}" DISPLAY="$unused"
exit "$failed"
