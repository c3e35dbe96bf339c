#!/usr/bin/env bash
# Installs what is missing, builds what running needs for the local copy of the content
# site, starts that copy on 127.0.0.1 (port 8631, or PORT) and the program on the
# current display. Works offline once the first run has installed everything.
#   PORT=8632 bash scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
port=${PORT:-8631}
bash scripts/build.sh --program -DCONTENT_HOST=127.0.0.1:$port

# The site copy first; the program only once it really serves (never against whatever
# else may answer on that port).
log=$(mktemp)
build/mirror/content_mirror "$port" >"$log" 2>&1 &
mirror=$!
trap 'kill $mirror 2>/dev/null || true; rm -f "$log"' EXIT
for _ in $(seq 100); do
  grep -q '^serving' "$log" && break
  if ! kill -0 "$mirror" 2>/dev/null; then
    cat "$log" >&2
    echo "run.sh: the local copy of the site cannot listen on 127.0.0.1:$port (is the port taken?)." >&2
    echo "run.sh: choose another port, for example: PORT=$((port + 1)) bash scripts/run.sh" >&2
    exit 1
  fi
  sleep 0.05
done
grep -q '^serving' "$log" || { echo "run.sh: the local copy of the site did not start" >&2; exit 1; }
build/app/photoforKP
