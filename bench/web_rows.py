"""The web rows: the page in headless Chromium (and its tones in Firefox too) beside the same
start screen without WebAssembly, and Lighthouse's judgement of it (lighthouse.py)."""
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import lighthouse
from table import beep_bench, build, fmt, percentile, quick, row

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from sormio_e2e import browser, common  # noqa: E402
import web_site_check  # noqa: E402


WEB_PROBE = """
(() => {
    const raf = requestAnimationFrame, timer = setTimeout;
    window.sormioWakeups = 0;
    window.requestAnimationFrame = (f) => { ++sormioWakeups; return raf(f); };
    window.setTimeout = (f, ms) => { ++sormioWakeups; return timer(f, ms); };
    const shown = () => {
        const fonts = [...document.fonts];
        if (window.sormioShown === undefined && document.readyState !== "loading" && fonts.length
            && fonts.every((f) => f.status === "loaded")) {
            window.sormioShown = performance.now();
        }
        if (window.sormioShown !== undefined && (!document.querySelector("script[src]")
                                                 || document.documentElement.dataset.ready !== undefined)) {
            window.sormioReady = performance.now();
        } else {
            raf(shown);
        }
    };
    raf(shown);
    window.sormioLatency = [];
    addEventListener("keypress", (e) => {
        const typed = e.timeStamp;
        raf(() => sormioLatency.push(performance.now() - typed));
    }, true);
})();
"""

# What the page tells a screen reader, as it happens: the key of each turn (one character) or
# how a game ended; told by the focus moving to an element named by it (a page before that
# told it through a live region, "reader", which is followed where there is one).
WEB_TOLD = """
window.sormioOnTold = (callback) => {
    const reader = document.getElementById("reader");
    if (reader === null) {
        // Told by the focus, which comes with the bar's and the ending's names set; a headless
        // Firefox whose window is not active sends no focus events.
        const named = new MutationObserver((records) => {
            for (const r of records) {
                const said = r.target.getAttribute("aria-label");
                if (said !== null) {
                    callback(said);
                }
            }
        });
        for (const id of ["Picture1", "ending"]) {
            named.observe(document.getElementById(id), {attributes: true, attributeFilter: ["aria-label"]});
        }
        return () => named.disconnect();
    }
    const watch = new MutationObserver(() => callback(reader.textContent));
    watch.observe(reader, {childList: true, subtree: true, characterData: true});
    return () => watch.disconnect();
};
"""

# Plays turns inside the page: hits every key as soon as it is told, `hits` times, then lets
# the last turn run out; the turn's length from its key's time stamp to the game over's first
# tone, on the page's clock (ms).
WEB_TURN = WEB_TOLD + """
new Promise((done) => {
    const timer = setTimeout;
    let hits = %d, started = 0;
    const press = (type, key) => {
        const e = new KeyboardEvent(type, {key});
        started = e.timeStamp;
        dispatchEvent(e);
    };
    const stop = sormioOnTold((said) => {
        if (said.length === 1 && hits > 0) {
            --hits;
            press("keypress", said.toLowerCase());
        } else if (said.length > 1) {
            stop();
            // The first of the game over's 19 tones, after the last hit's own.
            timer(() => done(sormioToneCalls[sormioToneCalls.length - 19] - started), 50);
        }
    });
    press("keydown", "F1");
})
"""


# Hits typed in the page, each at a random moment 5-45 ms after its turn was told (as keys come
# at any phase of the display's frames); from each key's time stamp to the start of the frame
# that shows the next turn (ms).
WEB_HITS = WEB_TOLD + """
new Promise((done) => {
    const timer = setTimeout, raf = requestAnimationFrame;
    const latency = [];
    let hits = %d;
    const stop = sormioOnTold((said) => {
        if (said.length > 1) {  // a game over: a turn too short for the delay
            stop();
            done(latency);
            return;
        }
        if (said.length !== 1) {
            return;
        }
        if (hits-- === 0) {
            stop();
            dispatchEvent(new KeyboardEvent("keypress", {key: " "}));
            done(latency);
            return;
        }
        timer(() => {
            const e = new KeyboardEvent("keypress", {key: said.toLowerCase()});
            dispatchEvent(e);
            raf(() => latency.push(performance.now() - e.timeStamp));
        }, 5 + Math.random() * 40);
    });
    dispatchEvent(new KeyboardEvent("keydown", {key: "F1"}));
})
"""


