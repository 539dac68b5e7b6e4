#!/usr/bin/env python3
"""Carries only the glyphs the game draws of a font (fontTools, as pyftsubset does).

    subset_font.py IN OUT GLYPHS_FILE [--family NAME] [--woff2]

The game draws glyph by glyph, unshaped, so the layout features go. The hinting stays: without
it the title and the credit line come out a shade different at the edges on Linux.
--family renames the subset, for a licence that reserves its font's name to unmodified copies.
--woff2 writes it compressed for the web (needs Debian's python3-brotli).
The subset keeps the dates of the font it is cut from, so that the same fonts are cut to the
same bytes whenever and wherever the game is built.
"""
import argparse

from fontTools import subset
from fontTools.ttLib import TTFont


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source")
    parser.add_argument("target")
    parser.add_argument("glyphs")
    parser.add_argument("--family")
    parser.add_argument("--woff2", action="store_true")
    args = parser.parse_args()
    with open(args.glyphs, encoding="utf-8") as f:
        text = f.read()
    options = subset.Options()
    options.layout_features = []
    options.hinting = True
    options.desubroutinize = True
    options.notdef_outline = True
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    font = TTFont(args.source, recalcTimestamp=False)
    subsetter = subset.Subsetter(options)
    subsetter.populate(text=text)
    subsetter.subset(font)
    if args.family:
        name = font["name"]
        style = name.getDebugName(2) or "Regular"
        for record in name.names:
            if record.nameID in (1, 16):
                record.string = args.family
            elif record.nameID in (4, 18):
                record.string = f"{args.family} {style}"
            elif record.nameID == 6:
                record.string = f"{args.family}-{style}".replace(" ", "")
            elif record.nameID == 3:
                record.string = f"{args.family} {style}; subset"
    if args.woff2:
        font.flavor = "woff2"
    font.save(args.target)


if __name__ == "__main__":
    main()
