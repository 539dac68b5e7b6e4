"""The Windows program under Wine on its own Xvfb, in a copy of one fresh Wine prefix made for
the run (make_wine_prefix); its tones go through Wine's audio to a PulseAudio null sink."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from .common import own_env, start_session_bus, wait_for
from .registry import Run
from .session import CountsTones
from .x11 import X11Session


WINE32_LOADER = "/usr/lib/wine/wine"  # from wine32:i386, where the system has i386 packages


def wine_command(name, bits=64):
    """Debian's Wine: its 64-bit loader and server where Debian 12 and 13 put them, or the
    32-bit loader (which /usr/bin/wine starts even for a 64-bit prefix where it is installed)."""
    if name == "wine" and bits == 32:
        return WINE32_LOADER
    for path in (f"/usr/lib/wine/{name}64", f"/usr/lib/wine/{name}"):
        if os.path.exists(path):
            return path
    return shutil.which(name)


def runs_32_bit():
    """Whether 32-bit Windows programs can run here: Wine's 32-bit loader, and a kernel that runs
    32-bit code. Says once why not, where not."""
    if runs_32_bit.answer is not None:
        return runs_32_bit.answer
    why = None
    if not os.path.exists(WINE32_LOADER):
        why = "Wine has no 32-bit loader here (wine32:i386)"
    else:
        # Only running it tells: a kernel can offer the 32-bit interfaces and still refuse to
        # start 32-bit code (built without it, or with it switched off at boot).
        try:
            subprocess.run([WINE32_LOADER, "--version"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60, check=True)
        except OSError as error:
            why = f"this kernel runs no 32-bit code ({error.strerror})"
        except subprocess.SubprocessError:
            why = "Wine's 32-bit loader does not start here"
    runs_32_bit.answer = why is None
    if why is not None:
        print(f"sormio: the 32-bit Windows program is not played, the installer is tried as a "
              f"64-bit program: {why}",
              file=sys.stderr)
    return runs_32_bit.answer


runs_32_bit.answer = None


def wine_env(env, prefix):
    """What keeps Wine to itself: its own prefix, nothing it would have to download, no menu
    entries or file associations written, no debug output."""
    return dict(env, WINEPREFIX=prefix, WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")


def make_wine_prefix(path, bits=64):
    """A fresh Wine prefix for the run's Windows cases to copy: 64-bit Windows, or 32-bit."""
    shutil.rmtree(path, ignore_errors=True)
    home = tempfile.mkdtemp(prefix="sormio-wine-home-")
    env = wine_env(dict(own_env(), HOME=home), path)
    if bits == 32:
        env["WINEARCH"] = "win32"
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                           start_new_session=True)
    try:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        # Never read through a pipe: services that Wine leaves behind hold it open.
        subprocess.run([wine_command("wine", bits), "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
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

    def __init__(self, game, xprobe, prefix, dpi=96, installer=None, reader_probe=None, bits=64):
        super().__init__(game, xprobe, "pulseaudio")
        self.template, self.dpi, self.scale = prefix, dpi, dpi / 96
        self.screen = f"{round(1280 * self.scale)}x{round(800 * self.scale)}x24"
        self.installer, self.reader_probe, self.bits = installer, reader_probe, bits

    @classmethod
    def from_args(cls, args):
        """The 64-bit program on 64-bit Windows, or with --x86 the 32-bit one on 32-bit
        Windows; the same installer on either. Where no 32-bit code runs, the installer is
        tried as a 64-bit program made from the same script: the script is what is tested."""
        if args.x86:
            return cls(args.windows32_exe, args.xprobe, args.wine32_prefix, args.dpi, args.installer,
                       args.windows32_reader_probe, 32)
        installer = args.installer if runs_32_bit() else args.installer_x64
        return cls(args.windows_exe, args.xprobe, args.wine_prefix, args.dpi, installer,
                   args.windows_reader_probe)

    def loader(self):
        return wine_command("wine", self.bits)

    def reader(self, what):
        """What a screen reader reads of the window now, from another process (the probe's
        `tree` or `uia`, as JSON); None where the system offers no such way (UI Automation in
        Wine 8)."""
        out = subprocess.run([self.loader(), self.reader_probe, what], env=self.env,
                             capture_output=True, text=True, timeout=60)
        return json.loads(out.stdout.strip().splitlines()[-1]) if out.stdout.strip() else None

    def reader_events(self):
        """The window's accessibility events as they come, collected in a list."""
        events = []
        probe = self._spawn([self.loader(), self.reader_probe, "events"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        wait_for("the event probe", lambda: probe.stdout.readline().strip() == "ready", 30)
        threading.Thread(target=lambda: events.extend(json.loads(line) for line in probe.stdout
                                                      if line.startswith("{")),
                         daemon=True).start()
        return events

    def launch(self):
        if self.recorder is None:
            self._start_wine()
        self.started_at = time.monotonic()
        self.game = self._spawn([self.loader(), self.game_path], stdout=subprocess.DEVNULL,
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
        return subprocess.run([self.loader(), *args], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120, check=check).returncode

    def close(self):
        if "WINEPREFIX" in self.env:
            subprocess.run([wine_command("wineserver"), "-k"], env=self.env, timeout=30)
        super().close()



WINE = ["Xvfb", "xdotool", "xwd", "pulseaudio"]
PLAYED = ["startup", "start", "hit", "miss", "timeout", "sound", "keys_before_start",
          "close_during_turn", "tones", "windows_reader"]
# The reader's events reach its probe through Wine a while after they happen, and a turn lasts
# two seconds: it plays with the machine to itself, as the Orca cases do.
READER = ["windows_reader"]
RUNS = [
    Run("wine", "wine", [], PLAYED, labels=["e2e", "windows"], needs=WINE, builds=["windows64"],
        fixtures=["wine", "windows64"], timeout=120, serial=READER),
    *(Run("wine", f"wine.dpi{dpi}", ["--dpi", str(dpi)], ["startup"],  # 150 % and 200 %
          labels=["e2e", "windows"], needs=WINE, builds=["windows64"],
          fixtures=["wine", "windows64"], timeout=120) for dpi in (144, 192)),
    # The installer is a 32-bit program, which installs the 64-bit one on 64-bit Windows.
    Run("wine", "wine", [], ["installer"], labels=["e2e", "windows"], needs=WINE,
        builds=["windows64", "installer"], fixtures=["wine", "windows32"], timeout=120),
    # The 32-bit program, and the installer, on 32-bit Windows.
    Run("wine", "wine32", ["--x86"], [*PLAYED, "installer"], labels=["e2e", "windows"],
        needs=WINE, builds=["windows32", "installer"], fixtures=["wine32", "windows32"],
        timeout=120, serial=READER, when=lambda config: runs_32_bit()),
]
SESSIONS = {"wine": WineSession}
