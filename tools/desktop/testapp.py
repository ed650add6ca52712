#!/usr/bin/python3
"""A GTK 3 application for the desktop tests, driven through a line protocol.

    testapp.py [LAYOUT]

LAYOUT is a JSON object that describes the application's windows and their state:

    {"app_id": "org.example.Pad",            optional; sets _GTK_APPLICATION_ID (start only)
     "program": "notes",                     optional; the program name GLib and GTK give out,
                                             the application's name on the accessibility bus
                                             and its Wayland app id (start only)
     "windows": [
       {"name": "main",                      how the protocol names the window
        "title": "Notes",                    default: the name
        "wmclass": ["notes", "Notes"],       WM_CLASS instance and class (default: GTK's own)
        "accept_focus": true,                false: the window never takes the focus
        "focus": "entry",                    widget with the keyboard focus (default: entry)
        "focus_delay": 0.1,                  seconds after each activation of the window before
                                             that widget takes the focus (none meanwhile)
        "widgets": {"entry": {"text": "hello world", "selection": [6, 11],
                              "slow_change": 2.5,     seconds that every later change of the
                                                      entry's text holds the application up
                              "refuse_delete": true}, every later deletion of the entry's text
                                                      is stopped (insertions still go in)
                    "text": {"text": "line one\\nline two",
                             "role": "terminal"},    the text view's accessible role (default:
                                                     text), as a terminal emulator's shows
                    "password": {"text": "hunter"},
                    "spin": {"value": 3},
                    "button": {"label": "OK"}}}],
     "active": "main"}                       window that must be active when ready; default:
                                             the last window that accepts the focus; null: none

Every window has the same five widgets: "entry" (single-line), "text" (multi-line text view),
"password" (entry with invisible text), "spin" (spin button) and "button". Offsets count
characters (code points), as GTK does; "selection" is [start, end] with the caret at end, and
defaults to the caret at the end of the text. Widgets not named get empty text.

Once every window is mapped and the active one has the focus on its focus widget, the
application writes one line to standard output:

    {"event":"ready","pid":1234,"windows":{"main":4194311}}       (window name -> X window id)

Then it reads one JSON command per line on standard input and answers each with one JSON line:

    {"op":"state"}              -> {"ok":true,"active":"main","windows":{"main":{"title":...,
                                    "active":true,"focus":"entry","widgets":{"entry":{"text":...,
                                    "selection":[s,e],"caret":c},...}}}}
    {"op":"reset", LAYOUT...}     -> windows set to LAYOUT (missing ones opened, others closed), the
                                   active one brought to the front; answers like "ready" with
                                   "ok":true once it is ready again
    {"op":"activate","window":"main"}   -> brings that window to the front; answers when active
    {"op":"clipboard","text":"..."}     -> owns the CLIPBOARD with that text until it ends
    {"op":"keys"}               -> {"ok":true,"keys":[{"key":"v","modifiers":["control"]},...]}:
                                   the key presses that reached any window since the start or
                                   the last "keys", with the modifiers in effect at each (X's
                                   modifier bits: shift, lock, control, mod1 ... mod5)
    {"op":"drawn"}              -> answers once every window has been painted since the command
    {"op":"quit"}               -> answers, then ends

A command that cannot be carried out is answered {"ok":false,"error":"..."}. The application
ends at the end of its standard input too.
"""

import json
import os
import sys
import time
import warnings

import gi

