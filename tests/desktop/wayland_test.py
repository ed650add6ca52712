#!/usr/bin/python3
"""scribbet and vantor on headless Wayland desktops (sway and mutter).

    tests/desktop/wayland_test.py --scribbet PATH --vantor PATH [--keyboard PATH]
                                  [unittest arguments]

Each test starts a Wayland desktop of its own (tools/desktop/wayland.py) with the compositor of
its class, native Wayland GTK 3 windows of the test application (tools/desktop/testapp.py) and,
where a test needs them, Xwayland windows and a window that is not on the accessibility bus.
The tools run as a host would run them: their standard output and exit status are checked, and
their standard error must stay empty. --keyboard names the sway desktop's keyboard client
(wayland-keyboard); the tests that need a tool that was not given are skipped.
"""

import argparse
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import toolcase  # noqa: E402
from toolcase import desktop  # noqa: E402

sys.path.insert(0, os.path.dirname(desktop.__file__))
import wayland  # noqa: E402

QUIET_APP = os.path.join(os.path.dirname(desktop.__file__), "quiet-app.py")
ACTIVATION_DEADLINE = 0.3  # seconds fast paste waits for the target to come to the front

scribbet_path = ""
vantor_path = ""


def window(title, **layout):
    return {"name": "main", "title": title, **layout}


class WaylandCase(unittest.TestCase):
    """A fresh Wayland desktop for every test, ended with everything on it after the test."""

    compositor = "sway"
    xwayland = False

    def setUp(self):
        self.desktop = wayland.WaylandDesktop(self.compositor, xwayland=self.xwayland)
        self.desktop.start()
        self.addCleanup(self.desktop.stop)

    def start_app(self, layout, x11=False, on_bus=True):
        """The test application with `layout`, native or on Xwayland (x11), on the accessibility
        bus or not; returns once it is ready and, on the bus, once its focus shows there."""
        env = dict(self.desktop.env)
        if x11:
            env["GDK_BACKEND"] = "x11"
        if not on_bus:
            env["NO_AT_BRIDGE"] = "1"
        app = desktop.App(self.desktop, layout, env=env)
        self.addCleanup(app.stop)
        if on_bus:
            self.probe("focus", app.pid)
        return app

    def probe(self, *arguments):
        return toolcase.probe(self, self.desktop, *arguments)

    def scribbet(self, pid, text=None, display=True):
        """scribbet PID FILE (FILE holding text), or scribbet PID --fast-paste for None; with or
        without Xwayland's DISPLAY. Returns the output line."""
        if not scribbet_path:
            self.skipTest("no scribbet given (--scribbet PATH)")
        env = dict(self.desktop.env)
        if not display:
            env.pop("DISPLAY", None)
        result, _ = desktop.run_scribbet(scribbet_path, pid, text, env=env)
        self.assertEqual(result.stderr, b"", "nothing on standard error")
        self.assertEqual(result.returncode, 0, "exit status")
        return result.stdout.decode()

    def focus(self, app):
        """Gives `app`'s window the keyboard focus: sway on request; mutter has no such request,
        so Alt+Tab, which goes back to the window that had the focus before."""
        if self.compositor == "sway":
            self.desktop.swaymsg(f"[pid={app.pid}] focus")
        else:
            self.desktop.keyboard.tap(wayland.KEY_LEFTALT, wayland.KEY_TAB)

    def start_vantor(self):
        if not vantor_path:
            self.skipTest("no vantor given (--vantor PATH)")
        process = desktop.LineProcess(self.desktop, [vantor_path])
        self.addCleanup(lambda: self.assertEqual(process.stop(), b"", "vantor's standard error"))
        self.assertEqual(process.line(), "ready")
        # ready comes before the watch is set up: wait until vantor sleeps in its run loop.
        desktop.wait_until(lambda: toolcase.sleeps_in_poll(process.pid), desktop.START_TIMEOUT,
                           "vantor waiting in its run loop")
        return process

    def assertEntry(self, app, text, caret):
        self.assertEqual(app.widget("entry"), {"text": text, "selection": [caret, caret],
                                               "caret": caret})


def line(status, target, front, role="AXTextField"):
    return (f'{{"status":"{status}","role":"{role}","targetPid":{target},'
            f'"focusedPid":{front}}}\n')


