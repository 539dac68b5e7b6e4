#!/usr/bin/env bash
# Checks the built Debian package as an installer would see it: lintian, dependencies that
# exist, the files where the desktop looks for them, and the installed program opening its
# window under Xvfb.
#   package_test.sh PACKAGE_DIR PLAY_TEST XPROBE DESCRIPTION
set -uo pipefail
play_test=$2 xprobe=$3 description=$4
deb=$(ls -t "$1"/sormio_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "FAILED: no package in $1"; exit 1; }
status=0
fail() { echo "FAILED: $*"; status=1; }

lintian --fail-on error "$deb" 2>&1 | grep -v "running with root privileges"; [ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in $(echo "$depends" | tr ',' '\n' | sed 's/(.*)//; s/|.*//' | tr -d ' '); do
    dpkg-query -W "$dep" >/dev/null 2>&1 || apt-cache show "$dep" >/dev/null 2>&1 ||
        fail "dependency $dep is no Debian package"
done
[[ "$depends" == *libqt6widgets6* ]] || fail "no dependency on the Qt libraries found from the binary"
[[ "$depends" == *libpulse0* ]] || fail "no dependency on the sound server's client library"
[ "$(dpkg-deb -f "$deb" Suggests)" = qt6-wayland ] || fail "native Wayland should be suggested, not required"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop="$root/usr/share/applications/fi.sormio.SormioIV.desktop"
for f in "$desktop" usr/share/metainfo/fi.sormio.SormioIV.metainfo.xml \
    usr/share/doc/sormio/copyright usr/share/doc/sormio/changelog.gz usr/share/man/man6/sormio.6.gz \
    usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/fi.sormio.SormioIV.png \
    usr/share/icons/hicolor/scalable/apps/fi.sormio.SormioIV.svg; do
    [ -f "$f" ] || [ -f "$root/$f" ] || fail "missing $f"
done
exec_path=$(sed -n 's/^Exec=//p' "$desktop")
[ -x "$root$exec_path" ] || fail "the menu entry starts $exec_path, which the package does not hold"
grep -q '<release version="'"$(dpkg-deb -f "$deb" Version)"'"' \
    "$root/usr/share/metainfo/fi.sormio.SormioIV.metainfo.xml" || fail "metainfo and package versions differ"

/usr/bin/python3 "$play_test" --description "$description" --session x11 --game "$root$exec_path" \
    --xprobe "$xprobe" --out "$(dirname "$deb")" startup ||
    fail "the installed program did not show its window"
exit $status
