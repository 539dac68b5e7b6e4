"""One virtual keyboard for a whole session under a wlroots compositor (sway), spoken over the
Wayland wire protocol itself: its keymap, every key the cases type, is sent once when it is made.
A tool that makes a keyboard per call (wtype) sends a new keymap with each call, and a key that
reaches the game a round trip before its keymap is read with the last one: a real keyboard's
keymap does not change between two keys."""
import os
import socket
import struct
import time

# The keys the cases type, each on a keycode of its own that never changes.
KEYSYMS = ([chr(c) for c in range(ord("a"), ord("z") + 1)] + [str(d) for d in range(10)] +
           [f"F{n}" for n in range(1, 13)] +
           ["space", "Return", "Escape", "BackSpace", "Tab", "Up", "Down", "Left", "Right",
            "dead_acute", "dead_grave", "dead_diaeresis", "dead_circumflex", "dead_tilde",
            "adiaeresis", "odiaeresis", "aring"])
FIRST_KEYCODE = 9  # evdev code 1: XKB numbers keys from 8


def keymap():
    """The XKB keymap text: one key of one level per keysym."""
    codes = "".join(f"<K{i}> = {FIRST_KEYCODE + i};\n" for i in range(len(KEYSYMS)))
    symbols = "".join(f"key <K{i}> {{[ {k} ]}};\n" for i, k in enumerate(KEYSYMS))
    return (f'xkb_keymap {{\nxkb_keycodes "sormio" {{\nminimum = 8;\nmaximum = 255;\n{codes}}};\n'
            'xkb_types "sormio" { include "complete" };\n'
            'xkb_compatibility "sormio" { include "complete" };\n'
            f'xkb_symbols "sormio" {{\n{symbols}}};\n}};\n')


def _string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


class VirtualKeyboard:
    """zwp_virtual_keyboard_v1 on the compositor's first seat."""

    DISPLAY, REGISTRY = 1, 2

    def __init__(self, display_path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(10)
        self.sock.connect(display_path)
        self.buffer = b""
        self.next_id = 3
        self._send(self.DISPLAY, 1, struct.pack("<I", self.REGISTRY))  # get_registry
        globals_ = {}
        self._roundtrip(lambda obj, op, body: obj == self.REGISTRY and op == 0 and globals_.update(
            {self._global_interface(body): body}))
        manager_name = globals_.get("zwp_virtual_keyboard_manager_v1")
        seat_name = globals_.get("wl_seat")
        if manager_name is None or seat_name is None:
            raise RuntimeError("the compositor offers no virtual keyboard")
        seat = self._bind(seat_name, "wl_seat", 1)
        manager = self._bind(manager_name, "zwp_virtual_keyboard_manager_v1", 1)
        self.keyboard = self._new_id()
        self._send(manager, 0, struct.pack("<II", seat, self.keyboard))  # create_virtual_keyboard
        text = keymap().encode() + b"\0"
        fd = os.memfd_create("sormio-keymap", os.MFD_CLOEXEC)
        try:
            os.write(fd, text)
            # keymap(format 1 = xkb v1, fd, size)
            self._send(self.keyboard, 0, struct.pack("<II", 1, len(text)), fds=[fd])
        finally:
            os.close(fd)
        self._roundtrip()

    @staticmethod
    def _global_interface(body):
        length = struct.unpack_from("<I", body, 4)[0]
        return body[8:8 + length - 1].decode()

    def _new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def _bind(self, name_body, interface, version):
        new = self._new_id()
        name = struct.unpack_from("<I", name_body, 0)[0]
        self._send(self.REGISTRY, 0, struct.pack("<I", name) + _string(interface) +
                   struct.pack("<II", version, new))
        return new

    def _send(self, obj, opcode, body, fds=()):
        message = struct.pack("<II", obj, (8 + len(body)) << 16 | opcode) + body
        if fds:
            socket.send_fds(self.sock, [message], list(fds))
        else:
            self.sock.sendall(message)

    def _roundtrip(self, on_event=lambda obj, op, body: None):
        """Everything sent so far handled by the compositor: wl_display.sync answered."""
        callback = self._new_id()
        self._send(self.DISPLAY, 0, struct.pack("<I", callback))
        while True:
            while len(self.buffer) < 8 or len(self.buffer) < (struct.unpack_from("<I", self.buffer, 4)[0] >> 16):
                data = self.sock.recv(65536)
                if not data:
                    raise RuntimeError("the compositor closed the connection")
                self.buffer += data
            obj, word = struct.unpack_from("<II", self.buffer)
            size, op = word >> 16, word & 0xFFFF
            body, self.buffer = self.buffer[8:size], self.buffer[size:]
            if obj == self.DISPLAY and op == 0:  # error(object, code, message)
                raise RuntimeError("the compositor refused a request: " + body[12:].decode(errors="replace"))
            if obj == callback and op == 0:
                return
            on_event(obj, op, body)

    def type(self, *keysyms):
        """Each key pressed and released in turn, once the compositor has taken them all."""
        for k in keysyms:
            if k not in KEYSYMS:
                raise ValueError(f"the virtual keyboard has no key {k!r}")
            code = FIRST_KEYCODE - 8 + KEYSYMS.index(k)
            for state in (1, 0):  # pressed, released
                ms = int(time.monotonic() * 1000) & 0xFFFFFFFF
                self._send(self.keyboard, 1, struct.pack("<III", ms, code, state))
        self._roundtrip()

    def close(self):
        self.sock.close()
