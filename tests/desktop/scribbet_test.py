#!/usr/bin/python3
"""scribbet against real GTK 3 applications on a virtual desktop.

    tests/desktop/scribbet_test.py --scribbet PATH [unittest arguments]

Each test starts a desktop of its own (tools/desktop/desktop.py), starts the test application
(tools/desktop/testapp.py) with the state it needs, runs the scribbet binary at PATH as a host
would, and checks its one line, its empty standard error and its exit status, then the widgets
as the application itself reports them. Offsets in the application's reports count characters.

The tests that run scribbet are skipped, with the reason, when PATH is empty or names no file;
the exit status is then 77 if nothing else ran, which CTest reports as skipped.
"""

import ctypes
import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import toolcase  # noqa: E402
from toolcase import desktop  # noqa: E402

ACTIVATION_DEADLINE = 0.3  # seconds fast paste waits for the target to come to the front
CALL_TIMEOUT = 2.0  # seconds one call to an application may take (xdesk/src/session.h)

scribbet_path = ""


class DesktopTestCase(unittest.TestCase):
    """A fresh desktop for every test, ended with everything on it after the test."""

    accessibility = True
    cookie = False  # the X server lets in only clients with the desktop's cookie

    def setUp(self):
        self.desktop = desktop.Desktop(accessibility=self.accessibility, cookie=self.cookie)
        self.desktop.start()
        self.addCleanup(self.desktop.stop)

    def start_app(self, **window):
        """The test application with one window "main" as given; returns once the window is
        active and, with an accessibility bus, once its focused widget shows there as focused."""
        app = desktop.App(self.desktop, {"windows": [{"name": "main", **window}]})
        self.addCleanup(app.stop)
        if self.accessibility and window.get("accept_focus", True):
            self.probe("focus", app.pid)
        return app

    def probe(self, *arguments):
        return toolcase.probe(self, self.desktop, *arguments)

    def xdotool(self, *arguments):
        toolcase.xdotool(self, self.desktop, *arguments)

    def idle_process(self):
        """A process with no window and nothing on the accessibility bus."""
        process = self.desktop.spawn(["sleep", "infinity"])
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        return process.pid

    def scribbet(self, pid, text=None, env=None):
        """Runs scribbet PID FILE with FILE holding text (UTF-8), or scribbet PID --fast-paste
        when text is None. Returns the standard output and the seconds it took."""
        result, elapsed = desktop.run_scribbet(scribbet_path, pid, text,
                                               env=env or self.desktop.env)
        self.assertEqual(result.stderr, b"", "nothing on standard error")
        self.assertEqual(result.returncode, 0, "exit status")
        return result.stdout.decode(), elapsed

    def assertWidget(self, app, name, text, selection):
        self.assertEqual(app.widget(name),
                         {"text": text, "selection": selection, "caret": selection[1]})


class ApplicationOnDesktopTest(DesktopTestCase):
    """What the scribbet tests rely on, seen through AT-SPI by an assistive tool of our own."""

    def test_widgets_show_their_text_and_selection_on_the_accessibility_bus(self):
        app = self.start_app(widgets={"entry": {"text": "a😀b cd", "selection": [4, 6]}})
        entry = self.probe("focus", app.pid)
        self.assertEqual(
            (entry["role"], entry["name"], entry["text"], entry["selection"], entry["caret"]),
            ("text", "entry", "a😀b cd", [4, 6], 6))
        self.assertIn("single-line", entry["states"])
        self.assertIn("editable", entry["states"])
        self.assertEqual(self.probe("set-text", app.pid, "x😀y")["text"], "x😀y")
        self.assertEqual(app.widget("entry")["text"], "x😀y")

        app.reset({"windows": [{"name": "main", "focus": "text",
                                "widgets": {"text": {"text": "one\ntwo", "selection": [4, 7]}}}]})
        view = self.probe("focus", app.pid)
        self.assertEqual((view["role"], view["text"], view["selection"]),
                         ("text", "one\ntwo", [4, 7]))
        self.assertIn("multi-line", view["states"])

        app.reset({"windows": [{"name": "main", "focus": "password",
                                "widgets": {"password": {"text": "hunter"}}}]})
        password = self.probe("focus", app.pid)
        self.assertEqual((password["role"], password["text"]), ("password text", "\u25cf" * 6))
        self.assertEqual(app.widget("password")["text"], "hunter")


