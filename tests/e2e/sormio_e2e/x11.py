"""The Linux program on its own X server (Xvfb), played with real X key events (xdotool) and
read back from the screen (xwd); bells counted by xprobe, the harness's own X client. Options:
a sound server with a null sink (--sound), an input method (--im), the accessibility bus
(--a11y) and Orca itself (--orca)."""
import json
import os
import socket
import subprocess
import threading
import time

from .cases import cases_of, needs_sound, red_tile, settle_tones, start_turn, timed
from .common import (A11Y_PROBE, Failure, L, Picture, check, own_env, start_accessibility,
                     start_ibus, start_screen_reader, start_xvfb, wait_for)
from .registry import Run
from .session import Session
from .sound_server import SoundServer


class X11Session(Session):
    """One X server, one bell counter and one run of the game."""
    screen = "1024x768x24"
    probe = None  # the bell counter

    def __init__(self, game, xprobe, sound=None, im=None, a11y=False, orca=False, qt_scale=1):
        super().__init__()
        self.game_path, self.xprobe_path = game, xprobe
        # A display scale as Qt takes it from QT_SCALE_FACTOR (a benchmark's), on a screen that
        # holds the larger window.
        self.scale = qt_scale
        if qt_scale != 1:
            self.screen = "1920x1080x24"
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
        if self.scale != 1:
            self.env["QT_SCALE_FACTOR"] = str(self.scale)
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
    described; the score by its text; the end of a game told by the focus, which moves from the
    hidden bar to a control named by how the game ended."""
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
    glyph = L.tiles[target][0]
    nodes = accessible_tree(s)
    bar = one(nodes, "progress bar")
    check(bar["name"] == glyph and "focused" in bar["states"] and 0 < bar["value"] <= L.start_width,
          f"during a turn the bar reads {bar}")
    check([n["name"] for n in nodes if n["role"] == "label" and len(n["name"]) == 1
           and n["description"] != "pisteet"] == [g for g, _, _ in L.tiles][::-1],
          "the tiles are not named by their characters")
    check([n["name"] for n in nodes if n["description"] == "kohde"] == [glyph], "target not described")
    check(one(nodes, "label", description="pisteet")["name"] == "0", "the score does not read 0")

    told = len(events)
    score = s.last_picture.region(*L.score_box)
    s.key(glyph.lower())
    p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score and q.bar_length())
    glyph = L.tiles[red_tile(p)][0]
    # The focus, as a screen reader follows it, moves to an object named by the new key.
    wait_for("the new key told", lambda: any(
        e["type"] == "object:state-changed:focused" and e.get("detail") == 1 and e["name"] == glyph
        and e.get("role") in ("label", "progress bar") for e in events[told:]), 2)
    wait_for("the score renamed", lambda: any(e.get("role") == "label" and e["name"] == "1"
                                              for e in events), 2)
    wrong = L.tiles[(L.tiles.index(next(t for t in L.tiles if t[0] == glyph)) + 1) % 36][0]
    s.key(wrong.lower())
    s.wait_picture("the game over", lambda q: q.tiles(L.wrong))
    def ending_told(sentence, timeout):
        wait_for(f"{sentence!r} told", lambda: any(
            e["type"] == "object:state-changed:focused" and e.get("detail") == 1
            and e["name"] == sentence for e in events), timeout)

    ending_told(f"Väärä näppäin {wrong}, pisteet 1", 2)
    nodes = accessible_tree(s)
    check("focused" in one(nodes, "label", name=f"Väärä näppäin {wrong}, pisteet 1")["states"],
          "the ending does not hold the focus")
    check("focused" not in one(nodes, "progress bar")["states"], "the hidden bar keeps the focus")
    check([n["name"] for n in nodes if n["description"] == "väärä"] == [wrong], "wrong key not described")
    s.key("a", "F1")  # a key after the game is nobody's; F1 still starts the next
    ending_told("Aika loppui, pisteet 0", 10)  # a turn of 2 s, or 8 s where slowed


@timed
def case_bell_disabled(s):
    """A desktop with its bell switched off: silence, no delay, no error, the game goes on."""
    subprocess.run([s.xprobe_path, "nobell"], env=s.env, check=True, timeout=10)
    target = red_tile(start_turn(s))
    sent = time.monotonic()
    s.key(L.tiles[(target + 1) % 36][0].lower())
    s.wait_picture("the game over", lambda q: q.tiles(L.wrong), timeout=2)
    print(f"game over shown {1000 * (time.monotonic() - sent):.0f} ms after the key")
    p = start_turn(s)
    check(not p.tiles(L.wrong), "the next Start works")
    check(s.game.poll() is None, "the game is still running")


@timed
def case_minimised(s):
    """Minimised during a turn, the countdown goes on and ends the turn as usual."""
    s.real_time()
    moment = time.monotonic()
    start_turn(s)
    s.xdo("windowunmap", "--sync", s.window)
    check(s.settle_bells(moment, 19, timeout=4) == 19, "the hidden turn did not time out")
    took = [b for b in s.bells if b >= moment][0] - moment
    check(took < 2.6, f"the hidden turn took {took:.2f} s")
    s.xdo("windowmap", "--sync", s.window)
    p = s.wait_picture("the window back", lambda q: q.bar_length() == 0)
    check(len(p.tiles(L.target)) == 1 and not p.tiles(L.wrong), "a time-out: one red, no blue")


def case_covered_and_switched(s):
    """Covered by another window and switched away from during a turn; switched back, the
    keys reach the game again without a click."""
    target = red_tile(start_turn(s))
    cover = s._spawn([s.xprobe_path, "cover"], stdout=subprocess.PIPE, text=True)
    cover_id = cover.stdout.readline().strip()
    s.xdo("windowfocus", "--sync", cover_id)
    s.wait_picture("the cover over the game", lambda q: not q.tiles(L.target))
    s.xdo("windowraise", s.window)
    s.xdo("windowfocus", "--sync", s.window)
    moment = time.monotonic()
    s.key(L.tiles[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "the key typed after switching back did not score")
    p = s.picture()
    check(len(p.tiles(L.target)) == 1 and p.bar_length() > 0 and not p.tiles(L.wrong), "the game goes on")


def case_burst_cut_by_start(s):
    """Start drops what is left of a game over's tones: the next hit sounds at once."""
    needs_sound(s)
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        rec.heard_all()  # what the game that opened the audio left, cut short by this Start
        start = rec.position()
        s.key(L.tiles[(target + 1) % 36][0].lower())
        wait_for("the burst", lambda: len(rec.tones_since(start)) >= 3, 3)
        target = red_tile(start_turn(s))
        rec.heard_all()
        cut = len(rec.tones())
        check(cut < 10, f"{cut} tones of the burst played on after Start")
        position = rec.position()
        s.key(L.tiles[target][0].lower())
        wait_for("the hit's tone", lambda: rec.tones_since(position), 2)
        rec.heard_all()
        check(len(rec.tones()) == cut + 1, f"{len(rec.tones()) - cut} tones for one hit")


