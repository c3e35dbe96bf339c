#!/usr/bin/env bash
# Installs what is missing, builds for the local copy of the content site, starts that
# copy on 127.0.0.1:8631 and the program on the current display. Works offline.
set -euo pipefail
cd "$(dirname "$0")/.."
port=8631
bash scripts/build.sh -DCONTENT_HOST=127.0.0.1:$port
build/mirror/content_mirror $port >/dev/null 2>&1 &
mirror=$!
trap 'kill $mirror 2>/dev/null || true' EXIT
build/app/photoforKP
