"""The web page in a headless browser, Debian's Chromium or Firefox ESR, served from the loopback
by the project's own server and driven over the browser's own remote protocol (drivers.py).
Needs Debian's python3-websocket and python3-pil."""
import io
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

from . import drivers
from .cases import border_edges, case_hit, cases_of, red_tile, start_turn
from .common import (SERVE_WEB, Failure, L, Picture, check, own_env, start_accessibility,
                     start_screen_reader, start_xvfb, turn_shown, wait_for)
from .registry import Run
from .session import CountsTones, Session
from .sound_server import SoundServer


class BrowserSession(CountsTones, Session):
    """The web page in a headless browser (Debian's Chromium or Firefox ESR), served from the
    loopback by the project's own server: keys through the browser's remote protocol as the
    browser reports them on Linux, pictures from its screenshots of the play area, tones
    recorded from a PulseAudio null sink that the browser plays into."""

    def __init__(self, site, browser, clock_rate=1.0, orca=False, forced_colours=False):
        super().__init__()
        self.forced_colours = forced_colours
        self.site, self.browser_kind, self.sound_kind = site, browser, "pulseaudio"
        self.clock_rate = clock_rate
        self.screened = False
        # With Orca, the browser shows its window on an X server of its own and is typed into
        # with real X key events, which the screen reader hears and may take for itself.
        self.orca = self.a11y = self.echo_before_focus = orca
        self.browser = None
        self.dead = None

    # A case's turns last four times as long as they would, unless it asks for real time: the
    # harness reads the page through its screenshots, which a busy machine makes slow.
    SLOW_MOTION = 0.25

    @classmethod
    def from_args(cls, args):
        return cls(args.web, args.session, 1.0 if args.orca else cls.SLOW_MOTION, args.orca,
                   args.forced_colours)

    def slowed(self):
        return self.clock_rate < 1

    def real_time(self):
        self.clock_rate = 1.0
        self.evaluate("sormioSetClockRate(1)")

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
        if self.browser_kind == "webkit":
            start_xvfb(self.env, self._spawn, "3840x2400x24")  # a 4K monitor's page and its bar
        elif self.orca:
            start_xvfb(self.env, self._spawn, "1280x800x24")
        if self.orca:
            start_accessibility(self.env, self.folder, self._spawn)
        try:
            if self.browser_kind == "webkit":
                self.browser = drivers.WebKit(self._spawn, self.folder, self.env)
            else:
                driver = drivers.Chromium if self.browser_kind == "chromium" else drivers.Firefox
                self.browser = driver(self._spawn, self.folder, self.env, headless=not self.orca,
                                      forced_colours=self.forced_colours)
        except drivers.BrowserError as e:
            raise Failure(str(e))
        # As a player has it: the screen reader runs when the page loads. Not Orca 43 with
        # Firefox, which at times hangs over the load for good (its log stops at the new
        # document's busy state, the blank one before it already gone): there Orca starts on
        # the page as loaded.
        late = self.orca and self.browser_kind == "firefox" and not orca_at_least(48)
        if self.orca and not late:
            self._focus_window()
            self.spoken_file = start_screen_reader(self.env, self.folder, self._spawn)
        self.launch()
        if late:
            self._focus_window()
            self.spoken_file = start_screen_reader(self.env, self.folder, self._spawn)
        if self.browser_kind == "webkit":
            # Typed into with real X key events, through the toolkit's own input method as a
            # player's keys are: dead keys compose there.
            self._focus_window()
        if self.orca:
            # Orca takes a while over a page that has just loaded, hearing nothing meanwhile,
            # and keys typed then are never echoed: the page is played once Orca echoes keys
            # there, typed again until it does (F3 twice leaves the sounds as they were).
            since = time.time()
            sent = 0.0

            def echoed():
                nonlocal sent
                if any(text.strip() == "F3" for _, text, _ in self.spoken(since)):
                    return True
                if time.monotonic() - sent > 3:
                    self.key("F3", "F3")
                    sent = time.monotonic()
                return False
            try:
                wait_for("Orca to echo a key in the page", echoed, 30)
            except Failure as failure:
                raise Failure(f"{failure}; heard: {self.spoken(since - 10)}")

    def serve(self):
        """The page's own server on a free port of the loopback."""
        inject = []
        if self.browser_kind == "webkit":
            # Its driver runs no script before the page's own: the server adds it to the page.
            inject = ["--inject", os.path.join(self.folder, "tone_log.js")]
            with open(inject[1], "w") as f:
                f.write(drivers.TONE_LOG)
        self.server = self._spawn([sys.executable, SERVE_WEB, *inject, self.site],
                                  stdout=subprocess.PIPE, text=True)
        self.url = self.server.stdout.readline().strip()
        check(self.url.startswith("http://127.0.0.1:"), "the page's server did not start")

    def launch(self):
        self.started_at = time.monotonic()
        self.browser.navigate(self.url)
        self.wait_ready()

    def reload(self):
        """Loads the page again, as a player does, and waits for the new document to be ready."""
        self.evaluate("window.sormioBefore = 1")
        self.browser.reload()
        wait_for("the new document", lambda: self.browser.evaluate("window.sormioBefore === undefined"),
                 20)
        self.wait_ready()

    def wait_ready(self):
        """The page has loaded its program and its fonts, and shows the start screen."""
        def ready():
            try:  # the document may still be on its way
                return self.browser.evaluate(
                    "document.documentElement.dataset.ready !== undefined && document.fonts.ready"
                    ".then(() => document.fonts.status === 'loaded')")
            except drivers.BrowserError:
                return False
        wait_for("the page's program", ready, 20)
        # Fitted to the browser's window, which WebKit's may still be sizing when the page
        # loads: the page fits itself again once it has its size.
        boxes = []

        def fitted():
            boxes.append(json.loads(self.evaluate(
                "JSON.stringify(document.getElementById('client').getBoundingClientRect())")))
            return boxes[-1]["width"] == L.client_w and boxes[-1]["height"] == L.client_h
        try:
            wait_for("the play area at its size", fitted, 10)
        except Failure:
            raise Failure(f"the play area is {boxes[-1]['width']} x {boxes[-1]['height']}")
        self.client = (round(boxes[-1]["x"]), round(boxes[-1]["y"]))
        self.evaluate(f"sormioSetClockRate({self.clock_rate})")
        wait_for("the first painted frame", self._painted, 10)

    def _focus_window(self):
        """The browser's window takes the X keyboard focus, and the page in it the browser's
        (a click into the empty page: Firefox leaves it in its address bar), as a player has
        it when a page loads."""
        def window():
            # WebKit's browser is its driver's child.
            which = (["--class", "MiniBrowser"] if self.browser_kind == "webkit"
                     else ["--pid", str(self.browser.proc.pid)])
            out = subprocess.run(["xdotool", "search", "--onlyvisible", *which],
                                 env=self.env, capture_output=True, text=True, timeout=10).stdout
            return out.split()[:1]
        self.window = wait_for("the browser's window", window, 10)[0]
        self.xdo("windowfocus", "--sync", self.window)
        x, y = self.evaluate("JSON.stringify([screenX + outerWidth / 2, screenY + outerHeight / 2])"
                             ).strip("[]").split(",")
        self.xdo("mousemove", "--sync", str(round(float(x))), str(round(float(y))), "click", "1")

    def xdo(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True, timeout=10)

    def use_screen(self, width, height, scale, touch=False):
        """The page shown in a viewport of width x height CSS pixels at `scale` device pixels
        to the CSS pixel, as on that screen (`touch`: a phone's or tablet's), and laid out for
        it; pictures are taken of the window where the page has put it. False where the
        browser's window cannot be made that small."""
        if touch:
            shown = self.browser.viewport(width, height, scale, touch=True)
        else:
            shown = self.browser.viewport(width, height, scale)
        self.screened = True
        self.evaluate("new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)))")
        return shown is not False

    def tap(self, selector):
        """A tap in the middle of the element."""
        x, y = json.loads(self.evaluate(
            f"(r => JSON.stringify([r.x + r.width / 2, r.y + r.height / 2]))"
            f"(document.querySelector({json.dumps(selector)}).getBoundingClientRect())"))
        self.browser.tap(x, y)

    def screen(self):
        """The whole viewport in device pixels, as a PIL image."""
        import PIL.Image
        return PIL.Image.open(io.BytesIO(self.browser.screenshot())).convert("RGB")

    def evaluate(self, expression):
        try:
            return self.browser.evaluate(expression)
        except drivers.BrowserError as e:
            raise Failure(str(e))

    def _focus(self):
        pass

    def use_layout(self, layout):
        pass  # the keys are sent as a browser reports them from any layout

    def key(self, *keys):
        if self.orca or self.browser_kind == "webkit":
            self.xdo("key", "--clearmodifiers", *keys)
            return
        for name in keys:
            press = drivers.KeyPress(name, self.dead)
            self.dead = "\u0301" if name == "dead_acute" else None
            self.browser.key(press)

    def picture(self):
        import PIL.Image  # Debian's python3-pil, needed only where a browser plays
        if self.screened:
            box = json.loads(self.evaluate(
                "(r => JSON.stringify([r.x, r.y, r.width, r.height].map(v => v * devicePixelRatio)))"
                "(document.getElementById('client').getBoundingClientRect())"))
            x, y, w, h = (round(v) for v in box)
            scale = w / L.client_w
            image = self.screen().crop((x, y, x + w, y + max(h, round(L.client_h * scale))))
        else:
            png = self.browser.screenshot(self.client[0], self.client[1], L.client_w, L.client_h)
            image, scale = PIL.Image.open(io.BytesIO(png)).convert("RGB"), 1
        self.last_picture = Picture(ppm=b"P6 %d %d 255\n" % image.size + image.tobytes(), scale=scale)
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

    def heard_all(self):
        """The page notes a tone as it hands it to its audio, in the same task that handled
        the key: once the picture shows that key handled, its tones are noted."""

    def close(self):
        if self.browser is not None:
            self.browser.close()
        super().close()


