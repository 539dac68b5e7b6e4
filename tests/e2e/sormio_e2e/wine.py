"""The Windows program under Wine on its own Xvfb, in a copy of one fresh Wine prefix made for
the run (make_wine_prefix); its tones go through Wine's audio to a PulseAudio null sink."""
import os
import shutil
import signal
import subprocess
import tempfile
import time

from .common import own_env, start_session_bus, wait_for
from .registry import Run
from .session import CountsTones
from .x11 import X11Session


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


class WineSession(CountsTones, X11Session):
    """The Windows program under Wine on the same Xvfb: to X it is a window like any other
    (keys by xdotool, pictures by xwd), holding the menu bar and the client area. Its tones go
    through Wine's audio to a PulseAudio null sink, where they are counted. Each session runs
    in a copy of the run's Wine prefix, with a Wine server of its own, at the screen's dots per
    inch that `dpi` gives (96 is 100 %)."""

    def __init__(self, game, xprobe, prefix, dpi=96, installer=None):
        super().__init__(game, xprobe, "pulseaudio")
        self.template, self.dpi, self.scale = prefix, dpi, dpi / 96
        self.screen = f"{round(1280 * self.scale)}x{round(800 * self.scale)}x24"
        self.installer = installer

    @classmethod
    def from_args(cls, args):
        return cls(args.windows_exe, args.xprobe, args.wine_prefix, args.dpi, args.installer)

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



WINE = ["Xvfb", "xdotool", "xwd", "pulseaudio"]
RUNS = [
    Run("wine", "wine", [], ["startup", "start", "hit", "miss", "timeout", "sound",
                             "keys_before_start", "close_during_turn", "tones"],
        labels=["e2e", "windows"], needs=WINE, builds=["windows64"],
        fixtures=["wine", "windows64"], timeout=120),
    *(Run("wine", f"wine.dpi{dpi}", ["--dpi", str(dpi)], ["startup"],  # 150 % and 200 %
          labels=["e2e", "windows"], needs=WINE, builds=["windows64"],
          fixtures=["wine", "windows64"], timeout=120) for dpi in (144, 192)),
    Run("wine", "wine", [], ["installer"], labels=["e2e", "windows"], needs=WINE,
        builds=["windows64", "installer"], fixtures=["wine", "windows64"], timeout=120),
]
SESSIONS = {"wine": WineSession}
