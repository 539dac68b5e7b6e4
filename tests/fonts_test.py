#!/usr/bin/env python3
"""The fonts the program carries, as the build cut them: each has a glyph for every character
the window draws in it (listed from the window description), and each is named as its licence
allows a modified copy to be named.

    fonts_test.py FONT_DIR
"""
import os
import sys

from fontTools.ttLib import TTFont

# file, the face's list of characters, the family the subset must (not) be called
FONTS = [("Lato-Black.ttf", "heavy.txt", "Lato Black"),
         ("DejaVuSansMono-Bold.ttf", "mono.txt", "DejaVu Sans Mono"),
         ("DancingScript-Bold.otf", "script.txt", "Sormio Script")]


def main():
    folder, failures = sys.argv[1], []
    for file, listed, family in FONTS:
        font = TTFont(os.path.join(folder, file))
        with open(os.path.join(folder, listed), encoding="utf-8") as f:
            wanted = set(f.read())
        missing = sorted(c for c in wanted if ord(c) not in font.getBestCmap())
        if missing:
            failures.append(f"{file} has no glyph for {''.join(missing)!r}")
        names = {font["name"].getDebugName(i) for i in (1, 4, 16)} - {None}
        if not any(n.startswith(family) for n in names):
            failures.append(f"{file} is named {names}, expected {family}")
        if family == "Sormio Script" and any("Dancing" in n for n in names):
            failures.append(f"{file} keeps the reserved name: {names}")
    print("\n".join(failures) or f"{len(FONTS)} fonts carry every glyph the window draws")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