class DirectInsertion:
    """Direct insertion on both compositors, through the accessibility bus as under X11."""

    def test_inserts_into_the_entry_the_text_view_and_an_empty_password_entry(self):
        cases = [  # focus, widgets, text, role, subrole, expected text, caret
            ("entry", {"entry": {"text": "Lunch on Tuesday", "selection": [9, 16]}}, "Friday",
             "AXTextField", None, "Lunch on Friday", 15),
            ("text", {"text": {"text": "one\ntwo", "selection": [4, 7]}}, "2\n3",
             "AXTextArea", None, "one\n2\n3", 7),
            ("password", {}, "s3cret", "AXTextField", "AXSecureTextField", "s3cret", 6),
            ("password", {}, "a\U0001F600b", "AXTextField", "AXSecureTextField", "a\U0001F600b",
             3),
        ]
        app = self.start_app({"windows": [window("Notes")]})
        for focus, widgets, text, role, subrole, expected, caret in cases:
            with self.subTest(focus=focus, text=text):
                # Set again once the window is active: mutter drops a selection made before.
                app.reset({"windows": [window("Notes", focus=focus, widgets=widgets)]})
                self.probe("focus", app.pid)
                middle = f',"subrole":"{subrole}"' if subrole else ""
                self.assertEqual(self.scribbet(app.pid, text),
                                 f'{{"status":"inserted","role":"{role}"{middle},"targetPid":'
                                 f'{app.pid},"focusedPid":{app.pid},"selectionUpdated":true}}\n')
                self.assertEqual(app.widget(focus), {"text": expected, "selection": [caret, caret],
                                                     "caret": caret})

    def test_a_window_not_on_the_bus_in_front_is_no_focus_at_all(self):
        target = self.start_app({"windows": [window("Notes", widgets={"entry": {"text": "a"}})]})
        self.start_app({"windows": [window("Hidden")]}, on_bus=False)
        self.assertEqual(self.scribbet(target.pid, "b"), '{"status":"no_focused_element",'
                         f'"targetPid":{target.pid}}}\n')
        self.assertEqual(target.widget("entry")["text"], "a")


class XwaylandFocus:
    """The application in front, with Xwayland's DISPLAY set and unset: Xwayland knows only the
    X windows, the accessibility bus knows them all."""

    xwayland = True

    def check_mismatch(self, target, front):
        for display in (True, False):
            with self.subTest(display=display):
                self.assertEqual(self.scribbet(target.pid, "x", display=display),
                                 line("target_mismatch", target.pid, front.pid))
                self.assertEqual(target.widget("entry")["text"], "kept")
                self.assertEqual(front.widget("entry")["text"], "front")

    def test_target_behind_a_native_window(self):
        target = self.start_app({"windows": [window("Notes", widgets={"entry": {"text": "kept"}})]})
        front = self.start_app({"windows": [window("Sketch",
                                                   widgets={"entry": {"text": "front"}})]})
        self.check_mismatch(target, front)

    def test_native_target_behind_an_xwayland_window(self):
        target = self.start_app({"windows": [window("Notes", widgets={"entry": {"text": "kept"}})]})
        front = self.start_app({"windows": [window("Sketch",
                                                   widgets={"entry": {"text": "front"}})]},
                               x11=True)
        self.check_mismatch(target, front)

    def test_xwayland_target_behind_a_native_window(self):
        target = self.start_app({"windows": [window("Notes", widgets={"entry": {"text": "kept"}})]},
                                x11=True)
        front = self.start_app({"windows": [window("Sketch",
                                                   widgets={"entry": {"text": "front"}})]})
        self.check_mismatch(target, front)

    def test_inserts_into_an_xwayland_window_in_front(self):
        target = self.start_app({"windows": [window("Notes")]}, x11=True)
        self.assertEqual(self.scribbet(target.pid, "hi"),
                         '{"status":"inserted","role":"AXTextField","targetPid":'
                         f'{target.pid},"focusedPid":{target.pid},"selectionUpdated":true}}\n')
        self.assertEntry(target, "hi", 2)


