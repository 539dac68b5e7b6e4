#!/usr/bin/env python3
"""Writes window/combining_marks.cpp: the code point ranges of Unicode's combining marks
(general categories Mn, Mc and Me), from Python's own Unicode database or a UnicodeData.txt.

    tools/combining_marks.py [UnicodeData.txt] > window/combining_marks.cpp
"""
import sys
import unicodedata

MARKS = ("Mn", "Mc", "Me")


def categories():
    if len(sys.argv) > 1:
        cats, first = {}, None
        for line in open(sys.argv[1]):
            f = line.split(";")
            code, name, cat = int(f[0], 16), f[1], f[2]
            if name.endswith(", First>"):
                first = code
                continue
            for c in range(first if name.endswith(", Last>") else code, code + 1):
                cats[c] = cat
            first = None
        version = "UnicodeData.txt"
        return (lambda c: cats.get(c, "Cn")), version
    return (lambda c: unicodedata.category(chr(c))), "Unicode " + unicodedata.unidata_version


def main():
    category, version = categories()
    ranges, start = [], None
    for c in range(0x110000 + 1):
        mark = c <= 0x10FFFF and category(c) in MARKS
        if mark and start is None:
            start = c
        elif not mark and start is not None:
            ranges.append((start, c - 1))
            start = None
    rows = [f"{{0x{a:05X}, 0x{b:05X}}}," for a, b in ranges]
    lines = []
    for i in range(0, len(rows), 4):
        lines.append("    " + " ".join(rows[i:i + 4]))
    print(f"""// Written by tools/combining_marks.py from {version}; not edited by hand.
#include "key_entry.h"

#include <algorithm>
#include <array>
#include <utility>

namespace sormio {{

namespace {{

// Code point ranges, first and last inclusive, of the combining marks (Mn, Mc, Me), in order.
// clang-format off
constexpr std::array<std::pair<char32_t, char32_t>, {len(ranges)}> kMarks{{{{
{chr(10).join(lines)}
}}}};
// clang-format on

}}  // namespace

bool isCombiningMark(char32_t c) {{
    const auto after = std::upper_bound(kMarks.begin(), kMarks.end(), c,
                                        [](char32_t v, const auto& r) {{ return v < r.first; }});
    return after != kMarks.begin() && c <= std::prev(after)->second;
}}

}}  // namespace sormio""")


main()
