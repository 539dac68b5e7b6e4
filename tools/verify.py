#!/usr/bin/python3
"""Runs the chosen tests of a build again and again, the untimed ones beside one busy loop per
core and more tests than cores at once, the timed ones (label `timed`) and those that ask for
the machine to themselves (RUN_SERIAL) one at a time beside one busy loop per core at the idle
scheduling priority (as `tools/check --debian13` runs them beside the builds of the Debian 13
root), those labelled `quiet` with nothing beside them, and prints how many runs of each
passed. A case that does not pass every run has found a race, in the case or in the game.
`tools/check --verify` builds first and then runs this.

    verify.py BUILD [REGEX] [--runs N] [--base REV] [--jobs J]

Without REGEX, the tests that the change since REV touched: the cases whose lines of
tests/e2e/sormio_e2e/cases.py changed, every case of a session module that changed (and every
end-to-end case where the harness they share changed), and the suites of a changed GoogleTest
file. REV is the branch's upstream where it has one, else the newest commit older than four
hours (a working day's change, as the project's before-stop hook reads it).
"""
import argparse
import json
import os
import re
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HARNESS = "tests/e2e/sormio_e2e/"
# A session module's cases are those of the sessions it declares.
MODULES = {"x11.py": ["x11"], "wayland.py": ["sway", "mutter", "kwin"], "wine.py": ["wine"],
           "browser.py": ["chromium", "firefox", "webkit"]}


def git(*args):
    return subprocess.run(["git", "-C", TOP, *args], capture_output=True, text=True,
                          check=True).stdout


def default_base():
    try:
        return git("rev-parse", "--verify", "-q", "@{upstream}").strip()
    except subprocess.CalledProcessError:
        pass
    base = git("rev-list", "-1", "--before=4 hours ago", "HEAD").strip()
    return base or git("rev-list", "--max-parents=0", "HEAD").split()[-1]


def listed_tests(build):
    out = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                         capture_output=True, text=True, check=True).stdout
    tests = []
    for t in json.loads(out)["tests"]:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        command = t.get("command", [])
        session = command[command.index("--session") + 1] if "--session" in command else None
        alone = "alone" in props.get("LABELS", [])  # the timed ones and the serial ones
        quiet = "quiet" in props.get("LABELS", [])
        tests.append({"name": t["name"], "alone": alone, "quiet": quiet,
                      "session": session, "case": command[-1] if session else None})
    return tests


def changed(base):
    """Changed files, and for each the lines of the new side that the change touched."""
    diff = git("diff", "-U0", base, "--", "tests")
    files, path = {}, None
    for line in diff.splitlines():
        if line.startswith("+++ "):
            path = None if line.endswith("/dev/null") else line[6:]
            if path:
                files[path] = set()
        elif line.startswith("@@") and path:
            start, _, count = re.match(r"@@ -\S+ \+(\d+)(,(\d+))?", line).groups()
            first, n = int(start), int(count) if count is not None else 1
            files[path].update(range(first, first + max(n, 1)))
    untracked = git("ls-files", "--others", "--exclude-standard", "--", "tests").split()
    for path in untracked:
        files[path] = {0}
    return files


def touched_cases(lines):
    """The cases of cases.py whose functions (with their decorators) hold any of `lines`; None
    where a line outside every case changed, which may touch them all."""
    source = open(os.path.join(TOP, HARNESS, "cases.py")).read().splitlines()
    starts = [n for n, text in enumerate(source, 1) if re.match(r"[^\s#]", text)]
    spans = [(first, (starts[k + 1] - 1) if k + 1 < len(starts) else len(source))
             for k, first in enumerate(starts)]
    names = set()
    for line in lines:
        k = next((k for k, (first, last) in enumerate(spans) if first <= line <= last), None)
        while k is not None and source[spans[k][0] - 1].startswith("@") and k + 1 < len(spans):
            k += 1
        found = re.match(r"def case_(\w+)", source[spans[k][0] - 1]) if k is not None else None
        if not found:
            return None
        names.add(found.group(1))
    return names


