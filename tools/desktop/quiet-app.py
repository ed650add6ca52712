#!/usr/bin/python3
"""An application on the accessibility bus that never sends an event, for the vantor tests.

    quiet-app.py NAME TITLE

Joins the accessibility bus (found through org.a11y.Bus on the session bus) as an application
named NAME with one frame titled TITLE whose states say ACTIVE, the way a toolkit's bridge shows
a window that took the focus before the bridge learnt that anyone listens for window events: the
state is there to be read, and no window:activate ever comes. Writes "ready" once the registry
has taken it in, and runs until it is ended by a signal.
"""

import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

ROOT = "/org/a11y/atspi/accessible/root"
FRAME = "/org/a11y/atspi/accessible/1"
STATE_ACTIVE = 1
STATE_SHOWING = 25
STATE_VISIBLE = 30
INTERFACE = Gio.DBusNodeInfo.new_for_xml("""<node>
  <interface name="org.a11y.atspi.Accessible">
    <method name="GetChildren"><arg type="a(so)" direction="out"/></method>
    <method name="GetState"><arg type="au" direction="out"/></method>
    <property name="Name" type="s" access="read"/>
    <property name="ChildCount" type="i" access="read"/>
  </interface>
</node>""").interfaces[0]


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    name, title = argv[1], argv[2]
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NO_AUTO_START,
                                5000, None).unpack()[0]
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    unique = bus.get_unique_name()

    def method(_connection, _sender, path, _interface, member, _parameters, invocation):
        if member == "GetChildren":
            children = [(unique, FRAME)] if path == ROOT else []
            invocation.return_value(GLib.Variant("(a(so))", (children,)))
        else:
            states = 0
            if path == FRAME:
                states = (1 << STATE_ACTIVE) | (1 << STATE_SHOWING) | (1 << STATE_VISIBLE)
            invocation.return_value(GLib.Variant("(au)", ([states, 0],)))

    def prop(_connection, _sender, path, _interface, member):
        if member == "Name":
            return GLib.Variant("s", name if path == ROOT else title)
        return GLib.Variant("i", 1 if path == ROOT else 0)

    for path in (ROOT, FRAME):
        bus.register_object(path, INTERFACE, method, prop, None)
    bus.call_sync("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Socket", "Embed",
                  GLib.Variant("((so))", ((unique, ROOT),)), None, Gio.DBusCallFlags.NONE, 5000,
                  None)
    print("ready", flush=True)
    GLib.MainLoop().run()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
