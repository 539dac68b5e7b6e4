#!/usr/bin/env bash
# Started where no window system can be reached, the game says so in one line and exits
# non-zero: no crash, no core dump.
program=$1
status=0
for display in "" ":87"; do
    out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$program" 2>&1 </dev/null)
    rc=$?
    lines=$(printf '%s\n' "$out" | wc -l)
    if [ "$rc" -eq 0 ] || [ "$rc" -ge 128 ] || [ "$lines" -ne 1 ] || [[ "$out" != *display* ]]; then
        echo "DISPLAY='$display': exit $rc, $lines line(s) of output:"
        printf '%s\n' "$out"
        status=1
    fi
done
exit $status
