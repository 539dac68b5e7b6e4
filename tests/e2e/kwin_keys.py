"""Types keys into KWin through its fake-input protocol, for the end-to-end harness: one line of
evdev key codes on stdin presses them in order and releases them in reverse. Speaks the Wayland
wire protocol itself, so that it needs neither a compiler nor libwayland."""
import os
import socket
import struct
import sys

wayland = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
wayland.connect(os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ["WAYLAND_DISPLAY"]))
ids = iter(range(2, 1 << 24))  # a client numbers its new objects in order, from 2
received = bytearray()


def send(obj, opcode, *args):
    body = b""
    for arg in args:
        if isinstance(arg, str):
            data = arg.encode() + b"\0"
            body += struct.pack("=I", len(data)) + data + b"\0" * (-len(data) % 4)
        else:
            body += struct.pack("=I", arg)
    wayland.sendall(struct.pack("=II", obj, (8 + len(body)) << 16 | opcode) + body)


def roundtrip():
    """wl_display.sync: the events that came before its answer, as (object, opcode, body)."""
    done = next(ids)
    send(1, 0, done)
    events = []
    while True:
        while len(received) >= 8 and len(received) >= struct.unpack("=II", received[:8])[1] >> 16:
            obj, word = struct.unpack("=II", received[:8])
            message = bytes(received[8:word >> 16])
            del received[:word >> 16]
            if obj == done:
                return events
            events.append((obj, word & 0xFFFF, message))
        chunk = wayland.recv(65536)
        if not chunk:
            sys.exit("kwin_keys: the compositor closed the connection")
        received.extend(chunk)


REGISTRY = next(ids)
send(1, 1, REGISTRY)  # wl_display.get_registry
interfaces = {}
for obj, opcode, body in roundtrip():
    if obj == REGISTRY and opcode == 0:  # wl_registry.global: name, interface, version
        name, length = struct.unpack("=II", body[:8])
        interfaces[body[8:8 + length - 1].decode()] = name
if "org_kde_kwin_fake_input" not in interfaces:
    sys.exit("kwin_keys: the compositor offers no fake input")
FAKE = next(ids)
send(REGISTRY, 0, interfaces["org_kde_kwin_fake_input"], "org_kde_kwin_fake_input", 4, FAKE)  # bind
send(FAKE, 0, "sormio tests", "types the keys of a test")  # authenticate
roundtrip()
print("ready", flush=True)
for line in sys.stdin:
    codes = [int(code) for code in line.split()]
    for code, state in [(c, 1) for c in codes] + [(c, 0) for c in reversed(codes)]:
        send(FAKE, 10, code, state)  # keyboard_key
    roundtrip()
    print("sent", flush=True)
