"""Which cases each session runs, as its module declares them (RUNS), and which of them this
machine can run: CMake registers exactly those (play_test.py --list)."""
import importlib.util
import os
import shutil


class Run:
    """Cases run in one kind of session (`session`, a key of some module's SESSIONS) with some
    options: ctest names them e2e.NAME.CASE (e2e.CASE where the name is empty). A case marked
    timed (cases.timed) is labelled so and runs with the machine to itself (one marked quiet,
    with no work at all beside it), as does one in `serial`, which others beside it would slow
    past what it waits for. `needs` lists programs (a name on the PATH or a path) and Python
    modules ("py:NAME") without which they cannot run; `builds` the programs of this
    project they play (linux, windows64, web, installer); `when` a further condition on what
    the build says (--qt, the version of Qt the Linux program is built with)."""

    def __init__(self, session, name, options, cases, labels=("e2e",), needs=(),
                 builds=("linux",), fixtures=(), timeout=90, serial=(), when=None):
        self.session, self.name, self.options = session, name, list(options)
        self.cases = list(cases)
        self.labels, self.needs, self.builds = list(labels), list(needs), list(builds)
        self.fixtures, self.timeout, self.serial, self.when = list(fixtures), timeout, serial, when

    def available(self, built, config):
        def present(need):
            if need.startswith("py:"):
                return importlib.util.find_spec(need[3:]) is not None
            return os.path.exists(need) if need.startswith("/") else shutil.which(need) is not None
        return (all(b in built for b in self.builds) and all(present(n) for n in self.needs)
                and (self.when is None or self.when(config)))

    def tests(self, cases):
        """Its tests as CMake registers them; `cases` every case by name."""
        for case in self.cases:
            timed = getattr(cases[case], "timed", False)
            quiet = getattr(cases[case], "quiet", False)
            yield {"name": ".".join(p for p in ("e2e", self.name, case) if p),
                   "labels": self.labels + ["timed"] * timed + ["quiet"] * quiet,
                   "timeout": self.timeout,
                   "fixtures": self.fixtures, "serial": timed or case in self.serial,
                   "args": ["--session", self.session, *self.options, case]}


def version_at_least(text, wanted):
    """Whether a version string ("6.4.2") is at least `wanted` (a tuple)."""
    numbers = []
    for part in (text or "0").split("."):
        digits = "".join(c for c in part if c.isdigit())
        numbers.append(int(digits or 0))
    return tuple(numbers) >= tuple(wanted)
