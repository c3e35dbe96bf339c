#!/usr/bin/env bash
# Installs what is missing, builds what running needs for the local copy of the content
# site, starts that copy on 127.0.0.1 (port 8631, or PORT) and the program on the
# current display. Works offline once the first run has installed everything.
#   PORT=8632 bash scripts/run.sh
# With --archive, no live site: a local web archive of the copy on port PORT+9 instead,
# and the program opens every link from it. Other options go to the program.
#   bash scripts/run.sh --archive [--archive-date=2011]
set -euo pipefail
cd "$(dirname "$0")/.."
port=${PORT:-8631}
archive=0
for a in "$@"; do [[ $a == --archive ]] && archive=1; done
bash scripts/build.sh --program -DCONTENT_HOST=127.0.0.1:$port

# The site copy (or its archive) first; the program only once it really serves (never
# against whatever else may answer on that port).
log=$(mktemp)
if ((archive)); then
  serving=$((port + 9))
  build/mirror/content_archive "$serving" "127.0.0.1:$port" "127.0.0.2:$port" >"$log" 2>&1 &
  set -- "$@" "--archive-url=http://127.0.0.1:$serving/web/"
else
  serving=$port
  build/mirror/content_mirror "$port" >"$log" 2>&1 &
fi
server=$!
trap 'kill $server 2>/dev/null || true; rm -f "$log"' EXIT
for _ in $(seq 100); do
  grep -q '^serving' "$log" && break
  if ! kill -0 "$server" 2>/dev/null; then
    cat "$log" >&2
    echo "run.sh: the local copy of the site cannot listen on 127.0.0.1:$serving (is the port taken?)." >&2
    echo "run.sh: choose another port, for example: PORT=$((port + 1)) bash scripts/run.sh" >&2
    exit 1
  fi
  sleep 0.05
done
grep -q '^serving' "$log" || { echo "run.sh: the local copy of the site did not start" >&2; exit 1; }
build/app/photoforKP "$@"