class ScribbetTestCase(DesktopTestCase):
    """Runs only with a real-desktop scribbet to test."""

    def setUp(self):
        if not scribbet_path or not os.path.isfile(scribbet_path):
            self.skipTest("no real-desktop scribbet to run: " + (
                f"{scribbet_path} does not exist" if scribbet_path else
                "this build runs the tools against the simulated platform; configure with "
                "USE_MACSIM=OFF (preset 'desktop') or pass --scribbet PATH"))
        super().setUp()


# Keysyms of the keys whose state the fast paste tests look at.
KEYSYMS = {"Alt_L": 0xFFE9, "Control_L": 0xFFE3, "Shift_L": 0xFFE1, "Super_L": 0xFFEB, "v": 0x76}


def keys_down(display, *keysyms):
    """Which of `keysyms` have their key down on the display now (XQueryKeymap)."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XQueryKeymap.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise AssertionError(f"cannot open display {display}")
    try:
        keys = ctypes.create_string_buffer(32)
        x11.XQueryKeymap(connection, keys)
        down = set()
        for keysym in keysyms:
            keycode = x11.XKeysymToKeycode(connection, keysym)
            if keys.raw[keycode // 8] & (1 << (keycode % 8)):
                down.add(keysym)
        return down
    finally:
        x11.XCloseDisplay(connection)


def inserted(role, pid, subrole=None):
    """The line of a direct insertion into the target's own focused field."""
    subrole = f'"subrole":"{subrole}",' if subrole else ""
    return (f'{{"status":"inserted","role":"{role}",{subrole}"targetPid":{pid},'
            f'"focusedPid":{pid},"selectionUpdated":true}}\n')


