"""What every part of the benchmarks shares: the build it measures (run.py's first argument),
whether the run is a quick one, the table's rows, and a few readings of a process and of a
program's output."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from sormio_e2e import common  # noqa: E402

build = os.path.abspath(sys.argv[1])
common.L.load(os.path.join(build, "window.json"))
quick = "--quick" in sys.argv
game = os.path.join(build, "window", "qt", "sormio")
full_fonts_game = os.path.join(build + "-fullfonts", "window", "qt", "sormio")
minimal = os.path.join(build, "bench", "minimal_window")
probe = os.path.join(build, "bench", "startup_probe")
turn_bench = os.path.join(build, "bench", "turn_bench")
pace_bench = os.path.join(build, "bench", "pace_bench")
beep_bench = os.path.join(build, "bench", "beep_bench")
rows = []


def row(figure, median, low, high, target, verdict, command):
    rows.append((figure, median, low, high, target, verdict, command))


def fmt(x, digits=2):
    return f"{x:.{digits}f}"


def start_xvfb():
    """The X server of the parts that start their programs themselves, as the harness starts
    its own."""
    env = {}
    proc = []
    common.start_xvfb(env, lambda args, **kw: proc.append(subprocess.Popen(args, **kw)) or proc[-1],
                      "1280x800x24")
    return proc[0], env["DISPLAY"]


def env_with(**extra):
    env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(extra)
    return env


def parse(text):
    return {m.group(1): float(m.group(2)) for m in re.finditer(r"^(\w+) (-?[\d.]+)$", text, re.M)}


def task_counters(pid):
    cpu_ns, switches = 0, 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                cpu_ns += int(f.read().split()[0])
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches") or line.startswith("nonvoluntary_ctxt_switches"):
                        switches += int(line.split()[1])
        except FileNotFoundError:
            pass
    return cpu_ns, switches


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM"):
                return int(line.split()[1])
    return 0


def percentile(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(q * len(values)))]
