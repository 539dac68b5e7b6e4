"""A real sound server for a test or a benchmark, with a null sink whose monitor can be recorded:
PulseAudio, or PipeWire with its PulseAudio interface. Everything runs in a folder of its own
(runtime dir, config, home) and every process is stopped by its own process id.

    with SoundServer("pulseaudio", folder) as server:
        env = server.env(os.environ)          # what a client needs to find it
        with server.recorder() as rec:        # the sink's monitor, s16 mono 48 kHz
            ...
            rec.tones()                       # onsets of the tones heard so far
"""
import array
import os
import shutil
import signal
import subprocess
import tempfile
import time

RATE = 48000

PIPEWIRE_DROP_IN = """\
context.properties = {
    default.clock.min-quantum = 16
    # PipeWire raises the smallest period to 1024 frames when it finds itself in a VM.
    vm.overrides = { default.clock.min-quantum = 16 }
}
context.objects = [
    { factory = adapter
      args = {
          factory.name = support.null-audio-sink
          node.name = "null_sink"
          node.description = "Null sink"
          media.class = Audio/Sink
          audio.position = [ FL FR ]
          audio.rate = 48000
      }
    }
]
"""


class ServerError(Exception):
    pass


def _stop(proc, timeout=3):
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()


class SoundServer:
    KINDS = ("pulseaudio", "pipewire")

    def __init__(self, kind, folder=None):
        if kind not in self.KINDS:
            raise ValueError(kind)
        self.kind = kind
        self.own_folder = folder is None
        self.folder = folder or tempfile.mkdtemp(prefix="sormio-sound-")
        self.runtime = os.path.join(self.folder, "run")
        self.procs = []
        self.recordings = []  # of the sink's monitor, by its recorders

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        for name in ("PULSE_SERVER", "PULSE_SINK", "DISPLAY", "WAYLAND_DISPLAY", "PIPEWIRE_REMOTE"):
            env.pop(name, None)
        env.update(XDG_RUNTIME_DIR=self.runtime,
                   XDG_CONFIG_HOME=os.path.join(self.folder, "config"),
                   HOME=os.path.join(self.folder, "home"),
                   DBUS_SESSION_BUS_ADDRESS=f"unix:path={self.runtime}/bus")
        return env

    def client_env(self, base):
        """Lets an existing environment (a game's) find this server and nothing else."""
        env = dict(base)
        env.pop("PULSE_SERVER", None)
        env["XDG_RUNTIME_DIR"] = self.runtime
        return env

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        if self.own_folder:
            shutil.rmtree(self.folder, ignore_errors=True)

    def _spawn(self, args):
        proc = subprocess.Popen(args, env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        self.procs.append(proc)
        return proc

    def start(self):
        for sub in ("run", "home", "config/pipewire/pipewire.conf.d"):
            os.makedirs(os.path.join(self.folder, sub), exist_ok=True)
        os.chmod(self.runtime, 0o700)
        if self.kind == "pulseaudio":
            self._spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                         "--realtime=no", "--high-priority=no", "--log-target=stderr",
                         "--load=module-native-protocol-unix auth-anonymous=1",
                         f"--load=module-null-sink sink_name=null_sink rate={RATE} channels=2"])
            self._wait_ready(10)
            return
        with open(os.path.join(self.folder, "config/pipewire/pipewire.conf.d/null-sink.conf"),
                  "w") as f:
            f.write(PIPEWIRE_DROP_IN)
        # WirePlumber hangs in about one start in a hundred: give it one more go.
        for attempt in (1, 2):
            try:
                self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                             f"--address=unix:path={self.runtime}/bus"])
                self._wait_for_path(os.path.join(self.runtime, "bus"), 5)
                self._spawn(["pipewire"])
                self._wait_for_path(os.path.join(self.runtime, "pipewire-0"), 5)
                self._spawn(["wireplumber"])
                self._spawn(["pipewire-pulse"])
                self._wait_ready(10)
                return
            except ServerError:
                self.stop()
                if attempt == 2:
                    raise

    def _wait_for_path(self, path, timeout):
        deadline = time.monotonic() + timeout
        while not os.path.exists(path):
            if time.monotonic() > deadline or any(p.poll() is not None for p in self.procs):
                raise ServerError(f"{self.kind}: {os.path.basename(path)} did not appear")
            time.sleep(0.02)

    def _wait_ready(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(p.poll() is not None for p in self.procs):
                raise ServerError(f"{self.kind} exited while starting")
            try:
                info = subprocess.run(["pactl", "info"], env=self.env(), capture_output=True,
                                      text=True, timeout=2).stdout
            except subprocess.TimeoutExpired:
                info = ""
            if "Default Sink: null_sink" in info:
                return
            time.sleep(0.05)
        raise ServerError(f"{self.kind} did not offer its null sink within {timeout} s")

    def kill(self):
        """Ends the server at once, as a crash would."""
        for proc in reversed(self.procs):
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        self.procs = []

    def stop(self):
        for proc in reversed(self.procs):
            _stop(proc)
        self.procs = []

    def recorder(self):
        return Recorder(self)


class Recorder:
    """Records the null sink's monitor into a file: signed 16-bit mono at 48 kHz."""

    def __init__(self, server):
        self.server = server
        self.path = os.path.join(server.folder, f"monitor-{time.monotonic_ns()}.raw")
        self.proc = None

    def __enter__(self):
        self.server.recordings.append(self.path)
        self.file = open(self.path, "wb")
        self.proc = subprocess.Popen(
            ["parec", "--device=null_sink.monitor", "--format=s16le", f"--rate={RATE}",
             "--channels=1", "--raw", "--latency-msec=10"],
            env=self.server.env(), stdout=self.file, stderr=subprocess.DEVNULL,
            start_new_session=True)
        # An idle sink renders ahead of the clock: what counts starts once data flows.
        deadline = time.monotonic() + 10
        while os.path.getsize(self.path) < RATE // 2:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.__exit__()
                raise ServerError("the sink's monitor delivers no data")
            time.sleep(0.02)
        return self

    def __exit__(self, *exc):
        if self.proc is not None:
            _stop(self.proc)
            self.proc = None
        self.file.close()

    def samples(self):
        a = array.array("h")
        with open(self.path, "rb") as f:
            data = f.read()
        a.frombytes(data[:len(data) // 2 * 2])
        return a

    def tones(self, threshold=1000, silence_ms=25):
        """Sample positions where a tone starts: above the threshold after at least
        silence_ms below it, rising as the game's tones rise (a 4 ms fade-in). A starved sound
        path (a busy machine) breaks a tone into pieces with silence between them, and may play
        a piece of one again; such a piece sets in at the level the tone had reached, and is
        part of the tone before it. One that does not rise starts a tone only where that one
        has sounded whole, began a slot ago (silence is all a server puts between the samples
        it was given, so tones set in a slot apart or more) and it sounds for long itself, as a
        tone whose first moments were lost does."""
        samples = self.samples()
        gap, whole, half_period = RATE * silence_ms // 1000, RATE * 35 // 1000, RATE // 1760 + 1
        slot = self.SLOT - RATE * 2 // 1000
        pieces, last = [], None
        for i, v in enumerate(samples):
            if v > threshold or v < -threshold:
                if last is None or i - last > gap:
                    pieces.append([i, i])
                pieces[-1][1] = last = i

        def rises(i):
            # A tone that sets in reaches three quarters of its level only after a few of its
            # half periods; a piece of one has its level within the first.
            first = max(abs(v) for v in samples[i:i + half_period])
            return first < 0.75 * max(abs(v) for v in samples[i:i + 6 * RATE // 1000])

        onsets, sounded = [], 0
        for start, end in pieces:
            if (not onsets or rises(start)
                    or sounded >= whole and start - onsets[-1] >= slot and end - start >= whole // 2):
                onsets.append(start)
                sounded = 0
            sounded += end - start
        return onsets

    # One tone and its silence, in samples: the game's tones follow each other this far apart.
    SLOT = RATE * 80 // 1000

    def heard_all(self, timeout=10):
        """Waits until every tone a game has written by now has begun on the sink: the
        recording, on the sink's own clock, runs on past where one more of the same burst, or
        one written just now, would have set in. A slow server makes it wait longer."""
        onsets = self.tones()
        end = max(self.position(), onsets[-1] if onsets else 0) + 3 * self.SLOT
        deadline = time.monotonic() + timeout
        while self.position() < end:
            if time.monotonic() > deadline:
                raise ServerError("the sink's monitor stopped delivering data")
            time.sleep(0.01)

    def tones_since(self, position):
        return [t for t in self.tones() if t >= position]

    def position(self):
        """Where the recording stands now, in samples."""
        return os.path.getsize(self.path) // 2
