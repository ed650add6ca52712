#!/usr/bin/python3
"""gripwell on a virtual desktop, with real key presses.

    tests/desktop/gripwell_test.py --gripwell PATH [unittest arguments]

Each test starts a desktop of its own, runs the gripwell binary at PATH as a host would, presses
keys through XTest (xdotool, which goes through the X server like a keyboard) and reads
gripwell's lines, each with a bounded wait. That no line comes is shown by a fence: a later key
press whose line must come next. See toolcase.py for what every test shares.
"""

import contextlib
import ctypes
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import toolcase  # noqa: E402
from toolcase import desktop  # noqa: E402

# The modifier words and the keys (xdotool's names) that stand for them on either side.
MODIFIER_KEYS = {
    "option": ("Alt_L", "Alt_R"),
    "control": ("Control_L", "Control_R"),
    "shift": ("Shift_L", "Shift_R"),
    "command": ("Super_L", "Super_R"),
}


# The X key code of the left Alt key in the virtual desktop's key map (evdev's numbering).
LEFT_ALT = 64


class GripwellTestCase(toolcase.ToolTestCase):
    tool = "gripwell"

    def xmodmap(self, expression):
        """Changes the desktop's key map and waits until the server has."""
        result = subprocess.run(["xmodmap", "-e", expression], env=self.desktop.env,
                                stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=toolcase.COMMAND_TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stderr)


