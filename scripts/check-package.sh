#!/usr/bin/env bash
# Makes the Debian packages from a build folder (build/ unless named) and checks them as
# a distribution would: their contents and relations, the desktop entry and AppStream
# metadata as installed, and lintian: no error, no warning, and none of the notes below.
#   scripts/check-package.sh [BUILD_DIR]
set -euo pipefail
source_dir=$(realpath "$(dirname "$0")/..")
cd "$(realpath "${1:-$(dirname "$0")/../build}")"
cpack -G DEB >/dev/null
version=1.00
program=photoforkp_${version}_$(dpkg --print-architecture).deb
data=photoforkp-data_${version}_all.deb
fail() { echo "check-package: $*" >&2; exit 1; }

for deb in "$program" "$data"; do
  dpkg-deb -c "$deb"
  dpkg-deb -f "$deb" Package Version Architecture Depends
done
# The emulator is the data package's, whole; the program needs it at its own version.
programfiles=$(dpkg-deb -c "$program")
datafiles=$(dpkg-deb -c "$data")
grep -q ' \./usr/share/photoforKP/' <<<"$programfiles" && fail "$program holds the emulator's files"
grep -q ' \./usr/share/photoforKP/ruffle/ruffle\.js$' <<<"$datafiles" || fail "$data lacks the emulator"
grep '^-' <<<"$datafiles" | grep -Ev ' \./usr/share/(photoforKP/ruffle|doc/photoforkp-data)/' \
  && fail "$data holds files beside the emulator"
grep -Fq "photoforkp-data (= $version)" <<<"$(dpkg-deb -f "$program" Depends)" \
  || fail "$program does not depend on $data at its version"
[ "$(dpkg-deb -f "$data" Architecture)" = all ] || fail "$data is not Architecture: all"

# What the packages install, together, as a system would have it.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$program" "$tree"
dpkg-deb -x "$data" "$tree"
# No path of the machine that built it (Qt's string literals are UTF-16, hence -el too).
for f in "$tree/usr/bin/photoforKP" "$tree"/usr/lib/*/photoforKP/*.so; do
  { strings "$f"; strings -el "$f"; } | grep -Fq "$source_dir" && fail "$f holds a path of the build machine"
  { strings "$f"; strings -el "$f"; } | grep -Fq "$PWD" && fail "$f holds a path of the build folder"
done
desktop-file-validate "$tree/usr/share/applications/photoforKP.desktop"
# appstreamcli fails on anything above a pedantic note; the notes are read from its report.
# One is known: the component ID has capitals, and stays as published (it is the
# program's identity in software centres).
for check in "validate --pedantic --strict --no-net $tree/usr/share/metainfo/org.example.photoforKP.metainfo.xml" \
             "validate-tree --pedantic --strict --no-net $tree"; do
  report=$(appstreamcli $check 2>&1) || { echo "$report"; fail "appstreamcli $check"; }
  echo "$report"
  grep -E '^ *[EWIP]: ' <<<"$report" | grep -v 'cid-contains-uppercase-letter org\.example\.photoforKP$' \
    && fail "appstreamcli ${check%% *} has notes"
done

# Besides errors and warnings, these notes fail the check: a program without full
# hardening, or with the compiler's notes left in, and a program package that carries
# what belongs in an Architecture: all one.
report=$(lintian --fail-on error,warning --display-info --pedantic "$program" "$data" 2>&1) \
  || { echo "$report"; fail "lintian"; }
echo "$report"
grep -E '(hardening-no-bindnow|hardening-no-fortify-functions|hardening-no-relro|binary-has-unneeded-section|arch-dep-package-has-big-usr-share)' \
  <<<"$report" && fail "lintian notes above"
echo "packages $program and $data: checked"
