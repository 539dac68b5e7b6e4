#!/usr/bin/env python3
"""Runs every benchmark of the game and prints one table (markdown).

    run.py BUILD_DIR [--quick] [PART ...]
        PART: startup fonts turns latency pace wayland kde2 windows web lighthouse beeps idle

The windows part runs the Windows programs that tools/bench cross-builds (BUILD_DIR-windows,
64-bit with the benchmarks, and BUILD_DIR-windows32 with the installer of both) under Wine.
The web part plays the page that tools/bench builds into BUILD_DIR-web/web in headless Chromium,
and has Lighthouse judge it (the lighthouse part alone), which it installs from npm, pinned, into
bench-tools beside BUILD_DIR.
The fonts part compares the game with the program built from the same source carrying the
whole font files (BUILD_DIR-fullfonts, which tools/bench builds with -DSORMIO_FONT_SUBSET=OFF).

Everything that shows on screen runs on its own Xvfb. Ratios are taken between runs that
alternate within this one invocation, so that a busy machine slows both sides alike.
"""
import glob
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from sormio_e2e import cases, common, wayland, wine, x11  # noqa: E402
from sormio_e2e.sound_server import SoundServer  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from table import (beep_bench, build, env_with, fmt, full_fonts_game, game, minimal,  # noqa: E402
                   pace_bench, parse, peak_rss_kib, percentile, probe, quick, row, rows,
                   start_xvfb, task_counters, turn_bench)
from web_rows import lighthouse_rows, web, web_tones  # noqa: E402

def startup(display, server):
    runs = 9 if quick else 25
    times = {"game": [], "minimal": []}
    for _ in range(runs):
        for name, program, title in (("game", game, "Sormio IV"), ("minimal", minimal, "Minimal")):
            out = subprocess.run([probe, title, program],
                                 env=server.client_env(env_with(DISPLAY=display)),
                                 capture_output=True, text=True, timeout=30).stdout.split()
            times[name].append(float(out[1]))
    g, m = times["game"], times["minimal"]
    ratio = statistics.median(g) / statistics.median(m)
    cmd = ("bench/startup_probe 'Sormio IV' window/qt/sormio (and 'Minimal' bench/minimal_window), "
           f"alternating, {server.kind} running")
    row("Start-up to first full frame, game (ms)", fmt(statistics.median(g), 1), fmt(min(g), 1),
        fmt(max(g), 1), "", "", cmd)
    row("Start-up to first full frame, minimal Qt window (ms)", fmt(statistics.median(m), 1),
        fmt(min(m), 1), fmt(max(m), 1), "", "", cmd)
    ratios = [a / b for a, b in zip(g, m)]
    row("Start-up ratio game / minimal", fmt(ratio), fmt(min(ratios)), fmt(max(ratios)), "≤ 1.15",
        "met" if ratio <= 1.15 else "missed", cmd)


def first_frame_and_peak(program, title, env):
    """Start-up to the first full frame (ms), and the peak memory (KiB) a second after it."""
    out = subprocess.run([probe, title, program], env=env, capture_output=True, text=True,
                         timeout=30).stdout.split()
    return float(out[1]), float(out[2])


def fonts(display, server):
    """The carried fonts cut down to the glyphs drawn, against the whole font files: the
    program's size, its start-up next to a minimal Qt window, and its peak memory on X11."""
    runs = 9 if quick else 25
    env = server.client_env(env_with(DISPLAY=display))
    programs = {"subset": game, "whole": full_fonts_game, "minimal": minimal}
    times = {name: [] for name in programs}
    peaks = {name: [] for name in programs}
    for run in range(runs):
        order = list(programs.items())
        for name, program in order[run % 3:] + order[:run % 3]:  # each goes first in turn
            ms, kib = first_frame_and_peak(program, "Minimal" if name == "minimal" else "Sormio IV", env)
            times[name].append(ms)
            peaks[name].append(kib / 1024)
    cmd = ("bench/startup_probe, the game with subset and with whole fonts and "
           f"bench/minimal_window, alternating, {server.kind} running")
    size = {name: os.path.getsize(programs[name]) / 1e6 for name in ("subset", "whole")}
    row("Program size, fonts subset / whole (MB, release build)",
        f"{size['subset']:.2f} / {size['whole']:.2f}", "", "", "", "", "ls -l window/qt/sormio")
    row("Start-up to first full frame, game with fonts subset / whole / minimal Qt window (ms)",
        " / ".join(fmt(statistics.median(times[n]), 1) for n in ("subset", "whole", "minimal")),
        "", "", "", "", cmd)
    for name, label in (("subset", "fonts subset"), ("whole", "whole fonts")):
        ratio = statistics.median(times[name]) / statistics.median(times["minimal"])
        row(f"Start-up ratio game ({label}) / minimal", fmt(ratio), "", "", "≤ 1.15",
            "met" if ratio <= 1.15 else "missed", cmd)
        mem = statistics.median(peaks[name]) / statistics.median(peaks["minimal"])
        row(f"Peak resident memory, game ({label}) (MiB; ratio to minimal in 'max')",
            fmt(statistics.median(peaks[name]), 1), fmt(min(peaks[name]), 1), fmt(mem), "≤ 1.15",
            "met" if mem <= 1.15 else "missed", cmd)