class GripwellDesktopTest(GripwellTestCase):

    def test_option_held_with_space_pressed_twice_gives_two_combos_between_down_and_up(self):
        gripwell = self.start_tool()
        self.xdotool("keydown", "alt", "key", "space", "key", "space", "keyup", "alt")
        self.assertLines(gripwell, "down", "combo_space", "combo_space", "up")
        # Nothing more came in between: the next line is the next press's.
        self.xdotool("keydown", "alt")
        self.assertLines(gripwell, "down")
        self.xdotool("keyup", "alt")
        self.assertLines(gripwell, "up")

    def test_space_without_the_modifier_gives_nothing(self):
        gripwell = self.start_tool("option")
        self.xdotool("key", "space", "key", "space", "keydown", "space", "keyup", "space")
        self.xdotool("keydown", "alt", "keyup", "alt")
        self.assertLines(gripwell, "down", "up")

    def test_a_space_held_down_gives_one_combo(self):
        # X reports a key pressed again while it is held as a second press: an auto-repeat.
        gripwell = self.start_tool("option")
        self.xdotool("keydown", "alt", "keydown", "space", "keydown", "space", "keydown", "space",
                     "keyup", "space", "keyup", "alt")
        self.assertLines(gripwell, "down", "combo_space", "up")
        self.xdotool("keydown", "alt", "key", "space", "keyup", "alt")
        self.assertLines(gripwell, "down", "combo_space", "up")

    def test_a_space_held_before_the_modifier_gives_no_combo(self):
        gripwell = self.start_tool("option")
        self.xdotool("keydown", "space", "keydown", "alt", "keydown", "space", "keyup", "space",
                     "keyup", "alt")
        self.assertLines(gripwell, "down", "up")

    def test_each_word_watches_its_own_modifier_on_either_side(self):
        watchers = {word: self.start_tool(word.upper() if word == "control" else word)
                    for word in MODIFIER_KEYS}
        fn = self.start_tool("fn")
        for word, keys in MODIFIER_KEYS.items():
            for key in keys:
                self.xdotool("keydown", key, "key", "space", "keyup", key)
        # Each watcher saw only its own keys; then all are down at once.
        self.xdotool("keydown", "Alt_L", "keydown", "Control_L", "keydown", "Shift_L",
                     "keydown", "Super_L")
        for word, gripwell in watchers.items():
            with self.subTest(word=word):
                self.assertLines(gripwell, "down", "combo_space", "up",
                                 "down", "combo_space", "up", "down")
        self.xdotool("keyup", "Super_L", "keyup", "Shift_L", "keyup", "Control_L",
                     "keyup", "Alt_L")
        for word, gripwell in watchers.items():
            with self.subTest(word=word):
                self.assertLines(gripwell, "up")
        # X has no fn key: that watcher started and saw nothing (the others' fences have passed,
        # and every watcher gets each key at the same moment).
        self.assertEqual(fn.unread(), b"")
        self.assertIsNone(fn.process.poll())

    def test_releasing_a_modifier_held_since_before_the_start_gives_no_up(self):
        self.xdotool("keydown", "alt")
        gripwell = self.start_tool("option")
        self.xdotool("keyup", "alt")
        self.xdotool("keydown", "alt", "keyup", "alt")
        self.assertLines(gripwell, "down", "up")

    def test_a_modifier_held_since_before_the_start_is_down_once_another_modifier_changes(self):
        self.xdotool("keydown", "alt")
        gripwell = self.start_tool("option")
        self.xdotool("keydown", "shift")
        self.assertLines(gripwell, "down")
        self.xdotool("keyup", "shift", "keyup", "alt")
        self.assertLines(gripwell, "up")

    def test_a_key_mapped_to_the_modifier_after_the_start_is_the_modifier(self):
        # The left Alt key types "a" when gripwell starts, and Alt again from then on. With XKB,
        # the server tells a change of the key map through XKB's notices only.
        self.xmodmap(f"keycode {LEFT_ALT} = a")
        gripwell = self.start_tool("option")
        self.xmodmap(f"keycode {LEFT_ALT} = Alt_L Meta_L")
        press_keys(self.desktop.display, (LEFT_ALT, True), (LEFT_ALT, False))
        self.assertLines(gripwell, "down", "up")

    def test_a_key_mapped_away_from_the_modifier_after_the_start_is_no_longer_it(self):
        gripwell = self.start_tool("option")
        self.xmodmap(f"keycode {LEFT_ALT} = a")
        press_keys(self.desktop.display, (LEFT_ALT, True), (LEFT_ALT, False))
        self.xdotool("keydown", "Alt_R", "keyup", "Alt_R")  # a fence
        self.assertLines(gripwell, "down", "up")
        self.assertEqual(gripwell.unread(), b"")

    def test_keys_typed_into_a_gtk_entry_arrive_unchanged(self):
        app = self.start_app({"windows": [{"name": "main", "widgets": {"entry": {"text": ""}}}]})
        gripwell = self.start_tool("shift")
        self.xdotool("key", "a", "keydown", "shift", "key", "b", "key", "space", "key", "c",
                     "keyup", "shift", "key", "space", "key", "d", "key", "BackSpace", "key", "e")
        self.assertLines(gripwell, "down", "combo_space", "up")
        desktop.wait_until(lambda: app.widget("entry")["text"] == "aB C e", desktop.APP_TIMEOUT,
                           "the typed text in the entry")
        self.assertEqual(app.widget("entry"), {"text": "aB C e", "selection": [6, 6], "caret": 6})

    def test_a_reader_that_has_gone_ends_gripwell_with_status_0(self):
        gripwell = self.start_tool("option")
        gripwell.close_output()
        self.xdotool("keydown", "alt", "keyup", "alt")
        self.assertEqual(gripwell.wait(), 0)

    def test_memory_stays_bounded_over_many_key_events(self):
        # Every key-down reaches the callback as an object of its own; a process that runs for
        # days must not keep them all. The keys come in batches, each taken whole (a fence) before
        # the next: the events that X has sent and gripwell has not served yet wait in Xlib's
        # queue, in gripwell's memory, and on a busy machine a flood sent at once would measure
        # the peak of that queue instead of what gripwell keeps. The warm-up makes the queue as
        # big as a batch needs before the first measure.
        gripwell = self.start_tool("control")
        flood_space_in_batches(gripwell, self.desktop.display, 20000)
        before = resident_kib(gripwell.pid)
        flood_space_in_batches(gripwell, self.desktop.display, 300000)
        # Keeping each of the 150,000 key-downs would take some 20 MiB.
        self.assertLess(resident_kib(gripwell.pid) - before, 4096)


    def test_a_reader_that_stops_reading_gets_every_line_in_order_when_it_reads_again(self):
        # 10,000 combo lines are some 120 KB, more than a pipe holds: gripwell must keep taking
        # keys, keep the lines that wait, and write them once the reader reads again.
        gripwell = self.start_tool("option")
        self.xdotool("keydown", "alt")
        flood_space(self.desktop.display, 20000)
        self.xdotool("keyup", "alt")
        # Not blocked in a write: asleep in its run loop with every key taken, while nobody reads.
        self.wait_until_waiting(gripwell)
        self.assertLines(gripwell, "down", *["combo_space"] * 10000, "up")

    def test_a_reader_that_never_reads_ends_gripwell_once_it_is_too_far_behind(self):
        # Some 1.2 MB of lines: past what the pipe holds and the 1 MiB that gripwell keeps.
        gripwell = self.start_tool("option")
        self.xdotool("keydown", "alt")
        flood_space(self.desktop.display, 200000)
        self.xdotool("keyup", "alt")
        self.assertEqual(gripwell.wait(), 0)

    def test_the_end_of_the_display_ends_gripwell_with_status_0(self):
        gripwell = self.start_tool("option")
        self.desktop.end_display()
        self.assertEqual(gripwell.wait(), 0)
        self.assertIsNone(gripwell.line())


