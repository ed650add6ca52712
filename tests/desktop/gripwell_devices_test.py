#!/usr/bin/python3
"""gripwell on a Wayland session, hearing the keys through the kernel's input devices.

    tests/desktop/gripwell_devices_test.py --gripwell PATH --preload LIBRARY [unittest arguments]

This machine has no input devices and cannot make one. Each test runs the real gripwell binary at
PATH as a host would, with LIBRARY (the stand-in kernel, target fake_input_preload) preloaded, so
that it finds a folder of stand-in keyboards where /dev/input would be (tools/desktop/
fake_input.py), and reads its lines, each with a bounded wait. That no line comes is shown by a
fence: a later key whose line must be the next one. Most tests have no display, session bus or
accessibility bus: on a Wayland session gripwell needs only a keyboard it may read. Those that
have them (an X desktop stands for Xwayland) show that they play no part. Its standard error
must stay empty.
"""

import os
import pwd
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import toolcase  # noqa: E402
from toolcase import desktop  # noqa: E402

sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "desktop"))
import fake_input  # noqa: E402
from fake_input import KEY_B, KEY_LEFTALT, KEY_SPACE, MODIFIER_KEYS  # noqa: E402

PRESS, RELEASE, REPEAT = 1, 0, 2
NOT_GRANTED = "error:accessibility_not_granted"


def another_user():
    """The command prefix that runs a command as a user other than root, for whom permissions
    hold; nothing when this is not root already."""
    if os.geteuid() != 0:
        return []
    nobody = pwd.getpwnam("nobody")
    return ["setpriv", f"--reuid={nobody.pw_uid}", f"--regid={nobody.pw_gid}", "--clear-groups"]