def windows(display, server):
    """The Windows program under Wine, beside a minimal Win32 window built the same way."""
    win64, win32 = build + "-windows", build + "-windows32"
    exe = os.path.join(win64, "window", "win32", "sormio.exe")
    minimal_exe = os.path.join(win64, "bench", "win32", "minimal_window_win32.exe")
    folder = tempfile.mkdtemp(prefix="sormio-bench-wine-")
    prefix = os.path.join(folder, "prefix")
    wine.make_wine_prefix(prefix)
    env = wine.wine_env(server.client_env(env_with(DISPLAY=display, HOME=folder)), prefix)
    loader = wine.wine_command("wine")
    procs = []

    def spawn(args, **kw):
        procs.append(subprocess.Popen(args, start_new_session=True, env=env, **kw))
        return procs[-1]
    try:
        common.start_session_bus(env, folder, spawn)
        spawn([wine.wine_command("wineserver"), "-f", "-p"], stdout=subprocess.DEVNULL,
              stderr=subprocess.DEVNULL)
        runs = 7 if quick else 15
        times = {"game": [], "minimal": []}
        peaks = {"game": [], "minimal": []}
        for run in range(runs):
            order = [("game", exe, "Sormio IV"), ("minimal", minimal_exe, "Minimal")]
            for name, program, title in order[run % 2:] + order[:run % 2]:
                out = subprocess.run([probe, title, loader, program], env=env, capture_output=True,
                                     text=True, timeout=60).stdout.split()
                times[name].append(float(out[1]))
                peaks[name].append(float(out[2]) / 1024)
        cmd = (f"bench/startup_probe 'Sormio IV' wine sormio.exe (and a minimal Win32 window), "
               f"alternating, Wine's server running, {server.kind} running")
        g, m = statistics.median(times["game"]), statistics.median(times["minimal"])
        row("Windows: start-up to first full frame under Wine, game / minimal Win32 window (ms)",
            f"{g:.1f} / {m:.1f}", "", "", "", "", cmd)
        row("Windows: start-up ratio game / minimal", fmt(g / m), "", "", "≤ 1.10",
            "met" if g / m <= 1.10 else "missed", cmd)
        g, m = statistics.median(peaks["game"]), statistics.median(peaks["minimal"])
        row("Windows: peak working set under Wine, game / minimal (MiB)", f"{g:.1f} / {m:.1f}",
            "", "", "", "", cmd + " (VmHWM of the process)")
        row("Windows: peak working set ratio game / minimal", fmt(g / m), "", "", "≤ 1.20",
            "met" if g / m <= 1.20 else "missed", cmd + " (VmHWM of the process)")

        out = parse(subprocess.run([loader, os.path.join(win64, "bench", "win32", "win32_bench.exe")],
                                   env=env, capture_output=True, text=True, timeout=300).stdout)
        cmd = "wine bench/win32/win32_bench.exe"
        for width in (600, 300, 3):
            med = out[f"turn_{width}_px_error_pct_median"]
            row(f"Windows: {width} px turn vs {width // 3} × 10 ms under Wine (error %; worst in 'max')",
                fmt(med), "", fmt(out[f"turn_{width}_px_error_pct_max"]), "within 1 %",
                "met" if abs(med) <= 1 else "missed", cmd)
        row("Windows: CPU per hit under Wine: character message, check, next turn, repaint (µs)",
            fmt(out["cpu_us_per_hit"]), "", "", "", "", cmd)

        seconds = 3 if quick else 10
        for name, program, title in (("game at its start screen", exe, "Sormio IV"),
                                     ("minimal Win32 window", minimal_exe, "Minimal")):
            proc = spawn([loader, program], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            common.wait_for("the window", lambda: subprocess.run(
                ["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"], env=env,
                capture_output=True, text=True).stdout.strip(), 20)
            time.sleep(2.0)
            cpu0, sw0 = task_counters(proc.pid)
            time.sleep(seconds)
            cpu1, sw1 = task_counters(proc.pid)
            row(f"Windows: idle wake-ups under Wine, {name} (per s)", fmt((sw1 - sw0) / seconds, 1),
                "", "", "0" if name.startswith("game") else "", "", 
                f"/proc/PID/task/*/status over {seconds} s (the program's own threads and Wine's in it)")
            row(f"Windows: idle CPU under Wine, {name} (% of a core)",
                fmt(100 * (cpu1 - cpu0) / 1e9 / seconds, 3), "", "", "", "",
                f"/proc/PID/task/*/schedstat over {seconds} s")
            os.killpg(proc.pid, signal.SIGTERM)
            proc.wait()
        sizes = [("sormio.exe, 64-bit", exe), ("sormio.exe, 32-bit", os.path.join(win32, "window", "win32", "sormio.exe"))]
        sizes += [(os.path.basename(p), p) for p in glob.glob(os.path.join(win64, "window", "win32", "sormio-*"))]
        for name, path in sizes:
            row(f"Windows: size of {name} (KiB)", f"{os.path.getsize(path) / 1024:.0f}", "", "", "",
                "", "ls -l")
    finally:
        subprocess.run([wine.wine_command("wineserver"), "-k"], env=env, timeout=30)
        for proc in reversed(procs):
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGTERM)
            proc.wait()
        shutil.rmtree(folder, ignore_errors=True)


