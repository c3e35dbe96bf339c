#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs, builds everything
# with warnings as errors, runs CTest inside a private X display with a window manager,
# makes the Debian package and checks it, fuzzes every parser of outside bytes for a
# while (scripts/fuzz.sh), then runs the tests that do not start the browser engine
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh -DPHOTOFORKP_WERROR=ON
scripts/with-display.sh ctest --test-dir build --output-on-failure --timeout 600 "$@"
bash scripts/check-package.sh
# 15 s a target: the whole command stays under 20 minutes on two cores (19 with 20 s).
bash scripts/fuzz.sh 15
bash scripts/sanitize.sh
