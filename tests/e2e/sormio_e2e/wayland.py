"""The Linux program as a native client of Wayland compositors, each headless and started by the
session itself: sway (keys by one virtual keyboard of the harness, screenshots by grim), GNOME's mutter and KDE Plasma's KWin
(keys through their own remote interfaces, helpers beside this package). Wayland has no bell:
beeps are tones recorded from a sound server's null sink, where a session has one."""
import json
import math
import os
import re
import shutil
import subprocess
import sys
import time

from .common import E2E, Failure, L, Picture, own_env, start_session_bus, wait_for
from .registry import Run, version_at_least
from .session import CountsTones, Session
from .sound_server import SoundServer
from .virtual_keyboard import VirtualKeyboard
from .x11 import X11Session

HERE = E2E
NOBODY = 65534


class SwaySession(CountsTones, Session):
    """The same game under a real Wayland compositor (sway, headless, software rendering),
    as its own native Wayland client: keys by one virtual keyboard, screenshots by grim, the window found and
    closed over sway's IPC. Wayland has no bell, so beeps are tones recorded from a
    PulseAudio server's null sink."""

    def __init__(self, game, scale=1):
        super().__init__()
        self.game_path, self.scale, self.sound_kind = game, scale, "pulseaudio"

    @classmethod
    def from_args(cls, args):
        return cls(args.game, args.scale)

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
        wait_for("sway", lambda: os.path.exists(ready) and open(ready).read().strip(), 30)
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
        self.keyboard = VirtualKeyboard(self.env["WAYLAND_DISPLAY"])
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
            if node.get("app_id") == L.app_id and node.get("pid") == self.game.pid and node.get("visible"):
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
            self.swaymsg(f'[app_id="{L.app_id}"] move right {-x % 4} px, move down {-y % 4} px')
            return None
        return (x, y, w["width"], w["height"])

    def _focus(self):
        self.swaymsg(f'[app_id="{L.app_id}"] focus')

    def close_window(self):
        self.swaymsg(f'[app_id="{L.app_id}"] kill')

    def key(self, *keys):
        self.keyboard.type(*keys)

    def close(self):
        if getattr(self, "keyboard", None):
            self.keyboard.close()
        super().close()

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



class DesktopSession(X11Session):
    """The game as a client of a desktop's own headless compositor (GNOME's mutter or KDE's
    KWin), on a session bus of its own, with keys typed by a helper that the subclass starts.
    Where no screenshot is to be had, what the window does is read from the Wayland requests
    the game makes (WAYLAND_DEBUG): its frames."""

    SOCKET = "sormio-test"  # the Wayland socket each compositor is told to make

    def __init__(self, game, scale=1):
        super().__init__(game, None)
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
        self.env["DISPLAY"] = wait_for("XWayland", display, 30)
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
            self.game = self._spawn([self.game_path], env=dict(self.game_env(), WAYLAND_DEBUG="client"),
                                    stdout=subprocess.DEVNULL, stderr=trace)
        # Waits long enough for a compositor and a game started on a busy machine: how soon the
        # first frame comes is the benchmark's to measure.
        if "DISPLAY" in self.env:  # the game may have chosen XWayland
            way = wait_for("the game's window", lambda: ("x11" if self._find_window() else None)
                           or ("wayland" if self.frames() else None), 30)
            if way == "x11":
                # Seen once, it may be unmapped for a moment while the window manager frames it
                # (once it was, and the session then waited for Wayland frames that never came).
                self.window = wait_for("the game's window framed", self._find_window, 10)
                return
        wait_for("the first painted frame", self.frames, 30)
        wait_for("the keyboard focus", lambda: self._traced(r"wl_keyboard[@#]\d+\.enter\("), 10)
        # The window is active once the game has applied the state the compositor configured
        # with the focus, which it acknowledges; a key that comes before may find no active
        # window to take it. Qt 6.8 reads Wayland events on a thread of its own, so the focus
        # reaches the window a moment after the trace shows it.
        wait_for("the window's configured state applied",
                 lambda: self._traced(r"-> xdg_surface[@#]\d+\.ack_configure\(")
                 >= self._traced(r"\] xdg_surface[@#]\d+\.configure\("), 10)
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
        wait_for("the bar running after F1", lambda: self.frames() >= before + 10, 10)

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
        return title[-1] if title else "", int(heights[-1]) - L.client_h - 19 if heights else 0