gi.require_version("Atk", "1.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkX11", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Atk, Gdk, GdkX11, Gio, GLib, Gtk  # noqa: E402

WIDGETS = ("entry", "text", "password", "spin", "button")
# X's eight modifier bits, in order.
MODIFIER_BITS = ("shift", "lock", "control", "mod1", "mod2", "mod3", "mod4", "mod5")
LAYOUT_KEYS = {"op", "app_id", "program", "windows", "active"}
WINDOW_KEYS = {"name", "title", "wmclass", "accept_focus", "focus", "focus_delay", "widgets"}
STATE_KEYS = {"entry": {"text", "selection", "slow_change", "refuse_delete"}, "text": {"text", "selection", "role"},
              "password": {"text", "selection"}, "spin": {"value"}, "button": {"label"}}


TEXT_ROLES = {"text": Atk.Role.TEXT, "terminal": Atk.Role.TERMINAL}


class LayoutError(ValueError):
    pass


def write(message):
    sys.stdout.write(json.dumps(message) + "\n")
    sys.stdout.flush()


def check_keys(what, given, known):
    # A misspelt member would otherwise silently set nothing.
    if not isinstance(given, dict):
        raise LayoutError(f"{what} is not a JSON object")
    unknown = set(given) - known
    if unknown:
        raise LayoutError(f"{what}: unknown members {sorted(unknown)}")


def checked_range(selection, length):
    if selection is None:
        return length, length
    if (not isinstance(selection, list) or len(selection) != 2
            or not all(isinstance(n, int) for n in selection)
            or not 0 <= selection[0] <= selection[1] <= length):
        raise LayoutError(f"selection {selection!r} is not within 0..{length}")
    return selection[0], selection[1]


class Window:
    """One top-level window with the five widgets."""

    def __init__(self, app, layout):
        self.name = layout["name"]
        self.wmclass = layout.get("wmclass")
        if self.wmclass is not None and (
                not isinstance(self.wmclass, list) or len(self.wmclass) != 2
                or not all(isinstance(part, str) for part in self.wmclass)):
            raise LayoutError("wmclass is not a list of two strings")
        self.window = Gtk.ApplicationWindow(application=app)
        if self.wmclass:
            # Only possible before the window is realized: a reset that changes it opens a new
            # window. Deprecated in GTK 3, and still the only way to set it per window.
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)
                self.window.set_wmclass(*self.wmclass)
        self.window.set_default_size(480, 320)
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6, margin=8)
        self.widgets = {
            "entry": Gtk.Entry(),
            "text": Gtk.TextView(),
            "password": Gtk.Entry(visibility=False),
            "spin": Gtk.SpinButton.new_with_range(0, 1000, 1),
            "button": Gtk.Button(label="OK"),
        }
        for name, widget in self.widgets.items():
            widget.get_accessible().set_name(name)
            if name == "text":
                scrolled = Gtk.ScrolledWindow(min_content_height=120)
                scrolled.add(widget)
                box.pack_start(scrolled, True, True, 0)
            else:
                box.pack_start(widget, False, False, 0)
        self.window.add(box)
        self.window.connect("delete-event", lambda *_: True)  # closed only by the protocol
        self.window.connect("key-press-event", app.on_key_press)
        # Whatever can complete a wait for readiness.
        self.window.connect("map-event", lambda *_: app.check_ready())
        self.window.connect("notify::is-active", lambda *_: app.check_ready())
        self.window.connect("notify::is-active", self.on_active)
        self.focus_delay = None
        for widget in self.widgets.values():
            widget.connect("focus-in-event", lambda *_: app.check_ready())
        self.slow_change = None  # the entry's handler that holds the application up
        self.refuse_delete = None  # the entry's handler that stops deletions

    def apply(self, layout):
        self.window.set_title(layout.get("title", self.name))
        self.window.set_accept_focus(layout.get("accept_focus", True))
        widgets = layout.get("widgets", {})
        check_keys("widgets", widgets, set(WIDGETS))
        for name, state in widgets.items():
            check_keys(name, state, STATE_KEYS[name])
        focus = layout.get("focus", "entry")
        if focus not in WIDGETS:
            raise LayoutError(f"unknown focus widget {focus!r}")
        role = widgets.get("text", {}).get("role", "text")
        if role not in TEXT_ROLES:
            raise LayoutError(f"unknown text role {role!r}")
        focus_delay = layout.get("focus_delay")
        if focus_delay is not None and (not isinstance(focus_delay, (int, float))
                                        or focus_delay < 0):
            raise LayoutError(f"focus_delay {focus_delay!r} is not a number of seconds")
        for handler in (self.slow_change, self.refuse_delete):
            if handler is not None:
                self.widgets["entry"].disconnect(handler)
        self.slow_change = self.refuse_delete = None
        for name in ("entry", "password"):
            state = widgets.get(name, {})
            entry = self.widgets[name]
            text = state.get("text", "")
            start, end = checked_range(state.get("selection"), len(text))
            entry.set_text(text)
            entry.select_region(start, end)
        delay = widgets.get("entry", {}).get("slow_change")
        if delay is not None:
            # An application whose own handler of a change takes a while, during which it answers
            # nobody: a write through the accessibility bus is answered only afterwards.
            self.slow_change = self.widgets["entry"].connect(
                "changed", lambda *_: time.sleep(float(delay)))
        if widgets.get("entry", {}).get("refuse_delete"):
            # A field that takes insertions and keeps everything it holds: a deletion through the
            # accessibility bus is answered as done and changes nothing.
            self.refuse_delete = self.widgets["entry"].connect(
                "delete-text", lambda entry, *_: entry.stop_emission_by_name("delete-text"))
        state = widgets.get("text", {})
        text = state.get("text", "")
        start, end = checked_range(state.get("selection"), len(text))
        buffer = self.widgets["text"].get_buffer()
        buffer.set_text(text)
        buffer.select_range(buffer.get_iter_at_offset(end), buffer.get_iter_at_offset(start))
        self.widgets["spin"].set_value(widgets.get("spin", {}).get("value", 0))
        self.widgets["button"].set_label(widgets.get("button", {}).get("label", "OK"))
        self.widgets["text"].get_accessible().set_role(TEXT_ROLES[role])
        self.window.set_focus(self.widgets[focus])
        self.focus = self.widgets[focus]
        self.focus_delay = focus_delay
        self.window.show_all()

    def on_active(self, *_):
        if self.focus_delay is not None and self.window.is_active():
            # As an application that sets up its window anew on each activation: no widget has
            # the focus until the delay is over.
            self.window.set_focus(None)
            GLib.timeout_add(int(self.focus_delay * 1000), self.refocus)

    def refocus(self):
        if self.window.is_active():
            self.window.set_focus(self.focus)
        return False

    def xid(self):
        gdk_window = self.window.get_window()
        # A native Wayland window has no X id.
        return gdk_window.get_xid() if isinstance(gdk_window, GdkX11.X11Window) else None

    def ready(self, active):
        if not self.window.get_mapped():
            return False
        return not active or (self.window.is_active() and self.focus.has_focus())

    def present(self):
        # A timestamp from the server, so that the window manager does not take the request for
        # an old one and refuse it as focus stealing.
        gdk_window = self.window.get_window()
        if isinstance(gdk_window, GdkX11.X11Window):
            self.window.present_with_time(GdkX11.x11_get_server_time(gdk_window))
        else:
            self.window.present()

    def state(self):
        widgets = {}
        for name in ("entry", "password", "spin"):
            entry = self.widgets[name]
            bounds = entry.get_selection_bounds()
            caret = entry.get_position()
            widgets[name] = {"text": entry.get_text(),
                             "selection": list(bounds) if bounds else [caret, caret],
                             "caret": caret}
        buffer = self.widgets["text"].get_buffer()
        caret = buffer.get_iter_at_mark(buffer.get_insert())
        start, end = buffer.get_selection_bounds() or (caret, caret)
        widgets["text"] = {"text": buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(),
                                                   True),
                           "selection": [start.get_offset(), end.get_offset()],
                           "caret": caret.get_offset()}
        widgets["button"] = {"label": self.widgets["button"].get_label()}
        focus = self.window.get_focus()
        return {"title": self.window.get_title(), "active": self.window.is_active(),
                "focus": next((n for n, w in self.widgets.items() if w is focus), None),
                "widgets": widgets}


