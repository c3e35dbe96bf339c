#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on the current display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
source scripts/engine-env.sh
exec build/app/photoforKP
