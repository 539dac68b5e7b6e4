"""Debian's own browsers, headless, driven over their own remote protocols (no driver program,
no browser download): Chromium over the DevTools protocol, Firefox ESR over WebDriver BiDi.
Each starts in a fresh profile, and the caller stops it by its process group.

    browser = Chromium(spawn, folder, env)   # or Firefox(...)
    browser.navigate(url); browser.evaluate("1 + 1"); browser.key(KeyPress(...))
    browser.screenshot(x, y, width, height)  # PNG bytes of that part of the viewport
"""
import base64
import json
import os
import re
import subprocess
import time
import unicodedata

from .common import read_xwd, wait_for

VIEWPORT = (1024, 625)

# Run in the page before its own script: lets the harness set the pace of the page's clock;
# notes when each tone the page plays is due to sound, on the page's clock (performance.now(),
# ms), and forgets a tone stopped before it sounded.
# A tone is due later than asked for when the tones before it still play. Also notes what the
# page's Content Security Policy refused.
TONE_LOG = """
(() => {
    // The page's clock, which the harness may slow down (sormioSetClockRate) so that a busy
    // machine cannot end a turn before the harness has seen it; events' time stamps keep to it.
    const realNow = Performance.prototype.now;
    const realStamp = Object.getOwnPropertyDescriptor(Event.prototype, "timeStamp").get;
    let rate = 1, realAt = 0, pageAt = 0;
    const pageTime = (real) => pageAt + (real - realAt) * rate;
    window.sormioSetClockRate = (r) => {
        const real = realNow.call(performance);
        pageAt = pageTime(real);
        realAt = real;
        rate = r;
    };
    // Moves the page's clock on at once, as a machine that stalled would.
    window.sormioAdvanceClock = (ms) => { pageAt += ms; };
    Performance.prototype.now = function () { return pageTime(realNow.call(this)); };
    Object.defineProperty(Event.prototype, "timeStamp", {
        get() { return pageTime(realStamp.call(this)); }, configurable: true});
    window.sormioViolations = [];
    addEventListener("securitypolicyviolation", (e) => sormioViolations.push(e.violatedDirective));
    const due = [];
    window.sormioTones = due;
    window.sormioToneCalls = [];  // when the page asked for each, for a benchmark
    const start = AudioBufferSourceNode.prototype.start;
    const stop = AudioBufferSourceNode.prototype.stop;
    AudioBufferSourceNode.prototype.start = function (when = 0, ...rest) {
        const ahead = Math.max(0, when - this.context.currentTime) * 1000 * rate;
        sormioToneCalls.push(performance.now());
        this.sormioDue = performance.now() + ahead;
        due.push(this.sormioDue);
        return start.call(this, when, ...rest);
    };
    AudioBufferSourceNode.prototype.stop = function (...args) {
        if (this.sormioDue > performance.now()) {
            due.splice(due.indexOf(this.sormioDue), 1);
        }
        return stop.apply(this, args);
    };
})();
"""


class BrowserError(Exception):
    pass


class KeyPress:
    """One key as a browser on Linux reports it: its `key`, the character it types (which a
    dead key before it may have composed) and its code and virtual key code."""

    NAMED = {"F1": ("F1", "F1", 112, ""), "F3": ("F3", "F3", 114, ""),
             "Return": ("Enter", "Enter", 13, "\r"), "space": (" ", "Space", 32, " "),
             "Escape": ("Escape", "Escape", 27, ""), "BackSpace": ("Backspace", "Backspace", 8, ""),
             "Tab": ("Tab", "Tab", 9, ""),
             "F10": ("F10", "F10", 121, ""), "Down": ("ArrowDown", "ArrowDown", 40, ""),
             "dead_acute": ("Dead", "Equal", 0xDD, "")}

    def __init__(self, name, dead=None):
        if name in self.NAMED:
            self.key, self.code, self.vk, self.text = self.NAMED[name]
        elif len(name) == 1:
            self.key, self.text, self.vk = name, name, ord(name.upper())
            self.code = ("Key" if name.isalpha() else "Digit") + name.upper()
        else:
            raise BrowserError(f"no such key: {name}")
        if dead and self.text:
            # What the dead key leaves: the composed letter, or the accent and the key itself.
            composed = unicodedata.normalize("NFC", self.text + dead)
            self.text = composed if len(composed) == 1 else unicodedata.normalize("NFC", dead) + self.text