def case_server_killed(s):
    """The sound server dies during a game over's tones: no hang, the bell rings for the
    tones not played, and the game goes on with the bell."""
    needs_sound(s)
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        # The game that opened the audio may have run out meanwhile: its tones, which this
        # Start cut short, are not this burst's.
        rec.heard_all()
        start = rec.position()
        moment = time.monotonic()
        s.key(L.tiles[(target + 1) % 36][0].lower())
        wait_for("the burst", lambda: len(rec.tones_since(start)) >= 4, 10)
        s.sound.kill()
    played = len(rec.tones_since(start))
    try:
        # What must come, however slowly a machine full of other tests gets to it.
        wait_for("the rest as bells", lambda: played + s.bells_after(moment) >= 19, 10)
    except Failure as failure:
        raise Failure(f"{failure}: {played} tones, then {s.bells_after(moment)} bells")
    s.heard_all()
    total = played + s.bells_after(moment)
    print(f"{played} tones, then {s.bells_after(moment)} bells")
    # The tone cut off by the kill is rung again.
    check(19 <= total <= 20, f"{played} tones and {s.bells_after(moment)} bells")
    target = red_tile(start_turn(s))
    moment = time.monotonic()
    s.key(L.tiles[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "a hit without a server rings the bell")


def case_server_back(s):
    """A server that was gone and comes back: the next game's tones come through it."""
    needs_sound(s)
    s.sound.kill()
    target = red_tile(start_turn(s))
    moment = time.monotonic()
    s.key(L.tiles[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "a hit without a server rings the bell")
    s.sound.start()
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        needs_sound(s, started=True)
        moment = time.monotonic()
        s.key(L.tiles[target][0].lower())
        check(settle_tones(rec, 1) == 1, "no tone from the server that came back")
        check(s.bells_after(moment) == 0, "the bell rang although the server is back")


@timed
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
        s.key(L.tiles[(target + 1) % 36][0].lower())
        check(s.settle_bells(moment, 19) == 19, "a game over rings 19 bells")
        start_turn(s)
        status, took = s.close_and_wait()
        check(status == 0 and took <= 1, f"status {status} after {took:.2f} s")
    finally:
        listener.close()


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
CASES = cases_of(globals(), __name__)