def turns():
    n = 2000
    cpu, repaints = [], []
    for _ in range(3 if quick else 7):
        out = parse(subprocess.run([turn_bench, str(n)], env=env_with(QT_QPA_PLATFORM="offscreen"),
                                   capture_output=True, text=True, timeout=120).stdout)
        cpu.append(out["cpu_us_per_turn"])
        repaints.append(out["widgets_repainted_per_turn"])
    cmd = f"QT_QPA_PLATFORM=offscreen bench/turn_bench {n}"
    med = statistics.median(cpu)
    row("CPU per hit: key, check, next turn, repaint (µs)", fmt(med), fmt(min(cpu)), fmt(max(cpu)),
        "< 100", "met" if med < 100 else "missed", cmd)
    med = statistics.median(repaints)
    row("Widgets repainted per hit", fmt(med), fmt(min(repaints)), fmt(max(repaints)), "≤ 5",
        "met" if med <= 5 else "missed", cmd)
    log = "/tmp/sormio-callgrind.out"
    callgrind_n = 1000
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={log}",
                    "--collect-atstart=no", "--toggle-collect=*measuredTurns*", turn_bench,
                    str(callgrind_n)], env=env_with(QT_QPA_PLATFORM="offscreen"),
                   capture_output=True, text=True, timeout=600)
    total = 0
    with open(log) as f:
        for line in f:
            if line.startswith("totals:") or line.startswith("summary:"):
                total = int(line.split()[1])
    os.unlink(log)
    per = total / callgrind_n
    row("Instructions per hit (callgrind)", f"{per:,.0f}", "", "", "", "",
        f"valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*measuredTurns*' "
        f"bench/turn_bench {callgrind_n}")


def latency(display):
    """Without an input method, and with Qt typing through a running IBus (GNOME's default)."""
    folder = tempfile.mkdtemp(prefix="sormio-bench-")
    procs = []

    def spawn(args, **kw):
        procs.append(subprocess.Popen(args, start_new_session=True, env=ibus_env, **kw))
        return procs[-1]
    ibus_env = env_with(DISPLAY=display)
    try:
        common.start_ibus(ibus_env, folder, spawn)
        for name, env in (("", env_with(DISPLAY=display)), (", IBus running", ibus_env)):
            p50, p99 = [], []
            for _ in range(3 if quick else 5):
                out = parse(subprocess.run([turn_bench, "1000"], env=env, capture_output=True,
                                           text=True, timeout=120).stdout)
                p50.append(out["latency_p50_us"] / 1000)
                p99.append(out["latency_p99_us"] / 1000)
            cmd = "bench/turn_bench 1000 (on Xvfb" + (", QT_IM_MODULE=ibus)" if name else ")")
            row(f"Key latency to repainted window{name}, p50 (ms)", fmt(statistics.median(p50), 3),
                fmt(min(p50), 3), fmt(max(p50), 3), "", "", cmd)
            med = statistics.median(p99)
            row(f"Key latency to repainted window{name}, p99 (ms)", fmt(med, 3), fmt(min(p99), 3),
                fmt(max(p99), 3), "< 2", "met" if med < 2 else "missed", cmd)
    finally:
        for proc in reversed(procs):
            os.killpg(proc.pid, signal.SIGTERM)
            proc.wait()
        shutil.rmtree(folder, ignore_errors=True)


