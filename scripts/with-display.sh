#!/usr/bin/env bash
# Runs a command inside a private X display (Xvfb) with a window manager (openbox), so
# windows get real frames, stacking and focus. The display goes away with the command.
#   scripts/with-display.sh COMMAND [ARGS...]
set -euo pipefail

for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
: "${display:?no free X display number}"

# -noreset: the server would reset when the readiness check below disconnects, and a
# window manager connecting at that moment fails.
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

export DISPLAY="$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
# openbox is ready once it owns the window-manager selection.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done

"$@"