class ScribbetDesktopTest(ScribbetTestCase):

    def test_entry_selection_is_replaced(self):
        app = self.start_app(
            widgets={"entry": {"text": "Meet on Tuesday at ten", "selection": [8, 15]}})
        line, _ = self.scribbet(app.pid, "Thursday")
        self.assertEqual(line, inserted("AXTextField", app.pid))
        self.assertWidget(app, "entry", "Meet on Thursday at ten", [16, 16])

    def test_text_view_selection_is_replaced(self):
        app = self.start_app(focus="text", widgets={
            "text": {"text": "Shopping:\nmilk\nbread", "selection": [10, 14]}})
        line, _ = self.scribbet(app.pid, "eggs\nflour")
        self.assertEqual(line, inserted("AXTextArea", app.pid))
        self.assertWidget(app, "text", "Shopping:\neggs\nflour\nbread", [20, 20])

    def test_emoji_and_combining_mark_are_counted_in_utf16_units(self):
        # The emoji before the selection counts one character on the bus and two UTF-16 units in
        # scribbet; so does the one in the text. A conversion off by one unit splices the wrong
        # place or puts the caret elsewhere.
        app = self.start_app(widgets={"entry": {"text": "😀 x 😀", "selection": [2, 3]}})
        line, _ = self.scribbet(app.pid, "e\u0301🎉")
        self.assertEqual(line, inserted("AXTextField", app.pid))
        self.assertWidget(app, "entry", "😀 e\u0301🎉 😀", [5, 5])

    def test_empty_text_deletes_the_selection(self):
        app = self.start_app(widgets={"entry": {"text": "hello cruel world", "selection": [6, 12]}})
        line, _ = self.scribbet(app.pid, "")
        self.assertEqual(line, inserted("AXTextField", app.pid))
        self.assertWidget(app, "entry", "hello world", [6, 6])

    def test_a_slow_application_that_takes_the_value_after_the_timeout_has_it_inserted_once(self):
        # The entry's change handler holds the application up longer than a call may take: the
        # write's answer times out, but the value lands. Reading it back shows that, and the run
        # goes on as after a success: a host told set_value_failed would paste the text again.
        app = self.start_app(widgets={"entry": {"text": "Meet on Tuesday", "selection": [8, 15],
                                                "slow_change": CALL_TIMEOUT + 0.5}})
        line, elapsed = self.scribbet(app.pid, "Friday")
        self.assertEqual(line, inserted("AXTextField", app.pid))
        self.assertWidget(app, "entry", "Meet on Friday", [14, 14])
        self.assertGreater(elapsed, CALL_TIMEOUT)

    def test_new_text_left_beside_the_old_is_no_failure_to_paste_over(self):
        # The entry takes the insertion of the new word but neither the deletion of the old one
        # nor that of the new one, which would take the insertion back: both stay. A failure
        # that fast paste may mend would have the host put the word in a second time.
        app = self.start_app(widgets={"entry": {"text": "Lunch at noon", "selection": [9, 13],
                                                "refuse_delete": True}})
        line, _ = self.scribbet(app.pid, "one")
        self.assertEqual(line, f'{{"status":"set_value_failed","role":"AXTextField",'
                               f'"targetPid":{app.pid},"focusedPid":{app.pid},'
                               f'"error":"cannot_complete"}}\n')
        self.assertEqual(app.widget("entry")["text"], "Lunch at noonone")

    def test_a_hung_application_costs_one_timeout_not_one_per_call(self):
        # A stopped process answers nothing: the first call to it runs out of time, and no later
        # one waits again. Asked anew each time, the search for the focus alone waits three
        # times.
        app = self.start_app(widgets={"entry": {"text": "alpha"}})
        os.kill(app.pid, signal.SIGSTOP)
        self.addCleanup(os.kill, app.pid, signal.SIGCONT)
        line, elapsed = self.scribbet(app.pid, "beta")
        self.assertEqual(line, f'{{"status":"no_focused_element","targetPid":{app.pid}}}\n')
        self.assertGreaterEqual(elapsed, CALL_TIMEOUT)
        self.assertLess(elapsed, 2 * CALL_TIMEOUT)

    def test_a_text_holding_nul_is_refused_and_the_field_kept(self):
        # The bus carries C strings: the text would end at U+0000, and the rest of the field after
        # the selection would be lost.
        app = self.start_app(widgets={"entry": {"text": "keep all of this", "selection": [5, 8]}})
        line, _ = self.scribbet(app.pid, "one\0two")
        self.assertEqual(line, f'{{"status":"set_value_failed","role":"AXTextField",'
                               f'"targetPid":{app.pid},"focusedPid":{app.pid},'
                               f'"error":"illegal_argument"}}\n')
        self.assertWidget(app, "entry", "keep all of this", [5, 8])

    def test_focus_on_a_button_finds_no_text_input_up_its_parents(self):
        app = self.start_app(focus="button",
                             widgets={"entry": {"text": "keep", "selection": [0, 4]}})
        line, _ = self.scribbet(app.pid, "lost")
        self.assertEqual(line, f'{{"status":"no_focused_text_input","role":"AXButton",'
                               f'"targetPid":{app.pid},"focusedPid":{app.pid}}}\n')
        self.assertWidget(app, "entry", "keep", [0, 4])

    def test_empty_password_entry_takes_the_text(self):
        # The entry reads as one mask character per character, while the caret after the text
        # counts the text's UTF-16 units: an emoji counts one there and two here.
        app = self.start_app(focus="password")
        for text, caret in (("s3cret", 6), ("a\U0001F600b", 3)):
            with self.subTest(text=text):
                app.reset({"windows": [{"name": "main", "focus": "password"}]})
                self.probe("focus", app.pid)
                line, _ = self.scribbet(app.pid, text)
                self.assertEqual(line, inserted("AXTextField", app.pid,
                                                subrole="AXSecureTextField"))
                self.assertWidget(app, "password", text, [caret, caret])

    def test_password_entry_holding_text_is_left_untouched(self):
        # Its value reads as mask characters: writing it back would replace the password.
        app = self.start_app(focus="password", widgets={"password": {"text": "hunter"}})
        line, _ = self.scribbet(app.pid, "2")
        self.assertEqual(line, f'{{"status":"value_unavailable","role":"AXTextField",'
                               f'"subrole":"AXSecureTextField","targetPid":{app.pid},'
                               f'"focusedPid":{app.pid}}}\n')
        self.assertWidget(app, "password", "hunter", [6, 6])

    def test_focus_in_another_application_is_refused(self):
        target = self.start_app(title="target", widgets={"entry": {"text": "alpha"}})
        front = self.start_app(title="front", widgets={"entry": {"text": "beta"}})
        line, _ = self.scribbet(target.pid, "gamma")
        self.assertEqual(line, f'{{"status":"target_mismatch","role":"AXTextField",'
                               f'"targetPid":{target.pid},"focusedPid":{front.pid}}}\n')
        self.assertWidget(target, "entry", "alpha", [5, 5])
        self.assertWidget(front, "entry", "beta", [4, 4])

    def test_target_without_application_meets_the_focus_of_another(self):
        # The pid has nothing on the accessibility bus, so its own focus cannot be read; the
        # desktop's focus is in the application in front, which is not the target.
        idle = self.idle_process()
        front = self.start_app(widgets={"entry": {"text": "beta"}})
        line, _ = self.scribbet(idle, "gamma")
        self.assertEqual(line, f'{{"status":"target_mismatch","role":"AXTextField",'
                               f'"targetPid":{idle},"focusedPid":{front.pid}}}\n')
        self.assertWidget(front, "entry", "beta", [4, 4])

    def test_fast_paste_brings_an_application_behind_another_to_the_front_and_pastes(self):
        target = self.start_app(title="target", widgets={"entry": {"text": "hello "}})
        front = self.start_app(title="front", widgets={"entry": {"text": "beta"}})
        front.command("clipboard", text="world")
        line, _ = self.scribbet(target.pid, None)
        # The first look at the front window comes right after the activation request, which
        # the window manager may not have begun, may be carrying out (openbox passes through no
        # active window between two, which reads as none: -1), or may have finished by then.
        self.assertIn(line, [f'{{"status":"inserted","targetPid":{target.pid},'
                             f'"frontmostPidBefore":{before},"frontmostConfirmed":true}}\n'
                             for before in (front.pid, -1, target.pid)])
        # The paste itself goes through the X selection after scribbet has ended.
        desktop.wait_until(lambda: target.widget("entry")["text"] != "hello ",
                           desktop.APP_TIMEOUT, "the paste")
        self.assertWidget(target, "entry", "hello world", [11, 11])
        self.assertWidget(front, "entry", "beta", [4, 4])
        self.assertEqual(target.state()["active"], "main")

    def test_fast_paste_while_the_user_holds_modifiers_posts_exactly_control_v(self):
        # A host that pastes when gripwell says combo_space does so while Option (Alt) is still
        # held. The application must see Control+V and nothing else held, and the keys the user
        # holds must be held again afterwards.
        cases = (
            (("Alt_L",), [("Control_L", []), ("v", ["control"]), ("Alt_L", [])]),
            (("Control_L",), [("v", ["control"])]),
            (("Shift_L", "Super_L"),
             [("Control_L", []), ("v", ["control"]), ("Super_L", []), ("Shift_L", ["mod4"])]),
        )
        app = self.start_app(widgets={"entry": {"text": "hello "}})
        app.command("clipboard", text="world")
        for held, presses in cases:
            with self.subTest(held=held):
                app.reset({"windows": [{"name": "main", "widgets": {"entry": {"text": "hello "}}}]})
                self.xdotool("keydown", *held)
                try:
                    app.command("keys")  # forgets the presses of the held keys themselves
                    line, _ = self.scribbet(app.pid, None)
                    self.assertEqual(line, f'{{"status":"inserted","targetPid":{app.pid},'
                                           f'"frontmostPidBefore":{app.pid},'
                                           f'"frontmostConfirmed":true}}\n')
                    self.assertEqual([(press["key"], press["modifiers"])
                                      for press in app.command("keys")["keys"]], presses)
                    desktop.wait_until(lambda: app.widget("entry")["text"] != "hello ",
                                       desktop.APP_TIMEOUT, "the paste")
                    self.assertWidget(app, "entry", "hello world", [11, 11])
                    self.assertEqual(keys_down(self.desktop.display, *KEYSYMS.values()),
                                     {KEYSYMS[name] for name in held})
                finally:
                    self.xdotool("keyup", *held)

    def test_fast_paste_into_a_terminal_posts_its_paste_keystroke(self):
        # A terminal hands Control+V to the program in it (as the character 0x16); its own paste
        # is Control+Shift+V.
        owner = self.start_app()
        owner.command("clipboard", text="pasted text")
        terminal = toolcase.TerminalReader(self, self.desktop)
        self.assertEqual(self.probe("focus", terminal.pid)["role"], "terminal")
        line, _ = self.scribbet(terminal.pid, None)
        self.assertEqual(line, f'{{"status":"inserted","targetPid":{terminal.pid},'
                               f'"frontmostPidBefore":{terminal.pid},'
                               f'"frontmostConfirmed":true}}\n')
        self.assertEqual(terminal.wait_for(b"pasted text"), b"pasted text")

    def test_fast_paste_finds_a_terminal_whose_focus_comes_after_its_window(self):
        # The terminal's widget takes the focus a moment after its window comes to the front, as
        # the window manager already says: a single look for the focus then finds none, and
        # Control+V would go to the program in the terminal.
        target = self.start_app(title="terminal", focus="text", focus_delay=0.1,
                                widgets={"text": {"role": "terminal"}})
        front = self.start_app(title="front")
        target.command("keys")
        line, _ = self.scribbet(target.pid, None)
        # The first look at the front comes after the activation request (see the test above).
        self.assertIn(line, [f'{{"status":"inserted","targetPid":{target.pid},'
                             f'"frontmostPidBefore":{before},"frontmostConfirmed":true}}\n'
                             for before in (front.pid, -1, target.pid)])
        self.assertEqual([(press["key"], press["modifiers"])
                          for press in target.command("keys")["keys"]],
                         [("Control_L", []), ("Shift_L", ["control"]), ("V", ["shift", "control"])])

    def test_fast_paste_gives_up_on_a_window_that_never_comes_to_the_front(self):
        target = self.start_app(title="target", accept_focus=False)
        front = self.start_app(title="front", widgets={"entry": {"text": "beta"}})
        front.command("clipboard", text="world")
        line, elapsed = self.scribbet(target.pid, None)
        self.assertEqual(line, f'{{"status":"activation_failed","targetPid":{target.pid},'
                               f'"focusedPid":{front.pid},"error":"target_not_frontmost",'
                               f'"frontmostPidBefore":{front.pid},"frontmostConfirmed":false}}\n')
        self.assertGreaterEqual(elapsed, ACTIVATION_DEADLINE)
        self.assertWidget(front, "entry", "beta", [4, 4])
        self.assertWidget(target, "entry", "", [0, 0])


