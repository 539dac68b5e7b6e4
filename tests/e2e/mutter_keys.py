"""Types keys into a headless mutter through its remote-desktop interface, for the end-to-end
harness: one line of keysyms (hexadecimal) on stdin presses them in order and releases them in
reverse. mutter ends a remote-desktop session when the client that made it leaves, so this one
stays until stdin closes. With a scale argument other than 1, the virtual monitor is set to it
first. Run by Debian's own Python, which has python3-dbus."""
import sys

import dbus

MUTTER = "org.gnome.Mutter"


def set_scale(bus, scale):
    config = dbus.Interface(bus.get_object(MUTTER + ".DisplayConfig", "/org/gnome/Mutter/DisplayConfig"),
                            MUTTER + ".DisplayConfig")
    serial, monitors, _, _ = config.GetCurrentState()
    (connector, _, _, _), modes = monitors[0][0], monitors[0][1]
    mode = next(m[0] for m in modes if m[6].get("is-current", False))
    config.ApplyMonitorsConfig(serial, 1, [(0, 0, dbus.Double(scale), dbus.UInt32(0), True,
                                            [(connector, mode, {})])], {})


def main():
    bus = dbus.SessionBus()
    if float(sys.argv[1]) != 1:
        set_scale(bus, float(sys.argv[1]))
    desktop = dbus.Interface(bus.get_object(MUTTER + ".RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop"),
                             MUTTER + ".RemoteDesktop")
    session = dbus.Interface(bus.get_object(MUTTER + ".RemoteDesktop", desktop.CreateSession()),
                             MUTTER + ".RemoteDesktop.Session")
    session.Start()

    def press(keysyms):
        for keysym in keysyms:
            session.NotifyKeyboardKeysym(dbus.UInt32(keysym), True)
        for keysym in reversed(keysyms):
            session.NotifyKeyboardKeysym(dbus.UInt32(keysym), False)

    press([0xFFE1])  # a new session loses its first key: a lone Shift
    print("ready", flush=True)
    for line in sys.stdin:
        press([int(k, 16) for k in line.split()])
        print("sent", flush=True)
    session.Stop()


if __name__ == "__main__":
    main()
