#!/usr/bin/env bash
# Makes the Debian package from build/ and checks it as a distribution would: its
# contents, its desktop entry and AppStream metadata, and lintian (no errors).
set -euo pipefail
cd "$(dirname "$0")/../build"
cpack -G DEB >/dev/null
deb=photoforkp_1.00_amd64.deb
dpkg-deb -c "$deb"
dpkg-deb -f "$deb" Package Version Depends
desktop-file-validate ../app/photoforKP.desktop
appstreamcli validate --no-net ../packaging/photoforKP.metainfo.xml
lintian --fail-on error --suppress-tags maintscript-calls-ldconfig "$deb"
echo "package $deb: checked"