# Hits typed in the page after rests of 150-250 ms, as the desktop's tones are measured; each
# key's time stamp on the page's clock (ms), and the audio's own latency figures (s).
WEB_TONE_HITS = WEB_TOLD + """
new Promise((done) => {
    const timer = setTimeout, start = AudioBufferSourceNode.prototype.start;
    let context = null, hits = %d;
    AudioBufferSourceNode.prototype.start = function (...args) {
        context = this.context;
        return start.apply(this, args);
    };
    const keys = [];
    const stop = sormioOnTold((said) => {
        if (said.length !== 1) {
            return;
        }
        if (hits-- === 0) {
            stop();
            dispatchEvent(new KeyboardEvent("keypress", {key: " "}));
            done(JSON.stringify({keys, base: context?.baseLatency, output: context?.outputLatency}));
            return;
        }
        timer(() => {
            const e = new KeyboardEvent("keypress", {key: said.toLowerCase()});
            keys.push(e.timeStamp);
            dispatchEvent(e);
        }, 150 + Math.random() * 100);
    });
    dispatchEvent(new KeyboardEvent("keydown", {key: "F1"}));
})
"""


def web_tones():
    """A hit's tone in the page, from the key's time stamp to its first sample at the null sink
    of the browser's sound server, in Chromium and Firefox."""
    site = os.path.join(build + "-web", "web")
    hits = 40 if quick else 100
    for kind in ("chromium", "firefox"):
        with browser.BrowserSession(site, kind) as s:
            listener = s._spawn([beep_bench, "listen", "16"], env=s.sound.client_env(s.env),
                                stdout=subprocess.PIPE, text=True)
            if listener.stdout.readline().strip() != "ready":
                row(f"Web: key to the hit's tone at the sink, {kind} (ms)", "no data", "", "", "", "missed", "")
                continue
            onsets = []
            threading.Thread(target=lambda: onsets.extend(float(v) for v in listener.stdout),
                             daemon=True).start()
            # A game played with the browser's own keys first: its audio may start only then.
            s.key("F1")
            time.sleep(0.3)
            s.key("space")
            time.sleep(2.5)
            # The page's clock against CLOCK_MONOTONIC, from the closest of several readings.
            readings = []
            for _ in range(20):
                before = time.monotonic()
                page = s.evaluate("performance.now()")
                after = time.monotonic()
                readings.append((after - before, (before + after) / 2 * 1000 - page))
            spread, offset = min(readings)
            out = json.loads(s.evaluate(WEB_TONE_HITS % hits))
            time.sleep(2.5)  # the last onsets in
            latency = []
            for key in out["keys"]:
                at = key + offset
                first = next((t for t in sorted(onsets) if t >= at - spread * 1000), None)
                if first is not None and first - at < 500:
                    latency.append(first - at)
            cmd = (f"bench/run.py web: {hits} hits typed in the page after rests of 150-250 ms, "
                   f"beep_bench listen on the null sink; clocks matched to {spread * 1000:.2f} ms")
            if len(latency) < hits * 0.9:
                row(f"Web: key to the hit's tone at the sink, {kind} (ms)", f"{len(latency)} of {hits} heard",
                    "", "", "", "missed", cmd)
                continue
            row(f"Web: key to the hit's tone at the sink, {kind}, p50 / p99 (ms)",
                f"{statistics.median(latency):.1f} / {percentile(sorted(latency), 0.99):.1f}",
                fmt(min(latency), 1), fmt(max(latency), 1), "", "", cmd)
            base = out.get("base")
            output = out.get("output")
            row(f"Web: the audio's own latency, {kind}, base / output (ms)",
                f"{base * 1000:.1f} / {output * 1000:.1f}" if base is not None and output is not None
                else f"{base} / {output}", "", "", "", "", "AudioContext baseLatency, outputLatency")


