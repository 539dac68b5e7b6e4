"""The Linux program on its own X server (Xvfb), played with real X key events (xdotool) and
read back from the screen (xwd); bells counted by xprobe, the harness's own X client. Options:
a sound server with a null sink (--sound), an input method (--im), the accessibility bus
(--a11y) and Orca itself (--orca)."""
import os
import subprocess
import threading

from .common import (Failure, L, Picture, own_env, start_accessibility, start_ibus,
                     start_screen_reader, start_xvfb, wait_for)
from .registry import Run
from .session import Session
from .sound_server import SoundServer


class X11Session(Session):
    """One X server, one bell counter and one run of the game."""
    screen = "1024x768x24"
    probe = None  # the bell counter

    def __init__(self, game, xprobe, sound=None, im=None, a11y=False, orca=False):
        super().__init__()
        self.game_path, self.xprobe_path = game, xprobe
        self.im, self.a11y, self.orca = im, a11y or orca, orca
        if orca:
            self.pace = 1.0  # what it says is timed against the game
        self.sound_kind = sound

    @classmethod
    def from_args(cls, args):
        return cls(args.game, args.xprobe, args.sound or ("pulseaudio" if args.orca else None),
                   args.im, args.a11y, args.orca)

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
        start_xvfb(self.env, self._spawn, self.screen)
        if self.im == "ibus":
            start_ibus(self.env, self.folder, self._spawn)
        if self.a11y:
            start_accessibility(self.env, self.folder, self._spawn)
        if self.orca:
            self.spoken_file = start_screen_reader(self.env, self.folder, self._spawn)

        if self.xprobe_path:  # without it (a benchmark), no bells are counted
            self.probe = self._spawn([self.xprobe_path, "bells"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
            if self.probe.stdout.readline().strip() != "ready":
                raise Failure("the bell counter did not start")
            self.synced = threading.Semaphore(0)

            def count():
                for line in self.probe.stdout:
                    if line.startswith("bell "):
                        self.bells.append(float(line.split()[1]))
                    elif line.strip() == "synced":
                        self.synced.release()
            threading.Thread(target=count, daemon=True).start()

        self.launch()

    def _focus(self):
        self.xdo("windowfocus", "--sync", self.window)

    def heard_all(self):
        # The game rings its bells through the X server, before it draws what the same event
        # brought: once the server has answered the bell counter, it has counted them all.
        if self.probe is None:
            raise Failure("this session counts no bells")
        self.probe.stdin.write("sync\n")
        self.probe.stdin.flush()
        if not self.synced.acquire(timeout=10):
            raise Failure("the bell counter did not answer")

    def use_layout(self, layout):
        subprocess.run(["setxkbmap", layout], env=self.env, check=True, timeout=10)

    def close_window(self):
        """Asks the game's window to close, as a window manager's close button does."""
        subprocess.run([self.xprobe_path, "close", self.window], env=self.env, check=True, timeout=10)

    def _find_window(self):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{L.caption}$"],
                             env=self.env, capture_output=True, text=True, timeout=10).stdout.split()
        return out[0] if out else None

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


SOUND = ["tones", "burst_cut_by_start", "server_killed", "server_back"]
X = ["Xvfb", "xdotool", "xwd", "setxkbmap"]
RUNS = [
    Run("x11", "", [], ["startup", "start", "hit", "miss", "timeout", "sound", "keys_before_start",
                        "close", "bell_disabled", "close_during_beeps", "minimised",
                        "covered_and_switched", "server_hung", "close_after_play",
                        "close_during_turn", "dead_keys"], needs=X),
    Run("x11", "ibus", ["--im", "ibus"], ["dead_keys"], needs=[*X, "ibus-daemon"]),
    Run("x11", "a11y", ["--a11y"], ["screen_reader"],
        needs=[*X, "/usr/libexec/at-spi-bus-launcher", "py:pyatspi"]),
    # What Orca itself says and when it is heard, through a speech-dispatcher whose voice
    # stands in for espeak-ng; timed, so with the machine to itself.
    Run("x11", "orca", ["--orca"], ["spoken"],
        needs=[*X, "/usr/libexec/at-spi-bus-launcher", "py:pyatspi", "orca", "speech-dispatcher",
               "espeak-ng", "pulseaudio"]),
    # The game's own tone, each case against a real server that it starts and stops.
    Run("x11", "pulseaudio", ["--sound", "pulseaudio"], SOUND, labels=["e2e", "sound"],
        needs=[*X, "pulseaudio", "pactl"]),
    Run("x11", "pipewire", ["--sound", "pipewire"], SOUND, labels=["e2e", "sound"],
        needs=[*X, "pipewire-pulse", "pactl"]),
]
SESSIONS = {"x11": X11Session}
