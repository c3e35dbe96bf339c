#!/usr/bin/env bash
# Prints the main window's start-up figures beside a bare Qt program (see bench-startup.py).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
source scripts/engine-env.sh
exec scripts/with-display.sh python3 scripts/bench-startup.py build
