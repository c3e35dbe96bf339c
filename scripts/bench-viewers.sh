#!/usr/bin/env bash
# Prints the viewers' figures beside a bare browser view (see bench-viewers.py).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
exec scripts/with-display.sh python3 scripts/bench-viewers.py build "$@"