class MutterSession(DesktopSession):
    """GNOME's compositor: keys through its remote-desktop interface, closed by Alt+F4 as a
    GNOME player closes it. With `gnome`, as a GNOME session runs it: with XWayland, and the
    game told it runs on GNOME, so that it may choose either way to the screen."""
    KEYS = {"F1": "ffbe", "F4": "ffc1", "Alt": "ffe9"}  # keysyms

    def __init__(self, game, scale=1, gnome=False):
        super().__init__(game, scale)
        self.gnome = gnome

    @classmethod
    def from_args(cls, args):
        return cls(args.game, args.scale, args.gnome)

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

    def __init__(self, game, scale=1, xwayland=False):
        super().__init__(game, scale)
        self.xwayland = xwayland

    @classmethod
    def from_args(cls, args):
        return cls(args.game, args.scale)

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



def kwin_version():
    """kwin_wayland --version needs a session: dpkg tells the version."""
    return subprocess.run(["dpkg-query", "-W", "-f=${source:Upstream-Version}", "kwin-wayland"],
                          capture_output=True, text=True).stdout


SWAY = ["sway", "grim", "pulseaudio"]
DBUS = "/usr/lib/python3/dist-packages/dbus"
RUNS = [
    Run("sway", "wayland", ["--scale", "1"],
        ["startup", "start", "hit", "miss", "sound", "keys_before_start", "close",
         "close_after_play", "close_during_turn", "title_bar"], labels=["e2e", "wayland"], needs=SWAY),
    Run("sway", "wayland.scale2", ["--scale", "2"], ["startup", "miss"], labels=["e2e", "wayland"],
        needs=SWAY),
    # Qt 6.5 and later draw at a fractional scale themselves; Qt 6.4 draws at 2 and leaves the
    # compositor to shrink the picture, which no line check can pass.
    *(Run("sway", f"wayland.scale{scale}", ["--scale", scale], ["startup"],
          labels=["e2e", "wayland"], needs=SWAY,
          when=lambda config: version_at_least(config.qt, (6, 5))) for scale in ("1.25", "1.5")),
    *(Run("mutter", f"mutter.scale{scale}", ["--scale", scale], ["close_during_turn"],
          labels=["e2e", "wayland"], needs=["mutter", DBUS]) for scale in ("1", "2")),
    # As a GNOME session runs it, with XWayland; alone: beside another mutter its game twice
    # never drew a first frame in 30 s, while alone it does in under a second.
    Run("mutter", "mutter", ["--scale", "1", "--gnome"], ["title_bar"], labels=["e2e", "wayland"],
        needs=["mutter", DBUS], serial=["title_bar"]),
    Run("kwin", "kwin", ["--scale", "1"], ["close_during_turn", "title_bar"],
        labels=["e2e", "wayland"], needs=["kwin_wayland", DBUS]),
    # KWin 6 (Debian 13) runs only those two: on its virtual outputs the screenshot effect does
    # not load, and the scale comes from its stored output configuration, not from --scale.
    Run("kwin", "kwin", ["--scale", "1"], ["startup", "start"], labels=["e2e", "wayland"],
        needs=["kwin_wayland", DBUS], when=lambda config: kwin_version().startswith("5.")),
    Run("kwin", "kwin.scale2", ["--scale", "2"], ["startup", "close_during_turn"],
        labels=["e2e", "wayland"], needs=["kwin_wayland", DBUS],
        when=lambda config: kwin_version().startswith("5.")),
]
SESSIONS = {"sway": SwaySession, "mutter": MutterSession, "kwin": KWinSession}
