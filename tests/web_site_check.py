#!/usr/bin/env python3
"""The built web page as a static host serves it: small (what the page loads, gzipped: the
fonts within 40 KB, everything else within 32 KB), every file the service worker keeps present
and nothing else loaded, no address outside the page's own folder in any of its files, and the
app icons at the sizes the manifest gives.

    web_site_check.py SITE_DIR
"""
import gzip
import json
import os
import re
import struct
import sys


def kept_files(site):
    """What the service worker keeps: every file the page loads, and itself."""
    worker = open(os.path.join(site, "sw.js")).read()
    kept = json.loads("[" + re.search(r"const FILES = \[(.*)\];", worker).group(1) + "]")
    return ["index.html" if f == "./" else f for f in kept] + ["sw.js"]


def transfer_sizes(site):
    """Bytes a browser fetches, gzipped as a host serves them: (the page, its fonts). WOFF2 is
    compressed already."""
    sizes = {"page": 0, "fonts": 0}
    for name in kept_files(site):
        path = os.path.join(site, name)
        if os.path.isfile(path):
            data = open(path, "rb").read()
            woff2 = name.endswith(".woff2")
            sizes["fonts" if woff2 else "page"] += len(data) if woff2 else len(gzip.compress(data, 9))
    return sizes["page"], sizes["fonts"]


def main():
    site = sys.argv[1]
    failures = []
    kept = kept_files(site)
    other, fonts = transfer_sizes(site)
    for name in kept:
        path = os.path.join(site, name)
        if not os.path.isfile(path):
            failures.append(f"{name} is kept by the service worker but missing")
            continue
        data = open(path, "rb").read()
        if name.endswith((".html", ".css", ".js", ".webmanifest")):
            for url in re.findall(rb"(?:https?:)?//[A-Za-z0-9.-]+\.[a-z]{2,}[^\s\"')]*", data):
                failures.append(f"{name} names {url.decode()}")
    loaded = set(re.findall(r'(?:href|src)="([^"]+)"', open(os.path.join(site, "index.html")).read()))
    loaded |= set(re.findall(r"url\(([^)]+)\)", open(os.path.join(site, "sormio.css")).read()))
    loaded |= {"sormio.wasm"} | {i["src"] for i in json.load(open(os.path.join(site, "sormio.webmanifest")))["icons"]}
    failures += [f"{f} is loaded but not kept for offline play" for f in sorted(loaded - set(kept))]
    for icon in json.load(open(os.path.join(site, "sormio.webmanifest")))["icons"]:
        with open(os.path.join(site, icon["src"]), "rb") as f:
            width, height = struct.unpack(">II", f.read(24)[16:24])
        if f"{width}x{height}" != icon["sizes"]:
            failures.append(f"{icon['src']} is {width}x{height}, the manifest says {icon['sizes']}")
    print(f"the page: {other / 1024:.1f} KB gzipped, its fonts {fonts / 1024:.1f} KB")
    if other > 32 * 1024:
        failures.append("the page is over 32 KB")
    if fonts > 40 * 1024:
        failures.append("the fonts are over 40 KB")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