# Phones upright and on their side, a tablet, laptops and a 4K monitor: (width, height) in CSS
# pixels, device pixels to the CSS pixel.
SCREENS = [(390, 844, 3), (844, 390, 3), (768, 1024, 2), (1366, 768, 1), (1920, 1080, 1),
           (3840, 2160, 1)]


def window_in_view(shot, width, height, dpr):
    """Where a screenshot of the whole viewport shows the window, found by the keyboard's lines
    (the window's place and scale follow from it): (left, top, width, height) in device pixels
    and device pixels to the window's pixel; a failure where it is cut off or not centred."""
    import PIL.Image
    import PIL.ImageChops
    x0, y0 = min(l for _, l, _ in L.tiles), min(t for _, _, t in L.tiles)
    x1 = max(l for _, l, _ in L.tiles) + L.tile_size
    where = f"at {width} x {height}, {dpr} device pixels to the pixel"
    lines = PIL.ImageChops.difference(shot, PIL.Image.new("RGB", shot.size, L.border)).convert("L")
    lines = lines.point(lambda v: 255 if v == 0 else 0)
    # Rows along the tiles' edges are long runs of the line's colour; text has none.
    rows = [y for y in range(shot.height)
            if lines.crop((0, y, shot.width, y + 1)).histogram()[255] >= 8 * L.tile_size * dpr / 3]
    check(rows, f"no keyboard found {where}")
    box = lines.crop((0, rows[0], shot.width, rows[-1] + 1)).getbbox()
    k = (box[2] - box[0]) / (x1 - x0)
    left, top = box[0] - round(x0 * k), rows[0] - round(y0 * k)
    w, h = round(L.client_w * k), round(L.client_h * k)
    menu = round(20 * k)
    check(left >= 0 and top - menu >= 0 and left + w <= shot.width and top + h <= shot.height,
          f"the window is cut off {where}: {w} x {h} device pixels at ({left}, {top})")
    # Centred to a CSS pixel: the window is placed on whole ones.
    check(abs(left - (shot.width - left - w)) <= 2 * dpr and abs(top - menu - (shot.height - top - h)) <= 2 * dpr,
          f"the window is not centred {where}: at ({left}, {top}) of {shot.size}")
    if L.client_w <= width and L.client_h + 20 <= height:
        check(abs(k - dpr) < 0.01, f"the window is scaled by {k / dpr:.3f} {where}, where it fits")
    return left, top, w, h, k


