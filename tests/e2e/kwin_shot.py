"""Writes KWin's screenshot of the active window's contents, without its frame, at the output's
own resolution, to stdout as a PPM. Run by Debian's own Python, which has python3-dbus; KWin
must run with KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1."""
import os
import sys

import dbus

shooter = dbus.Interface(dbus.SessionBus().get_object("org.kde.KWin", "/org/kde/KWin/ScreenShot2"),
                         "org.kde.KWin.ScreenShot2")
read_end, write_end = os.pipe()
options = {"include-decoration": False, "include-cursor": False, "native-resolution": True}
meta = shooter.CaptureActiveWindow(options, dbus.types.UnixFd(write_end))
os.close(write_end)
with os.fdopen(read_end, "rb") as pipe:
    data = pipe.read()
width, height, stride = int(meta["width"]), int(meta["height"]), int(meta["stride"])
# 32-bit pixels in the machine's order, blue first: kept as red, green, blue.
rows = (data[y * stride:y * stride + 4 * width] for y in range(height))
sys.stdout.buffer.write(b"P6\n%d %d\n255\n" % (width, height) + b"".join(
    bytes(b for i in range(0, 4 * width, 4) for b in (row[i + 2], row[i + 1], row[i])) for row in rows))
