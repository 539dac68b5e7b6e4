"""The one interface every kind of session offers the cases: a game started as a player starts
it, keys typed as a player types them, pictures of its client area, the beeps heard, what a
screen reader said, and closing. Every process a session starts is ended by its own process id
when the session closes, whatever happened.

A module per kind of session implements it (x11, wayland, wine, browser), and declares in RUNS
which cases it runs (registry.Run).
"""
import mmap
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time

from .common import Failure, L, turn_shown, wait_for
from .sound_server import RATE


class GameClock:
    """The Linux program's clock, set by the harness: a shim preloaded into the program
    (game_clock.c) reads the pace from a file that only this writes. Game time runs on from
    where it stands whenever the pace changes, never back."""

    def __init__(self, shim, folder, rate):
        self.shim, self.path = shim, os.path.join(folder, "game-clock")
        with open(self.path, "wb") as f:
            f.write(bytes(mmap.PAGESIZE))
        with open(self.path, "r+b") as f:
            self.map = mmap.mmap(f.fileno(), mmap.PAGESIZE)
        self.real = self.game = time.monotonic_ns()
        self.rate = 1.0
        self.set_rate(rate)

    def set_rate(self, rate):
        now = time.monotonic_ns()
        self.game, self.real, self.rate = self.game + int((now - self.real) * self.rate), now, rate
        seq = struct.unpack_from("<I", self.map, 0)[0]
        struct.pack_into("<I", self.map, 0, seq + 1)  # odd while it changes
        struct.pack_into("<qqd", self.map, 8, self.real, self.game, rate)
        struct.pack_into("<I", self.map, 0, seq + 2)

    def env(self, env):
        return dict(env, LD_PRELOAD=self.shim, SORMIO_GAME_CLOCK=self.path)