class GripwellDevicesTest(unittest.TestCase):
    binary = ""
    preload = ""

    def setUp(self):
        for what, path in (("gripwell", self.binary), ("stand-in kernel", self.preload)):
            if not path or not os.path.isfile(path):
                self.skipTest(f"no real-desktop {what} to run: "
                              f"{path or 'this build runs the tools against the simulated platform'}")
        self.input = self.stand_in_input()

    def stand_in_input(self):
        """A folder of stand-in devices. A pipe gives each record to one reader only, where a
        device gives it to all: each gripwell has its own."""
        made = fake_input.FakeInput(self.preload)
        self.addCleanup(made.close)
        return made

    def with_desktop(self):
        """An X desktop with its accessibility bus, as Xwayland and a session would give: the
        environment of a gripwell that has both and the stand-in keyboards."""
        session = desktop.Desktop()
        session.start()
        self.addCleanup(session.stop)
        env = dict(session.env)
        env.update((key, self.input.env[key])
                   for key in ("WAYLAND_DISPLAY", "LD_PRELOAD", "FAKE_INPUT_ROOT"))
        return env

    def start(self, *arguments, prefix=(), first_line="ready", devices=None, env=None):
        process = desktop.LineProcess(devices or self.input, [*prefix, self.binary, *arguments],
                                      env=env)
        self.addCleanup(self.end_tool, process)
        if first_line is not None:
            self.assertEqual(process.line(), first_line)
        return process

    def end_tool(self, process):
        self.assertEqual(process.stop(), b"", "nothing on gripwell's standard error")

    def assertLines(self, process, *expected):
        for line in expected:
            self.assertEqual(process.line(), line)

    def assertFailsToStart(self, prefix=(), env=None):
        """gripwell's only line is that access is not granted, and it exits with status 1."""
        gripwell = self.start(prefix=prefix, first_line=NOT_GRANTED, env=env)
        self.assertEqual(gripwell.wait(), 1)
        self.assertEqual(gripwell.line(), None)

    def test_option_held_with_space_pressed_twice_gives_two_combos_between_down_and_up(self):
        self.input.add("event0")
        # With Xwayland's display too, whose keys would be those of X windows only.
        gripwell = self.start(env=self.with_desktop())
        self.input.send("event0", (KEY_LEFTALT, PRESS), (KEY_SPACE, PRESS), (KEY_SPACE, RELEASE),
                        (KEY_SPACE, PRESS), (KEY_SPACE, RELEASE), (KEY_LEFTALT, RELEASE))
        self.assertLines(gripwell, "down", "combo_space", "combo_space", "up")
        self.input.send("event0", (KEY_LEFTALT, PRESS))
        self.assertLines(gripwell, "down")

    def test_an_auto_repeated_space_gives_one_combo(self):
        self.input.add("event0")
        gripwell = self.start()
        self.input.send("event0", (KEY_LEFTALT, PRESS), (KEY_LEFTALT, REPEAT), (KEY_SPACE, PRESS),
                        (KEY_SPACE, REPEAT), (KEY_SPACE, REPEAT), (KEY_SPACE, RELEASE),
                        (KEY_LEFTALT, REPEAT), (KEY_LEFTALT, RELEASE))
        self.assertLines(gripwell, "down", "combo_space", "up")
        self.input.send("event0", (KEY_LEFTALT, PRESS))
        self.assertLines(gripwell, "down")

    def test_each_word_watches_its_own_modifier_on_either_side(self):
        words = [*MODIFIER_KEYS, "fn"]
        devices = {word: self.stand_in_input() for word in words}
        watchers = {}
        for word in words:
            devices[word].add("event0")
            watchers[word] = self.start(word.upper() if word == "control" else word,
                                        devices=devices[word])
        for word in words:
            for keys in MODIFIER_KEYS.values():
                for code in keys:
                    devices[word].send("event0", (code, PRESS), (KEY_SPACE, PRESS),
                                       (KEY_SPACE, RELEASE), (code, RELEASE))
            devices[word].send("event0", *[(keys[0], PRESS) for keys in MODIFIER_KEYS.values()])
        for word in MODIFIER_KEYS:
            with self.subTest(word=word):
                self.assertLines(watchers[word], "down", "combo_space", "up",
                                 "down", "combo_space", "up", "down")
        # No keyboard has an fn key that reaches the kernel: nothing, and still running.
        self.assertEqual(watchers["fn"].unread(), b"")
        self.assertIsNone(watchers["fn"].process.poll())

    def test_two_keyboards_hold_the_modifier_together(self):
        self.input.add("event0")
        self.input.add("event1")
        gripwell = self.start()
        self.input.send("event0", (KEY_LEFTALT, PRESS))
        self.input.send("event1", (KEY_SPACE, PRESS), (KEY_SPACE, RELEASE))
        # Option pressed and released on the second keyboard: still held on the first.
        self.input.send("event1", (KEY_LEFTALT, PRESS), (KEY_LEFTALT, RELEASE))
        self.input.send("event1", (KEY_SPACE, PRESS), (KEY_SPACE, RELEASE))
        self.input.send("event0", (KEY_LEFTALT, RELEASE))
        self.assertLines(gripwell, "down", "combo_space", "combo_space", "up")

    def test_keyboards_that_go_and_come_are_followed(self):
        self.input.add("event0")
        gripwell = self.start()
        # The keyboard ends with Option held: it is released with it.
        self.input.send("event0", (KEY_LEFTALT, PRESS))
        self.input.end("event0")
        self.assertLines(gripwell, "down", "up")
        # No keyboard left, and gripwell goes on until one comes.
        self.input.remove("event0")
        self.input.add("event3")
        self.input.send("event3", (KEY_LEFTALT, PRESS), (KEY_SPACE, PRESS))
        self.assertLines(gripwell, "down", "combo_space")
        self.assertEqual(gripwell.unread(), b"")

    def test_lost_events_are_made_good_from_the_keyboards_state(self):
        self.input.add("event0")
        gripwell = self.start()
        self.input.send("event0", (KEY_LEFTALT, PRESS))
        self.assertLines(gripwell, "down")
        # Option was released while the kernel's buffer overflowed.
        self.input.lose_events("event0", held=())
        self.assertLines(gripwell, "up")
        self.input.send("event0", (KEY_B, PRESS), (KEY_LEFTALT, PRESS))
        self.assertLines(gripwell, "down")

    def test_no_keyboard_is_access_not_granted_whatever_the_accessibility_bus_says(self):
        env = self.with_desktop()
        self.input.add("event0", keys=(fake_input.BTN_LEFT,))  # a mouse
        self.input.add("event1", keys=(fake_input.KEY_POWER,))  # a power button
        self.assertFailsToStart(env=env)
        os.rename(self.input.folder, self.input.folder + "-gone")  # no device folder at all
        self.assertFailsToStart(env=env)

    def test_a_keyboard_the_user_may_not_read_is_access_not_granted(self):
        self.input.add("event0", mode=0o600)
        self.assertFailsToStart(prefix=another_user())
        os.chmod(os.path.join(self.input.folder, "event0"), 0o644)
        gripwell = self.start(prefix=another_user())
        self.input.send("event0", (KEY_LEFTALT, PRESS))
        self.assertLines(gripwell, "down")


class MachineDevicesTest(unittest.TestCase):
    """The machine's own /dev/input, without the stand-in kernel."""
    binary = ""

    def test_without_a_readable_keyboard_access_is_not_granted(self):
        if not self.binary or not os.path.isfile(self.binary):
            self.skipTest("no real-desktop gripwell to run")
        folder = "/dev/input"
        readable = [name for name in (os.listdir(folder) if os.path.isdir(folder) else [])
                    if name.startswith("event") and os.access(os.path.join(folder, name), os.R_OK)]
        if readable:
            self.skipTest(f"this machine has input devices: {', '.join(readable)}")
        env = {key: value for key, value in os.environ.items() if key not in ("DISPLAY",)}
        env["WAYLAND_DISPLAY"] = "wayland-stand-in"
        result = subprocess.run([self.binary], env=env, capture_output=True,
                                timeout=toolcase.COMMAND_TIMEOUT)
        self.assertEqual((result.stdout, result.stderr, result.returncode),
                         (NOT_GRANTED.encode() + b"\n", b"", 1))


def main():
    binary, rest = toolcase.binary_option("gripwell")
    GripwellDevicesTest.binary = MachineDevicesTest.binary = binary
    preload, rest = toolcase.binary_option("preload", rest)
    GripwellDevicesTest.preload = preload
    return toolcase.run_tests(rest)


if __name__ == "__main__":
    sys.exit(main())