def pace(display):
    for mode, label, limit in (("", "idle machine", 1.0), ("busy", "one other core busy", 3.0)):
        out = parse(subprocess.run([pace_bench] + ([mode] if mode else []), env=env_with(DISPLAY=display),
                                   capture_output=True, text=True, timeout=300).stdout)
        cmd = f"bench/pace_bench {mode}".strip() + " (on Xvfb)"
        for width in (600, 300, 3):
            med = out[f"turn_{width}_px_error_pct_median"]
            worst = out[f"turn_{width}_px_error_pct_max"]
            target = f"within {limit:g} %"
            row(f"{width} px turn vs {width // 3} × 10 ms, {label} (error %; worst turn in 'max')",
                fmt(med), "", fmt(worst), target, "met" if abs(med) <= limit else "missed", cmd)
        p99 = out["tick_interval_ms_p99"]
        row(f"Tick interval, {label}, median (ms)", fmt(out["tick_interval_ms_median"], 3), "",
            fmt(out["tick_interval_ms_max"], 3), "", "", cmd)
        row(f"Tick interval, {label}, p99 (ms)", fmt(p99, 3), "", "",
            "< 12" if not mode else "", ("met" if p99 < 12 else "missed") if not mode else "", cmd)


def idle(display, server):
    seconds = 3 if quick else 10
    env = server.client_env(env_with(DISPLAY=display))
    results = {}
    where = f", {server.kind} running"
    for name, program, title, between in (("game at its start screen" + where, game, "Sormio IV", False),
                                          ("game between games" + where, game, "Sormio IV", True),
                                          ("minimal Qt window" + where, minimal, "Minimal", False)):
        proc = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 10
            window = ""
            while not window and time.monotonic() < deadline:
                window = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                                        env=env, capture_output=True, text=True).stdout.split()
                window = window[0] if window else ""
                time.sleep(0.05)
            if between:
                subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env)
                subprocess.run(["xdotool", "key", "F1"], env=env)
                time.sleep(0.3)
                subprocess.run(["xdotool", "key", "space"], env=env)
                time.sleep(4.0)  # the 19 tones of the game over, then 1 s until the stream is corked
            time.sleep(1.0)
            cpu0, sw0 = task_counters(proc.pid)
            t0 = time.monotonic()
            time.sleep(seconds)
            cpu1, sw1 = task_counters(proc.pid)
            elapsed = time.monotonic() - t0
            results[name] = (100 * (cpu1 - cpu0) / 1e9 / elapsed, (sw1 - sw0) / elapsed,
                             peak_rss_kib(proc.pid))
        finally:
            proc.terminate()
            proc.wait(timeout=10)
    cmd = f"/proc/PID/task/*/schedstat and status over {seconds} s, window left alone"
    for name, (cpu, wakeups, _) in results.items():
        game_row = name.startswith("game")
        row(f"Idle CPU, {name} (% of a core)", fmt(cpu, 3), "", "", "0.00" if game_row else "",
            ("met" if round(cpu, 2) == 0 else "missed") if game_row else "", cmd)
        row(f"Idle wake-ups, {name} (per s)", fmt(wakeups, 1), "", "", "0" if game_row else "",
            ("met" if round(wakeups, 1) == 0 else "missed") if game_row else "", cmd)
    g = results["game at its start screen" + where][2]
    m = results["minimal Qt window" + where][2]
    row(f"Peak resident memory, game / minimal (MiB){where}", f"{g / 1024:.1f} / {m / 1024:.1f}",
        "", "", "", "", "VmHWM in /proc/PID/status")
    row(f"Peak resident memory ratio game / minimal{where}", fmt(g / m), "", "", "≤ 1.15",
        "met" if g / m <= 1.15 else "missed", "VmHWM in /proc/PID/status")