class Activations:
    """vantor on the accessibility bus's window events."""

    xwayland = True

    def test_switches_between_native_applications(self):
        notes = self.start_app({"program": "notes", "windows": [window("Notes")]})
        vantor = self.start_vantor()
        sketch = self.start_app({"program": "sketch", "windows": [window("Sketch")]})
        self.assertEqual(vantor.line(), f"APP:sketch|sketch|{sketch.pid}")
        self.focus(notes)
        self.assertEqual(vantor.line(), f"APP:notes|notes|{notes.pid}")
        self.focus(sketch)
        self.assertEqual(vantor.line(), f"APP:sketch|sketch|{sketch.pid}")

    def test_an_application_off_the_bus_in_between_is_announced_on_return(self):
        notes = self.start_app({"program": "notes", "windows": [window("Notes")]})
        vantor = self.start_vantor()
        self.start_app({"program": "hidden", "windows": [window("Hidden")]}, on_bus=False)
        self.focus(notes)
        self.assertEqual(vantor.line(), f"APP:notes|notes|{notes.pid}")
        self.assertEqual(vantor.unread(), b"")

    def test_an_application_that_ends_in_front_is_no_longer_taken_for_one_in_front(self):
        # Killed, it sends no deactivation of its window; were that window still taken for an
        # active one, the return to notes from a window off the bus would go unannounced.
        notes = self.start_app({"program": "notes", "windows": [window("Notes")]})
        vantor = self.start_vantor()
        sketch = self.start_app({"program": "sketch", "windows": [window("Sketch")]})
        self.assertEqual(vantor.line(), f"APP:sketch|sketch|{sketch.pid}")
        sketch.process.kill()
        sketch.process.wait()
        sketch.process.stdin.close()
        self.assertEqual(vantor.line(), f"APP:notes|notes|{notes.pid}")
        self.start_app({"program": "hidden", "windows": [window("Hidden")]}, on_bus=False)
        self.focus(notes)
        self.assertEqual(vantor.line(), f"APP:notes|notes|{notes.pid}")
        self.assertEqual(vantor.unread(), b"")

    def test_switches_between_native_and_xwayland_applications(self):
        notes = self.start_app({"program": "notes", "windows": [window("Notes")]})
        vantor = self.start_vantor()
        sketch = self.start_app({"program": "sketch", "windows": [window("Sketch")]}, x11=True)
        self.assertEqual(vantor.line(), f"APP:sketch|sketch|{sketch.pid}")
        self.focus(notes)
        self.assertEqual(vantor.line(), f"APP:notes|notes|{notes.pid}")
        self.focus(sketch)
        self.assertEqual(vantor.line(), f"APP:sketch|sketch|{sketch.pid}")


class QuietApplication:
    """An application whose bridge never sends window events (tools/desktop/quiet-app.py)."""

    def test_an_application_that_joins_with_an_active_window_and_says_nothing_is_announced(self):
        self.start_app({"program": "notes", "windows": [window("Notes")]})
        vantor = self.start_vantor()
        quiet = desktop.LineProcess(self.desktop, ["/usr/bin/python3", QUIET_APP, "quiet",
                                                   "Quiet"])
        self.addCleanup(quiet.stop)
        self.assertEqual(quiet.line(), "ready")
        self.assertEqual(vantor.line(), f"APP:quiet|quiet|{quiet.pid}")


class TerminalPaste:
    """Fast paste into a terminal in front, native on Wayland."""

    def test_fast_paste_into_a_terminal_posts_its_paste_keystroke(self):
        # A terminal hands Control+V to the program in it (as the character 0x16); its own paste
        # is Control+Shift+V.
        owner = self.start_app({"windows": [window("Clipboard")]})
        owner.command("clipboard", text="pasted text")
        terminal = toolcase.TerminalReader(self, self.desktop)
        self.assertEqual(self.probe("focus", terminal.pid)["role"], "terminal")
        self.assertEqual(self.scribbet(terminal.pid),
                         f'{{"status":"inserted","targetPid":{terminal.pid},'
                         f'"frontmostPidBefore":{terminal.pid},"frontmostConfirmed":true}}\n')
        self.assertEqual(terminal.wait_for(b"pasted text"), b"pasted text")


class SwayDirect(DirectInsertion, WaylandCase):
    compositor = "sway"


class MutterDirect(DirectInsertion, WaylandCase):
    compositor = "mutter"


class SwayXwayland(XwaylandFocus, WaylandCase):
    compositor = "sway"


class MutterXwayland(XwaylandFocus, WaylandCase):
    compositor = "mutter"


class SwayActivations(QuietApplication, Activations, WaylandCase):
    compositor = "sway"


class MutterActivations(Activations, WaylandCase):
    compositor = "mutter"