def select(tests, base):
    chosen, unmapped = set(), []
    for path, lines in changed(base).items():
        name = os.path.basename(path)
        if path == HARNESS + "cases.py":
            cases = touched_cases(lines)
            chosen.update(t["name"] for t in tests if t["case"] and (cases is None or t["case"] in cases))
        elif path.startswith(HARNESS) and name in MODULES:
            chosen.update(t["name"] for t in tests if t["session"] in MODULES[name])
        elif path.startswith("tests/e2e/"):
            chosen.update(t["name"] for t in tests if t["session"])
        elif path.endswith("_test.cpp") and os.path.exists(os.path.join(TOP, path)):
            text = open(os.path.join(TOP, path)).read()
            suites = set(re.findall(r"^TEST(?:_F)?\((\w+),", text, re.M))
            chosen.update(t["name"] for t in tests
                          if re.fullmatch(r"(sanitized\.)?(\w+)\..*", t["name"])
                          and t["name"].removeprefix("sanitized.").split(".")[0] in suites)
        else:
            unmapped.append(path)
    return chosen, unmapped


def run_ctest(build, names, jobs, log):
    pattern = "^(" + "|".join(re.escape(n) for n in sorted(names)) + ")$"
    proc = subprocess.run(["ctest", "--test-dir", build, "-R", pattern, "-j", str(jobs),
                           "--output-on-failure"], capture_output=True, text=True)
    with open(log, "w") as f:
        f.write(proc.stdout + proc.stderr)
    results = {}
    for m in re.finditer(r"Test +#\d+: (\S+) \.+\s*(\*\*\*)?(\w+)", proc.stdout):
        results[m.group(1)] = m.group(3) == "Passed"
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build")
    parser.add_argument("regex", nargs="?")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--base", help="what the change is counted from")
    parser.add_argument("--jobs", type=int, default=(os.cpu_count() or 2) + 1)
    args = parser.parse_args()

    tests = listed_tests(args.build)
    if args.regex:
        chosen = {t["name"] for t in tests if re.search(args.regex, t["name"])}
    else:
        base = args.base or default_base()
        chosen, unmapped = select(tests, base)
        print(f"verify: the tests that the change since {base[:12]} touched")
        for path in unmapped:
            print(f"verify: {path} changed, and names no test of its own")
    if not chosen:
        print("verify: no test chosen")
        return 0
    timed = {t["name"] for t in tests if t["alone"] and t["name"] in chosen}
    quiet = {t["name"] for t in tests if t["quiet"] and t["name"] in chosen}
    untimed = chosen - timed
    timed -= quiet
    logs = os.path.join(args.build, "verify")
    os.makedirs(logs, exist_ok=True)
    passes = {name: 0 for name in chosen}
    cores = os.cpu_count() or 2
    print(f"verify: {len(untimed)} tests {args.runs} times beside {cores} busy loops at -j"
          f"{args.jobs}, {len(timed)} timed or serial ones {args.runs} times one at a time beside "
          f"{cores} busy loops at the idle priority, {len(quiet)} quiet ones {args.runs} times "
          f"with nothing beside them", flush=True)
    busy = ["sh", "-c", "while :; do :; done"]
    idle = ["chrt", "--idle", "0", *busy]  # work that gets the cores only when they are idle
    for lane, names, loop in (("loaded", untimed, busy), ("timed", timed, idle),
                              ("quiet", quiet, None)):
        if not names:
            continue
        loaded = lane == "loaded"
        loops = [subprocess.Popen(loop) for _ in range(cores)] if loop else []
        try:
            for run in range(1, args.runs + 1):
                log = os.path.join(logs, f"{lane}-{run}.log")
                results = run_ctest(args.build, names, args.jobs if loaded else 1, log)
                failed = sorted(n for n in names if not results.get(n))
                for n in names:
                    passes[n] += bool(results.get(n))
                print(f"verify: {lane} run {run}: {len(names) - len(failed)}/{len(names)} passed"
                      + (f", failed: {' '.join(failed)} (log: {log})" if failed else ""), flush=True)
        finally:
            for loop in loops:
                loop.kill()
                loop.wait()
    width = len(str(args.runs))
    for name in sorted(chosen):
        mark = "" if passes[name] == args.runs else "   <- not done"
        lane = " (quiet)" if name in quiet else " (alone)" if name in timed else ""
        print(f"{passes[name]:>{width}}/{args.runs} {name}{lane}{mark}")
    short = [n for n in chosen if passes[n] < args.runs]
    print(f"verify: {len(chosen) - len(short)} of {len(chosen)} tests passed {args.runs} runs in {args.runs}")
    return 1 if short else 0


if __name__ == "__main__":
    sys.exit(main())
