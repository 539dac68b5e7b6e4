"""Types keys into KWin through its fake-input protocol, for the end-to-end harness: one line of
evdev key codes on stdin presses them in order and releases them in reverse. Speaks the Wayland
wire protocol itself, so that it needs neither a compiler nor libwayland."""
import os
import socket
import struct
import sys


class Connection:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.buffer = b""
        self.next_id = 2

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, *args):
        body = b""
        for arg in args:
            if isinstance(arg, str):
                data = arg.encode() + b"\0"
                body += struct.pack("=I", len(data)) + data + b"\0" * (-len(data) % 4)
            else:
                body += struct.pack("=I", arg)
        self.sock.sendall(struct.pack("=II", obj, (8 + len(body)) << 16 | opcode) + body)

    def events(self):
        while True:
            while len(self.buffer) >= 8:
                obj, word = struct.unpack("=II", self.buffer[:8])
                if len(self.buffer) < word >> 16:
                    break
                body, self.buffer = self.buffer[8:word >> 16], self.buffer[word >> 16:]
                yield obj, word & 0xFFFF, body
            chunk = self.sock.recv(65536)
            if not chunk:
                raise SystemExit("kwin_keys: the compositor closed the connection")
            self.buffer += chunk

    def roundtrip(self, handle):
        """Sends wl_display.sync and hands every event before its reply to handle()."""
        callback = self.new_id()
        self.send(1, 0, callback)
        for obj, opcode, body in self.events():
            if obj == callback:
                return
            handle(obj, opcode, body)


def main():
    wayland = Connection(os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ["WAYLAND_DISPLAY"]))
    registry = wayland.new_id()
    wayland.send(1, 1, registry)  # wl_display.get_registry
    found = {}

    def global_announced(obj, opcode, body):
        if obj == registry and opcode == 0:
            name, length = struct.unpack("=II", body[:8])
            found[body[8:8 + length - 1].decode()] = name

    wayland.roundtrip(global_announced)
    interface = "org_kde_kwin_fake_input"
    if interface not in found:
        raise SystemExit("kwin_keys: the compositor offers no fake input")
    fake = wayland.new_id()
    wayland.send(registry, 0, found[interface], interface, 4, fake)  # wl_registry.bind
    wayland.send(fake, 0, "sormio tests", "types the keys of a test")  # authenticate
    wayland.roundtrip(lambda *event: None)
    print("ready", flush=True)
    for line in sys.stdin:
        codes = [int(code) for code in line.split()]
        for code in codes:
            wayland.send(fake, 10, code, 1)  # keyboard_key, pressed
        for code in reversed(codes):
            wayland.send(fake, 10, code, 0)
        wayland.roundtrip(lambda *event: None)
        print("sent", flush=True)


if __name__ == "__main__":
    main()