def web():
    """The page in headless Chromium beside the same start screen without WebAssembly."""
    site = os.path.join(build + "-web", "web")
    static = tempfile.mkdtemp(prefix="sormio-static-")
    shutil.copytree(site, static, dirs_exist_ok=True)
    index = os.path.join(static, "index.html")
    with open(index) as f:
        html = re.sub(r'<script src="[^"]*"[^>]*></script>\n', "", f.read())
    with open(index, "w") as f:
        f.write(html)
    runs = 7 if quick else 21
    with browser.BrowserSession(site, "chromium") as s:
        b = s.browser
        b.page("Network.enable")
        b.page("Network.setBypassServiceWorker", bypass=True)
        b.page("Network.setCacheDisabled", cacheDisabled=True)
        b.page("Page.addScriptToEvaluateOnNewDocument", source=WEB_PROBE)
        b.page("Performance.enable")
        server = s._spawn([sys.executable, common.SERVE_WEB, static], stdout=subprocess.PIPE, text=True)
        pages = {"game": s.url, "static": server.stdout.readline().strip()}
        shown = {name: [] for name in pages}
        ready = {name: [] for name in pages}
        for run in range(runs):
            for name in (("game", "static") if run % 2 else ("static", "game")):
                b.navigate(pages[name])
                time.sleep(0.2)
                ready[name].append(common.wait_for("the start screen", lambda: s.evaluate(
                    "window.sormioReady"), 10))
                shown[name].append(s.evaluate("window.sormioShown"))
        cmd = "bench/run.py web: headless Chromium, no cache, alternating"
        median = {k: statistics.median(v) for k, v in (("shown", shown["game"]), ("static", shown["static"]),
                                                       ("ready", ready["game"]))}
        row("Web: navigation to the full start screen (fonts in), page / static page without "
            "WebAssembly; the page's program ready for F1 (ms)",
            f"{median['shown']:.1f} / {median['static']:.1f}; {median['ready']:.1f}", "", "", "", "", cmd)
        ratio = median["shown"] / median["static"]
        row("Web: start-up ratio page / static page (to ready for F1 in 'max')", fmt(ratio), "",
            fmt(median["ready"] / median["static"]), "≤ 1.20", "met" if ratio <= 1.20 else "missed", cmd)

        b.navigate(s.url)
        s.wait_ready()
        hits = 60 if quick else 150  # the last turn still half a second long
        metrics = lambda: {m["name"]: m["value"] for m in b.page("Performance.getMetrics")["metrics"]}
        before = metrics()
        latency = sorted(s.evaluate(WEB_HITS % hits))
        after = metrics()
        cmd = f"bench/run.py web: {hits} hits typed in the page at random moments of the frame"
        row("Web: key to the frame that shows it, p50 / p99 (ms)",
            f"{percentile(latency, 0.5):.1f} / {percentile(latency, 0.99):.1f}", fmt(latency[0], 1),
            fmt(latency[-1], 1), "p99 ≤ 16.7", "met" if percentile(latency, 0.99) <= 16.7 else "missed", cmd)
        per_hit = (after["TaskDuration"] - before["TaskDuration"]) / hits * 1000
        script = (after["ScriptDuration"] - before["ScriptDuration"]) / hits * 1000
        row("Web: main-thread CPU per hit, all tasks / script (ms)", f"{per_hit:.2f} / {script:.3f}",
            "", "", "", "", cmd + ", Performance.getMetrics")

        for ticks in (200, 100, 1):
            lengths = []
            for _ in range(3 if quick else 7):
                lengths.append(s.evaluate(WEB_TURN % (200 - ticks)))
                time.sleep(1.8)  # the 19 tones
            # The page's clock counts in tenths of a millisecond: 1 % of a one-tick turn, and the
            # difference of two readings carries a float's error in its last digits.
            errors = [round(abs(ms - 10 * ticks) / (10 * ticks) * 100, 6) for ms in lengths]
            row(f"Web: {ticks}-tick turn vs {ticks} × 10 ms (error %; worst turn in 'max')",
                fmt(statistics.median(errors)), "", fmt(max(errors)), "within 1 %",
                "met" if statistics.median(errors) <= 1 else "missed",
                "bench/run.py web: hits in the page, key's time stamp to the game over's first tone played")

        rest = 3 if quick else 10
        for name in ("game", "static"):
            b.navigate(pages[name])
            common.wait_for("the start screen", lambda: s.evaluate("window.sormioShown"), 10)
            if name == "game":
                s.key("F1")
                time.sleep(0.3)
                s.key("space")
                time.sleep(2.5)
            wakeups, before = s.evaluate("sormioWakeups"), metrics()
            time.sleep(rest)
            wakeups, after = s.evaluate("sormioWakeups") - wakeups, metrics()
            what = "page between games" if name == "game" else "static page"
            row(f"Web: at rest, {what}: main-thread CPU (% of a core) / frames and timers asked for (per s)",
                f"{(after['TaskDuration'] - before['TaskDuration']) / rest * 100:.3f} / {wakeups / rest:.1f}",
                "", "", "0 / 0" if name == "game" else "", "", f"Performance.getMetrics over {rest} s")

    page, fonts = web_site_check.transfer_sizes(site)
    row("Web: transfer size, gzip, without / with the fonts (KB)",
        f"{page / 1024:.1f} / {(page + fonts) / 1024:.1f}", "", "",
        "≤ 32 / ≤ 72", "met" if page <= 32 * 1024 and fonts <= 40 * 1024 else "missed",
        "tests/web_site_check.py's count: every file the page loads, gzip -9")
    shutil.rmtree(static, ignore_errors=True)


