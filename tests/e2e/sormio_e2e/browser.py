"""The web page in a headless browser, Debian's Chromium or Firefox ESR, served from the loopback
by the project's own server and driven over the browser's own remote protocol (drivers.py).
Needs Debian's python3-websocket and python3-pil."""
import io
import json
import os
import re
import subprocess
import sys
import time

from . import drivers
from .common import (SERVE_WEB, Failure, L, Picture, check, own_env, start_accessibility,
                     start_screen_reader, start_xvfb, wait_for)
from .registry import Run
from .session import CountsTones, Session
from .sound_server import SoundServer


class BrowserSession(CountsTones, Session):
    """The web page in a headless browser (Debian's Chromium or Firefox ESR), served from the
    loopback by the project's own server: keys through the browser's remote protocol as the
    browser reports them on Linux, pictures from its screenshots of the play area, tones
    recorded from a PulseAudio null sink that the browser plays into."""

    def __init__(self, site, browser, clock_rate=1.0, orca=False):
        super().__init__()
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
        return cls(args.web, args.session, 1.0 if args.orca else cls.SLOW_MOTION, args.orca)

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
                self.browser = driver(self._spawn, self.folder, self.env, headless=not self.orca)
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
            # Orca takes a while over a page that has just loaded, hearing nothing meanwhile:
            # the page is played once Orca echoes keys there (F3 twice leaves the sounds on).
            since = time.time()
            self.key("F3", "F3")
            wait_for("Orca to echo a key in the page", lambda: any(
                text.strip() == "F3" for _, text, _ in self.spoken(since)), 30)

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
        box = self.evaluate("JSON.stringify(document.getElementById('client').getBoundingClientRect())")
        box = json.loads(box)
        self.client = (round(box["x"]), round(box["y"]))
        check(box["width"] == L.client_w and box["height"] == L.client_h,
              f"the play area is {box['width']} x {box['height']}")
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



WEB = ["pulseaudio", "py:websocket", "py:PIL"]
RUNS = [
    # The other cases count the tones the page plays; `tones` hears them from the server, whose
    # recording a machine kept busy by other browsers would break up.
    Run("chromium", "chromium", [],
        ["startup", "start", "hit", "miss", "timeout", "sound", "keys_before_start", "dead_keys",
         "tones", "page", "offline", "no_audio", "screens", "touch"], labels=["e2e", "web"], needs=["chromium", *WEB],
        builds=["web"], fixtures=["web"], timeout=120, serial=["tones"]),
    Run("firefox", "firefox", [], ["startup", "hit", "miss", "keys_before_start", "page", "no_audio",
                                   "screens"],
        labels=["e2e", "web"], needs=["firefox-esr", *WEB], builds=["web"], fixtures=["web"],
        timeout=120),
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
