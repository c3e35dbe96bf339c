#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/.
# Extra arguments go to CMake's configure step (for example -DCONTENT_HOST=...).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j"$(nproc)"
