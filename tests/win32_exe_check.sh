#!/usr/bin/env bash
# Checks a Windows program as built: a GUI program of the given architecture (i386 or x86-64)
# that imports only Windows' own DLLs, no C++ runtime or any other library beside it, and that
# the system may load anywhere (ASLR, with high entropy on 64-bit) and never run data (DEP).
set -euo pipefail
exe=$1 arch=$2
case "$arch" in
    i386) objdump=i686-w64-mingw32-objdump ;;
    x86-64) objdump=x86_64-w64-mingw32-objdump ;;
    *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
dump=$($objdump -p "$exe")
fail() { echo "$exe: $*" >&2; exit 1; }
grep -q "file format pei-$arch" <<<"$dump" || fail "not a $arch program"
grep -Eq "^Subsystem[[:space:]]+0+2[[:space:]]" <<<"$dump" || fail "not a GUI program"
for flag in DYNAMIC_BASE NX_COMPAT $([ "$arch" = x86-64 ] && echo HIGH_ENTROPY_VA); do
    grep -Eq "^[[:space:]]+$flag\$" <<<"$dump" || fail "not marked $flag"
done
system="advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleacc.dll oleaut32.dll user32.dll winmm.dll"
imports=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$dump" | sort)
for dll in $imports; do
    [[ " $system " == *" $dll "* ]] || fail "imports $dll, which is not part of Windows"
done
echo "$exe: $arch GUI program importing" $imports