class GripwellStartUpTest(GripwellTestCase):

    def test_without_a_display_the_tap_fails(self):
        env = {key: value for key, value in self.desktop.env.items() if key != "DISPLAY"}
        gripwell = self.start_tool("option", env=env, first_line="error:event_tap_failed")
        self.assertIsNone(gripwell.line())
        self.assertEqual(gripwell.wait(), 2)


class GripwellRefusedByTheDisplayTest(GripwellTestCase):
    cookie = True

    def test_a_refused_display_gives_event_tap_failed_and_nothing_on_standard_error(self):
        gripwell = self.start_tool("option", env=self.env_without_cookie(),
                                   first_line="error:event_tap_failed")
        self.assertIsNone(gripwell.line())
        self.assertEqual(gripwell.wait(), 2)


class GripwellWithoutAccessibilityBusTest(GripwellTestCase):
    accessibility = False

    def test_without_the_accessibility_bus_gripwell_is_not_granted(self):
        gripwell = self.start_tool("option", first_line="error:accessibility_not_granted")
        self.assertIsNone(gripwell.line())
        self.assertEqual(gripwell.wait(), 1)


def press_keys(display, *keys):
    """Presses or releases X key codes through XTest, each (keycode, down) in turn, and waits
    until the X server has taken them: for keys that no keysym names any more."""
    with xlib_connection(display) as (x11, xtest, connection):
        for keycode, down in keys:
            xtest.XTestFakeKeyEvent(connection, keycode, down, 0)
        x11.XSync(connection, 0)


FLOOD_BATCH = 2000  # key events sent before gripwell must have taken them all


def flood_space_in_batches(gripwell, display, events):
    """Presses and releases the space bar `events` times in all, FLOOD_BATCH events at a time,
    each batch followed by Control pressed and released; waits for gripwell (watching control)
    to write "down" and "up" for it, so that it has taken the whole batch, before the next."""
    with xlib_connection(display) as (x11, xtest, connection):
        space = x11.XKeysymToKeycode(connection, 0x20)
        control = x11.XKeysymToKeycode(connection, 0xFFE3)  # Control_L
        for start in range(0, events, FLOOD_BATCH):
            for i in range(start, min(start + FLOOD_BATCH, events)):
                xtest.XTestFakeKeyEvent(connection, space, i % 2 == 0, 0)
            xtest.XTestFakeKeyEvent(connection, control, True, 0)
            xtest.XTestFakeKeyEvent(connection, control, False, 0)
            x11.XSync(connection, 0)
            for expected in ("down", "up"):
                line = gripwell.line()
                if line != expected:
                    raise AssertionError(f"{expected!r} after a batch, got {line!r}")


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError(f"no VmRSS for process {pid}")


@contextlib.contextmanager
def xlib_connection(display):
    """Xlib and XTest through ctypes, and a connection to `display` that is closed afterwards."""
    x11 = ctypes.CDLL("libX11.so.6")
    xtest = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtest.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                        ctypes.c_ulong]
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise AssertionError(f"cannot open display {display}")
    try:
        yield x11, xtest, connection
    finally:
        x11.XCloseDisplay(connection)


def flood_space(display, events):
    """Presses and releases the space bar `events` times in all through XTest, as fast as the X
    server takes them, and waits until it has."""
    with xlib_connection(display) as (x11, xtest, connection):
        space = x11.XKeysymToKeycode(connection, 0x20)
        deadline = time.monotonic() + 60
        for i in range(events):
            xtest.XTestFakeKeyEvent(connection, space, i % 2 == 0, 0)
            if i % 1000 == 999:
                x11.XSync(connection, 0)
                if time.monotonic() > deadline:
                    raise AssertionError("the X server takes no more key events")
        x11.XSync(connection, 0)


if __name__ == "__main__":
    sys.exit(toolcase.main("gripwell", GripwellTestCase))
