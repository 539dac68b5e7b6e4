#!/usr/bin/env python3
"""Plays the game from the outside, as a person would: a real X server (Xvfb), the program
started as a user starts it, real X key events (xdotool), and the pixels of the window read
back (xwd). Bells are counted by xprobe, the harness's own X client; tones by recording the
null sink of a real sound server, where a case asks for one (--sound).

    play_test.py --game BIN --xprobe BIN --out DIR [--sound KIND] CASE     runs one case
    play_test.py --game BIN --xprobe BIN --shot FILE.png    a screenshot of a game in progress
"""
import argparse
import glob
import io
import json
import math
import os
import re
import shutil
import tempfile
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import zlib

from sound_server import RATE, SoundServer

CLIENT_W, CLIENT_H = 800, 450
BLACK, RED, BLUE, WHITE = (0, 0, 0), (255, 0, 0), (0, 0, 255), (255, 255, 255)
BORDER = (0xC0, 0xC0, 0xC0)
BAR_ROW, BAR_LEFT, BAR_WIDTH = 304, 100, 600
TICK = 0.010

ROWS = ["1234567890", "QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"]
TILES = []  # (glyph, left, top) in tile order
for r, keys in enumerate(ROWS):
    for c, glyph in enumerate(keys):
        TILES.append((glyph, 240 + 16 * r + 32 * c, 168 + 32 * r))


class Failure(Exception):
    pass


def wait_for(what, condition, timeout, interval=0.02):
    """Polls condition() until it returns something true; fails with `what` after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


class Picture:
    """The window's client area, decoded from an xwd dump of the top-level window."""

    def __init__(self, xwd=None, ppm=None, scale=1):
        """From an xwd dump of the top-level X window, or a PPM of a Wayland window's
        content at `scale` device pixels to the pixel; pixel() takes window pixels."""
        self.scale = scale
        if ppm is not None:
            self._from_ppm(ppm)
            return
        header = struct.unpack(">25I", xwd[:100])
        header_size, _, fmt, depth, width, height = header[:6]
        byte_order, bpp, stride, ncolors = header[7], header[11], header[12], header[19]
        if fmt != 2 or bpp != 32 or depth < 24:
            raise Failure(f"unexpected xwd format {fmt}, {bpp} bits per pixel, depth {depth}")
        data = xwd[header_size + 12 * ncolors:]
        client_w, client_h = int(CLIENT_W * scale + 0.5), int(CLIENT_H * scale + 0.5)  # halves up
        if width != client_w or height < client_h:
            raise Failure(f"window is {width} x {height}, expected {client_w} wide and {client_h} "
                          "high below the menu")
        self.menu_height = height - client_h
        self.width, self.height = CLIENT_W, CLIENT_H
        rows = []
        for y in range(self.menu_height, height):
            rows.append(data[y * stride:y * stride + 4 * width])
        self.rows = rows
        self.little = byte_order == 0
        self.bytes_per_pixel = 4

    def _from_ppm(self, ppm):
        fields, pos = [], 0
        while len(fields) < 4:
            while ppm[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[pos:end])
            pos = end
        pos += 1
        if fields[0] != b"P6" or fields[3] != b"255":
            raise Failure("unexpected screenshot format")
        width, height = int(fields[1]), int(fields[2])
        if width != round(CLIENT_W * self.scale) or height < round(CLIENT_H * self.scale):
            raise Failure(f"window is {width} x {height} at scale {self.scale}")
        # The client area starts where Qt rounds the menu's height to (halves up), which at
        # 150 % need not be the buffer's height less the client's.
        menu = int((round(height / self.scale) - CLIENT_H) * self.scale + 0.5)
        self.width, self.height = CLIENT_W, CLIENT_H
        data = ppm[pos:]
        self.rows = [data[(menu + y) * 3 * width:(menu + y + 1) * 3 * width]
                     for y in range(height - menu)]
        self.bytes_per_pixel = 3

    def device_pixel(self, x, y):
        """Pixel (x, y) of the client area in device pixels."""
        p = self.rows[y][self.bytes_per_pixel * x:self.bytes_per_pixel * x + 3]
        if self.bytes_per_pixel == 3:
            return (p[0], p[1], p[2])
        return (p[2], p[1], p[0]) if self.little else (p[1], p[2], p[3])

    def pixel(self, x, y):
        if self.scale == 1:
            return self.device_pixel(x, y)
        return self.device_pixel(int(x * self.scale), int(y * self.scale))

    def tile_colour(self, index):
        _, left, top = TILES[index]
        return self.pixel(left + 3, top + 3)

    def tiles(self, colour):
        return [i for i in range(len(TILES)) if self.tile_colour(i) == colour]

    def bar_length(self):
        n = 0
        while BAR_LEFT + n < CLIENT_W and self.pixel(BAR_LEFT + n, BAR_ROW) == WHITE:
            n += 1
        return n

    def region_has(self, x0, y0, x1, y1, colour):
        return any(self.pixel(x, y) == colour for y in range(y0, y1) for x in range(x0, x1))

    def region(self, x0, y0, x1, y1):
        return [self.pixel(x, y) for y in range(y0, y1) for x in range(x0, x1)]

    def save_png(self, path):
        raw = b"".join(b"\x00" + bytes(c for x in range(self.width) for c in self.pixel(x, y))
                       for y in range(self.height))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
            f.write(chunk(b"IEND", b""))


def own_env():
    """This process's environment without what would lead a case to the tester's own display,
    sound server, session type or scale: each session sets its own."""
    return {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY", "PULSE_SERVER",
                         "XDG_SESSION_TYPE", "QT_SCALE_FACTOR")}