def wayland_memory():
    """Peak memory of the same game as an X11 client (Xvfb) and as a native Wayland client
    (headless sway), each after a Start and a hit, runs alternating."""
    runs = 3 if quick else 7
    peaks = {"x11": [], "wayland": []}
    for _ in range(runs):
        for name in peaks:
            session = (wayland.SwaySession(game, 1) if name == "wayland"
                       else x11.X11Session(game, None, "pulseaudio"))
            with session as s:
                target = cases.red_tile(cases.start_turn(s))
                s.key(common.L.tiles[target][0].lower())
                time.sleep(0.5)
                peaks[name].append(peak_rss_kib(s.game.pid) / 1024)
    x, w = statistics.median(peaks["x11"]), statistics.median(peaks["wayland"])
    cmd = "VmHWM after a Start and a hit: tests/e2e/play_test.py sessions, Xvfb and headless sway"
    row("Peak resident memory, game on X11 / native Wayland (MiB)", f"{x:.1f} / {w:.1f}", "", "",
        "", "", cmd)
    row("Peak resident memory ratio Wayland / X11", fmt(w / x), fmt(min(peaks["wayland"]) / x),
        fmt(max(peaks["wayland"]) / x), "≤ 1.15", "met" if w / x <= 1.15 else "missed", cmd)
    # The desktops' own compositors, where the keys cannot be seen on screen: after a Start
    # and half a second of the turn.
    desktops = {"GNOME (mutter, as its session runs it)": lambda: wayland.MutterSession(game, 1, True),
                "mutter, native Wayland": lambda: wayland.MutterSession(game, 1),
                "KDE Plasma (KWin, native)": lambda: wayland.KWinSession(game, 1)}
    for name, make in desktops.items():
        values = []
        for _ in range(runs):
            with make() as s:
                s.key("F1")
                s.wait_turn()
                time.sleep(0.5)
                values.append(peak_rss_kib(s.game.pid) / 1024)
        m = statistics.median(values)
        cmd = "VmHWM after a Start: tests/e2e/play_test.py sessions, headless mutter and KWin"
        row(f"Peak resident memory, {name} (MiB)", fmt(m, 1), fmt(min(values), 1), fmt(max(values), 1),
            "", "", cmd)
        row(f"Peak resident memory ratio {name} / X11", fmt(m / x), "", "", "≤ 1.25",
            "met" if m / x <= 1.25 else "missed", cmd)


def kde_scale2_memory():
    """Peak memory at 200 %: on X11 and natively under KWin, each after a Start and two seconds
    of its turn (the bar redrawn every tick), runs alternating."""
    runs = 3 if quick else 5
    peaks = {"X11": [], "KWin": []}
    for _ in range(runs):
        for name in peaks:
            make = ((lambda: x11.X11Session(game, None, "pulseaudio", qt_scale=2)) if name == "X11"
                    else (lambda: wayland.KWinSession(game, 2)))
            with make() as s:
                s.key("F1")
                s.wait_turn()
                time.sleep(2.0)
                peaks[name].append(peak_rss_kib(s.game.pid) / 1024)
    x, k = statistics.median(peaks["X11"]), statistics.median(peaks["KWin"])
    cmd = "VmHWM after a Start and a turn: X11 (QT_SCALE_FACTOR=2 on Xvfb) and headless KWin at scale 2"
    row("Peak resident memory at 200 %, X11 / KDE Plasma (KWin, native) (MiB)", f"{x:.1f} / {k:.1f}",
        "", "", "", "", cmd)
    row("Peak resident memory ratio at 200 %, KDE Plasma (KWin, native) / X11", fmt(k / x),
        fmt(min(peaks["KWin"]) / x), fmt(max(peaks["KWin"]) / x), "≤ 1.25", "met" if k / x <= 1.25 else "missed", cmd)


def lines():
    """How sharp a one-pixel line of the keyboard comes out under KWin above 100 %: natively
    (Qt 6.4 draws at 200 % and KWin shrinks it) and through XWayland (drawn at 100 % and
    enlarged). The device pixels across the first tile's left edge, from KWin's own screenshot;
    grey 192 is the line at full strength."""
    cmd = "tests/e2e/play_test.py KWinSession, picture() from KWin's screenshot at native resolution"
    _, left, top = common.L.tiles[0]
    for scale in (1.25, 1.5, 2):
        seen = []
        for xwayland in (False, True):
            with wayland.KWinSession(game, scale, xwayland) as s:
                p, y, x = s.picture(), int((top + 4) * scale), int(left * scale)
                seen.append(" ".join(str(v) for v in (p.device_pixel(x + d, y)[0] for d in range(-3, 4)) if v))
        row(f"A keyboard line across at {scale:g} ×, KWin, native / XWayland (device pixels)",
            " / ".join(seen), "", "", "", "", cmd)


