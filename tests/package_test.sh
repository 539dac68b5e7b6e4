#!/usr/bin/env bash
# Checks the built Debian package as an installer would see it: lintian (pedantic too),
# dependencies that exist, the files where the desktop looks for them, the program hardened as
# Debian hardens its packages, and the installed program opening its window under Xvfb.
#   package_test.sh PACKAGE_DIR PLAY_TEST XPROBE DESCRIPTION
set -uo pipefail
play_test=$2 xprobe=$3 description=$4
deb=$(ls -t "$1"/sormio_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "FAILED: no package in $1"; exit 1; }
status=0
fail() { echo "FAILED: $*"; status=1; }

# The game has no homepage to name, which appstream 1.0 (Debian 13) counts against the metainfo;
# Debian 12's lintian has no such check (and would take an override of it for an error).
# Everything else must pass.
suppressed=()
if lintian-explain-tags --list-tags | grep -x appstream-metadata-validation-failed >/dev/null; then
    suppressed=(--suppress-tags appstream-metadata-validation-failed)
fi
lintian --pedantic --fail-on error,warning,pedantic "${suppressed[@]}" "$deb" 2>&1 |
    grep -v "running with root privileges"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian has something to say"

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

hardened=$(hardening-check "$root$exec_path")
echo "$hardened"
for feature in "Position Independent Executable" "Stack protected" "Read-only relocations" \
    "Immediate binding" "Control flow integrity"; do
    grep -q "$feature: yes" <<<"$hardened" || fail "the program is not hardened: $feature"
done
# Its few memory calls are all checked at compile time, so no fortified call need show in the
# binary: what counts is that every file was compiled with the checks, and optimised.
commands=$(ls "$1"/deb/sormio-*/obj-*/compile_commands.json 2>/dev/null | head -n 1)
if [ -z "$commands" ]; then
    fail "no record of how the package's program was compiled"
else
    /usr/bin/python3 - "$commands" <<'PYTHON' || fail "a file was compiled without checked calls"
import json, re, sys
entries = json.load(open(sys.argv[1]))
unchecked = [e["file"] for e in entries if not (re.search(r"-D_FORTIFY_SOURCE=[1-9]", e["command"])
                                               and re.search(r" -O[1-3s]", e["command"]))]
print(f"{len(entries)} files compiled, {len(unchecked)} without -D_FORTIFY_SOURCE and optimisation")
sys.exit(1 if unchecked or not entries else 0)
PYTHON
fi
grep -q '<release version="'"$(dpkg-deb -f "$deb" Version)"'"' \
    "$root/usr/share/metainfo/fi.sormio.SormioIV.metainfo.xml" || fail "metainfo and package versions differ"

/usr/bin/python3 "$play_test" --description "$description" --session x11 --game "$root$exec_path" \
    --xprobe "$xprobe" --out "$(dirname "$deb")" startup ||
    fail "the installed program did not show its window"
exit $status
