#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs, builds, and runs CTest
# inside a private X display with a window manager.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec scripts/with-display.sh ctest --test-dir build --output-on-failure --timeout 600 "$@"