def start_session_bus(env, folder, spawn):
    """A session bus of its own, and a home for what is started on it; spawn(args, **kw)
    starts a process that the caller stops."""
    if "DBUS_SESSION_BUS_ADDRESS" in env and env.get("HOME", "").startswith(folder):
        return
    env["HOME"] = os.path.join(folder, "home")
    os.makedirs(env["HOME"], exist_ok=True)
    bus = spawn(["dbus-daemon", "--session", "--nofork", "--print-address"],
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()


def start_ibus(env, folder, spawn):
    """IBus, as GNOME runs it, and `env` set for a Qt program to type through it."""
    start_session_bus(env, folder, spawn)
    socket_path = os.path.join(folder, "ibus")
    env["IBUS_ADDRESS"] = "unix:path=" + socket_path
    env["QT_IM_MODULE"] = "ibus"
    spawn(["ibus-daemon", "--replace", "--xim", "--panel=disable", "--address=" + env["IBUS_ADDRESS"]],
          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("ibus-daemon", lambda: os.path.exists(socket_path), 10)


HERE = os.path.dirname(os.path.abspath(__file__))
A11Y_PROBE = os.path.join(HERE, "a11y_probe.py")
SERVE_WEB = os.path.join(HERE, "..", "..", "tools", "serve_web.py")


def start_screen_reader(env, folder, spawn):
    """Orca on the accessibility bus, speaking through a speech-dispatcher of its own whose
    output module writes each utterance, with the wall-clock time, to a file instead of a
    voice; returns that file. speech-dispatcher's modules need a sound server to start."""
    conf = os.path.join(folder, "speechd")
    os.makedirs(os.path.join(conf, "modules"))
    spoken = os.path.join(folder, "spoken.txt")
    open(spoken, "w").close()
    with open(os.path.join(conf, "modules", "logger.conf"), "w") as f:
        f.write('GenericExecuteSynth "printf \'%%s %%s\\\\n\' \\"$(date +%%s.%%N)\\" \\"$DATA\\" >> %s"\n'
                'GenericCmdDependency "printf"\nAddVoice "en" "MALE1" "logger"\nDefaultVoice "logger"\n'
                'GenericLanguage "en" "english" "utf-8"\n' % spoken)
    with open(os.path.join(conf, "speechd.conf"), "w") as f:
        f.write('AddModule "logger" "sd_generic" "logger.conf"\nDefaultModule logger\n'
                'LanguageDefaultModule "en" "logger"\n')
    socket_path = os.path.join(folder, "speechd.sock")
    env["SPEECHD_ADDRESS"] = "unix_socket:" + socket_path
    spawn(["speech-dispatcher", "-s", "-t", "0", "-C", conf, "-L", folder, "-c", "unix_socket",
           "-S", socket_path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:  # its first start on a fresh system can take a while
        wait_for("speech-dispatcher", lambda: os.path.exists(socket_path), 30)
    except Failure as failure:
        logs = "".join(open(p, errors="replace").read()[-2000:]
                       for p in glob.glob(os.path.join(folder, "*.log")))
        raise Failure(f"{failure}; its log: {logs}")
    spawn(["orca", "--replace"] + (["--debug-file", os.environ["SORMIO_ORCA_DEBUG"]]
                                   if os.environ.get("SORMIO_ORCA_DEBUG") else []),
          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("Orca", lambda: os.path.getsize(spoken) > 0, 20)  # "Screen reader on."
    return spoken


def start_accessibility(env, folder, spawn):
    """The accessibility bus as a desktop with a screen reader has it, switched on."""
    start_session_bus(env, folder, spawn)
    spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("the accessibility bus", lambda: subprocess.run(
        ["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
         "--method", "org.freedesktop.DBus.Properties.Set", "org.a11y.Status", "IsEnabled",
         "<true>"], env=env, capture_output=True, timeout=5).returncode == 0, 10)
    env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"


class Session:
    """One X server, one bell counter and one run of the game; every process it starts is
    ended by its own process id when the session closes, whatever happened."""
    scale = 1  # device pixels to the window's pixel
    screen = "1024x768x24"

    def __init__(self, game, xprobe, sound=None, im=None, a11y=False, orca=False):
        self.game_path, self.xprobe_path = game, xprobe
        self.im, self.a11y, self.orca = im, a11y or orca, orca
        self.spoken_file = None
        self.sound_kind = sound
        self.sound = None
        self.folder = tempfile.mkdtemp(prefix="sormio-e2e-")
        self.procs = []
        self.bells = []
        self.game = None
        self.window = None
        self.last_picture = None

    def _spawn(self, args, env=None, **kw):
        proc = subprocess.Popen(args, env=env or self.env, start_new_session=True, **kw)
        self.procs.append(proc)
        return proc

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _start(self):
        self.env = own_env()
        self.env["XDG_SESSION_TYPE"] = "x11"
        # Only the sound server that the case starts, if any, is within the game's reach.
        self.env["XDG_RUNTIME_DIR"] = os.path.join(self.folder, "run")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        if self.sound_kind:
            self.sound = SoundServer(self.sound_kind, os.path.join(self.folder, "sound"))
            self.sound.start()
            self.env = self.sound.client_env(self.env)
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-noreset", "-nolisten", "tcp",
                                 "-screen", "0", self.screen], pass_fds=(write_fd,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        self.procs.append(xvfb)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 10
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or xvfb.poll() is not None:
                raise Failure("Xvfb did not start")
            chunk = os.read(read_fd, 16)
            if not chunk:
                raise Failure("Xvfb did not report its display")
            number += chunk
        os.close(read_fd)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        if self.im == "ibus":
            start_ibus(self.env, self.folder, self._spawn)
        if self.a11y:
            start_accessibility(self.env, self.folder, self._spawn)
        if self.orca:
            self.spoken_file = start_screen_reader(self.env, self.folder, self._spawn)

        if self.xprobe_path:  # without it (a benchmark), no bells are counted
            probe = self._spawn([self.xprobe_path, "bells"], stdout=subprocess.PIPE, text=True)
            if probe.stdout.readline().strip() != "ready":
                raise Failure("the bell counter did not start")

            def count():
                for line in probe.stdout:
                    if line.startswith("bell "):
                        self.bells.append(float(line.split()[1]))
            threading.Thread(target=count, daemon=True).start()

        self.launch()

    def launch(self):
        """Starts the game and waits for its first frame, with the keyboard focus on it."""
        self.started_at = time.monotonic()
        self.game = self._spawn([self.game_path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.window = wait_for("the game's window", self._find_window, 10)
        self.first_frame_at = None
        wait_for("the first painted frame", lambda: self._painted(), 10)
        self._focus()

    def _focus(self):
        self.xdo("windowfocus", "--sync", self.window)

    def use_layout(self, layout):
        subprocess.run(["setxkbmap", layout], env=self.env, check=True, timeout=10)

    def close_window(self):
        """Asks the game's window to close, as a window manager's close button does."""
        subprocess.run([self.xprobe_path, "close", self.window], env=self.env, check=True, timeout=10)

    def close_and_wait(self):
        """Closes the window; the game's exit status and how long it took to end after the
        request."""
        self.close_window()
        closed = time.monotonic()
        try:
            status = self.game.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise Failure("the game still runs 5 s after its window was closed")
        return status, time.monotonic() - closed

    def mark(self):
        """Now, for counting the beeps that follow."""
        return time.monotonic()

    def _find_window(self):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Sormio IV$"],
                             env=self.env, capture_output=True, text=True, timeout=10).stdout.split()
        return out[0] if out else None

    def _painted(self):
        try:
            picture = self.picture()
        except Failure:
            return False
        if picture.tile_colour(0) == BLACK and picture.pixel(240, 168) == BORDER:
            self.first_frame_at = time.monotonic()
            return True
        return False

    def close(self):
        self._stop_procs()
        if self.sound is not None:
            self.sound.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def _stop_procs(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for proc in reversed(self.procs):
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
        self.procs = []

    def xdo(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True, timeout=10)

    def key(self, *keys):
        self.xdo("key", "--clearmodifiers", *keys)

    def picture(self):
        dump = subprocess.run(["xwd", "-silent", "-id", self.window], env=self.env,
                              capture_output=True, timeout=10)
        if dump.returncode != 0:
            raise Failure("xwd failed: " + dump.stderr.decode(errors="replace").strip())
        self.last_picture = Picture(dump.stdout, scale=self.scale)
        return self.last_picture

    def wait_turn(self):
        """After F1: the turn is running."""
        self.wait_picture("one red tile and the bar", turn_shown)

    def wait_picture(self, what, condition, timeout=3):
        return wait_for(what, lambda: (lambda p: p if condition(p) else None)(self.picture()),
                        timeout)

    def spoken(self, since):
        """What the screen reader said after `since` (time.time()): (seconds after, text)."""
        said = []
        with open(self.spoken_file, "rb") as f:
            for raw in f:
                # speech-dispatcher hands a sentence to its module in the charset it has for
                # the sentence's language, Latin-1 where it has none.
                try:
                    line = raw.decode()
                except UnicodeDecodeError:
                    line = raw.decode("latin-1")
                when, _, text = line.rstrip("\n").partition(" ")
                if float(when) >= since:
                    said.append((float(when) - since, text))
        return said

    def bells_after(self, moment):
        """Beeps heard since mark() gave `moment`."""
        return len([b for b in self.bells if b >= moment])

    def first_beep_after(self, moment):
        """Seconds from mark() to the first beep after it."""
        return min(b for b in self.bells if b >= moment) - moment

    def settle_bells(self, moment, expected, timeout=3):
        """Waits for `expected` bells after `moment`, then a little longer to see no more."""
        wait_for(f"{expected} bells", lambda: self.bells_after(moment) >= expected, timeout)
        time.sleep(0.3)
        return self.bells_after(moment)


APP_ID = "fi.sormio.SormioIV"
NOBODY = 65534


class CountsTones:
    """For a session whose game sounds through a sound server and rings no X bell: its beeps
    are the tones recorded from the server's null sink."""
    recorder = None

    def record_tones(self):
        self.recorder = self.sound.recorder().__enter__()

    def close(self):
        if self.recorder is not None:
            self.recorder.__exit__()
        super().close()

    def mark(self):
        return self.recorder.position()

    def bells_after(self, moment):
        return len(self.recorder.tones_since(moment))

    def first_beep_after(self, moment):
        return (self.recorder.tones_since(moment)[0] - moment) / RATE


class WaylandSession(CountsTones, Session):
    """The same game under a real Wayland compositor (sway, headless, software rendering),
    as its own native Wayland client: keys by wtype, screenshots by grim, the window found and
    closed over sway's IPC. Wayland has no bell, so beeps are tones recorded from a
    PulseAudio server's null sink."""

    def __init__(self, game, xprobe, sound=None, scale=1):
        super().__init__(game, xprobe, sound or "pulseaudio")
        self.scale = scale

    def _start(self):
        self.env = own_env()
        # sway will not run as root; it runs as nobody in a folder of its own.
        sway_run = os.path.join(self.folder, "sway")
        os.makedirs(sway_run, mode=0o700)
        os.chown(self.folder, NOBODY, -1)
        os.chown(sway_run, NOBODY, NOBODY)
        config = os.path.join(sway_run, "config")
        with open(config, "w") as f:
            f.write(f"output HEADLESS-1 resolution {round(1280 * self.scale)}x{round(800 * self.scale)}"
                    f" scale {self.scale}\n"
                    "exec sh -c 'echo \"$WAYLAND_DISPLAY\" > \"$XDG_RUNTIME_DIR/ready\"'\n")
        sway_env = {"PATH": self.env.get("PATH", "/usr/bin:/bin"), "XDG_RUNTIME_DIR": sway_run,
                    "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
                    "WLR_LIBINPUT_NO_DEVICES": "1", "HOME": sway_run}
        self.procs.append(subprocess.Popen(
            ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
             "sway", "-c", config], env=sway_env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True))
        ready = os.path.join(sway_run, "ready")
        wait_for("sway", lambda: os.path.exists(ready) and open(ready).read().strip(), 10)
        self.env["WAYLAND_DISPLAY"] = os.path.join(sway_run, open(ready).read().strip())
        self.env["QT_QPA_PLATFORM"] = "wayland"
        self.env["XDG_SESSION_TYPE"] = "wayland"
        self.sway_env = dict(self.env)
        self.sway_env["SWAYSOCK"] = wait_for("sway's socket", lambda: next(
            (os.path.join(sway_run, n) for n in os.listdir(sway_run) if n.startswith("sway-ipc")), None), 5)
        self.env["XDG_RUNTIME_DIR"] = os.path.join(self.folder, "run")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        self.sound = SoundServer(self.sound_kind, os.path.join(self.folder, "sound"))
        self.sound.start()
        self.env = self.sound.client_env(self.env)
        self.record_tones()
        # wtype makes a fresh virtual keyboard per call, which Qt takes up one round trip late;
        # one that stays makes every call's keys arrive.
        self._spawn(["wtype", "-s", "86400000", "-k", "Escape"])
        self.launch()

    def swaymsg(self, *args):
        return subprocess.run(["swaymsg", *args], env=self.sway_env, capture_output=True,
                              text=True, timeout=10).stdout

    def _view(self):
        """The game's window in sway's tree."""
        def views(node):
            yield node
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                yield from views(child)
        for node in views(json.loads(self.swaymsg("-t", "get_tree") or "{}")):
            if node.get("app_id") == APP_ID and node.get("pid") == self.game.pid and node.get("visible"):
                return node

    def title_bar(self):
        node = self._view()
        return (node["name"], node["deco_rect"]["height"]) if node else ("", 0)

    def _find_window(self):
        node = self._view()
        if not node:
            return None
        r, w = node["rect"], node["window_rect"]
        x, y = r["x"] + w["x"], r["y"] + w["y"]
        # At 125 % or 150 % sway resamples a window that starts on a fraction of a device
        # pixel, whatever the game draws: the lines are checked where they land whole.
        if (x * self.scale) % 1 or (y * self.scale) % 1:
            self.swaymsg(f'[app_id="{APP_ID}"] move right {-x % 4} px, move down {-y % 4} px')
            return None
        return (x, y, w["width"], w["height"])

    def _focus(self):
        self.swaymsg(f'[app_id="{APP_ID}"] focus')

    def close_window(self):
        self.swaymsg(f'[app_id="{APP_ID}"] kill')

    def key(self, *keys):
        args = []
        for k in keys:
            args += ["-k", k]
        subprocess.run(["wtype", *args], env=self.env, check=True, timeout=10)

    def picture(self):
        where = self._find_window()
        if where is None:
            raise Failure("the game's window is not on the screen")
        x, y, w, h = where
        # At the output's own scale: grim's default is the integer wl_output scale, which at
        # 125 % or 150 % is 2, and the picture would be resampled.
        shot = subprocess.run(["grim", "-t", "ppm", "-s", str(self.scale), "-g",
                               f"{x},{y} {w}x{h}", "-"], env=self.env, capture_output=True, timeout=10)
        if shot.returncode != 0:
            raise Failure("grim failed: " + shot.stderr.decode(errors="replace").strip())
        self.last_picture = Picture(ppm=shot.stdout, scale=self.scale)
        return self.last_picture


def red_tile(picture):
    red = picture.tiles(RED)
    if len(red) != 1:
        raise Failure(f"expected one red tile, found {len(red)}")
    return red[0]


class DesktopSession(Session):
    """The game as a client of a desktop's own headless compositor (GNOME's mutter or KDE's
    KWin), on a session bus of its own, with keys typed by a helper that the subclass starts.
    Where no screenshot is to be had, what the window does is read from the Wayland requests
    the game makes (WAYLAND_DEBUG): its frames."""

    SOCKET = "sormio-test"  # the Wayland socket each compositor is told to make

    def __init__(self, game, xprobe, scale=1):
        super().__init__(game, xprobe)
        self.scale = scale

    def _start(self):
        self.env = own_env()
        self.env["XDG_RUNTIME_DIR"] = os.path.join(self.folder, "run")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        start_session_bus(self.env, self.folder, self._spawn)
        typist = self._start_compositor()  # and the command of the helper that types into it
        self.env["WAYLAND_DISPLAY"] = self.SOCKET
        self.typist = self._spawn(typist, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if self.typist.stdout.readline().strip() != "ready":
            raise Failure("the compositor's key input did not start")
        self.env["XDG_SESSION_TYPE"] = "wayland"
        if "DISPLAY" not in self.env:
            self.env["QT_QPA_PLATFORM"] = "wayland"  # where Qt would fall back to X11
        self.launch()

    def _use_xwayland(self, compositor):
        """Points the game at the XWayland that `compositor` serves: the X display whose lock
        it holds, and mutter's authority file (KWin 5 needs none)."""
        def display():
            for number in re.findall(r"\.X(\d+)-lock", " ".join(os.listdir("/tmp"))):
                with open(f"/tmp/.X{number}-lock") as f:
                    if f.read().strip(" \n\0") == str(compositor.pid):
                        return ":" + number
        self.env["DISPLAY"] = wait_for("XWayland", display, 10)
        run = self.env["XDG_RUNTIME_DIR"]
        for name in os.listdir(run):
            if name.startswith(".mutter-Xwaylandauth"):
                self.env["XAUTHORITY"] = os.path.join(run, name)

    def _wait_for_bus_name(self, name):
        subprocess.run(["gdbus", "wait", "--session", "--timeout", "10", name], env=self.env,
                       check=True, timeout=15)

    def launch(self):
        self.trace = os.path.join(self.folder, f"wayland-{len(self.procs)}.log")
        with open(self.trace, "w") as trace:
            self.game = self._spawn([self.game_path], env=dict(self.env, WAYLAND_DEBUG="client"),
                                    stdout=subprocess.DEVNULL, stderr=trace)
        if "DISPLAY" in self.env:  # the game may have chosen XWayland
            wait_for("the game's window", lambda: self.frames() or self._find_window(), 10)
            self.window = self._find_window()
            if self.window:
                return
        wait_for("the first painted frame", self.frames, 10)
        wait_for("the keyboard focus", lambda: self._traced(r"wl_keyboard[@#]\d+\.enter\("), 5)
        # Qt 6.8 reads Wayland events on a thread of its own: the focus reaches the window a
        # moment after the trace shows it, and a key sent at once could arrive before it.
        time.sleep(0.1)

    def _traced(self, pattern):
        with open(self.trace, errors="replace") as trace:
            return len(re.findall(pattern, trace.read()))

    def frames(self):
        """How many buffers the game has handed to the compositor so far."""
        return self._traced(r"wl_surface[@#]\d+\.attach\(wl_buffer[@#]")

    def key(self, *keys):
        self.typist.stdin.write(" ".join(str(self.KEYS[k]) for k in keys) + "\n")
        self.typist.stdin.flush()
        if self.typist.stdout.readline().strip() != "sent":
            raise Failure("the compositor's key input ended")

    def wait_turn(self):
        if self.window:  # through XWayland, an X window like any other
            return super().wait_turn()
        # A running bar is a new frame every 10 ms tick; a window at rest draws none.
        before = self.frames()
        wait_for("the bar running after F1", lambda: self.frames() >= before + 10, 3)

    def picture(self):
        if self.window:
            return super().picture()
        raise Failure("no screenshots from this compositor")

    def title_bar(self):
        """The window's caption and the height of its title bar."""
        if not self.frames():  # through XWayland: the compositor's frame around the X window
            props = subprocess.run(["xprop", "-id", self.window, "_NET_WM_NAME", "_NET_FRAME_EXTENTS"],
                                   env=self.env, capture_output=True, text=True, timeout=10).stdout
            extents = re.search(r"_NET_FRAME_EXTENTS\(CARDINAL\) = (\d+), (\d+), (\d+)", props)
            return (re.search(r'_NET_WM_NAME\(UTF8_STRING\) = "(.*)"', props).group(1),
                    int(extents.group(3)) if extents else 0)
        with open(self.trace, errors="replace") as trace:
            requests = trace.read()
        title = re.findall(r'xdg_toplevel[@#]\d+\.set_title\("(.*)"\)', requests)
        # Drawn by Qt itself, the title bar is part of the window's geometry, with the game's
        # client area and its 19 px menu bar.
        heights = re.findall(r"set_window_geometry\(-?\d+, -?\d+, \d+, (\d+)\)", requests)
        return title[-1] if title else "", int(heights[-1]) - CLIENT_H - 19 if heights else 0


class MutterSession(DesktopSession):
    """GNOME's compositor: keys through its remote-desktop interface, closed by Alt+F4 as a
    GNOME player closes it. With `gnome`, as a GNOME session runs it: with XWayland, and the
    game told it runs on GNOME, so that it may choose either way to the screen."""
    KEYS = {"F1": "ffbe", "F4": "ffc1", "Alt": "ffe9"}  # keysyms

    def __init__(self, game, xprobe, scale=1, gnome=False):
        super().__init__(game, xprobe, scale)
        self.gnome = gnome

    def _start_compositor(self):
        size = f"{round(1280 * self.scale)}x{round(800 * self.scale)}"
        mutter = self._spawn(["mutter", "--headless", "--wayland", "--wayland-display=" + self.SOCKET,
                              "--virtual-monitor", size] + ([] if self.gnome else ["--no-x11"]),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._wait_for_bus_name("org.gnome.Mutter.RemoteDesktop")
        if self.gnome:
            self._use_xwayland(mutter)
            self.env["XDG_CURRENT_DESKTOP"] = "GNOME"
        return ["/usr/bin/python3", os.path.join(HERE, "mutter_keys.py"), str(self.scale)]

    def close_window(self):
        self.key("Alt", "F4")


class KWinSession(DesktopSession):
    """KDE Plasma's compositor: keys through its fake-input protocol, screenshots of the window
    through its screenshot interface, closed from the desktop's side by a KWin script, as its
    title bar's close button closes a window."""
    # evdev key codes, the keyboard's rows from 1, Q, A and Z
    KEYS = dict({"F1": 59}, **{c: first + i for row, first in (("1234567890", 2), ("qwertyuiop", 16),
                                                              ("asdfghjkl", 30), ("zxcvbnm", 44))
                               for i, c in enumerate(row)})

    def __init__(self, game, xprobe, scale=1, xwayland=False):
        super().__init__(game, xprobe, scale)
        self.xwayland = xwayland

    def _start_compositor(self):
        # Debian's kwin_wayland carries a file capability that a container may not grant: a
        # copy without it runs all the same.
        kwin = os.path.join(self.folder, "kwin_wayland")
        shutil.copy(shutil.which("kwin_wayland"), kwin)
        # What its scripts print goes to its log, where the harness reads it.
        env = dict(self.env, KWIN_WAYLAND_NO_PERMISSION_CHECKS="1", KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1",
                   QT_LOGGING_RULES="kwin_scripting=true")
        self.kwin_log = os.path.join(self.folder, "kwin.log")
        with open(self.kwin_log, "w") as log:
            compositor = self._spawn(
                [kwin, "--virtual", "--width", "1280", "--height", "800", "--scale", str(self.scale),
                 "--socket", self.SOCKET, "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"]
                + (["--xwayland"] if self.xwayland else []), env=env, stdout=log, stderr=log)
        self._wait_for_bus_name("org.kde.KWin")
        if self.xwayland:  # the game as an X11 client, as without qt6-wayland
            self._use_xwayland(compositor)
            self.env["QT_QPA_PLATFORM"] = "xcb"
        self.scripts = 0
        return [sys.executable, os.path.join(HERE, "kwin_keys.py")]

    def _run_script(self, source):
        self.scripts += 1
        script = os.path.join(self.folder, f"script{self.scripts}.js")
        with open(script, "w") as f:
            f.write("const w = workspace.activeWindow || workspace.activeClient;\n" + source)

        def kwin(path, method, *args):
            return subprocess.run(["gdbus", "call", "--session", "--dest", "org.kde.KWin",
                                   "--object-path", path, "--method", method, *args],
                                  env=self.env, capture_output=True, text=True, timeout=10)
        loaded = kwin("/Scripting", "org.kde.kwin.Scripting.loadScript", script, f"sormio{self.scripts}")
        number = re.search(r"\d+", loaded.stdout).group()
        # KWin 5 names a loaded script /N, KWin 6 /Scripting/ScriptN.
        if all(kwin(path, "org.kde.kwin.Script.run").returncode for path in
               (f"/Scripting/Script{number}", f"/{number}")):
            raise Failure("KWin did not run a script of the harness")

    def launch(self):
        super().launch()
        told = re.findall(r"wl_output[@#]\d+\.scale\((\d+)\)", open(self.trace, errors="replace").read())
        if self.scale != 1 and not self.window and str(math.ceil(self.scale)) not in told:  # rounded up
            raise Failure(f"KWin did not put its output at scale {self.scale}")

    def close_window(self):
        self._run_script("w.closeWindow();\n")

    def picture(self):
        shot = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "kwin_shot.py")], env=self.env,
                              capture_output=True, timeout=10)
        if shot.returncode != 0:
            raise Failure("KWin's screenshot failed: " + shot.stderr.decode(errors="replace").strip())
        self.last_picture = Picture(ppm=shot.stdout, scale=self.scale)
        return self.last_picture

    def title_bar(self):
        """The caption and the height of the frame KWin draws above the window."""
        self._run_script('print("sormio-title " + (w.bufferGeometry.y - w.frameGeometry.y) + " " + w.caption);\n')
        with open(self.kwin_log, errors="replace") as log:
            found = re.findall(r"sormio-title (-?\d+) (.*)", log.read())
        return (found[-1][1].strip(), int(found[-1][0])) if found else ("", 0)


def wine_command(name):
    """Debian's 64-bit Wine: its loader and server where Debian 12 and 13 put them."""
    for path in (f"/usr/lib/wine/{name}64", f"/usr/lib/wine/{name}"):
        if os.path.exists(path):
            return path
    return shutil.which(name)


def wine_env(env, prefix):
    """What keeps Wine to itself: its own prefix, nothing it would have to download, no menu
    entries or file associations written, no debug output."""
    return dict(env, WINEPREFIX=prefix, WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")


def make_wine_prefix(path):
    """A fresh Wine prefix for the run's Windows cases to copy."""
    shutil.rmtree(path, ignore_errors=True)
    home = tempfile.mkdtemp(prefix="sormio-wine-home-")
    env = wine_env(dict(own_env(), HOME=home), path)
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                           start_new_session=True)
    try:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        # Never read through a pipe: services that Wine leaves behind hold it open.
        subprocess.run([wine_command("wine"), "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)
        subprocess.run([wine_command("wineserver"), "-w"], env=env, timeout=60)
    finally:
        subprocess.run([wine_command("wineserver"), "-k"], env=env, timeout=30)
        os.killpg(bus.pid, signal.SIGTERM)
        bus.wait()
        shutil.rmtree(home, ignore_errors=True)


class WineSession(CountsTones, Session):
    """The Windows program under Wine on the same Xvfb: to X it is a window like any other
    (keys by xdotool, pictures by xwd), holding the menu bar and the client area. Its tones go
    through Wine's audio to a PulseAudio null sink, where they are counted. Each session runs
    in a copy of the run's Wine prefix, with a Wine server of its own, at the screen's dots per
    inch that `dpi` gives (96 is 100 %)."""

    def __init__(self, game, xprobe, prefix, dpi=96):
        super().__init__(game, xprobe, "pulseaudio")
        self.template, self.dpi, self.scale = prefix, dpi, dpi / 96
        self.screen = f"{round(1280 * self.scale)}x{round(800 * self.scale)}x24"

    def launch(self):
        if self.recorder is None:
            self._start_wine()
        self.started_at = time.monotonic()
        self.game = self._spawn([wine_command("wine"), self.game_path], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.window = wait_for("the game's window", self._find_window, 20)
        wait_for("the first painted frame", self._painted, 10)
        self._focus()

    def _start_wine(self):
        prefix = os.path.join(self.folder, "prefix")
        # Linked, not copied: Wine replaces the files it changes.
        subprocess.run(["cp", "-al", self.template, prefix], check=True, timeout=60)
        if self.dpi != 96:
            registry = os.path.join(prefix, "user.reg")
            with open(registry) as f:
                text = f.read()
            os.unlink(registry)  # the template's stays as it is
            with open(registry, "w") as f:
                f.write(text + f'\n[Control Panel\\\\Desktop]\n"LogPixels"=dword:{self.dpi:08x}\n')
        start_session_bus(self.env, self.folder, self._spawn)
        self.env = wine_env(self.env, prefix)
        self._spawn([wine_command("wineserver"), "-f", "-p"], stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
        self.record_tones()

    def wine(self, *args, check=True):
        """A Windows command in the session's prefix, waited for."""
        return subprocess.run([wine_command("wine"), *args], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120, check=check).returncode

    def close(self):
        if "WINEPREFIX" in self.env:
            subprocess.run([wine_command("wineserver"), "-k"], env=self.env, timeout=30)
        super().close()


class BrowserSession(CountsTones, Session):
    """The web page in a headless browser (Debian's Chromium or Firefox ESR), served from the
    loopback by the project's own server: keys through the browser's remote protocol as the
    browser reports them on Linux, pictures from its screenshots of the play area, tones
    recorded from a PulseAudio null sink that the browser plays into."""

    def __init__(self, site, browser):
        global browsers, PIL
        import browsers  # Debian's python3-websocket and python3-pil, needed here only
        import PIL.Image
        super().__init__(None, None, "pulseaudio")
        self.bells = []  # no X server: no bell
        self.site, self.browser_kind = site, browser
        self.browser = None
        self.dead = None

    def _start(self):
        self.env = own_env()
        self.env["XDG_RUNTIME_DIR"] = os.path.join(self.folder, "run")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        self.env["HOME"] = os.path.join(self.folder, "home")
        os.makedirs(self.env["HOME"])
        self.sound = SoundServer(self.sound_kind, os.path.join(self.folder, "sound"))
        self.sound.start()
        self.env = self.sound.client_env(self.env)
        self.record_tones()
        self.serve()
        driver = browsers.Chromium if self.browser_kind == "chromium" else browsers.Firefox
        try:
            self.browser = driver(self._spawn, self.folder, self.env)
        except browsers.BrowserError as e:
            raise Failure(str(e))
        self.launch()

    def serve(self):
        """The page's own server on a free port of the loopback."""
        self.server = self._spawn([sys.executable, SERVE_WEB, self.site], stdout=subprocess.PIPE,
                                  text=True)
        self.url = self.server.stdout.readline().strip()
        check(self.url.startswith("http://127.0.0.1:"), "the page's server did not start")

    def launch(self):
        self.started_at = time.monotonic()
        self.browser.navigate(self.url)
        self.wait_ready()

    def wait_ready(self):
        """The page has loaded its program and its fonts, and shows the start screen."""
        def ready():
            try:  # the document may still be on its way
                return self.browser.evaluate(
                    "document.documentElement.dataset.ready !== undefined && document.fonts.ready"
                    ".then(() => document.fonts.status === 'loaded')")
            except browsers.BrowserError:
                return False
        wait_for("the page's program", ready, 20)
        box = self.evaluate("JSON.stringify(document.getElementById('client').getBoundingClientRect())")
        box = json.loads(box)
        self.client = (round(box["x"]), round(box["y"]))
        check(box["width"] == CLIENT_W and box["height"] == CLIENT_H,
              f"the play area is {box['width']} x {box['height']}")
        wait_for("the first painted frame", self._painted, 10)

    def evaluate(self, expression):
        try:
            return self.browser.evaluate(expression)
        except browsers.BrowserError as e:
            raise Failure(str(e))

    def _focus(self):
        pass

    def use_layout(self, layout):
        pass  # the keys are sent as a browser reports them from any layout

    def key(self, *keys):
        for name in keys:
            press = browsers.KeyPress(name, self.dead)
            self.dead = "\u0301" if name == "dead_acute" else None
            self.browser.key(press)

    def picture(self):
        png = self.browser.screenshot(self.client[0], self.client[1], CLIENT_W, CLIENT_H)
        image = PIL.Image.open(io.BytesIO(png)).convert("RGB")
        self.last_picture = Picture(ppm=b"P6 %d %d 255\n" % image.size + image.tobytes())
        return self.last_picture

    # The page's tones as it hands them to the browser's audio, on the page's clock: counted
    # so, a busy machine that breaks up the sound cannot change the count. The `tones` case
    # still hears them from the sound server.
    def mark(self):
        return self.evaluate("performance.now()")

    def bells_after(self, moment):
        return self.evaluate(f"sormioTones.filter(t => t >= {moment}).length")

    def first_beep_after(self, moment):
        return (self.evaluate(f"Math.min(...sormioTones.filter(t => t >= {moment}))") - moment) / 1000

    def close(self):
        if self.browser is not None:
            self.browser.close()
        super().close()


def turn_shown(p):
    return len(p.tiles(RED)) == 1 and p.bar_length() > 0


def start_turn(s):
    s.key("F1")
    return s.wait_picture("one red tile and the bar", turn_shown)


def check(condition, message):
    if not condition:
        raise Failure(message)


SCORE_BOX = (376, 320, 425, 353)
# What the start-up screen must show outside the keyboard: the title and the credit line.
TITLE_BOX, CREDIT_BOX = (16, 8, 785, 128), (208, 137, 609, 161)


def border_edges(p):
    """The thickness in device pixels of each tile's four edges, met going out from inside
    the tile: along a row above its glyph and a column left of it."""
    d = lambda v: int(v * p.scale)
    width, height = d(CLIENT_W), d(CLIENT_H)

    def run(x, y, dx, dy):
        steps = 0
        while p.device_pixel(x, y) != BORDER:
            x, y, steps = x + dx, y + dy, steps + 1
            if steps > 20 * p.scale or not (0 <= x < width and 0 <= y < height):
                return 0
        n = 0
        while 0 <= x < width and 0 <= y < height and p.device_pixel(x, y) == BORDER:
            x, y, n = x + dx, y + dy, n + 1
        return n

    edges = {}
    for t, (_, left, top) in enumerate(TILES):
        row, column, mid_x, mid_y = d(top + 4), d(left + 4), d(left + 16), d(top + 16)
        for side, args in (("left", (mid_x, row, -1, 0)), ("right", (mid_x, row, 1, 0)),
                           ("top", (column, mid_y, 0, -1)), ("bottom", (column, mid_y, 0, 1))):
            edges[(t, side)] = run(*args)
    return edges


def case_startup(s):
    p = s.picture()
    check(p.tiles(BLACK) == list(range(36)), "all 36 tiles should be black")
    for i, (glyph, left, top) in enumerate(TILES):
        check(p.pixel(left, top) == BORDER and p.pixel(left + 32, top + 32) == BORDER,
              f"tile {glyph} has no visible border")
        check(p.region_has(left + 4, top + 4, left + 29, top + 29, WHITE), f"tile {glyph} has no character")
    edges = border_edges(p)
    check(all(edges.values()), "tiles without an edge: " + ", ".join(
        f"{TILES[t][0]} {side}" for (t, side), n in edges.items() if not n))
    check(len(set(edges.values())) == 1, f"border lines of different thickness: {sorted(set(edges.values()))}")
    check(p.region_has(*TITLE_BOX, WHITE), "no title")
    check(p.region_has(*CREDIT_BOX, WHITE), "no credit line")
    check(p.bar_length() == 0 and not p.region_has(0, BAR_ROW, 800, BAR_ROW + 1, WHITE), "a bar is shown")
    check(not p.region_has(*SCORE_BOX, WHITE), "a score is shown")


def case_start(s):
    sent = time.monotonic()
    p = start_turn(s)
    elapsed = time.monotonic() - sent
    red_tile(p)
    length = p.bar_length()
    # The bar has run for at most `elapsed` when the picture was taken, 3 px a tick from 600:
    # its left end stays at x = 100 and its right end started at x = 699.
    check(length % 3 == 0 and 600 - 3 * (int(elapsed / TICK) + 2) <= length <= 600,
          f"bar of {length} px {elapsed * 1000:.0f} ms after Start, expected 600 less 3 px a tick")
    check(p.pixel(BAR_LEFT - 1, BAR_ROW) == BLACK, "the bar must start at x = 100")
    check(p.pixel(BAR_LEFT + BAR_WIDTH, BAR_ROW) == BLACK, "the bar must end by x = 699")
    check(not p.region_has(0, BAR_ROW - 1, 800, BAR_ROW, WHITE)
          and not p.region_has(0, BAR_ROW + 1, 800, BAR_ROW + 2, WHITE), "the bar is one pixel high")
    check(p.region_has(*SCORE_BOX, WHITE), "no score after Start")


def case_hit(s):
    before = start_turn(s)
    score_zero = before.region(*SCORE_BOX)
    time.sleep(0.6)
    tile = red_tile(s.picture())
    shrunk = s.last_picture.bar_length()
    moment = s.mark()
    s.key(TILES[tile][0].lower())
    p = s.wait_picture("the next turn", lambda q: q.bar_length() > shrunk + 100)
    length = p.bar_length()
    check(length <= 597 and length % 3 == 0, f"bar of {length} px after a hit, expected 597 or less")
    check(len(p.tiles(RED)) == 1 and not p.tiles(BLUE), "one red tile and no blue after a hit")
    check(p.region(*SCORE_BOX) != score_zero and p.region_has(*SCORE_BOX, WHITE), "the score did not change")
    check(s.settle_bells(moment, 1) == 1, f"a hit rang {s.bells_after(moment)} bells, expected 1")


def case_miss(s):
    target = red_tile(start_turn(s))
    wrong = (target + 7) % 36
    moment = s.mark()
    s.key(TILES[wrong][0].lower())
    p = s.wait_picture("the blue key", lambda q: q.tiles(BLUE))
    check(p.tiles(BLUE) == [wrong], f"tile {TILES[wrong][0]} should be blue")
    check(p.tiles(RED) == [target], "the target should stay red")
    check(p.bar_length() == 0, "the bar should be gone")
    check(s.settle_bells(moment, 19) == 19, f"a game over rang {s.bells_after(moment)} bells, expected 19")
    # F1 after a game over clears the blue key.
    p = start_turn(s)
    check(not p.tiles(BLUE) and len(p.tiles(RED)) == 1, "Start should clear the blue key")


def case_timeout(s):
    moment = s.mark()
    s.key("F1")
    s.wait_picture("the bar", lambda q: q.bar_length() > 0)
    wait_for("the game over bells", lambda: s.bells_after(moment) >= 1, 5)
    duration = s.first_beep_after(moment)
    p = s.wait_picture("the bar gone", lambda q: q.bar_length() == 0)
    check(len(p.tiles(RED)) == 1 and not p.tiles(BLUE), "a time-out paints one red and no blue tile")
    check(s.settle_bells(moment, 19) == 19, "a time-out rings 19 bells")
    print(f"pace: F1 to the end of a 200-tick turn took {duration:.3f} s (nominal 2.000 s)")
    check(1.7 <= duration <= 2.6, f"a 200-tick turn took {duration:.3f} s")


def case_sound(s):
    s.key("F3")
    target = red_tile(start_turn(s))
    moment = s.mark()
    s.key(TILES[target][0].lower())
    time.sleep(0.2)
    s.key("space")
    s.wait_picture("the game over", lambda q: q.bar_length() == 0)
    time.sleep(0.5)
    check(s.bells_after(moment) == 0, f"{s.bells_after(moment)} bells with sounds off")
    s.key("F3")
    start_turn(s)
    moment = s.mark()
    s.key("space")
    check(s.settle_bells(moment, 19) == 19, "sounds back on: a game over rings 19 bells")


def case_keys_before_start(s):
    before = s.picture().region(0, 0, 800, 450)
    moment = s.mark()
    s.key("e", "0", "space", "Return", "a")
    time.sleep(0.3)
    check(s.picture().region(0, 0, 800, 450) == before, "keys before Start changed the picture")
    check(s.bells_after(moment) == 0, "keys before Start rang the bell")


def case_close(s):
    start_turn(s)
    status, _ = s.close_and_wait()
    check(status == 0, f"the game ended with status {status}")


def twenty_closes(s, when, play):
    """Twenty runs, each closed after play(attempt): every time the program ends with status 0
    within a second."""
    took = []
    for attempt in range(20):
        if attempt:
            s.launch()
        play(attempt)
        status, seconds = s.close_and_wait()
        took.append(seconds)
        check(status == 0, f"close {attempt + 1}: the game ended with status {status}")
        check(seconds <= 1, f"close {attempt + 1}: the game took {seconds:.2f} s to end")
    print(f"20 closes {when}: slowest {1000 * max(took):.0f} ms")


def case_close_after_play(s):
    """Closed right after keys, twenty times in a row."""
    def play(attempt):
        target = red_tile(start_turn(s))
        s.key(TILES[(target + attempt % 2) % 36][0].lower())  # a hit, then a miss, in turn
    twenty_closes(s, "after play", play)


def case_close_during_turn(s):
    """Closed in the middle of a turn, twenty times, each time at another moment of it."""
    def play(attempt):
        s.key("F1")
        s.wait_turn()
        time.sleep(0.05 * (attempt % 8))
    twenty_closes(s, "during a turn", play)


def case_title_bar(s):
    """The window has a title bar with its caption, whoever draws it."""
    caption, height = wait_for("the title bar", lambda: (lambda t: t if t[1] else None)(s.title_bar()), 5)
    check(caption == "Sormio IV", f"the caption is {caption!r}")
    check(height >= 20, f"a title bar of {height} px")
    print(f"title bar of {height} px")


def hit_until(s, glyphs, limit=60):
    """Scores until the target is one of `glyphs`; the target's tile index."""
    for _ in range(limit):
        target = red_tile(s.picture())
        if TILES[target][0] in glyphs:
            return target
        score = s.last_picture.region(*SCORE_BOX)
        moment = s.mark()
        s.key(TILES[target][0].lower())
        s.wait_picture("the next turn", lambda q: q.region(*SCORE_BOX) != score and q.bar_length())
        # Heard before the caller counts what follows: a tone may come out a little late.
        wait_for("the hit's beep", lambda: s.bells_after(moment), 3)
    raise Failure(f"no target among {glyphs} in {limit} turns")


def case_dead_keys(s):
    """On a layout with dead keys: a dead key alone does nothing, a letter composed with it is
    a miss without a blue tile, and so is a key it does not combine with; plain keys hit."""
    s.use_layout("fi")
    for glyphs in ("AEIOU", "0123456789BDFHQTX"):  # composed with an acute, or not at all
        start_turn(s)
        target = hit_until(s, glyphs)
        moment = s.mark()
        s.key("dead_acute")
        time.sleep(0.3)
        p = s.picture()
        check(p.bar_length() > 0 and not p.tiles(BLUE) and s.bells_after(moment) == 0,
              "a dead key alone ended the turn or beeped")
        s.key(TILES[target][0].lower())
        p = s.wait_picture("the game over", lambda q: q.bar_length() == 0)
        check(p.tiles(RED) == [target] and not p.tiles(BLUE),
              f"´ then {TILES[target][0]}: expected a miss without a blue tile")
        check(s.settle_bells(moment, 19) == 19, f"´ then {TILES[target][0]} was no game over")


def accessible_tree(s):
    """The game's accessible objects, depth first, as a screen reader reads them."""
    out = subprocess.run(["/usr/bin/python3", A11Y_PROBE, "tree"], env=s.env, capture_output=True,
                         text=True, timeout=10)
    nodes, todo = [], [json.loads(out.stdout or "null") or {"children": []}]
    while todo:
        n = todo.pop(0)
        nodes.append(n)
        todo[0:0] = n["children"]
    return nodes


def case_screen_reader(s):
    """Read as a screen reader reads it: the bar named by the key to press and holding the
    focus, renamed at each turn; the tiles by their characters, the target and the wrong key
    described; the score by its text; the end of a game told on the window, which takes the
    focus from the hidden bar."""
    if not s.a11y:
        raise Failure("this case needs --a11y")
    events = []
    listener = s._spawn(["/usr/bin/python3", A11Y_PROBE, "events"], stdout=subprocess.PIPE, text=True)
    check(listener.stdout.readline().strip() == "ready", "the event listener did not start")
    threading.Thread(target=lambda: events.extend(json.loads(l) for l in listener.stdout),
                     daemon=True).start()

    def one(nodes, role, **fields):
        found = [n for n in nodes if n["role"] == role and all(n[k] == v for k, v in fields.items())]
        check(len(found) == 1, f"{len(found)} {role} nodes with {fields}")
        return found[0]

    target = red_tile(start_turn(s))
    glyph = TILES[target][0]
    nodes = accessible_tree(s)
    bar = one(nodes, "progress bar")
    check(bar["name"] == glyph and "focused" in bar["states"] and 0 < bar["value"] <= 600,
          f"during a turn the bar reads {bar}")
    check([n["name"] for n in nodes if n["role"] == "label" and len(n["name"]) == 1
           and n["description"] != "pisteet"] == [g for g, _, _ in TILES][::-1],
          "the tiles are not named by their characters")
    check([n["name"] for n in nodes if n["description"] == "kohde"] == [glyph], "target not described")
    check(one(nodes, "label", description="pisteet")["name"] == "0", "the score does not read 0")

    told = len(events)
    s.key(glyph.lower())
    p = s.wait_picture("the next turn", lambda q: q.region_has(*SCORE_BOX, WHITE) and q.bar_length())
    glyph = TILES[red_tile(p)][0]
    # The focus, as a screen reader follows it, moves to an object named by the new key.
    wait_for("the new key told", lambda: any(
        e["type"] == "object:state-changed:focused" and e.get("detail") == 1 and e["name"] == glyph
        and e.get("role") in ("label", "progress bar") for e in events[told:]), 2)
    wait_for("the score renamed", lambda: any(e.get("role") == "label" and e["name"] == "1"
                                              for e in events), 2)
    wrong = TILES[(TILES.index(next(t for t in TILES if t[0] == glyph)) + 1) % 36][0]
    s.key(wrong.lower())
    s.wait_picture("the game over", lambda q: q.tiles(BLUE))
    told = f"Väärä näppäin {wrong}, pisteet 1"
    wait_for("the end told", lambda: any(e.get("role") == "frame" and e["description"] == told
                                         for e in events), 2)
    nodes = accessible_tree(s)
    check("focused" in one(nodes, "frame")["states"], "the window does not hold the focus")
    check("focused" not in one(nodes, "progress bar")["states"], "the hidden bar keeps the focus")
    check([n["name"] for n in nodes if n["description"] == "väärä"] == [wrong], "wrong key not described")

    s.key("F1")
    wait_for("the time-out told", lambda: any(
        e.get("role") == "frame" and e["description"] == "Aika loppui, pisteet 0" for e in events), 4)


def case_spoken(s):
    """Played by ear with Orca: the key at every turn is the first thing said, within 0.3 s of
    the turn starting, and how the game ended within 0.5 s of it."""
    if not s.orca:
        raise Failure("this case needs --orca")

    def heard(what, since, limit, first=False):
        """`what` said within `limit` seconds of `since`: a key as the first word of what is
        said of an object (not the one-word echo of a pressed key), a sentence anywhere; with
        `first`, before anything else but that echo."""
        def says(text):
            words = text.split()
            return what in text if " " in what else len(words) > 1 and words[0] == what

        def found():
            # The screen reader's echo of the key just pressed ("F1", "e") may come first.
            said = [(t, text) for t, text in s.spoken(since) if " " in text.strip(". ")]
            hits = [(t, text) for t, text in said if says(text)]
            return hits[0] if hits and (not first or said[0][1] == hits[0][1]) else None
        try:
            t, text = wait_for(f"{what!r} spoken", found, 3)
        except Failure as failure:
            raise Failure(f"{failure}; said: {s.spoken(since - 10)}")
        print(f"{text!r} {t:.2f} s after")
        check(t <= limit, f"{what!r} spoken {t:.2f} s after, later than {limit} s")

    time.sleep(1.0)  # Orca's welcome and the window's title, before the game
    sent = time.time()
    target = TILES[red_tile(start_turn(s))][0]
    heard(target, sent, 0.3, first=True)
    for _ in range(2):
        score = s.last_picture.region(*SCORE_BOX)
        sent = time.time()
        s.key(target.lower())
        p = s.wait_picture("the next turn", lambda q: q.region(*SCORE_BOX) != score and q.bar_length())
        target = TILES[red_tile(p)][0]
        # The typed letter's echo may come first; the new key must follow within the time.
        heard(target, sent, 0.3)
    wrong = TILES[(TILES.index(next(t for t in TILES if t[0] == target)) + 1) % 36][0]
    sent = time.time()
    s.key(wrong.lower())
    heard(f"Väärä näppäin {wrong}, pisteet 2", sent, 0.5)
    sent = time.time()
    s.key("F1")
    wait_for("the time-out", lambda: any("Aika loppui" in text for _, text in s.spoken(sent)), 4)
    t, _ = next((t, text) for t, text in s.spoken(sent) if "Aika loppui" in text)
    check(2.0 <= t <= 2.5, f"the time-out told {t:.2f} s after F1, its turn lasts 2 s")
    heard("Aika loppui, pisteet 0", sent, 2.5)


def case_bell_disabled(s):
    """A desktop with its bell switched off: silence, no delay, no error, the game goes on."""
    subprocess.run([s.xprobe_path, "nobell"], env=s.env, check=True, timeout=10)
    target = red_tile(start_turn(s))
    sent = time.monotonic()
    s.key(TILES[(target + 1) % 36][0].lower())
    s.wait_picture("the game over", lambda q: q.tiles(BLUE), timeout=2)
    print(f"game over shown {1000 * (time.monotonic() - sent):.0f} ms after the key")
    p = start_turn(s)
    check(not p.tiles(BLUE), "the next Start works")
    check(s.game.poll() is None, "the game is still running")


def case_close_during_beeps(s):
    """Closed while the 19 bells of a game over sound: the process ends within 200 ms."""
    target = red_tile(start_turn(s))
    s.key(TILES[(target + 1) % 36][0].lower())
    status, took = s.close_and_wait()
    print(f"ended {1000 * took:.0f} ms after the close request")
    check(status == 0, f"the game ended with status {status}")
    check(took <= 0.2, f"the game took {1000 * took:.0f} ms to end")


def case_minimised(s):
    """Minimised during a turn, the countdown goes on and ends the turn as usual."""
    moment = time.monotonic()
    start_turn(s)
    s.xdo("windowunmap", "--sync", s.window)
    check(s.settle_bells(moment, 19, timeout=4) == 19, "the hidden turn did not time out")
    took = [b for b in s.bells if b >= moment][0] - moment
    check(took < 2.6, f"the hidden turn took {took:.2f} s")
    s.xdo("windowmap", "--sync", s.window)
    p = s.wait_picture("the window back", lambda q: q.bar_length() == 0)
    check(len(p.tiles(RED)) == 1 and not p.tiles(BLUE), "a time-out: one red, no blue")


def case_covered_and_switched(s):
    """Covered by another window and switched away from during a turn; switched back, the
    keys reach the game again without a click."""
    target = red_tile(start_turn(s))
    cover = s._spawn([s.xprobe_path, "cover"], stdout=subprocess.PIPE, text=True)
    cover_id = cover.stdout.readline().strip()
    s.xdo("windowfocus", "--sync", cover_id)
    time.sleep(0.2)
    s.xdo("windowraise", s.window)
    s.xdo("windowfocus", "--sync", s.window)
    moment = time.monotonic()
    s.key(TILES[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "the key typed after switching back did not score")
    p = s.picture()
    check(len(p.tiles(RED)) == 1 and p.bar_length() > 0 and not p.tiles(BLUE), "the game goes on")


def needs_sound(s):
    if s.sound is None:
        raise Failure("this case needs --sound")
    # The game opens its audio with the first game: its playback stream appears once that has
    # connected.
    def streams():
        return subprocess.run(["pactl", "list", "short", "sink-inputs"], env=s.sound.env(),
                              capture_output=True, text=True, timeout=5).stdout.strip()
    if not streams():
        start_turn(s)
    wait_for("the game's sound stream", streams, 10)


def settle_tones(rec, expected, timeout=4):
    wait_for(f"{expected} tones", lambda: len(rec.tones()) >= expected, timeout)
    time.sleep(0.3)
    return len(rec.tones())


def case_tones(s):
    """The game's own tone through a real sound server: one per hit, 19 at a game over,
    none with sounds off, and no bell while the server plays."""
    bells = len(s.bells)
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        needs_sound(s)  # connected by the first game at the latest
        s.key(TILES[target][0].lower())
        check(settle_tones(rec, 1) == 1, f"a hit played {len(rec.tones())} tones")
        target = red_tile(s.picture())
        s.key(TILES[(target + 1) % 36][0].lower())
        check(settle_tones(rec, 20) == 20, f"a game over played {len(rec.tones()) - 1} tones")
        onsets = rec.tones()[1:]
        gaps = [(b - a) * 1000 // 48000 for a, b in zip(onsets, onsets[1:])]
        print(f"game over: 19 tones {min(gaps)}-{max(gaps)} ms apart")
        check(min(gaps) >= 60, "the tones of a game over run together")
        s.key("F3")
        target = red_tile(start_turn(s))
        s.key(TILES[target][0].lower())
        time.sleep(0.2)
        s.key("space")
        s.wait_picture("the game over", lambda q: q.bar_length() == 0)
        time.sleep(0.5)
        check(len(rec.tones()) == 20, "tones played with sounds off")
    check(len(s.bells) == bells, f"{len(s.bells) - bells} bells rang while the server played")


def case_burst_cut_by_start(s):
    """Start drops what is left of a game over's tones: the next hit sounds at once."""
    needs_sound(s)
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        s.key(TILES[(target + 1) % 36][0].lower())
        wait_for("the burst", lambda: len(rec.tones()) >= 3, 3)
        target = red_tile(start_turn(s))
        time.sleep(0.3)
        cut = len(rec.tones())
        check(cut < 10, f"{cut} tones of the burst played on after Start")
        position = rec.position()
        s.key(TILES[target][0].lower())
        wait_for("the hit's tone", lambda: rec.tones_since(position), 2)
        time.sleep(0.3)
        check(len(rec.tones()) == cut + 1, f"{len(rec.tones()) - cut} tones for one hit")


def case_server_killed(s):
    """The sound server dies during a game over's tones: no hang, the bell rings for the
    tones not played, and the game goes on with the bell."""
    needs_sound(s)
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        moment = time.monotonic()
        s.key(TILES[(target + 1) % 36][0].lower())
        wait_for("the burst", lambda: len(rec.tones()) >= 4, 3)
        s.sound.kill()
    played = len(rec.tones())
    wait_for("the rest as bells", lambda: played + s.bells_after(moment) >= 19, 3)
    time.sleep(0.3)
    total = played + s.bells_after(moment)
    print(f"{played} tones, then {s.bells_after(moment)} bells")
    # The tone cut off by the kill is rung again.
    check(19 <= total <= 20, f"{played} tones and {s.bells_after(moment)} bells")
    target = red_tile(start_turn(s))
    moment = time.monotonic()
    s.key(TILES[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "a hit without a server rings the bell")


def case_server_back(s):
    """A server that was gone and comes back: the next game's tones come through it."""
    needs_sound(s)
    s.sound.kill()
    target = red_tile(start_turn(s))
    moment = time.monotonic()
    s.key(TILES[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "a hit without a server rings the bell")
    s.sound.start()
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        time.sleep(0.5)
        moment = time.monotonic()
        s.key(TILES[target][0].lower())
        check(settle_tones(rec, 1) == 1, "no tone from the server that came back")
        check(s.bells_after(moment) == 0, "the bell rang although the server is back")


def case_server_hung(s):
    """A server that accepts the connection and never answers: bells, and an exit at once."""
    folder = os.path.join(s.env["XDG_RUNTIME_DIR"], "pulse")
    os.makedirs(folder, exist_ok=True)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(os.path.join(folder, "native"))
    listener.listen(16)
    try:
        target = red_tile(start_turn(s))
        moment = time.monotonic()
        s.key(TILES[(target + 1) % 36][0].lower())
        check(s.settle_bells(moment, 19) == 19, "a game over rings 19 bells")
        start_turn(s)
        status, took = s.close_and_wait()
        check(status == 0 and took <= 1, f"status {status} after {took:.2f} s")
    finally:
        listener.close()


def case_installer(s):
    """The 64-bit installer, silently: the program, its licences, a Start-menu entry and an
    entry in the list of programs; the installed program opens; the uninstaller, silently,
    takes all of it away again."""
    if not getattr(s, "installer", None):
        raise Failure("this case needs --wine and --installer")
    folder = os.path.join(s.env["WINEPREFIX"], "drive_c", "Program Files", "Sormio IV")
    link = os.path.join(s.env["WINEPREFIX"], "drive_c", "ProgramData", "Microsoft", "Windows",
                        "Start Menu", "Programs", "Sormio IV.lnk")
    key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\fi.sormio.SormioIV"
    s.close_and_wait()  # the session's own run of the program: the installed one comes next
    s.wine(s.installer, "/S")
    installed = sorted(os.listdir(folder))
    check(installed == sorted(["sormio.exe", "Uninstall.exe", "LICENSE.txt", "fonts-lato.txt",
                               "fonts-dejavu-core.txt", "fonts-dancingscript.txt"]),
          f"installed: {installed}")
    check(os.path.exists(link), "no Start-menu entry")
    check(s.wine("reg", "query", key, check=False) == 0, "not in the list of programs")
    s.game_path = os.path.join(folder, "sormio.exe")
    s.launch()
    case_startup(s)
    status, _ = s.close_and_wait()
    check(status == 0, f"the installed program ended with status {status}")
    s.wine(os.path.join(folder, "Uninstall.exe"), "/S")
    # The uninstaller runs on from a copy of itself, so that it can remove its own file.
    wait_for("the uninstaller to finish", lambda: not os.path.exists(folder), 30)
    check(not os.path.exists(link), "the Start-menu entry stays")
    check(s.wine("reg", "query", key, check=False) != 0, "still in the list of programs")


def case_page(s):
    """What only a page has to get right: the browser's own F1 and F3 prevented, its other
    shortcuts left alone, nothing fetched from elsewhere and nothing stored, the window inside
    the viewport; what a screen reader is handed during and after a game; and "Lopeta", which
    leaves the page as freshly loaded."""
    check(s.evaluate("document.title") == "Sormio IV", "the document's title")
    if s.browser_kind == "chromium":
        errors = s.browser.page("Page.getInstallabilityErrors")["installabilityErrors"]
        check(not errors, f"not installable: {errors}")
    box = json.loads(s.evaluate("JSON.stringify(document.getElementById('Frmsormio').getBoundingClientRect())"))
    check(box["right"] <= browsers.VIEWPORT[0] and box["bottom"] <= browsers.VIEWPORT[1],
          f"the window reaches {box['right']:.0f} x {box['bottom']:.0f}")
    s.key("F10", "Down", "Return")  # the menu from the keyboard: its second item
    sound_item = "document.getElementById('mnusound').firstChild.textContent"
    wait_for("F10, Down and Enter to switch the sounds off",
             lambda: s.evaluate(sound_item) == "Äänet poissa", 2)
    s.key("F3")
    wait_for("F3 to switch them on", lambda: s.evaluate(sound_item) == "Äänet päällä", 2)
    s.evaluate("window.seen = []; addEventListener('keydown', e => seen.push(e.key + ' ' + e.defaultPrevented))")
    target = red_tile(start_turn(s))
    s.key("F3", "F3")
    check(s.evaluate("seen.join()") == "F1 true,F3 true,F3 true", "F1 and F3 reached the browser: "
          + s.evaluate("seen.join()"))
    if s.browser_kind == "chromium":
        key = TILES[target][0]
        tree = s.browser.accessibility_tree()
        check(("progressbar", key, "", "") in [(r, n, d, "") for r, n, d, _ in tree],
              f"no progress bar named {key}")
        check(("image", key, "kohde", "") in tree, f"the red tile is not told as {key}, kohde")
        check(all(("image", g, "", "") in tree for g, _, _ in TILES if g != key), "a tile is unnamed")
        check(s.evaluate("document.getElementById('reader').textContent") == key, "the turn is not told")
    wrong = (target + 7) % 36
    s.key(TILES[wrong][0].lower())
    s.wait_picture("the blue key", lambda q: q.tiles(BLUE))
    told = s.evaluate("document.getElementById('reader').textContent")
    check(told == f"Väärä näppäin {TILES[wrong][0]}, pisteet 0", f"the end is told as {told!r}")
    if s.browser_kind == "chromium":
        check(("image", TILES[wrong][0], "väärä", "") in s.browser.accessibility_tree(),
              "the wrong key is not told")
    start_turn(s)
    moment = s.mark()
    s.evaluate("document.getElementById('mnuohjelma').click(); document.getElementById('mnuquit').click()")
    p = s.wait_picture("the page as loaded", lambda q: q.bar_length() == 0 and not q.tiles(RED))
    time.sleep(2.5)
    check(s.picture().region(0, 0, 800, 450) == p.region(0, 0, 800, 450), "the page changed after Lopeta")
    check(not p.region_has(*SCORE_BOX, WHITE), "a score is shown after Lopeta")
    check(s.bells_after(moment) == 0, "a game went on after Lopeta")
    check(s.evaluate("document.cookie + localStorage.length + sessionStorage.length") == "00",
          "the page stored something")
    foreign = s.evaluate(f"performance.getEntriesByType('resource').map(e => e.name)"
                         f".filter(n => !n.startsWith({s.url!r}))")
    check(not foreign, f"fetched from outside the page's folder: {foreign}")
    refused = s.evaluate("sormioViolations")
    check(not refused, f"the page's own policy refused it: {refused}")
    s.evaluate("const script = document.createElement('script'); script.textContent = 'window.ran = 1';"
               "document.head.append(script)")
    check(s.evaluate("window.ran === undefined && sormioViolations.length === 1"),
          "the page's policy let an inline script run")


def case_offline(s):
    """After one visit the page loads and plays with its server gone."""
    wait_for("the service worker", lambda: s.evaluate(
        "navigator.serviceWorker.ready.then(() => !!navigator.serviceWorker.controller || "
        "caches.keys().then(k => k.length > 0))"), 10)
    os.killpg(s.server.pid, signal.SIGTERM)
    s.server.wait()
    s.browser.reload()
    s.wait_ready()
    check(s.evaluate("!!navigator.serviceWorker.controller"), "the page did not come from its cache")
    case_hit(s)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--game")
    parser.add_argument("--xprobe")
    parser.add_argument("--out", default=".")
    parser.add_argument("--shot")
    parser.add_argument("--sound", choices=SoundServer.KINDS)
    parser.add_argument("--im", choices=["ibus"], help="type through this input method")
    parser.add_argument("--a11y", action="store_true", help="with the accessibility bus on")
    parser.add_argument("--orca", action="store_true", help="with the accessibility bus and Orca")
    parser.add_argument("--wayland", type=float, metavar="SCALE",
                        help="play under a headless Wayland compositor at this output scale")
    parser.add_argument("--mutter", type=float, metavar="SCALE",
                        help="play under a headless mutter at this monitor scale")
    parser.add_argument("--gnome", action="store_true", help="with --mutter: as a GNOME session runs it")
    parser.add_argument("--kwin", type=float, metavar="SCALE",
                        help="play under a headless KWin at this output scale")
    parser.add_argument("--wine", metavar="PREFIX",
                        help="play the Windows program (--game) under Wine, copying this prefix")
    parser.add_argument("--dpi", type=int, default=96, help="with --wine: the screen's dots per inch")
    parser.add_argument("--installer", help="with --wine: the installer to try")
    parser.add_argument("--make-wine-prefix", metavar="PREFIX", help="make a fresh Wine prefix and end")
    parser.add_argument("--web", metavar="SITE", help="play the web page in this folder (no --game)")
    parser.add_argument("--browser", choices=["chromium", "firefox"], default="chromium")
    parser.add_argument("case", nargs="?", choices=sorted(CASES))
    args = parser.parse_args()

    if args.make_wine_prefix:
        make_wine_prefix(args.make_wine_prefix)
        return 0
    if not args.web and (not args.game or not args.xprobe):
        parser.error("--game and --xprobe are needed to play")

    if args.web:
        session = BrowserSession(args.web, args.browser)
    elif args.wine:
        session = WineSession(args.game, args.xprobe, args.wine, args.dpi)
        session.installer = args.installer
    elif args.mutter:
        session = MutterSession(args.game, args.xprobe, args.mutter, args.gnome)
    elif args.kwin:
        session = KWinSession(args.game, args.xprobe, args.kwin)
    elif args.wayland:
        session = WaylandSession(args.game, args.xprobe, args.sound, args.wayland)
    else:
        session = Session(args.game, args.xprobe, args.sound or ("pulseaudio" if args.orca else None),
                          args.im, args.a11y, args.orca)
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
            print(f"FAILED {args.case}: {failure}")
            return 1
    print(f"passed {args.case}")
    return 0


def take_screenshot(s, path):
    """A game in progress: a few points scored, a fresh target lit, the bar running."""
    start_turn(s)
    for _ in range(3):
        target = red_tile(s.picture())
        s.key(TILES[target][0].lower())
        time.sleep(0.25)
    time.sleep(0.3)
    s.picture().save_png(path)
    print(f"wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
