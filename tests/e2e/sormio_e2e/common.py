"""What every session and case of the end-to-end harness shares: failures and waiting, the
window's layout as its description draws it, pictures of the client area, and the services a
session may start (a session bus, an input method, the accessibility bus, a screen reader)."""
import collections
import glob
import json
import os
import struct
import subprocess
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "..", "tools")
E2E = os.path.join(HERE, "..")


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



def check(condition, message):
    if not condition:
        raise Failure(message)


class Layout:
    """The window as its description draws it, read from the JSON that the build writes
    (tests/e2e/describe.cpp): nothing of it is typed again here. Filled in by load()."""

    def load(self, path):
        with open(path) as f:
            d = json.load(f)
        self.caption, self.app_id = d["caption"], d["appId"]
        self.client_w, self.client_h = d["client"]
        self.background, self.border = tuple(d["background"]), tuple(d["tileBorder"])
        self.bar_colour = tuple(d["barColour"])
        colours = d["colours"]
        self.idle, self.target, self.wrong = (tuple(colours[k]) for k in ("idle", "target", "wrong"))
        self.white = tuple(colours["text"])
        self.tick = d["tickMs"] / 1000
        self.start_width = d["startWidth"]
        # (glyph, left, top) in tile order
        self.tiles = [(glyph, left, top) for glyph, (left, top, _, _) in d["tiles"]]
        self.tile_size = d["tiles"][0][1][2]
        controls = d["controls"]
        self.bar_box = controls["Picture1"]
        self.bar_left, self.bar_row, self.bar_width, _ = self.bar_box
        box = lambda r: (r[0], r[1], r[0] + r[2], r[1] + r[3])
        self.score_box = box(controls["Lblpisteet"])
        # The title and the credit line overlap: each is looked for where the other is not.
        title, credit = box(controls["Lblotsikko"]), box(controls["Label1"])
        self.title_box = title[:3] + (credit[1],)
        self.credit_box = (credit[0], title[3], credit[2], credit[3])


L = Layout()


Xwd = collections.namedtuple("Xwd", "width height bits stride little pixels")


def read_xwd(dump):
    """An xwd dump of a true-colour window or screen: its size, bits per pixel (24 packed or
    32), bytes per row, byte order and pixels."""
    header = struct.unpack(">25I", dump[:100])
    header_size, _, fmt, depth, width, height = header[:6]
    bits, stride, colours = header[11], header[12], header[19]
    if fmt != 2 or bits not in (24, 32) or depth < 24:
        raise Failure(f"unexpected xwd format {fmt}, {bits} bits per pixel, depth {depth}")
    return Xwd(width, height, bits, stride, header[7] == 0, dump[header_size + 12 * colours:])


class Picture:
    """The window's client area, decoded from an xwd dump of the top-level window."""

    def __init__(self, xwd=None, ppm=None, scale=1):
        """From an xwd dump of the top-level X window, or a PPM of a Wayland window's
        content at `scale` device pixels to the pixel; pixel() takes window pixels."""
        self.scale = scale
        if ppm is not None:
            self._from_ppm(ppm)
            return
        dump = read_xwd(xwd)
        width, height, stride, data = dump.width, dump.height, dump.stride, dump.pixels
        if dump.bits != 32:
            raise Failure(f"unexpected xwd format: {dump.bits} bits per pixel")
        client_w, client_h = int(L.client_w * scale + 0.5), int(L.client_h * scale + 0.5)  # halves up
        if width != client_w or height < client_h:
            raise Failure(f"window is {width} x {height}, expected {client_w} wide and {client_h} "
                          "high below the menu")
        self.menu_height = height - client_h
        self.width, self.height = L.client_w, L.client_h
        rows = []
        for y in range(self.menu_height, height):
            rows.append(data[y * stride:y * stride + 4 * width])
        self.rows = rows
        self.little = dump.little
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
        if width != round(L.client_w * self.scale) or height < round(L.client_h * self.scale):
            raise Failure(f"window is {width} x {height} at scale {self.scale}")
        # The client area starts where Qt rounds the menu's height to (halves up), which at
        # 150 % need not be the buffer's height less the client's.
        menu = int((round(height / self.scale) - L.client_h) * self.scale + 0.5)
        self.width, self.height = L.client_w, L.client_h
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
        _, left, top = L.tiles[index]
        return self.pixel(left + 3, top + 3)

    def tiles(self, colour):
        return [i for i in range(len(L.tiles)) if self.tile_colour(i) == colour]

    def bar_length(self):
        # Along the middle of its row: at a fractional scale the one-pixel bar is drawn on the
        # device row its top rounds to, not always the one it falls on.
        row = int((L.bar_row + 0.5) * self.scale)
        n = 0
        while L.bar_left + n < L.client_w and \
                self.device_pixel(int((L.bar_left + n) * self.scale), row) == L.bar_colour:
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



def turn_shown(p):
    """A turn runs in picture p: one red tile and the bar."""
    return len(p.tiles(L.target)) == 1 and p.bar_length() > 0


def own_env():
    """This process's environment without what would lead a case to the tester's own display,
    sound server, session type or scale: each session sets its own."""
    return {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY", "PULSE_SERVER",
                         "XDG_SESSION_TYPE", "QT_SCALE_FACTOR")}


def start_xvfb(env, spawn, screen):
    """An X server of the session's own; sets env's DISPLAY to it."""
    read_fd, write_fd = os.pipe()
    xvfb = spawn(["Xvfb", "-displayfd", str(write_fd), "-noreset", "-nolisten", "tcp",
                  "-screen", "0", screen], pass_fds=(write_fd,),
                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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
    env["DISPLAY"] = ":" + number.decode().strip()


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


A11Y_PROBE = os.path.join(E2E, "a11y_probe.py")
SERVE_WEB = os.path.join(TOOLS, "serve_web.py")


def start_screen_reader(env, folder, spawn):
    """Orca on the accessibility bus, speaking through a speech-dispatcher of its own whose
    output module stands in for a voice: it writes each utterance to a file, with the time it
    starts to be heard and how long espeak-ng would take to say it, and takes that long (unless
    the next utterance interrupts it); returns that file. speech-dispatcher's modules need a
    sound server to start."""
    conf = os.path.join(folder, "speechd")
    os.makedirs(os.path.join(conf, "modules"))
    spoken = os.path.join(folder, "spoken.txt")
    open(spoken, "w").close()
    voice = os.path.join(folder, "voice.sh")
    with open(voice, "w") as f:
        # espeak-ng's 22,050 samples a second of 16 bits: its length in bytes tells the time.
        f.write('start=$(date +%%s.%%N)\n'
                'seconds=$(espeak-ng --stdout "$1" | wc -c | awk \'{ print $1 / 44100 }\')\n'
                'printf "%%s %%s %%s\\n" "$start" "$seconds" "$1" >> %s\n'
                'exec sleep "$seconds"\n' % spoken)
    with open(os.path.join(conf, "modules", "voice.conf"), "w") as f:
        f.write('GenericExecuteSynth "sh %s \\"$DATA\\""\n'
                'GenericCmdDependency "espeak-ng"\nAddVoice "en" "MALE1" "voice"\n'
                'DefaultVoice "voice"\nGenericLanguage "en" "english" "utf-8"\n' % voice)
    with open(os.path.join(conf, "speechd.conf"), "w") as f:
        f.write('AddModule "voice" "sd_generic" "voice.conf"\nDefaultModule voice\n'
                'LanguageDefaultModule "en" "voice"\n')
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

