#!/usr/bin/env bash
# Builds the program for another platform, warnings as errors:
#   cross_build.sh SOURCE_DIR BUILD_ROOT windows64|windows32|web [BUILD_TARGET ...]
set -euo pipefail
source=$1 root=$2 target=$3
# As a release is built: every time that goes into a file is the last commit's.
if [ -z "${SOURCE_DATE_EPOCH-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH
shift 3
build=$root/$target
case "$target" in
    windows64) configure=(cmake --toolchain "$source/cmake/toolchain-mingw.cmake" -DSORMIO_MINGW_ARCH=x86_64) ;;
    # The installer of both programs carries the 64-bit one from the windows64 build beside it.
    windows32) configure=(cmake --toolchain "$source/cmake/toolchain-mingw.cmake" -DSORMIO_MINGW_ARCH=i686
                          -DSORMIO_WINDOWS_X64_EXE="$root/windows64/window/win32/sormio.exe") ;;
    web) configure=(emcmake cmake) ;;
    *) echo "unknown target $target" >&2; exit 2 ;;
esac
"${configure[@]}" -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSORMIO_WERROR=ON
cmake --build "$build" ${1+--target "$@"}