def case_screens(s):
    """On every screen the whole window is in view, centred, the page never scrolls, and every
    tile's lines are the same whole number of device pixels; the window keeps its own size where
    it fits. Judged from screenshots."""
    for width, height, dpr in SCREENS:
        where = f"at {width} x {height}, {dpr} device pixels to the pixel"
        if not s.use_screen(width, height, dpr):
            print(f"{where}: not tried, the browser's window cannot be made so small")
            continue
        shot = s.screen()
        left, top, w, h, k = window_in_view(shot, width, height, dpr)
        client = shot.crop((left, top, left + w, top + h))
        p = Picture(ppm=b"P6 %d %d 255\n" % client.size + client.tobytes(), scale=k)
        edges = border_edges(p)
        check(all(edges.values()) and len(set(edges.values())) == 1,
              f"the tiles' lines {where} are {sorted(set(edges.values()))} device pixels")
        scrolls = s.evaluate("(e => e.scrollWidth > innerWidth || e.scrollHeight > innerHeight)"
                             "(document.scrollingElement)")
        check(not scrolls, f"the page scrolls {where}")
        print(f"{where}: {w} x {h} device pixels, lines {edges[(0, 'left')]}")


def case_first_paint(s):
    """Before its script has run, the page already shows the whole window in view and centred,
    on a phone and on a 4K monitor: nothing moves into view once the script comes."""
    s.browser.hold_back("sormio.js")
    for width, height, dpr in ((390, 844, 3), (3840, 2160, 1)):
        s.use_screen(width, height, dpr)
        s.evaluate("window.sormioBefore = 1")
        s.browser.navigate(s.url)
        wait_for("the page's fonts", lambda: s.evaluate(
            "window.sormioBefore === undefined && document.readyState !== 'loading' && "
            "document.fonts.ready.then(() => document.fonts.status === 'loaded')"), 10)
        check(s.evaluate("document.documentElement.dataset.ready === undefined"),
              "the page's script ran")
        left, top, w, h, _ = window_in_view(s.screen(), width, height, dpr)
        print(f"first paint at {width} x {height}, {dpr} device pixels to the pixel: "
              f"{w} x {h} device pixels at ({left}, {top})")


