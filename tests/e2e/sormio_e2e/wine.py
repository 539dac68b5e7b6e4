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

from .cases import case_startup, cases_of, red_tile, start_turn
from .common import Failure, L, check, own_env, start_session_bus, wait_for
from .registry import Run
from .session import CountsTones, GameClock
from .x11 import X11Session


WINE32_LOADER = "/usr/lib/wine/wine"  # from wine32:i386, where the system has i386 packages
# What Wine prints when one of its processes fails before running any code of its program.
WINE_START_FAILURES = ("failed to map the shared user data", "failed to start explorer")


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
    inch that `dpi` gives (96 is 100 %). Where the test build with the harness's clock is
    given (`paced`), that plays, its pace set as the Linux program's is (session.GameClock)."""

    def __init__(self, game, xprobe, prefix, dpi=96, installer=None, reader_probe=None, bits=64,
                 paced=None):
        super().__init__(game, xprobe, "pulseaudio")
        self.template, self.dpi, self.scale = prefix, dpi, dpi / 96
        self.paced = paced
        self.screen = f"{round(1280 * self.scale)}x{round(800 * self.scale)}x24"
        self.installer, self.reader_probe, self.bits = installer, reader_probe, bits
        self.linked = None  # where the session's prefix is, linked to the template

    @classmethod
    def from_args(cls, args):
        """The 64-bit program on 64-bit Windows, or with --x86 the 32-bit one on 32-bit
        Windows; the same installer on either. Where no 32-bit code runs, the installer is
        tried as a 64-bit program made from the same script: the script is what is tested."""
        if args.x86:
            return cls(args.windows32_exe, args.xprobe, args.wine32_prefix, args.dpi, args.installer,
                       args.windows32_reader_probe, 32, args.windows32_paced_exe)
        installer = args.installer if runs_32_bit() else args.installer_x64
        return cls(args.windows_exe, args.xprobe, args.wine_prefix, args.dpi, installer,
                   args.windows_reader_probe, paced=args.windows_paced_exe)

    def loader(self):
        return wine_command("wine", self.bits)

    def reader(self, what):
        """What a screen reader reads of the window now, from another process (the probe's
        `tree` or `uia`, as JSON); None where the system offers no such way (UI Automation in
        Wine 8)."""
        out = subprocess.run([self.loader(), self.reader_probe, what], env=self.env,
                             capture_output=True, text=True, timeout=60)
        answer = json.loads(out.stdout.strip().splitlines()[-1]) if out.stdout.strip() else None
        if answer is None and out.stderr.strip():
            print(f"the reader probe's {what}: {out.stderr.strip()}", file=sys.stderr)
        return answer

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
        for attempt in range(3):
            self.started_at = time.monotonic()
            # Wine's own errors, to say why a program ended before its window showed.
            said = os.path.join(self.folder, f"wine-{len(self.procs)}.log")
            with open(said, "wb") as log:
                self.game = self._spawn([self.loader(), self.paced or self.game_path],
                                        env=dict(self.game_env(), WINEDEBUG="-all,err+all"),
                                        stdout=subprocess.DEVNULL, stderr=log)
            try:
                self.window = self.wait_shown()
                break
            except Failure as failure:
                with open(said, errors="replace") as log:
                    text = log.read()
                # Now and then (2 starts in about 1,700 here) a process of Wine's own cannot map
                # the page every Windows process shares at its fixed address, before any of its
                # code runs; where that was Wine's desktop, the program finds no desktop to open
                # its window on. Windows has no such failure: Wine is started again, and says so.
                if attempt == 2 or self.game.poll() is None or not any(
                        sign in text for sign in WINE_START_FAILURES):
                    raise Failure(f"{failure}; Wine said: {text[-2000:]!r}")
                print(f"sormio: Wine failed to start a process of its own, the program is started "
                      f"again: {text[-600:]!r}", file=sys.stderr)
        wait_for("the first painted frame", self._painted, 10)
        self._focus()

    def game_env(self):
        """The test build reads its pace from the file that the Linux program's shim reads,
        named as Wine names it."""
        if not self.paced:
            return self.env
        if self.game_clock is None:
            self.game_clock = GameClock(None, self.folder, self.pace)
        return dict(self.env, SORMIO_GAME_CLOCK="Z:" + self.game_clock.path.replace("/", "\\"))

    def _start_wine(self):
        # Linked, not copied (the template is 700 MB): nothing in the cases changes a file of
        # Windows' own, and programs replace the files they write. So it is made beside the
        # template, on its file system, not in the session's folder, which may be on another (a
        # /tmp in memory, as Debian 13 has by default). But the registry is not replaced: Wine's
        # server writes a registry file that has other links into the file itself (two sessions
        # at once, or one starting while the last one's server saves at its end, would read each
        # other's registry half written). So the registry is copied.
        self.linked = tempfile.mkdtemp(prefix="sormio-e2e-", dir=os.path.dirname(self.template))
        prefix = os.path.join(self.linked, "prefix")
        subprocess.run(["cp", "-al", self.template, prefix], check=True, timeout=60)
        for name in os.listdir(prefix):
            if name.endswith(".reg"):
                registry = os.path.join(prefix, name)
                with open(registry, "rb") as f:
                    text = f.read()
                if name == "user.reg" and self.dpi != 96:
                    text += (f'\n[Control Panel\\\\Desktop]\n'
                             f'"LogPixels"=dword:{self.dpi:08x}\n').encode()
                os.unlink(registry)
                with open(registry, "wb") as f:
                    f.write(text)
        start_session_bus(self.env, self.folder, self._spawn)
        self.env = wine_env(self.env, prefix)
        self._spawn([wine_command("wineserver"), "-f", "-p"], stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
        self.record_tones()

    def wine(self, *args, check=True, said=None):
        """A Windows command in the session's prefix, waited for; with `said`, Wine's errors of
        it and of what it starts are written there."""
        env = self.env if said is None else dict(self.env, WINEDEBUG="-all,err+all")
        with open(said or os.devnull, "wb") as log:
            return subprocess.run([self.loader(), *args], env=env, stdout=subprocess.DEVNULL,
                                  stderr=log, timeout=120, check=check).returncode

    def close(self):
        if "WINEPREFIX" in self.env:
            subprocess.run([wine_command("wineserver"), "-k"], env=self.env, timeout=30)
        super().close()
        if self.linked:
            shutil.rmtree(self.linked, ignore_errors=True)


def pe_machine(path):
    """The architecture a Windows program is built for: "x64" or "x86"."""
    with open(path, "rb") as f:
        data = f.read(4096)
    at = int.from_bytes(data[0x3C:0x40], "little")
    machine = int.from_bytes(data[at + 4:at + 6], "little")
    return {0x8664: "x64", 0x14C: "x86"}.get(machine, hex(machine))


def case_installer(s):
    """The installer, silently: the program for this Windows (64-bit on 64-bit Windows, 32-bit
    on 32-bit), its licences, a Start-menu entry and an entry in the list of programs; the
    installed program opens; the uninstaller, silently, takes all of it away again."""
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
    wanted = "x64" if s.bits == 64 else "x86"
    check(pe_machine(os.path.join(folder, "sormio.exe")) == wanted,
          f"the {pe_machine(os.path.join(folder, 'sormio.exe'))} program installed on {s.bits}-bit Windows")
    check(os.path.exists(link), "no Start-menu entry")
    check(s.wine("reg", "query", key, check=False) == 0, "not in the list of programs")
    s.game_path = os.path.join(folder, "sormio.exe")
    s.launch()
    case_startup(s)
    status, _ = s.close_and_wait()
    check(status == 0, f"the installed program ended with status {status}")
    # The uninstaller runs on from a copy of itself, so that it can remove its own file: what
    # Wine says of either, for a failure to name (once in CI the folder was still there at 30 s).
    said = os.path.join(s.folder, "uninstaller-wine.log")
    s.wine(os.path.join(folder, "Uninstall.exe"), "/S", said=said)
    try:
        wait_for("the uninstaller to finish", lambda: not os.path.exists(folder), 30)
    except Failure as failure:
        with open(said, errors="replace") as log:
            text = log.read()
        raise Failure(f"{failure}; left: {sorted(os.listdir(folder))}; Wine said: {text[-2000:]!r}")
    check(not os.path.exists(link), "the Start-menu entry stays")
    check(s.wine("reg", "query", key, check=False) != 0, "still in the list of programs")



def case_windows_reader(s):
    """Read from another process as a screen reader on Windows reads it (MSAA, and UI
    Automation where the system has it): the tiles by their characters, the target "kohde" and a
    wrong key "väärä"; the bar a progress bar named by the key, its value the width left, holding
    the focus and told at every turn; the score as text; how a game ended as text that takes the
    focus from the hidden bar, after a miss and after a time-out; nothing of it left after the
    next Start."""
    events = s.reader_events()
    for _ in range(3):
        target = red_tile(start_turn(s))
        tree = s.reader("tree")
        check(tree is not None, "the window cannot be read from another process")
        if not tree["bar"]["hidden"]:
            break
        # The turn ran out while the reader started (Wine starting a program on a busy machine
        # can take longer than a turn): another.
        s.wait_picture("the game over", lambda q: q.bar_length() == 0)
    tiles, bar, score = tree["children"][:36], tree["bar"], tree["children"][37]
    check([c["name"] for c in tiles] == [g for g, _, _ in L.tiles], "the tiles are not named by their characters")
    check([c["description"] for c in tiles] == ["kohde" if t == target else "" for t in range(36)],
          "only the key to press is described \"kohde\"")
    check(bar["role"] == "progress bar" and bar["name"] == L.tiles[target][0] and bar["focused"]
          and 0 < int(bar["value"]) <= L.start_width, f"during a turn the bar reads {bar}")
    check(tree["children"][36]["name"] == bar["name"] and tree["focus"] == 37,
          "the window does not give the bar as its focus")
    check(score["role"] == "static text" and score["name"] == "0" and score["description"] == "pisteet",
          f"the score reads {score}")
    if not s.picture().bar_length():
        start_turn(s)  # the same, for the turn the reader read
    for points in (1, 2):
        glyph = L.tiles[red_tile(s.picture())][0]
        score = s.last_picture.region(*L.score_box)
        told = len(events)
        s.key(glyph.lower())
        # Not the picture of the turn just played, taken before Wine handed the key over.
        p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score
                           and q.bar_length() and red_tile(q) is not None)
        key = L.tiles[red_tile(p)][0]
        wait_for(f"the key {key} told", lambda: any(
            e["window"] == "bar" and e["event"] in ("focus", "name") and e["element"]["name"] == key
            for e in events[told:]), 3)
        wait_for(f"the score {points} told", lambda: any(
            e["element"]["id"] == 38 and e["element"]["name"] == str(points) for e in events[told:]), 3)
    wrong = L.tiles[(red_tile(s.picture()) + 1) % 36]
    told = len(events)
    s.key(wrong[0].lower())
    s.wait_picture("the game over", lambda q: q.tiles(L.wrong))
    ending = f"Väärä näppäin {wrong[0]}, pisteet 2"
    wait_for("the ending told", lambda: any(
        e["event"] == "focus" and e["element"]["id"] == 41 and e["element"]["name"] == ending
        for e in events[told:]), 3)
    tree = s.reader("tree")
    told = tree["children"][40]
    check(told["name"] == ending and told["focused"] and tree["focus"] == 41 and tree["bar"]["hidden"],
          f"after a miss the ending reads {told}, the bar {tree['bar']}, the focus {tree['focus']}")
    check([c["name"] for c in tree["children"][:36] if c["description"] == "väärä"] == [wrong[0]],
          "the wrong key is not described \"väärä\"")
    uia = s.reader("uia")
    if uia is None:
        print("no UI Automation here: read through MSAA only")
    else:
        check(uia["self"]["name"] == L.caption and len(uia["children"]) >= 36,
              f"UI Automation reads the window as {uia['self']} with {len(uia['children'])} children")
    s.key("F1")
    wait_for("the ending cleared by Start", lambda: s.reader("tree")["children"][40]["hidden"], 5)
    wait_for("the time-out told", lambda: s.reader("tree")["children"][40]["name"]
             == "Aika loppui, pisteet 0", s.real_seconds(2) + 4, interval=0.3)
    if uia is not None:
        # Wine's UI Automation finds no focused element from the desktop down: the window says it.
        window = s.reader("uia")["self"]
        check(window["focused"], f"after a time-out UI Automation reads the window as {window}")


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
CASES = cases_of(globals(), __name__)
