#!/usr/bin/env bash
# Renders the main window, frame included, to a PNG (default docs/main-window.png) as it
# looks in a real window under a window manager.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/main-window.png}")
bash scripts/build.sh >/dev/null
mkdir -p "$(dirname "$out")"
scripts/with-display.sh bash -c '
  build/app/photoforKP & pid=$!
  xdotool search --all --sync --onlyvisible --pid $pid --name Bramoth >/dev/null
  sleep 1.5   # let the splash go and the fade-in finish
  build/tests/grab_screen "$0" Bramoth
  kill $pid' "$out"
echo "$out"
