#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/.
#   scripts/build.sh [--program] [CMAKE ARGS...]
# It builds for the local copy of the content site, with Debian's build flags; CMake
# arguments go to the configure step (-DCONTENT_HOST=www.example.org builds for another
# host). With --program, only what running needs is built (the program, its viewer
# module, the site copy); without, everything, tests and benchmarks included.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
if [ "${1:-}" = "--program" ]; then
  shift
  targets=(--target photoforKP viewers content_mirror content_archive)
fi
bash scripts/install-deps.sh
# The album player's emulator, exactly as the lock file pins it (npm ci only when
# node_modules is missing or older than the lock file).
if ! [ -f node_modules/@ruffle-rs/ruffle/ruffle.js ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
# Debian's build flags, as dpkg-buildflags gives them to a package, with all of its
# hardening (bindnow too): the package is checked for them. Not fixfilepath: the tests
# find their data beside their sources through __FILE__, which it makes relative.
flags() { DEB_BUILD_MAINT_OPTIONS="hardening=+all reproducible=-fixfilepath" dpkg-buildflags --get "$1"; }
cxxflags="$(flags CPPFLAGS) $(flags CXXFLAGS)"
ldflags="$(flags LDFLAGS)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCONTENT_HOST=127.0.0.1:8631 \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" "$@" >/dev/null
cmake --build build -j"$(nproc)" "${targets[@]}"