class SwayFastPaste(TerminalPaste, WaylandCase):
    """Fast paste on sway: the target's window activated through the foreign-toplevel list,
    Control+V from the tools' own virtual keyboard."""

    def test_target_behind_another_window_is_activated_and_pasted(self):
        target = self.start_app({"windows": [window("Notes", widgets={"entry": {"text": "a"}})]})
        front = self.start_app({"windows": [window("Sketch",
                                                   widgets={"entry": {"text": "b"}})]})
        front.command("clipboard", text="pasted")
        output = self.scribbet(target.pid)
        self.assertRegex(output, rf'^{{"status":"inserted","targetPid":{target.pid},'
                                 rf'"frontmostPidBefore":({target.pid}|{front.pid}),'
                                 r'"frontmostConfirmed":true}\n$')
        self.assertEntry(target, "apasted", 7)
        self.assertEqual(front.widget("entry")["text"], "b")

    def test_a_modifier_held_on_another_keyboard_does_not_change_the_keystroke(self):
        target = self.start_app({"windows": [window("Notes")]})
        target.command("clipboard", text="plain")
        self.desktop.keyboard.press(wayland.KEY_LEFTSHIFT)
        self.addCleanup(self.desktop.keyboard.release, wayland.KEY_LEFTSHIFT)
        self.assertIn('"status":"inserted"', self.scribbet(target.pid))
        # Control+Shift+V pastes nothing in a GTK entry: the text is there only if exactly
        # Control+V arrived.
        self.assertEntry(target, "plain", 5)

    def test_two_windows_with_the_same_title_are_not_guessed_between(self):
        target = self.start_app({"windows": [window("Untitled",
                                                    widgets={"entry": {"text": "t"}})]})
        front = self.start_app({"windows": [window("Untitled",
                                                   widgets={"entry": {"text": "f"}})]})
        front.command("clipboard", text="pasted")
        output = self.scribbet(target.pid)
        self.assertEqual(output, f'{{"status":"activation_failed","targetPid":{target.pid},'
                                 f'"focusedPid":{front.pid},"error":"target_not_frontmost",'
                                 f'"frontmostPidBefore":{front.pid},"frontmostConfirmed":false}}\n')
        self.assertEqual(target.widget("entry")["text"], "t")
        self.assertEqual(front.widget("entry")["text"], "f")

    def test_the_window_is_told_apart_by_its_app_id(self):
        target = self.start_app({"program": "notes",
                                 "windows": [window("Untitled", widgets={"entry": {"text": "t"}})]})
        front = self.start_app({"program": "sketch",
                                "windows": [window("Untitled", widgets={"entry": {"text": "f"}})]})
        front.command("clipboard", text="P")
        self.assertIn('"status":"inserted"', self.scribbet(target.pid))
        self.assertEntry(target, "tP", 2)
        self.assertEqual(front.widget("entry")["text"], "f")


class MutterFastPaste(TerminalPaste, WaylandCase):
    """Fast paste on mutter: nothing brings another window to the front; the keys go through
    mutter's RemoteDesktop when the target is in front already."""

    compositor = "mutter"

    def test_target_in_front_is_pasted(self):
        target = self.start_app({"windows": [window("Notes", widgets={"entry": {"text": "a"}})]})
        target.command("clipboard", text="pasted")
        self.assertEqual(self.scribbet(target.pid),
                         f'{{"status":"inserted","targetPid":{target.pid},"frontmostPidBefore":'
                         f'{target.pid},"frontmostConfirmed":true}}\n')
        self.assertEntry(target, "apasted", 7)

    def test_target_behind_another_window_fails_without_keys(self):
        target = self.start_app({"windows": [window("Notes", widgets={"entry": {"text": "a"}})]})
        front = self.start_app({"windows": [window("Sketch",
                                                   widgets={"entry": {"text": "b"}})]})
        front.command("clipboard", text="pasted")
        self.assertEqual(self.scribbet(target.pid),
                         f'{{"status":"activation_failed","targetPid":{target.pid},'
                         f'"focusedPid":{front.pid},"error":"target_not_frontmost",'
                         f'"frontmostPidBefore":{front.pid},"frontmostConfirmed":false}}\n')
        self.assertEqual(target.widget("entry")["text"], "a")
        self.assertEqual(front.widget("entry")["text"], "b")


def main():
    global scribbet_path, vantor_path
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--scribbet", default="")
    parser.add_argument("--vantor", default="")
    parser.add_argument("--keyboard", default="")
    options, rest = parser.parse_known_args()
    scribbet_path, vantor_path = options.scribbet, options.vantor
    if options.keyboard:
        os.environ[wayland.KEYBOARD_ENV] = options.keyboard
    return toolcase.run_tests(rest)


if __name__ == "__main__":
    sys.exit(main())
