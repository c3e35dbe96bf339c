#!/usr/bin/env bash
# Installs the Debian packages the program and its tests need. Safe to run again:
# it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential cmake
  qt6-base-dev qt6-webengine-dev qt6-tools-dev qt6-l10n-tools libgl-dev libxcb1-dev zlib1g-dev liblzma-dev libzip-dev pkg-config qt6-translations-l10n
  fonts-wqy-microhei
  xvfb xauth openbox x11-utils xdotool
  python3 python3-pyatspi at-spi2-core dbus-daemon
  dpkg-dev lintian desktop-file-utils appstream
  clang libfuzzer-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Node.js may come from elsewhere with npm bundled; only ask Debian for it when absent.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