def case_forced_colours(s):
    """In a contrast theme, where the browser forces a page's colours, the play area keeps the
    game's own: after Start one tile red apart from the rest, the tiles' lines and the bar drawn;
    after a wrong key that tile blue apart from both. The menu takes the theme's colours."""
    check(s.evaluate("matchMedia('(forced-colors: active)').matches"), "no forced colours here")
    p = start_turn(s)
    edges = border_edges(p)
    check(all(edges.values()), f"the tiles' lines are gone in {sum(not e for e in edges.values())} places")
    target = red_tile(p)
    wrong = (target + 1) % 36
    s.key(L.tiles[wrong][0].lower())
    p = s.wait_picture("the game over", lambda q: q.tiles(L.wrong))
    check(p.tiles(L.wrong) == [wrong] and p.tiles(L.target) == [target],
          f"the wrong key {p.tiles(L.wrong)} and the target {p.tiles(L.target)}")
    menu = s.evaluate("getComputedStyle(document.getElementById('menubar')).backgroundColor")
    check(menu != "rgb(240, 240, 240)", "the menu keeps its own colours in a contrast theme")


def case_new_release(s):
    """A returning player has the new release within two loads, from a host whose caching
    headers let the browser keep the old one's files for an hour: the page's worker keeps one
    release's files, the new one's alone once it is in place."""
    site = os.path.join(s.folder, "site")
    shutil.copytree(s.site, site)
    os.killpg(s.server.pid, signal.SIGTERM)
    s.server.wait()
    s.server = s._spawn([sys.executable, SERVE_WEB, "--max-age", "3600", site],
                        stdout=subprocess.PIPE, text=True)
    s.url = s.server.stdout.readline().strip()
    s.launch()
    wait_for("the worker", lambda: s.evaluate("!!navigator.serviceWorker.controller"), 10)
    s.reload()  # played again from the worker's cache
    old = s.evaluate("caches.keys().then(k => k.join())")
    # The next release: another page and script, and the worker of another list of files.
    for name, before, after in (("index.html", "<head>", '<head>\n<meta name="release" content="next">'),
                                ("sormio.js", '"use strict";', '"use strict";\nwindow.sormioRelease = "next";'),
                                ("sw.js", old, old + "-next")):
        path = os.path.join(site, name)
        with open(path) as f:
            text = f.read()
        check(before in text, f"{name} is not as the build writes it")
        with open(path, "w") as f:
            f.write(text.replace(before, after, 1))
    shown = "!!document.querySelector('meta[name=release]') && window.sormioRelease === 'next'"
    for load in (1, 2):
        s.reload()
        if s.evaluate(shown):
            break
        if load == 1:  # the new worker, which the load found, in place
            wait_for("the next release's worker", lambda: s.evaluate(
                f"caches.keys().then(k => !k.includes({old!r}))"), 20)
    else:
        raise Failure("the new release's page not shown after two loads")
    kept = s.evaluate("caches.keys().then(k => k.join())")
    check(kept == old + "-next", f"the worker keeps {kept!r}")
    for name, mark in (("./", 'name="release"'), ("sormio.js", "sormioRelease")):
        text = s.evaluate(f"caches.open({kept!r}).then(c => c.match({name!r})).then(r => r.text())")
        check(mark in text, f"the new release's cache holds the old release's {name}")
    print(f"the new release shown at load {load}")
    case_hit(s)


