#!/usr/bin/python3
"""The keyboard of a headless mutter for the desktop tests: a remote desktop session
(org.gnome.Mutter.RemoteDesktop on the session bus) that stays open for as long as this process
runs. mutter ends the session when its client leaves the bus, so one process must hold it.

    mutter-keyboard.py      (DBUS_SESSION_BUS_ADDRESS names mutter's session bus)

Takes the same commands as wayland-keyboard (press CODE, release CODE, with Linux input codes)
and answers "ok" or "error: ..." for each. A seat has no keyboard until the first key, and no
window gets the keyboard focus before, so a Shift press and release go out before "ready".
"""

import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

SERVICE = "org.gnome.Mutter.RemoteDesktop"
KEY_LEFTSHIFT = 42
TIMEOUT_MS = 5000


def call(bus, path, interface, method, arguments=None, reply=None):
    return bus.call_sync(SERVICE, path, interface, method, arguments,
                         GLib.VariantType(reply) if reply else None,
                         Gio.DBusCallFlags.NO_AUTO_START, TIMEOUT_MS, None)


def main():
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        session = call(bus, "/org/gnome/Mutter/RemoteDesktop", SERVICE, "CreateSession",
                       reply="(o)").unpack()[0]
        interface = SERVICE + ".Session"
        call(bus, session, interface, "Start")

        def key(code, pressed):
            call(bus, session, interface, "NotifyKeyboardKeycode",
                 GLib.Variant("(ub)", (code, pressed)))

        key(KEY_LEFTSHIFT, True)
        key(KEY_LEFTSHIFT, False)
    except GLib.Error as error:
        print(f"error: {error.message}", flush=True)
        return 1
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if len(words) != 2 or words[0] not in ("press", "release") or not words[1].isdigit():
            print(f"error: not a command: {line.strip()}", flush=True)
            continue
        try:
            key(int(words[1]), words[0] == "press")
        except GLib.Error as error:
            print(f"error: {error.message}", flush=True)
            return 1
        print("ok", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
