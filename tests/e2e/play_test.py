#!/usr/bin/python3
"""Plays the game from the outside, as a person would, in one of the sessions of the harness
(sormio_e2e): the Linux program on X11 or a Wayland compositor, the Windows program under
Wine, the web page in a browser. Runs in Debian's own Python, which has everything it reads
with (pyatspi, dbus, websocket, PIL).

    play_test.py --description window.json --session KIND [OPTIONS] [PROGRAMS] CASE
    play_test.py --description window.json --session x11 --game BIN --xprobe BIN --shot FILE.png
    play_test.py --list --built linux,windows64,web,installer [--qt VERSION]
                                            the cases this machine can run, as JSON for CMake
    play_test.py --make-wine-prefix PREFIX  a fresh Wine prefix for the Windows cases to copy
"""
import argparse
import json
import os
import shutil
import sys

from sormio_e2e import browser, cases, wayland, wine, x11
from sormio_e2e.cases import red_tile, start_turn
from sormio_e2e.common import Failure, L
from sormio_e2e.sound_server import SoundServer

MODULES = [x11, wayland, wine, browser]
SESSIONS = {name: cls for module in MODULES for name, cls in module.SESSIONS.items()}
# The cases that every kind of session plays, and those that one kind alone can.
CASES = {name: fn for module in [cases, *MODULES]
         for name, fn in getattr(module, "CASES", {}).items()}


def listing(built, qt):
    """Every case this machine can run, as CMake registers it."""
    config = argparse.Namespace(qt=qt)
    return [test for module in MODULES for run in module.RUNS if run.available(built, config)
            for test in run.tests(CASES)]


def take_screenshot(s, path):
    """A game in progress: a few points scored, a fresh target lit, the bar running."""
    import time
    start_turn(s)
    for _ in range(3):
        target = red_tile(s.picture())
        s.key(L.tiles[target][0].lower())
        time.sleep(0.25)
    time.sleep(0.3)
    s.picture().save_png(path)
    print(f"wrote {path}")
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="print the cases this machine runs")
    parser.add_argument("--built", default="", help="with --list: what the build made")
    parser.add_argument("--qt", help="with --list: the Qt version of the Linux program")
    parser.add_argument("--make-wine-prefix", metavar="PREFIX", help="make a fresh Wine prefix and end")
    parser.add_argument("--bits", type=int, default=64, help="with --make-wine-prefix: 64 or 32")
    parser.add_argument("--description", help="the window description as JSON (describe.cpp)")
    parser.add_argument("--session", choices=sorted(SESSIONS))
    # What each session plays; a session takes the ones it needs.
    parser.add_argument("--game", help="the Linux program")
    parser.add_argument("--xprobe", help="the harness's X client")
    parser.add_argument("--game-clock", help="the shim that gives the Linux program the harness's clock")
    parser.add_argument("--windows-exe", help="the Windows program")
    parser.add_argument("--wine-prefix", help="the Wine prefix to copy")
    parser.add_argument("--installer", help="the Windows installer")
    parser.add_argument("--installer-x64", help="the same installer as a 64-bit program")
    parser.add_argument("--windows-reader-probe", help="what reads the Windows window as a screen reader does")
    parser.add_argument("--windows32-exe", help="the 32-bit Windows program")
    parser.add_argument("--wine32-prefix", help="the 32-bit Wine prefix to copy")
    parser.add_argument("--windows32-reader-probe", help="the same reader, for the 32-bit program")
    parser.add_argument("--windows-paced-exe", help="the Windows program with the harness's clock")
    parser.add_argument("--windows32-paced-exe", help="the same, 32-bit")
    parser.add_argument("--web", help="the web page's folder")
    parser.add_argument("--out", default=".", help="where a failing case leaves its screenshot")
    parser.add_argument("--shot", help="take a screenshot of a game in progress instead")
    # Options of some sessions.
    parser.add_argument("--sound", choices=SoundServer.KINDS, help="x11: with this sound server")
    parser.add_argument("--im", choices=["ibus"], help="x11: type through this input method")
    parser.add_argument("--a11y", action="store_true", help="x11: with the accessibility bus on")
    parser.add_argument("--orca", action="store_true", help="x11: with the accessibility bus and Orca")
    parser.add_argument("--scale", type=float, default=1, help="sway, mutter, kwin: the output's scale")
    parser.add_argument("--gnome", action="store_true", help="mutter: as a GNOME session runs it")
    parser.add_argument("--forced-colours", action="store_true",
                        help="chromium, firefox: in a contrast theme (forced colours)")
    parser.add_argument("--dpi", type=int, default=96, help="wine: the screen's dots per inch")
    parser.add_argument("--x86", action="store_true", help="wine: the 32-bit program on 32-bit Windows")
    parser.add_argument("case", nargs="?", choices=sorted(CASES))
    args = parser.parse_args()

    if args.list:
        json.dump(listing(set(filter(None, args.built.split(","))), args.qt), sys.stdout)
        return 0
    if args.make_wine_prefix:
        wine.make_wine_prefix(args.make_wine_prefix, args.bits)
        return 0
    if not args.description or not args.session or not (args.case or args.shot):
        parser.error("--description, --session and a case (or --shot) are needed to play")
    L.load(args.description)
    session = SESSIONS[args.session].from_args(args)
    session.clock_shim = args.game_clock
    with session as s:
        if args.shot:
            return take_screenshot(s, args.shot)
        try:
            CASES[args.case](s)
        except Failure as failure:
            os.makedirs(args.out, exist_ok=True)
            path = os.path.join(os.path.abspath(args.out), f"{args.case}-failure.png")
            if s.last_picture is not None:
                s.last_picture.save_png(path)
                print(f"screenshot of the failing moment: {path}")
            for recording in s.sound.recordings if s.sound else []:
                kept = os.path.join(os.path.abspath(args.out), f"{args.case}-{os.path.basename(recording)}")
                shutil.copy(recording, kept)
                print(f"what the sink played (s16le, mono, 48 kHz): {kept}")
            print(f"FAILED {args.case}: {failure}")
            return 1
    print(f"passed {args.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