def beeps(server):
    """beep() to the tone's first sample at the null sink, recorded from its monitor."""
    runs, quiet = (100, 2) if quick else (300, 5)
    # PulseAudio keeps up with a 16-frame recorder; PipeWire records in its 256-frame period.
    fragment = 16 if server.kind == "pulseaudio" else 256
    targets = {"pulseaudio": (1, 3), "pipewire": (10, 15)}[server.kind]
    out = subprocess.run([beep_bench, str(runs), str(quiet), str(fragment)],
                         env=server.env(), capture_output=True, text=True, timeout=600).stdout
    values = {f[0]: [float(v) for v in f[1:]] for f in (line.split() for line in out.splitlines())
              if f and f[0] != "missed"}
    cmd = f"bench/beep_bench {runs} {quiet} {fragment} ({server.kind}, null sink)"
    for key, label in (("latency", "rests of 150-250 ms"), ("latency_after_10s", "after 10 s of silence")):
        v = values.get(key, [])
        if not v:
            row(f"beep() to first sample at the sink, {server.kind}, {label} (ms)", "no data", "",
                "", "", "missed", cmd)
            continue
        p50, p99 = statistics.median(v), percentile(v, 0.99)
        row(f"beep() to first sample at the sink, {server.kind}, {label}, p50 (ms)", fmt(p50, 3),
            fmt(min(v), 3), fmt(max(v), 3), f"≤ {targets[0]}", "met" if p50 <= targets[0] else "missed", cmd)
        row(f"beep() to first sample at the sink, {server.kind}, {label}, p99 (ms)", fmt(p99, 3),
            "", "", f"≤ {targets[1]}", "met" if p99 <= targets[1] else "missed", cmd)
    v = values.get("call", [])
    if v:
        p99 = percentile(v, 0.99)
        row(f"beep() call returns, {server.kind}, p99 (ms)", fmt(p99, 4), fmt(min(v), 4),
            fmt(max(v), 4), "≤ 0.1", "met" if p99 <= 0.1 else "missed", cmd)
    missed = [line for line in out.splitlines() if line.startswith("missed")]
    if missed and missed[0] != "missed 0 lost 0":
        row(f"Tones not heard, {server.kind}", missed[0], "", "", "none", "missed", cmd)


# Loaded before each page's own script: notes the first frame that shows the whole start screen
# (every font loaded, and the game's program ready where the page has one), and counts the
# frames and timers the page asks for.
def main():
    # Parts by name, for a quick look at some: run.py BUILD_DIR [--quick] [startup turns ...]
    only = set(a for a in sys.argv[2:] if not a.startswith("--"))

    def wanted(part):
        return not only or part in only

    xvfb, display = start_xvfb()
    try:
        if wanted("startup"):
            with SoundServer("pipewire") as server:
                startup(display, server)
        if wanted("fonts"):
            with SoundServer("pipewire") as server:
                fonts(display, server)
        if wanted("windows"):
            with SoundServer("pulseaudio") as server:
                windows(display, server)
        if wanted("web"):
            web()
            web_tones()
        if wanted("web") or wanted("lighthouse"):
            lighthouse_rows()
        if wanted("turns"):
            turns()
        if wanted("latency"):
            latency(display)
        if wanted("pace"):
            pace(display)
        if wanted("wayland"):
            wayland_memory()
            lines()
        if wanted("wayland") or wanted("kde2"):
            kde_scale2_memory()
        for kind in SoundServer.KINDS:
            if wanted("beeps") or wanted("idle"):
                with SoundServer(kind) as server:
                    if wanted("beeps"):
                        beeps(server)
                    if wanted("idle"):
                        idle(display, server)
    finally:
        xvfb.terminate()
        xvfb.wait()
    cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                         capture_output=True, text=True).stdout.strip()
    print(f"Machine: {cpu}, {os.cpu_count()} cores; {time.strftime('%Y-%m-%d')}"
          f"{' (quick run)' if quick else ''}\n")
    print("| Figure | Median | Min | Max | Target | | Command |")
    print("|---|---:|---:|---:|---|---|---|")
    for r in rows:
        print("| " + " | ".join(r) + " |")


if __name__ == "__main__":
    main()
