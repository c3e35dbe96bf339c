#!/usr/bin/env bash
# The tests that do not start the browser engine, built with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/; any finding (a leak included) fails the
# run. The engine's own tests stay in the normal build: the engine trips the sanitizer
# inside its own code. Expects what scripts/build.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."
san="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCONTENT_HOST=127.0.0.1:8631 -DPHOTOFORKP_WERROR=ON \
  -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" -DCMAKE_SHARED_LINKER_FLAGS="$san" \
  -DCMAKE_MODULE_LINKER_FLAGS="$san" >/dev/null
# Targets of the same names; -FA: ctest would list the fixture tests they require too,
# which are scripts, not targets.
mapfile -t tests < <(ctest --test-dir build-asan -N -LE 'engine|fixture' -FA '.*' | sed -n 's/^ *Test *#[0-9]*: *//p')
cmake --build build-asan -j"$(nproc)" --target "${tests[@]}"
# intercept_strndup=0: libxkbcommon-x11 hands strndup a buffer without a terminator
# (reading stops at the length), which the interceptor reports as an overflow.
export ASAN_OPTIONS="detect_leaks=1:intercept_strndup=0:abort_on_error=0:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
scripts/with-display.sh ctest --test-dir build-asan -LE engine --output-on-failure --timeout 600 "$@"
