#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs, builds everything,
# runs CTest inside a private X display with a window manager, then makes the Debian
# package and checks it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
scripts/with-display.sh ctest --test-dir build --output-on-failure --timeout 600 "$@"
bash scripts/check-package.sh