class TestApp(Gtk.Application):
    def __init__(self, layout):
        super().__init__(application_id=layout.get("app_id"), flags=Gio.ApplicationFlags.NON_UNIQUE)
        self.layout = layout
        self.windows = {}
        self.active = None
        self.failed = False
        self.pending = None  # (what to answer, window that must be active or None) until ready
        # Commands wait in line while one is being carried out (the start counts as one).
        self.busy = True
        self.lines = []
        self.keys = []  # key presses seen since the last "keys" command
        self.stdin_buffer = b""
        self.input_ended = False
        settings = Gtk.Settings.get_default()
        # No blinking caret, and no select-all when a widget takes the focus: what a test sets
        # is what the widget shows.
        settings.set_property("gtk-cursor-blink", False)
        settings.set_property("gtk-entry-select-on-focus", False)

    def do_activate(self):
        self.hold()
        GLib.io_add_watch(sys.stdin.fileno(), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP,
                          self.on_stdin)
        try:
            self.reset(self.layout, {"event": "ready"})
        except LayoutError as error:
            write({"event": "failed", "error": str(error)})
            self.failed = True
            self.quit()

    def reset(self, layout, answer):
        check_keys("layout", layout, LAYOUT_KEYS)
        window_layouts = layout.get("windows", [])
        if not isinstance(window_layouts, list):
            raise LayoutError("windows is not a list")
        for window_layout in window_layouts:
            check_keys("window", window_layout, WINDOW_KEYS)
        names = [w.get("name") for w in window_layouts]
        if not all(isinstance(n, str) for n in names) or len(set(names)) != len(names):
            raise LayoutError("each window needs a name of its own")
        active = layout.get("active", next((w["name"] for w in reversed(window_layouts)
                                          if w.get("accept_focus", True)), None))
        if active is not None and active not in names:
            raise LayoutError(f"active window {active!r} is not in the windows")
        if active is not None and not next(w for w in window_layouts
                                           if w["name"] == active).get("accept_focus", True):
            raise LayoutError(f"active window {active!r} does not accept the focus")
        for name in list(self.windows):
            kept = next((w for w in window_layouts if w["name"] == name), None)
            if kept is None or kept.get("wmclass") != self.windows[name].wmclass:
                self.windows.pop(name).window.destroy()
        for window_layout in window_layouts:
            window = self.windows.get(window_layout["name"]) or Window(self, window_layout)
            window.apply(window_layout)
            self.windows[window.name] = window
        self.active = active
        if active is not None:
            self.windows[active].present()
        self.wait_ready(answer, active)

    def wait_ready(self, answer, active):
        self.pending = (answer, active)
        GLib.idle_add(self.check_ready)

    def check_ready(self):
        if self.pending is None:
            return False
        answer, active = self.pending
        if all(w.ready(w.name == active) for w in self.windows.values()):
            self.pending = None
            self.finish({**answer, "pid": os.getpid(),
                         "windows": {name: w.xid() for name, w in self.windows.items()}})
        return False

    def finish(self, answer):
        """Answers the command being carried out and takes the next one."""
        write(answer)
        self.busy = False
        GLib.idle_add(self.drain)

    def drain(self):
        while self.lines and not self.busy:
            self.command(self.lines.pop(0))
        if self.input_ended and not self.lines and not self.busy:
            self.quit()
        return False

    def on_key_press(self, _window, event):
        self.keys.append({"key": Gdk.keyval_name(event.keyval),
                          "modifiers": [name for bit, name in enumerate(MODIFIER_BITS)
                                        if int(event.state) & (1 << bit)]})
        return False  # the widgets handle the key as usual

    def on_stdin(self, fd, condition):
        chunk = os.read(fd, 65536)
        if not chunk:
            # The commands already read are still carried out.
            self.input_ended = True
            self.drain()
            return False
        self.stdin_buffer += chunk
        while b"\n" in self.stdin_buffer:
            line, self.stdin_buffer = self.stdin_buffer.split(b"\n", 1)
            if line.strip():
                self.lines.append(line)
        self.drain()
        return True

    def command(self, line):
        try:
            request = json.loads(line)
            op = request.get("op")
            if op == "state":
                write({"ok": True, "active": next((n for n, w in self.windows.items()
                                                   if w.window.is_active()), None),
                       "windows": {n: w.state() for n, w in self.windows.items()}})
            elif op == "reset":
                self.busy = True
                self.reset(request, {"ok": True})
            elif op == "activate":
                window = self.windows.get(request.get("window"))
                if window is None:
                    raise LayoutError(f"no window {request.get('window')!r}")
                if not window.window.get_accept_focus():
                    raise LayoutError(f"window {window.name!r} does not accept the focus")
                self.busy = True
                window.present()
                self.wait_ready({"ok": True}, window.name)
            elif op == "clipboard":
                clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
                clipboard.set_text(str(request["text"]), -1)
                write({"ok": True})
            elif op == "keys":
                write({"ok": True, "keys": self.keys})
                self.keys = []
            elif op == "drawn":
                self.busy = True
                self.answer_when_drawn()
            elif op == "quit":
                self.busy = True  # for good: nothing after it is carried out
                write({"ok": True})
                self.quit()
            else:
                raise LayoutError(f"unknown op {op!r}")
        except (ValueError, KeyError, TypeError, AttributeError) as error:
            self.busy = False
            write({"ok": False, "error": str(error)})

    def answer_when_drawn(self):
        waiting = {w.window for w in self.windows.values() if w.window.get_mapped()}
        handlers = {}

        def painted(clock, window):
            clock.disconnect(handlers.pop(window))
            waiting.discard(window)
            if not waiting:
                # A round trip: the server has carried out every drawing request by then.
                Gdk.Display.get_default().sync()
                self.finish({"ok": True})

        if not waiting:
            self.finish({"ok": True})
            return
        for window in waiting:
            clock = window.get_frame_clock()
            handlers[window] = clock.connect("after-paint", painted, window)
            window.queue_draw()


def main():
    try:
        layout = json.loads(sys.argv[1]) if len(sys.argv) > 1 else {"windows": [{"name": "main"}]}
        if not isinstance(layout, dict):
            raise ValueError("the layout is not a JSON object")
    except ValueError as error:
        write({"event": "failed", "error": str(error)})
        return 2
    if isinstance(layout.get("program"), str):
        GLib.set_prgname(layout["program"])
    if Gdk.Display.get_default() is None:
        write({"event": "failed", "error": "cannot open the display"})
        return 1
    app = TestApp(layout)
    status = app.run([sys.argv[0]])
    return 1 if app.failed else status


if __name__ == "__main__":
    sys.exit(main())
