#!/usr/bin/env bash
# Prints the main window's start-up figures beside a bare Qt program (see bench-startup.py).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
exec scripts/with-display.sh python3 scripts/bench-startup.py build