def lighthouse_rows():
    """Lighthouse's scores and timings for the page, on its simulated slow phone and on a
    desktop (bench/lighthouse.py), medians of runs."""
    site = os.path.join(build + "-web", "web")
    program = lighthouse.install(os.path.join(os.path.dirname(build), "bench-tools"))
    runs = 1 if quick else 3
    for preset, targets in (("mobile", {"performance": 0.99}), ("desktop", {"performance": 0.99})):
        found = lighthouse.medians(program, [site], preset, runs)[site]
        cmd = (f"Lighthouse {lighthouse.VERSION}, {preset} preset, Debian's headless Chromium, "
               f"tools/serve_web.py, {runs} runs")
        m = {name: statistics.median(values) for name, values in found.items()}
        scores = " / ".join(fmt(m[c]) for c in lighthouse.CATEGORIES)
        met = m["performance"] >= targets["performance"] and all(
            m[c] == 1 for c in lighthouse.CATEGORIES[1:])
        row(f"Web ({preset}): Lighthouse performance / accessibility / best practices / SEO",
            scores, "", "", "≥ 0.99 / 1 / 1 / 1", "met" if met else "missed", cmd)
        row(f"Web ({preset}): first contentful paint / speed index / largest contentful paint (ms)",
            " / ".join(fmt(m[n], 0) for n in ("first contentful paint", "speed index",
                                               "largest contentful paint")), "", "", "", "", cmd)
        row(f"Web ({preset}): total blocking time; longest task (ms)",
            f"{m['total blocking time']:.0f}; {m['longest task']:.0f}", "",
            f"{max(found['total blocking time']):.0f}; {max(found['longest task']):.0f}",
            "< 50; ≤ 50", "met" if m["total blocking time"] < 50 and m["longest task"] <= 50
            else "missed", cmd)
        row(f"Web ({preset}): cumulative layout shift", fmt(m["cumulative layout shift"], 3), "",
            fmt(max(found["cumulative layout shift"]), 3), "0",
            "met" if m["cumulative layout shift"] == 0 else "missed", cmd)