def case_touch(s):
    """Played on a phone by touch alone: Start by two taps brings up the on-screen keyboard
    (the focus in a field that takes text) and keeps it up through the game, a tap on the game
    included; what the keyboard types counts as typed, whether committed at once or composed
    into a word, once; a keydown that names no key, a word the keyboard replaces and a word
    it predicts type nothing; an accented letter is a miss without a blue tile."""
    s.use_screen(390, 844, 3, touch=True)
    s.tap("#mnuohjelma")
    s.tap("#mnustart")
    focused = lambda: s.evaluate("document.activeElement.id")
    check(focused() == "typing", f"after a tap on Start the focus is on {focused()!r}")
    p = s.wait_picture("one red tile and the bar", turn_shown)
    word = ""
    for composing in (False, True, True):
        glyph = L.tiles[red_tile(p)][0].lower()
        score = p.region(*L.score_box)
        word = word + glyph if composing else ""
        s.browser.typed(word if composing else glyph, composing=composing)
        p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score and q.bar_length())
        check(not p.tiles(L.wrong), f"{glyph} typed on the on-screen keyboard was a wrong key")
    s.tap("#Lblotsikko")
    check(focused() == "typing", f"after a tap on the game the focus is on {focused()!r}")
    score = p.region(*L.score_box)
    s.browser.typed(word[::-1] if len(word) > 1 and word[::-1] != word else "xq", composing=True)
    s.browser.typed("kissa ")
    # Then the lit key, which must score once the words before it are handled, and had they
    # typed a key, could not.
    p = s.picture()
    check(p.bar_length() and p.region(*L.score_box) == score and not p.tiles(L.wrong),
          "a replaced or predicted word typed a key")
    s.browser.typed(L.tiles[red_tile(p)][0].lower())
    p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score or not q.bar_length())
    check(p.bar_length() and not p.tiles(L.wrong), "a replaced or predicted word typed a key")
    s.browser.typed("\u00e9")
    p = s.wait_picture("the game over", lambda q: q.bar_length() == 0)
    check(not p.tiles(L.wrong), "\u00e9 was taken for a key of the game")


