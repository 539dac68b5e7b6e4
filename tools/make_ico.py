#!/usr/bin/env python3
"""Writes the Windows icon from the icon's pixel art (window/icons/*.xpm), scaled by whole
factors only so that every size keeps its sharp pixels: 16, 32 and 48 px as bitmaps, 256 px
as PNG, the sizes the window, the taskbar and Explorer ask for.

    make_ico.py ICONS_DIR OUT.ico
    make_ico.py ICONS_DIR OUT.png SIZE      one PNG, SIZE a multiple of 32 (a web app's icons)
"""
import os
import re
import struct
import sys
import zlib


def read_xpm(path):
    strings = re.findall(r'"((?:[^"\\]|\\.)*)"', open(path).read())
    width, height, ncolors, cpp = (int(v) for v in strings[0].split()[:4])
    colours = {}
    for line in strings[1:1 + ncolors]:
        key, fields = line[:cpp], line[cpp:].split()
        value = fields[fields.index("c") + 1]
        colours[key] = None if value.lower() == "none" else tuple(
            int(value[i:i + 2], 16) for i in (1, 3, 5))
    rows = strings[1 + ncolors:1 + ncolors + height]
    return [[colours[row[x * cpp:(x + 1) * cpp]] for x in range(width)] for row in rows]


def scaled(art, factor):
    return [[p for p in row for _ in range(factor)] for row in art for _ in range(factor)]


def bgra(p):
    return bytes((p[2], p[1], p[0], 255)) if p else b"\0\0\0\0"


def bitmap(art):
    size = len(art)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bgra(p) for row in reversed(art) for p in row)
    stride = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(art):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pixels + mask


def png(art):
    size = len(art)
    raw = b"".join(b"\0" + b"".join(bytes((*p, 255)) if p else b"\0\0\0\0" for p in row) for row in art)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    icons, out = sys.argv[1], sys.argv[2]
    small = read_xpm(os.path.join(icons, "keyboard16.xpm"))
    large = read_xpm(os.path.join(icons, "keyboard32.xpm"))
    if len(sys.argv) == 4:
        size = int(sys.argv[3])
        if size % 32:
            sys.exit(f"make_ico.py: {size} px is no whole multiple of the 32 px art")
        with open(out, "wb") as f:
            f.write(png(scaled(large, size // 32)))
        return
    images = [(16, bitmap(small)), (32, bitmap(large)), (48, bitmap(scaled(small, 3))),
              (256, png(scaled(large, 8)))]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in images:
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(out, "wb") as f:
        f.write(data + b"".join(image for _, image in images))


main()
