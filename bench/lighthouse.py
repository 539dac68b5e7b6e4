"""Lighthouse on the page, with Debian's Chromium: its scores and timings on its simulated slow
phone (the mobile preset) and on a desktop. The npm package is installed once, pinned, into a
folder of the benchmarks' own.

    lighthouse.py SITE [SITE ...] [--runs N] [--tools DIR]   a table per site, runs alternating
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile

VERSION = "12.2.3"
HERE = os.path.dirname(os.path.abspath(__file__))
SERVE_WEB = os.path.join(HERE, "..", "tools", "serve_web.py")
CATEGORIES = ["performance", "accessibility", "best-practices", "seo"]
# The figures of one run: its four scores, and the timings in ms.
TIMINGS = {"first-contentful-paint": "first contentful paint", "speed-index": "speed index",
           "total-blocking-time": "total blocking time",
           "largest-contentful-paint": "largest contentful paint"}


def install(tools):
    """The lighthouse program, installed into `tools` unless it is there already."""
    program = os.path.join(tools, "node_modules", ".bin", "lighthouse")
    if not os.path.exists(program):
        subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--prefix", tools,
                        f"lighthouse@{VERSION}"], check=True, stdout=subprocess.DEVNULL)
    return program


def serve(site):
    server = subprocess.Popen([sys.executable, SERVE_WEB, site], stdout=subprocess.PIPE, text=True,
                              start_new_session=True)
    return server, server.stdout.readline().strip()


def run(program, url, preset):
    """One run's figures: the scores (0 to 1), the timings (ms), the layout shift and the
    longest task (ms)."""
    with tempfile.TemporaryDirectory(prefix="sormio-lighthouse-") as folder:
        out = os.path.join(folder, "report.json")
        args = [program, url, "--quiet", "--output=json", f"--output-path={out}",
                "--only-categories=" + ",".join(CATEGORIES),
                "--chrome-flags=--headless=new --no-sandbox --disable-gpu "
                f"--user-data-dir={os.path.join(folder, 'profile')}"]
        if preset == "desktop":
            args.append("--preset=desktop")
        subprocess.run(args, check=True, timeout=300,
                       env=dict(os.environ, CHROME_PATH=os.environ.get("CHROME_PATH", "/usr/bin/chromium")))
        report = json.load(open(out))
    audits = report["audits"]
    figures = {c: report["categories"][c]["score"] for c in CATEGORIES}
    figures.update({name: audits[key]["numericValue"] for key, name in TIMINGS.items()})
    figures["cumulative layout shift"] = audits["cumulative-layout-shift"]["numericValue"]
    tasks = audits.get("long-tasks", {}).get("details", {}).get("items", [])
    figures["longest task"] = max((t["duration"] for t in tasks), default=0)
    return figures


def medians(program, sites, preset, runs):
    """For each site, each figure's runs (alternating between the sites)."""
    found = {site: {} for site in sites}
    servers = {site: serve(site) for site in sites}
    try:
        for _ in range(runs):
            for site in sites:
                for name, value in run(program, servers[site][1], preset).items():
                    found[site].setdefault(name, []).append(value)
    finally:
        for server, _ in servers.values():
            server.terminate()
            server.wait()
    return found


def main():
    args = sys.argv[1:]
    runs = int(args[args.index("--runs") + 1]) if "--runs" in args else 3
    tools = args[args.index("--tools") + 1] if "--tools" in args else os.path.join(
        tempfile.gettempdir(), "sormio-bench-tools")
    sites = [a for i, a in enumerate(args) if not a.startswith("--")
             and (i == 0 or args[i - 1] not in ("--runs", "--tools"))]
    program = install(tools)
    for preset in ("mobile", "desktop"):
        found = medians(program, sites, preset, runs)
        print(f"\n{preset}, median of {runs} runs:")
        for name in found[sites[0]]:
            print(f"  {name:26}" + "".join(f"{statistics.median(found[s][name]):>12.3f}" for s in sites))


if __name__ == "__main__":
    main()
