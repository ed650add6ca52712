#!/usr/bin/python3
"""vantor on a virtual desktop, with real applications activated through the window manager.

    tests/desktop/vantor_test.py --vantor PATH [unittest arguments]

Each test starts a desktop of its own, starts test applications (tools/desktop/testapp.py), runs
the vantor binary at PATH as a host would, and activates windows the way a pager or a task bar
does (xdotool windowactivate: the EWMH _NET_ACTIVE_WINDOW request to openbox). vantor's lines are
read with a bounded wait each; that no line comes is shown by a fence, a later activation whose
line must come next. See toolcase.py for what every test shares.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import toolcase  # noqa: E402
from toolcase import desktop  # noqa: E402


class VantorTestCase(toolcase.ToolTestCase):
    tool = "vantor"

    def application(self, name, app_id=None, windows=("main",), title=None):
        """A test application whose windows have the WM_CLASS (name, Name); ready once its last
        window is active."""
        layout = {"windows": [{"name": window, "title": title or f"{name} {window}",
                             "wmclass": [name.lower(), name]} for window in windows]}
        if app_id:
            layout["app_id"] = app_id
        return self.start_app(layout)

    def start_app(self, layout):
        # The application is ready once its window has the focus; the window manager names it
        # on the root window a moment later.
        app = super().start_app(layout)
        active = layout["windows"][-1]["name"]
        desktop.wait_until(lambda: self.active_window() == app.windows[active],
                           desktop.APP_TIMEOUT, f"window {active} named active")
        return app

    def active_window(self):
        result = subprocess.run(["xdotool", "getactivewindow"], env=self.desktop.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=toolcase.COMMAND_TIMEOUT)
        return int(result.stdout) if result.returncode == 0 and result.stdout.strip() else None

    def start_tool(self, *arguments, **options):
        # "ready" comes before the observer is registered; an activation in between would not be
        # reported, on a Mac as here.
        vantor = super().start_tool(*arguments, **options)
        self.wait_until_waiting(vantor)
        return vantor

    def activate(self, app, window=None):
        """Activates `window` of `app`, by default its first."""
        self.xdotool("windowactivate", "--sync", app.windows[window or next(iter(app.windows))])

    def watch_from(self, vantor, first, second):
        """Activates `first`, then `second`, and reads vantor's lines up to the one for
        `second`: vantor then surely watches, and `second` is the application it knows in front.
        (The first activation may come before vantor watches, and then has no line.)"""
        self.activate(first)
        self.activate(second)
        while True:
            line = vantor.line()
            self.assertIsNotNone(line)
            if line.endswith(f"|{second.pid}"):
                return
            self.assertTrue(line.endswith(f"|{first.pid}"), line)


class VantorDesktopTest(VantorTestCase):

    def test_two_applications_activated_in_turn_give_one_line_each(self):
        notes = self.application("Notes", app_id="org.example.Notes")
        sketch = self.application("Sketch")
        vantor = self.start_tool()
        self.watch_from(vantor, notes, sketch)
        self.activate(notes)
        self.activate(sketch)
        self.activate(notes)
        # Sketch has no application id: its class stands in for the bundle identifier.
        self.assertLines(vantor, f"APP:org.example.Notes|Notes|{notes.pid}",
                         f"APP:Sketch|Sketch|{sketch.pid}",
                         f"APP:org.example.Notes|Notes|{notes.pid}")

    def test_switching_between_windows_of_one_application_gives_no_line(self):
        notes = self.application("Notes", windows=("one", "two"))
        sketch = self.application("Sketch")
        vantor = self.start_tool()
        self.watch_from(vantor, notes, sketch)
        self.activate(notes, "one")
        self.activate(notes, "two")
        self.activate(notes, "one")
        self.activate(sketch)
        self.assertLines(vantor, f"APP:Notes|Notes|{notes.pid}", f"APP:Sketch|Sketch|{sketch.pid}")

    def test_the_application_in_front_at_the_start_is_not_announced_again(self):
        notes = self.application("Notes", windows=("one", "two"))
        vantor = self.start_tool()
        self.activate(notes, "one")
        sketch = self.application("Sketch")  # comes to the front by itself
        self.assertLines(vantor, f"APP:Sketch|Sketch|{sketch.pid}")

    def test_a_window_without_a_process_is_no_application(self):
        notes = self.application("Notes")
        sketch = self.application("Sketch")
        vantor = self.start_tool()
        self.watch_from(vantor, notes, sketch)
        message = self.desktop.spawn(["xmessage", "no pid here"])
        self.addCleanup(message.wait)
        self.addCleanup(message.kill)
        self.xdotool("search", "--sync", "--class", "Xmessage", "windowactivate", "--sync")
        # xmessage names no process (_NET_WM_PID): skipped, and Sketch is still the application
        # in front, so Notes is the next line.
        self.activate(sketch)
        self.activate(notes)
        self.assertLines(vantor, f"APP:Notes|Notes|{notes.pid}")

    def test_a_line_break_in_a_title_or_class_does_not_break_the_line(self):
        notes = self.start_app({"windows": [{"name": "main", "title": "Draft\nof a letter",
                                             "wmclass": ["notes", "Note\nPad\rPro"]}]})
        sketch = self.application("Sketch")
        vantor = self.start_tool()
        self.watch_from(vantor, notes, sketch)
        self.activate(notes)
        self.activate(sketch)
        self.assertLines(vantor, f"APP:Note Pad Pro|Note Pad Pro|{notes.pid}",
                         f"APP:Sketch|Sketch|{sketch.pid}")

    def test_a_reader_that_has_gone_ends_vantor_with_status_0(self):
        notes = self.application("Notes")
        sketch = self.application("Sketch")
        vantor = self.start_tool()
        self.watch_from(vantor, notes, sketch)
        vantor.close_output()
        self.activate(notes)
        self.assertEqual(vantor.wait(), 0)


    def test_the_end_of_the_display_ends_vantor_with_status_0(self):
        notes = self.application("Notes")
        sketch = self.application("Sketch")
        vantor = self.start_tool()
        self.watch_from(vantor, notes, sketch)
        self.desktop.end_display()
        self.assertEqual(vantor.wait(), 0)
        self.assertIsNone(vantor.line())


class VantorWithoutDisplayTest(VantorTestCase):

    def test_without_a_display_vantor_is_ready_and_waits(self):
        env = {key: value for key, value in self.desktop.env.items() if key != "DISPLAY"}
        vantor = self.start_tool(env=env)
        self.assertEqual(vantor.unread(), b"")
        self.assertIsNone(vantor.process.poll())


class VantorRefusedByTheDisplayTest(VantorTestCase):
    cookie = True

    def test_a_refused_display_is_as_none_and_nothing_goes_to_standard_error(self):
        vantor = self.start_tool(env=self.env_without_cookie())
        self.assertEqual(vantor.unread(), b"")
        self.assertIsNone(vantor.process.poll())


if __name__ == "__main__":
    sys.exit(toolcase.main("vantor", VantorTestCase))
