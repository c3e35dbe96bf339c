#!/usr/bin/env bash
# What a screen reader finds in the program: runs it on a private accessibility bus (its
# own session bus), with the site copy it is built for, and reads its tree and events
# through AT-SPI (tree.py). Expects a display with a window manager.
#   tests/a11y/run.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:?build folder}")
here=$(dirname "$(realpath "$0")")
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ -z "${PHOTOFORKP_A11Y_BUS:-}" ]; then
  exec env PHOTOFORKP_A11Y_BUS=1 dbus-run-session -- bash "$0" "$@"
fi
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
bus=$!
"$build/mirror/content_mirror" 8631 >/dev/null 2>&1 &
mirror=$!
trap 'kill $bus $mirror 2>/dev/null || true; wait 2>/dev/null || true' EXIT
# The program's own Python (Debian's, where its AT-SPI binding is), not a user's.
/usr/bin/python3 "$here/tree.py" "$build/app/photoforKP"
