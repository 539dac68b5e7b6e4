#!/usr/bin/env bash
# Builds every download a second time, in another folder, with another umask and in another
# time zone (the Debian package without its build-time tests), and checks that each is the same to the byte as the copy the other tests built;
# where one is not, diffoscope says why.
#   reproducible_test.sh SOURCE_DIR FIRST_DEB_DIR FIRST_CROSS_ROOT SECOND_ROOT
set -uo pipefail
source=$1 first_deb=$2 first=$3 second=$4
rm -rf "$second"
mkdir -p "$second"
version=$(sed -n '1s/^sormio (\([^)]*\)).*/\1/p' "$source/debian/changelog")
status=0
(
    umask 077
    export TZ=Pacific/Kiritimati LC_ALL=C.UTF-8
    # Without its tests this time: what the build tries must not change what it ships.
    SORMIO_PACKAGE_DIR="$second/deb" DEB_BUILD_OPTIONS=nocheck "$source/tools/package" deb \
        >"$second/deb.log" 2>&1 &&
        "$source/tests/cross_build.sh" "$source" "$second" windows64 windows_zip \
            >"$second/windows64.log" 2>&1 &&
        "$source/tests/cross_build.sh" "$source" "$second" windows32 windows_zip windows_installer \
            >"$second/windows32.log" 2>&1 &&
        "$source/tests/cross_build.sh" "$source" "$second" web web_zip >"$second/web.log" 2>&1
) || { tail -n 30 "$second"/*.log; echo "FAILED: the second build did not finish"; exit 1; }

compare() {
    if cmp -s "$1" "$2"; then
        echo "same: $(basename "$1") $(sha256sum <"$1" | cut -c1-16)"
    else
        echo "FAILED: $(basename "$1") differs between two builds of the same source"
        if command -v diffoscope >/dev/null; then
            diffoscope --no-progress --max-report-size 200000 --text - "$1" "$2" | head -n 150
        fi
        status=1
    fi
}
deb=$(basename "$(ls "$first_deb"/sormio_"$version"_*.deb)")
compare "$first_deb/$deb" "$second/deb/$deb"
compare "$first/windows64/window/win32/sormio-$version-windows-x64.zip" \
    "$second/windows64/window/win32/sormio-$version-windows-x64.zip"
compare "$first/windows32/window/win32/sormio-$version-windows-setup.exe" \
    "$second/windows32/window/win32/sormio-$version-windows-setup.exe"
compare "$first/windows32/window/win32/sormio-$version-windows-x86.zip" \
    "$second/windows32/window/win32/sormio-$version-windows-x86.zip"
compare "$first/web/sormio-$version-web.zip" "$second/web/sormio-$version-web.zip"
exit $status