class Session:
    """What a case may ask of a session. The subclass starts what it needs in _start() and
    implements launch(), key(), picture() and close_window(); the rest it may leave as is."""

    scale = 1  # device pixels to the window's pixel
    # The Linux program's turns last four times as long as they would, unless a case asks for
    # real time (a case that times the game): the harness reads the game through screenshots,
    # which a busy machine makes slow. Only where the harness has the shim (clock_shim).
    clock_shim = None
    pace = 0.25
    game_clock = None
    a11y = orca = False
    # Orca finishes its echo of a key before it tells where the focus went (in a web page).
    echo_before_focus = False

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="sormio-e2e-")
        self.procs = []
        self.bells = []
        self.game = None
        self.window = None
        self.last_picture = None
        self.sound = None
        self.spoken_file = None
        self.env = {}

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
        raise NotImplementedError

    def launch(self):
        """Starts the game and waits for its first frame, with the keyboard focus on it."""
        self.started_at = time.monotonic()
        self.game = self._spawn([self.game_path], env=self.game_env(), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        self.window = self.wait_shown()
        self.first_frame_at = None
        wait_for("the first painted frame", lambda: self._painted(), 30)
        self._focus()

    def wait_shown(self):
        """The game's window, waited for as long as the game runs: long enough for a game
        started on a busy machine (with an input method that answers its first question late, or
        Wine starting a program it has not run before); how soon it shows is the benchmarks' to
        measure. A game that ends first fails at once, with its status."""
        def shown():
            if self.game.poll() is not None:
                raise Failure(f"the game ended with status {self.game.returncode} before its "
                              "window showed")
            return self._find_window()
        return wait_for("the game's window", shown, 30)

    def _find_window(self):
        """The game's window, once it shows; None until then."""
        raise NotImplementedError

    def _focus(self):
        """Gives the game's window the keyboard focus."""

    def key(self, *keys):
        """Types keys, named as X keysyms ("F1", "e", "space", "dead_acute")."""
        raise NotImplementedError

    def picture(self):
        """The client area now, as a common.Picture."""
        raise NotImplementedError

    def close_window(self):
        """Asks the game's window to close, as its title bar's button does."""
        raise NotImplementedError

    def use_layout(self, layout):
        """Types on this keyboard layout from now on (where keys are typed as key codes)."""

    def game_env(self):
        """The environment the Linux program starts in: its clock the harness's, where it can."""
        if self.clock_shim and self.game_clock is None:
            self.game_clock = GameClock(self.clock_shim, self.folder, self.pace)
        return self.game_clock.env(self.env) if self.game_clock else self.env

    def slowed(self):
        """Whether the game's clock runs slower than the real one."""
        return bool(self.game_clock) and self.game_clock.rate < 1

    def real_seconds(self, seconds):
        """How long the game's clock takes to run on by `seconds`, in real time."""
        return seconds / self.game_clock.rate if self.slowed() else seconds

    def real_time(self):
        """The game keeps to the real clock from now on, for a case that times it; a session
        may otherwise slow the game's clock down (game_env(), browser.py)."""
        self.pace = 1.0
        if self.game_clock:
            self.game_clock.set_rate(1.0)

    def title_bar(self):
        """The window's caption and the height of its title bar."""
        raise Failure("this session cannot see a title bar")

    def _painted(self):
        """The start screen has been drawn: black tiles with their borders."""
        try:
            picture = self.picture()
        except Failure:
            return False
        if picture.tile_colour(0) == L.idle and picture.pixel(*L.tiles[0][1:]) == L.border:
            self.first_frame_at = time.monotonic()
            return True
        return False

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

    def wait_turn(self):
        """After F1: the turn is running."""
        self.wait_picture("one red tile and the bar", turn_shown)

    # The waits below are for what must come, not for how soon: that is the benchmarks' to
    # measure, and a machine kept busy by other tests can take seconds.
    def wait_picture(self, what, condition, timeout=10):
        return wait_for(what, lambda: (lambda p: p if condition(p) else None)(self.picture()),
                        timeout)

    def spoken(self, since):
        """What the screen reader said after `since` (time.time()), as it was heard: (seconds
        after, text, seconds until the next utterance or its own end)."""
        said = []
        with open(self.spoken_file, "rb") as f:
            for raw in f:
                # speech-dispatcher hands a sentence to its module in the charset it has for
                # the sentence's language, Latin-1 where it has none.
                try:
                    line = raw.decode()
                except UnicodeDecodeError:
                    line = raw.decode("latin-1")
                when, seconds, text = line.rstrip("\n").split(" ", 2)
                said.append([float(when) - since, text, float(seconds)])
        for this, following in zip(said, said[1:]):
            this[2] = min(this[2], following[0] - this[0])  # interrupted
        return [tuple(u) for u in said if u[0] >= 0]

    def wait_until_quiet(self):
        """Until the screen reader has finished saying what it had to say, as a player waits
        for it before starting a game."""
        def quiet():
            said = self.spoken(0)
            return not said or time.time() > said[-1][0] + said[-1][2] + 0.5
        try:
            wait_for("the screen reader to fall silent", quiet, 15, interval=0.1)
        except Failure as failure:
            raise Failure(f"{failure}; it said: {self.spoken(time.time() - 20)}")

    def bells_after(self, moment):
        """Beeps heard since mark() gave `moment`."""
        return len([b for b in self.bells if b >= moment])

    def first_beep_after(self, moment):
        """Seconds from mark() to the first beep after it."""
        return min(b for b in self.bells if b >= moment) - moment

    def heard_all(self):
        """Returns once every beep that the game has made by now (as far as what it shows
        tells: call it once the picture shows what the key brought) is counted."""
        raise NotImplementedError

    def settle_bells(self, moment, expected, timeout=6):
        """Waits for `expected` bells after `moment`, and then for the sign that every beep made
        so far is counted: the count then."""
        wait_for(f"{expected} bells", lambda: self.bells_after(moment) >= expected, timeout)
        self.heard_all()
        return self.bells_after(moment)


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

    def heard_all(self):
        self.recorder.heard_all()