class Remote:
    """One browser over a WebSocket: a command out, its answer back, events in between passed
    over."""

    def connect(self, address):
        import websocket  # Debian's python3-websocket, needed only where a browser plays
        self.ws = websocket.create_connection(address, timeout=30, suppress_origin=True)
        self.next_id = 0

    def exchange(self, method, message, error):
        """Sends message with a new id; its reply, or BrowserError with what error() finds."""
        self.next_id += 1
        self.ws.send(json.dumps(dict(message, id=self.next_id)))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if error(reply):
                    raise BrowserError(f"{method}: {error(reply)}")
                return reply.get("result", {})

    def close(self):
        try:
            self.ws.close()
        except Exception:
            pass


class Chromium(Remote):
    """Chromium over the DevTools protocol, one page; on the X server of env, handing its
    pages to screen readers, unless headless."""

    def __init__(self, spawn, folder, env, headless=True, forced_colours=False):
        profile = os.path.join(folder, "chromium")
        os.makedirs(profile)
        # Shown as an app's window: no address bar to take the keyboard focus from the page.
        shown = ["--force-renderer-accessibility", "--window-position=0,0", "--app=about:blank"]
        # A Finnish page is not offered in English.
        os.makedirs(os.path.join(profile, "Default"))
        with open(os.path.join(profile, "Default", "Preferences"), "w") as f:
            json.dump({"translate": {"enabled": False}}, f)
        self.proc = spawn(
            ["chromium", *(["--headless"] if headless else shown), "--no-sandbox", "--disable-gpu",
             "--no-first-run",
             "--remote-debugging-port=0", f"--user-data-dir={profile}",
             "--window-size=%d,%d" % VIEWPORT, "--disable-background-networking",
             "--disable-component-update", "--disable-default-apps", "--disable-sync",
             "--password-store=basic", "--use-mock-keychain", "about:blank"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, "DevToolsActivePort")
        deadline = time.monotonic() + 20
        while not (os.path.exists(port_file) and len(open(port_file).read().split()) == 2):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise BrowserError("Chromium did not open its remote port")
            time.sleep(0.05)
        port, path = open(port_file).read().split()
        self.connect(f"ws://127.0.0.1:{port}{path}")
        if headless:
            target = self.call("Target.createTarget", url="about:blank")["targetId"]
        else:
            target = wait_for("Chromium's page", lambda: next(
                (t["targetId"] for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page"),
                None), 20)
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.page("Page.enable")
        self.page("Runtime.enable")
        self.page("Emulation.setDeviceMetricsOverride", width=VIEWPORT[0], height=VIEWPORT[1],
                  deviceScaleFactor=1, mobile=False)
        self.page("Page.addScriptToEvaluateOnNewDocument", source=TONE_LOG)
        self.page("Page.bringToFront")
        self.page("Emulation.setFocusEmulationEnabled", enabled=True)
        if forced_colours:  # as a contrast theme of Windows has it
            self.page("Emulation.setEmulatedMedia",
                      features=[{"name": "forced-colors", "value": "active"}])

    def call(self, method, session=None, **params):
        message = {"method": method, "params": params}
        if session:
            message["sessionId"] = session
        return self.exchange(method, message, lambda r: r.get("error", {}).get("message"))

    def page(self, method, **params):
        return self.call(method, self.session, **params)

    def navigate(self, url):
        self.page("Page.navigate", url=url)

    def reload(self):
        self.page("Page.reload")

    def evaluate(self, expression):
        result = self.page("Runtime.evaluate", expression=expression, awaitPromise=True,
                           returnByValue=True)
        if "exceptionDetails" in result:
            raise BrowserError(f"{expression}: {result['exceptionDetails'].get('text')}")
        return result["result"].get("value")

    def key(self, press):
        down = {"key": press.key, "code": press.code, "windowsVirtualKeyCode": press.vk}
        if press.text:
            self.page("Input.dispatchKeyEvent", type="keyDown", text=press.text,
                      unmodifiedText=press.text, **down)
        else:
            self.page("Input.dispatchKeyEvent", type="rawKeyDown", **down)
        self.page("Input.dispatchKeyEvent", type="keyUp", **down)

    def screenshot(self, x=None, y=None, width=None, height=None):
        """The area given in CSS pixels, at one device pixel to the CSS pixel; without one, the
        whole viewport in device pixels."""
        clip = {} if x is None else {"clip": {"x": x, "y": y, "width": width, "height": height, "scale": 1}}
        return base64.b64decode(self.page("Page.captureScreenshot", format="png", **clip)["data"])

    def viewport(self, width, height, scale, touch=False):
        """A screen of that size in CSS pixels; with `touch`, a phone's or tablet's: taps for
        the mouse, and an on-screen keyboard (`typed`) instead of keys."""
        self.page("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=scale, mobile=touch)
        self.page("Emulation.setTouchEmulationEnabled", enabled=touch, maxTouchPoints=5)

    def hold_back(self, name):
        """The page's requests for the file `name` are never answered, its worker's cache
        passed by."""
        self.page("Network.enable")
        self.page("Network.setBypassServiceWorker", bypass=True)
        self.page("Fetch.enable", patterns=[{"urlPattern": "*/" + name}])

    def tap(self, x, y):
        self.page("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": x, "y": y}])
        self.page("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])

    def typed(self, text, composing=False):
        """As an on-screen keyboard types: a keydown that names no key, then the text, committed
        or (`composing`) as the word it is composing so far."""
        unnamed = {"key": "Unidentified", "windowsVirtualKeyCode": 229, "nativeVirtualKeyCode": 229}
        self.page("Input.dispatchKeyEvent", type="rawKeyDown", **unnamed)
        if composing:
            self.page("Input.imeSetComposition", text=text, selectionStart=len(text),
                      selectionEnd=len(text))
        else:
            self.page("Input.insertText", text=text)
        self.page("Input.dispatchKeyEvent", type="keyUp", **unnamed)

    def accessibility_tree(self):
        """The page's accessible objects as the browser hands them to a screen reader:
        (role, name, description, value) of each that is not ignored."""
        nodes = self.page("Accessibility.getFullAXTree")["nodes"]
        out = []
        for n in nodes:
            if n.get("ignored"):
                continue
            field = lambda k: str((n.get(k) or {}).get("value", ""))
            out.append((field("role"), field("name"), field("description"), field("value")))
        return out


class Firefox(Remote):
    """Firefox ESR over WebDriver BiDi, one page; on the X server of env unless headless."""

    KEYS = {"F1": "\ue031", "F3": "\ue033", "F10": "\ue03a", "Enter": "\ue007", "Escape": "\ue00c",
            "Backspace": "\ue003", "ArrowDown": "\ue015", "Tab": "\ue004"}

    def __init__(self, spawn, folder, env, headless=True, forced_colours=False):
        profile = os.path.join(folder, "firefox")
        os.makedirs(profile)
        with open(os.path.join(profile, "user.js"), "w") as f:
            for pref, value in (("browser.shell.checkDefaultBrowser", "false"),
                                ("datareporting.policy.dataSubmissionEnabled", "false"),
                                ("toolkit.telemetry.reportingpolicy.firstRun", "false"),
                                ("browser.startup.homepage_override.mstone", '"ignore"'),
                                ("app.update.disabledForTesting", "true"),
                                ("media.autoplay.default", "0"),
                                # The page's colours overridden by the player's, always.
                                *[("browser.display.document_color_use", "2")] * forced_colours):
                f.write(f'user_pref("{pref}", {value});\n')
        log = os.path.join(folder, "firefox.log")
        self.proc = spawn(["firefox-esr", *(["--headless"] if headless else []), "--no-remote", "--profile", profile,
                           "--remote-debugging-port", "0", "about:blank"],
                          env=env, stdout=subprocess.DEVNULL, stderr=open(log, "w"))
        deadline = time.monotonic() + 30
        address = None
        while address is None:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise BrowserError("Firefox did not open its remote port")
            time.sleep(0.1)
            found = re.search(r"WebDriver BiDi listening on (ws://\S+)", open(log).read())
            address = found and found.group(1)
        self.connect(address.rstrip("/") + "/session")
        self.call("session.new", capabilities={})
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]
        self.call("script.addPreloadScript", functionDeclaration="() => {" + TONE_LOG + "}")
        self.call("browsingContext.setViewport", context=self.context,
                  viewport={"width": VIEWPORT[0], "height": VIEWPORT[1]})

    def call(self, method, **params):
        return self.exchange(method, {"method": method, "params": params},
                             lambda r: r.get("type") == "error" and f"{r.get('error')}: {r.get('message')}")

    def navigate(self, url):
        self.call("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def reload(self):
        self.call("browsingContext.reload", context=self.context, wait="complete")

    def evaluate(self, expression):
        result = self.call("script.evaluate", expression=expression, awaitPromise=True,
                           target={"context": self.context}, resultOwnership="none")
        if result.get("type") == "exception":
            raise BrowserError(f"{expression}: {result['exceptionDetails'].get('text')}")
        return result["result"].get("value")

    def key(self, press):
        value = self.KEYS.get(press.key, press.key if len(press.key) == 1 else None)
        if value is None:
            raise BrowserError(f"{press.key} cannot be typed into Firefox here")
        self.call("input.performActions", context=self.context, actions=[
            {"type": "key", "id": "keyboard",
             "actions": [{"type": "keyDown", "value": value}, {"type": "keyUp", "value": value}]}])

    def screenshot(self, x=None, y=None, width=None, height=None):
        clip = {} if x is None else {"clip": {"type": "box", "x": x, "y": y, "width": width, "height": height}}
        return base64.b64decode(self.call("browsingContext.captureScreenshot", context=self.context,
                                          **clip)["data"])

    def viewport(self, width, height, scale):
        self.call("browsingContext.setViewport", context=self.context,
                  viewport={"width": width, "height": height}, devicePixelRatio=scale)


class WebKit:
    """WebKitGTK's MiniBrowser through its WebDriver, on the X server of env. Classic
    WebDriver has no script run before the page's own: the page's server adds TONE_LOG to the
    page (`inject`). Pictures come from the X server, where the driver's own screenshot hangs."""

    KEYS = Firefox.KEYS

    def __init__(self, spawn, folder, env, scale=1):
        import glob
        import socket
        browser = (glob.glob("/usr/lib/*/webkit2gtk-4.1/MiniBrowser") or [None])[0]
        if browser is None:
            raise BrowserError("no MiniBrowser of WebKitGTK here")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        self.started = (spawn, folder, env)
        self.scale = scale  # GTK's, taken once at the browser's start
        self.env = dict(env, WEBKIT_DISABLE_COMPOSITING_MODE="1", GDK_SCALE=str(scale))
        # Without --host: with it the request for a session never returns.
        self.proc = spawn(["WebKitWebDriver", f"--port={port}"], env=self.env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.address = f"http://127.0.0.1:{port}"
        self.origin = None
        wait_for("WebKit's driver", lambda: self._ready(), 20)
        options = {"binary": browser, "args": ["--automation"]}
        self.session = self.request("POST", "/session", {"capabilities": {"alwaysMatch": {
            "webkitgtk:browserOptions": options}}})["sessionId"]
        # The window's own bar above the page: the window made as much taller.
        self.request("POST", self.at("/window/rect"), {"x": 0, "y": 0, "width": VIEWPORT[0],
                                                        "height": VIEWPORT[1] + 100})
        self.bar = self.evaluate("outerHeight - innerHeight")
        self.request("POST", self.at("/window/rect"), {"x": 0, "y": 0, "width": VIEWPORT[0],
                                                        "height": VIEWPORT[1] + self.bar})

    def viewport(self, width, height, scale):
        """A page of width x height CSS pixels at `scale` (a whole number) device pixels to the
        pixel, the browser started again for another scale; False where its window cannot be
        made that small (its tool bar keeps it some 450 pixels wide)."""
        if scale != self.scale:
            url = self.request("GET", self.at("/url"))
            self.close()
            self.proc.terminate()
            self.proc.wait(10)
            self.__init__(*self.started, scale=scale)
            self.navigate(url)
        self.request("POST", self.at("/window/rect"), {"x": 0, "y": 0, "width": width,
                                                        "height": height + self.bar})
        self.origin = None
        return json.loads(self.evaluate("JSON.stringify([innerWidth, innerHeight])")) == [width, height]

    def _ready(self):
        try:
            return self.request("GET", "/status").get("ready") or None
        except (OSError, BrowserError):
            return None

    def at(self, path):
        return f"/session/{self.session}{path}"

    def request(self, method, path, body=None):
        import urllib.error
        import urllib.request
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.address + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=30) as reply:
                return json.load(reply)["value"]
        except urllib.error.HTTPError as e:
            value = json.load(e).get("value", {})
            raise BrowserError(f"{path}: {value.get('error')}: {value.get('message')}")

    def navigate(self, url):
        self.request("POST", self.at("/url"), {"url": url})

    def reload(self):
        self.request("POST", self.at("/refresh"), {})

    def evaluate(self, expression):
        # An expression's value (a promise's once settled); statements are run for their effect.
        try:
            return self.execute(f"return ({expression}\n);")
        except BrowserError as e:
            if not re.search(r"javascript error: (SyntaxError|Unexpected|Expected)", str(e)):
                raise
        return self.execute(expression)

    def execute(self, script):
        # The driver at times answers a script with an "unknown error" and no message (once in
        # a CI run, while the page ran a turn): asked again, it runs it.
        for attempt in range(3):
            try:
                return self.request("POST", self.at("/execute/sync"), {"script": script, "args": []})
            except BrowserError as e:
                if "unknown error" not in str(e) or attempt == 2:
                    raise
                time.sleep(0.1)

    def key(self, press):
        value = self.KEYS.get(press.key, press.key if len(press.key) == 1 else None)
        if value is None:
            raise BrowserError(f"{press.key} cannot be typed into WebKit here")
        self.request("POST", self.at("/actions"), {"actions": [
            {"type": "key", "id": "keyboard",
             "actions": [{"type": "keyDown", "value": value}, {"type": "keyUp", "value": value}]}]})

    def screenshot(self, x=None, y=None, width=None, height=None):
        """That part of the viewport (CSS pixels), from the X server's screen, as PNG in device
        pixels."""
        import io
        import PIL.Image
        if self.origin is None:  # the window stays where it is, its size too
            self.origin = json.loads(self.evaluate(
                "JSON.stringify([outerWidth - innerWidth, outerHeight - innerHeight, innerWidth,"
                " innerHeight])"))
            # The browser's window alone: the screen is large enough for a 4K monitor's page.
            self.window = subprocess.run(
                ["xdotool", "search", "--onlyvisible", "--class", "MiniBrowser"], env=self.env,
                capture_output=True, text=True, timeout=10).stdout.split()[:1]
            if not self.window:
                raise BrowserError("WebKit's window is not on the screen")
        left, top, inner_width, inner_height = self.origin
        dump = subprocess.run(["xwd", "-silent", "-id", self.window[0]], env=self.env,
                              capture_output=True, timeout=10, check=True).stdout
        image = read_xwd(dump)
        mode = {(32, True): "BGRX", (24, True): "BGR", (32, False): "XRGB", (24, False): "RGB"}
        screen = PIL.Image.frombuffer("RGB", (image.width, image.height), image.pixels, "raw",
                                      mode[image.bits, image.little], image.stride, 1)
        if x is None:
            x, y, width, height = 0, 0, inner_width, inner_height
        box = tuple(v * self.scale for v in (left + x, top + y, left + x + width, top + y + height))
        out = io.BytesIO()
        screen.crop(box).save(out, "PNG")
        return out.getvalue()

    def close(self):
        try:
            self.request("DELETE", self.at(""))
        except Exception:
            pass