def case_page(s):
    """What only a page has to get right: the browser's own F1 and F3 prevented, its other
    shortcuts left alone, nothing fetched from elsewhere and nothing stored, the window inside
    the viewport; what a screen reader is handed during and after a game; and "Lopeta", which
    leaves the page as freshly loaded."""
    check(s.evaluate("document.title") == L.caption, "the document's title")
    if s.browser_kind == "chromium":
        errors = s.browser.page("Page.getInstallabilityErrors")["installabilityErrors"]
        check(not errors, f"not installable: {errors}")
    box = json.loads(s.evaluate("JSON.stringify(document.getElementById('Frmsormio').getBoundingClientRect())"))
    check(box["right"] <= drivers.VIEWPORT[0] and box["bottom"] <= drivers.VIEWPORT[1],
          f"the window reaches {box['right']:.0f} x {box['bottom']:.0f}")
    s.key("F10", "Down", "Return")  # the menu from the keyboard: its second item
    sound_item = "document.getElementById('mnusound').firstChild.textContent"
    wait_for("F10, Down and Enter to switch the sounds off",
             lambda: s.evaluate(sound_item) == "Äänet poissa", 2)
    s.key("Tab", "Return", "Down", "Return")  # without F keys: Tab to the menu
    wait_for("Tab, Enter, Down and Enter to switch them on",
             lambda: s.evaluate(sound_item) == "Äänet päällä", 2)
    s.key("F3", "F3")
    s.evaluate("window.seen = []; addEventListener('keydown', e => seen.push(e.key + ' ' + e.defaultPrevented))")
    target = red_tile(start_turn(s))
    s.key("F3", "F3")
    # Real keys (WebKit's) reach the page a moment after they are typed.
    seen = wait_for("the page to see the keys", lambda: (lambda k: k if k.count(",") >= 2 else None)(
        s.evaluate("seen.join()")), 5)
    check(seen == "F1 true,F3 true,F3 true", f"F1 and F3 reached the browser: {seen}")
    if s.browser_kind == "chromium":
        key = L.tiles[target][0]
        tree = s.browser.accessibility_tree()
        check(("progressbar", key, "", "") in [(r, n, d, "") for r, n, d, _ in tree],
              f"no progress bar named {key}")
        check(all(("image", g, "", "") in tree for g, _, _ in L.tiles), "a tile is unnamed")
        check(("generic", "", "pisteet", "") in tree and ("StaticText", "0", "", "") in tree,
              "the score is not told as 0, pisteet")
    focused = "document.activeElement.getAttribute('aria-label')"
    check(s.evaluate(focused) == L.tiles[target][0], "the focus is not on the lit tile")
    wrong = (target + 7) % 36
    s.key(L.tiles[wrong][0].lower())
    s.wait_picture("the blue key", lambda q: q.tiles(L.wrong))
    told = s.evaluate(focused)
    check(told == f"Väärä näppäin {L.tiles[wrong][0]}, pisteet 0", f"the end is told as {told!r}")
    if s.browser_kind == "chromium":
        check(("image", L.tiles[wrong][0], "väärä", "") in s.browser.accessibility_tree(),
              "the wrong key is not told")
    start_turn(s)
    moment = s.mark()
    s.evaluate("document.getElementById('mnuohjelma').click(); document.getElementById('mnuquit').click()")
    p = s.wait_picture("the page as loaded", lambda q: q.bar_length() == 0 and not q.tiles(L.target))
    # Three seconds on by the page's clock, past where the turn would have run out, and two
    # frames drawn since.
    s.evaluate("sormioAdvanceClock(3000)")
    s.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(() => r(1))))")
    check(s.picture().region(0, 0, L.client_w, L.client_h) == p.region(0, 0, L.client_w, L.client_h), "the page changed after Lopeta")
    check(not p.region_has(*L.score_box, L.white), "a score is shown after Lopeta")
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