class ScribbetRefusedByTheDisplayTest(ScribbetTestCase):
    cookie = True

    def test_a_refused_display_is_as_none_and_nothing_goes_to_standard_error(self):
        # Without a display there is no active window, no frontmost application and no
        # keystroke; scribbet() checks that standard error stays empty.
        env = dict(self.desktop.env, XAUTHORITY=os.path.join(self.desktop.workdir, "no-cookie"))
        idle = self.idle_process()
        line, _ = self.scribbet(idle, "beta", env=env)
        self.assertEqual(line, f'{{"status":"no_focused_element","targetPid":{idle}}}\n')
        line, _ = self.scribbet(idle, None, env=env)
        self.assertEqual(line, f'{{"status":"activation_failed","targetPid":{idle},'
                               f'"error":"target_not_frontmost","frontmostPidBefore":-1,'
                               f'"frontmostConfirmed":false}}\n')


class ScribbetWithoutAccessibilityBusTest(ScribbetTestCase):
    accessibility = False

    def test_missing_accessibility_bus_means_not_trusted(self):
        app = self.start_app(widgets={"entry": {"text": "alpha"}})
        line, _ = self.scribbet(app.pid, "beta")
        self.assertEqual(line, f'{{"status":"accessibility_not_trusted","targetPid":{app.pid},'
                               f'"error":"accessibility_not_trusted"}}\n')
        self.assertWidget(app, "entry", "alpha", [5, 5])


def main():
    global scribbet_path
    scribbet_path, rest = toolcase.binary_option("scribbet")
    return toolcase.run_tests(rest)


if __name__ == "__main__":
    sys.exit(main())