def case_no_audio(s):
    """Where no audio plays, every tone rings the platform's bell instead: a page, which has
    none of the system's, buzzes the device where it can."""
    s.evaluate("window.AudioContext = function () { throw new Error('no audio here'); };"
               "window.sormioBuzzes = 0; navigator.vibrate = () => ++sormioBuzzes > 0")
    target = red_tile(start_turn(s))
    s.key(L.tiles[target][0].lower())
    wait_for("the hit's bell", lambda: s.evaluate("sormioBuzzes") >= 1, 2)
    target = red_tile(s.picture())
    s.key(L.tiles[(target + 1) % len(L.tiles)][0].lower())
    wait_for("the game over's bells", lambda: s.evaluate("sormioBuzzes") >= 20, 2)
    s.heard_all()
    check(s.evaluate("sormioBuzzes") == 20, f"{s.evaluate('sormioBuzzes')} bells for 20 tones")


def case_offline(s):
    """After one visit the page loads and plays with its server gone."""
    wait_for("the service worker", lambda: s.evaluate(
        "navigator.serviceWorker.ready.then(() => !!navigator.serviceWorker.controller || "
        "caches.keys().then(k => k.length > 0))"), 10)
    os.killpg(s.server.pid, signal.SIGTERM)
    s.server.wait()
    s.reload()
    check(s.evaluate("!!navigator.serviceWorker.controller"), "the page did not come from its cache")
    case_hit(s)


WEB = ["pulseaudio", "py:websocket", "py:PIL"]
RUNS = [
    # The other cases count the tones the page plays; `tones` hears them from the server, whose
    # recording a machine kept busy by other browsers would break up.
    Run("chromium", "chromium", [],
        ["startup", "start", "hit", "miss", "timeout", "sound", "keys_before_start", "dead_keys",
         "tones", "page", "offline", "new_release", "first_paint", "no_audio", "screens", "touch"],
        labels=["e2e", "web"], needs=["chromium", *WEB], builds=["web"], fixtures=["web"],
        timeout=120, serial=["tones"]),
    Run("firefox", "firefox", [], ["startup", "hit", "miss", "keys_before_start", "page", "no_audio",
                                   "screens"],
        labels=["e2e", "web"], needs=["firefox-esr", *WEB], builds=["web"], fixtures=["web"],
        timeout=120),
    # In a contrast theme: Chromium's forced colours as Windows' themes set them, and Firefox
    # overriding the page's colours with its own.
    *(Run(kind, kind, ["--forced-colours"], ["forced_colours"],
          labels=["e2e", "web"], needs=[browser, *WEB], builds=["web"], fixtures=["web"], timeout=120)
      for kind, browser in (("chromium", "chromium"), ("firefox", "firefox-esr"))),
]
# Safari's engine, as Debian has it: WebKitGTK's browser shown on an X server of its own.
RUNS.append(Run("webkit", "webkit", [], ["startup", "hit", "miss", "timeout", "keys_before_start",
                                         "dead_keys", "page", "no_audio", "screens"],
                labels=["e2e", "web"], needs=["WebKitWebDriver", "Xvfb", "xwd", "xdotool", *WEB],
                builds=["web"], fixtures=["web"], timeout=120))
# What Orca says of the page and when it is heard, as on the desktop (x11.py); the browser
# shows its window on an X server and hands its pages to the accessibility bus.
ORCA = ["Xvfb", "xdotool", "/usr/libexec/at-spi-bus-launcher", "py:pyatspi", "orca",
        "speech-dispatcher", "espeak-ng"]


def orca_at_least(major):
    try:
        out = subprocess.run(["orca", "--version"], capture_output=True, text=True, timeout=30).stdout
    except (OSError, subprocess.TimeoutExpired):
        return False
    found = re.search(r"(\d+)\.", out)
    return found is not None and int(found.group(1)) >= major


RUNS += [Run(kind, kind + ".orca", ["--orca"], ["spoken"], labels=["e2e", "web"],
             needs=[browser, *WEB, *ORCA], builds=["web"], fixtures=["web"], timeout=120)
         for kind, browser in (("chromium", "chromium"), ("firefox", "firefox-esr"))]
SESSIONS = {"chromium": BrowserSession, "firefox": BrowserSession, "webkit": BrowserSession}
CASES = cases_of(globals(), __name__)
