#!/usr/bin/python3
"""The host examples (examples/host.py, and examples/host.ts compiled to JavaScript) against the
real-desktop tools on a virtual desktop.

    tests/desktop/examples_test.py --host python|node --tool PATH --tool PATH --tool PATH
                                   [--node-example FILE] [unittest arguments]

The three --tool paths are the real-desktop scribbet, gripwell and vantor; the examples get them
side by side in one folder, as a host bundles them. Each test starts a desktop
of its own and the GTK test application, runs the example as a user would, and checks what the
example says it did and what the application shows. Tests are skipped, with the reason, when the
tools are not all given, or the Node example is not compiled (`npm ci`, then `npx tsc -p
examples`); the exit status is then 77 if nothing else ran.
"""

import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, HERE)
import toolcase  # noqa: E402
from toolcase import desktop  # noqa: E402

RUN_TIMEOUT = 20.0  # seconds for one insertion by an example, fast paste and its retry included
PROBE = os.path.join(ROOT, "tools", "desktop", "atspi-probe.py")

options = argparse.Namespace(host="python", tool=[], tools="", node_example="")


class Example:
    """The example of one language, running inside a desktop."""

    def __init__(self, test):
        self.test = test
        if options.host == "node":
            self.command = ["node", options.node_example]
        else:
            self.command = ["/usr/bin/python3", os.path.join(ROOT, "examples", "host.py")]
        self.command += ["--tools", options.tools]

    def run(self, *arguments):
        """Runs the example to its end; returns what it printed, line by line."""
        result = subprocess.run(self.command + list(arguments), env=self.test.desktop.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=RUN_TIMEOUT)
        self.test.assertEqual(result.stderr, "")
        self.test.assertEqual(result.returncode, 0, result.stdout)
        return result.stdout.splitlines()

    def start(self, *arguments):
        """Starts a long-running part of the example; returns a Follower of its output."""
        return Follower(self.test, self.test.desktop.spawn(
            self.command + list(arguments), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE))


class Follower:
    """Reads a running example's output line by line, each read bounded in time."""

    def __init__(self, test, process):
        self.test = test
        self.process = process
        self.buffer = b""
        test.addCleanup(self.close)

    def line(self, timeout=desktop.APP_TIMEOUT, required=True):
        """The next line; None when there is none within `timeout` and it is not required."""
        fd = self.process.stdout.fileno()
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if not (left > 0 and select.select([fd], [], [], left)[0]):
                self.test.assertFalse(required, f"no line from the example within {timeout:g} s")
                return None
            chunk = os.read(fd, 4096)
            self.test.assertNotEqual(chunk, b"", "the example ended early")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode()

    def end(self):
        """SIGTERM, as a user or a session would end it; returns its status and the rest of
        its output."""
        self.process.send_signal(signal.SIGTERM)
        rest, errors = self.process.communicate(timeout=desktop.APP_TIMEOUT)
        self.test.assertEqual(errors, b"")
        return self.process.returncode, (self.buffer + rest).decode().splitlines()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        if not self.process.stdout.closed:
            self.process.communicate()


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class ExampleTestCase(unittest.TestCase):
    accessibility = True

    def setUp(self):
        names = ("scribbet", "gripwell", "vantor")
        if not all(os.path.isfile(os.path.join(options.tools, name)) for name in names):
            self.skipTest("not given the three real-desktop tools: " + (
                " ".join(options.tool) or "configure with USE_MACSIM=OFF (preset 'desktop')"))
        if options.host == "node" and not os.path.isfile(options.node_example):
            self.skipTest(f"the Node example is not compiled: {options.node_example!r} "
                          "(npm ci, then npx tsc -p examples)")
        self.desktop = desktop.Desktop(accessibility=self.accessibility)
        self.desktop.start()
        self.addCleanup(self.desktop.stop)
        self.example = Example(self)

    def start_app(self, layout):
        app = desktop.App(self.desktop, layout)
        self.addCleanup(app.stop)
        return app

    def start_window(self, **window):
        """The test application with one window "main"; returns once its focused widget shows
        on the accessibility bus."""
        app = self.start_app({"windows": [{"name": "main", **window}]})
        if self.accessibility:
            subprocess.run(["/usr/bin/python3", PROBE, "focus", str(app.pid)],
                           env=self.desktop.env, stdin=subprocess.DEVNULL,
                           capture_output=True, check=True, timeout=desktop.APP_TIMEOUT)
        return app


class InsertionTest(ExampleTestCase):

    def test_inserts_directly_into_the_focused_field(self):
        app = self.start_window(widgets={"entry": {"text": "Meet on Tuesday", "selection": [8, 15]}})
        said = self.example.run("insert", str(app.pid), "Friday")
        self.assertEqual(said, [
            f'scribbet: {{"status":"inserted","role":"AXTextField","targetPid":{app.pid},'
            f'"focusedPid":{app.pid},"selectionUpdated":true}}',
            "inserted directly"])
        self.assertEqual(app.widget("entry")["text"], "Meet on Friday")

    def test_falls_back_to_fast_paste_where_the_field_cannot_be_edited(self):
        # A password field that holds text cannot be written through the accessibility bus;
        # the application's own paste puts the text at its caret.
        app = self.start_window(focus="password", widgets={"password": {"text": "hunter"}})
        said = self.example.run("insert", str(app.pid), "2")
        self.assertEqual(said[:2], [
            f'scribbet: {{"status":"value_unavailable","role":"AXTextField",'
            f'"subrole":"AXSecureTextField","targetPid":{app.pid},"focusedPid":{app.pid}}}',
            "falling back to fast paste after value_unavailable"])
        self.assertRegex(said[2], rf'^scribbet: {{"status":"inserted","targetPid":{app.pid},')
        self.assertEqual(said[3:], ["inserted by fast paste"])
        desktop.wait_until(lambda: app.widget("password")["text"] == "hunter2",
                           desktop.APP_TIMEOUT, "the paste")

    def test_does_not_paste_after_an_answer_that_did_not_come_in_time(self):
        # The entry's change handler holds the application up past the write's timeout and the
        # read back after it: scribbet cannot tell whether the value landed (it will), and the
        # host must not paste it a second time.
        app = self.start_window(widgets={"entry": {"text": "Meet on Tuesday", "selection": [8, 15],
                                                   "slow_change": 20}})
        self.addCleanup(app.process.kill)  # rather than wait for the handler
        said = self.example.run("insert", str(app.pid), "Friday")
        self.assertEqual(said, [
            f'scribbet: {{"status":"set_value_failed","role":"AXTextField",'
            f'"targetPid":{app.pid},"focusedPid":{app.pid},"error":"cannot_complete"}}',
            "perhaps not inserted: the application did not answer in time"])

    def test_writes_nothing_when_the_focus_is_in_another_application(self):
        target = self.start_window(title="target", widgets={"entry": {"text": "alpha"}})
        front = self.start_window(title="front", widgets={"entry": {"text": "beta"}})
        said = self.example.run("insert", str(target.pid), "gamma")
        self.assertEqual(said[1:], [f"not inserted: the focus is in process {front.pid}"])
        self.assertEqual(target.widget("entry")["text"], "alpha")
        self.assertEqual(front.widget("entry")["text"], "beta")


class WithoutAccessibilityBusTest(ExampleTestCase):
    accessibility = False

    def test_insertion_asks_for_the_permission(self):
        app = self.start_window(widgets={"entry": {"text": "alpha"}})
        said = self.example.run("insert", str(app.pid), "beta")
        self.assertEqual(said[1:], [
            "permission needed: the desktop's accessibility bus is not running"])
        self.assertEqual(app.widget("entry")["text"], "alpha")

    def test_gripwell_start_up_error_asks_for_the_permission(self):
        follower = self.example.start("watch-key", "command")
        started = follower.line()
        self.assertRegex(started, r"^started gripwell \(pid [0-9]+\)$")
        self.assertEqual(follower.line(),
                         "permission needed: the desktop's accessibility bus is not running")
        self.assertEqual(follower.line(), "gripwell ended with status 1")
        self.assertEqual(follower.process.wait(desktop.APP_TIMEOUT), 1)


class LongRunningToolsTest(ExampleTestCase):

    def test_vantor_is_ended_with_the_host(self):
        follower = self.example.start("watch-apps")
        started = follower.line()
        self.assertRegex(started, r"^started vantor \(pid [0-9]+\)$")
        vantor = int(started.split("pid ")[1].rstrip(")"))
        self.assertEqual(follower.line(), "watching applications")
        self.assertEqual(follower.end(), (0, ["vantor ended by signal " + self.signal_name()]))
        self.assertFalse(alive(vantor))

    def test_vantor_activation_lines_reach_the_host(self):
        notes = self.start_app({"app_id": "org.example.Notes", "windows": [
            {"name": "main", "title": "notes", "wmclass": ["notes", "Notes"]}]})
        pad = self.start_app({"windows": [
            {"name": "main", "title": "pad", "wmclass": ["pad", "Pad"]}]})
        follower = self.example.start("watch-apps")
        follower.line()
        self.assertEqual(follower.line(), "watching applications")
        notes_line = f"active: Notes (org.example.Notes, pid {notes.pid})"
        # vantor says "ready" before it watches, so the first activations may go unreported:
        # switch between the two until the one to notes is the last line. The switch is made
        # again only when no line came of the last one, since on a busy machine its lines may
        # come later than a pause between them.
        deadline = time.monotonic() + desktop.APP_TIMEOUT
        seen, fresh = [], []
        while not seen or seen[-1] != notes_line:
            self.assertLess(time.monotonic(), deadline, f"no activation of notes in {seen}")
            if not fresh:
                pad.command("activate", window="main")
                notes.command("activate", window="main")
            fresh = []
            while (line := follower.line(1.0, required=False)) is not None:
                fresh.append(line)
            seen += fresh
        pad.command("activate", window="main")
        self.assertEqual(follower.line(), f"active: Pad (Pad, pid {pad.pid})")
        self.assertEqual(follower.end(), (0, ["vantor ended by signal " + self.signal_name()]))

    def test_gripwell_key_lines_reach_the_host_and_it_is_ended_with_the_host(self):
        follower = self.example.start("watch-key", "option")
        started = follower.line()
        gripwell = int(started.split("pid ")[1].rstrip(")"))
        self.assertEqual(follower.line(), "watching the key")
        self.xdotool("keydown", "alt")
        self.assertEqual(follower.line(), "key down")
        self.xdotool("key", "space")
        self.assertEqual(follower.line(), "space while the key is held")
        self.xdotool("keyup", "alt")
        self.assertEqual(follower.line(), "key up")
        self.assertEqual(follower.end(), (0, ["gripwell ended by signal " + self.signal_name()]))
        self.assertFalse(alive(gripwell))

    def xdotool(self, *arguments):
        subprocess.run(["xdotool", *arguments], env=self.desktop.env, stdin=subprocess.DEVNULL,
                       check=True, timeout=desktop.APP_TIMEOUT)

    @staticmethod
    def signal_name():
        # How each language names the signal that ended a child.
        return "SIGTERM" if options.host == "node" else str(int(signal.SIGTERM))


def main():
    global options
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--host", choices=("python", "node"), default="python")
    parser.add_argument("--tool", action="append", default=[])
    parser.add_argument("--node-example", default="")
    options, rest = parser.parse_known_args()
    # The build tree keeps each executable in a folder of its own.
    options.tools = tempfile.mkdtemp(prefix="host-tools-")
    for path in options.tool:
        if os.path.isfile(path):
            os.symlink(os.path.abspath(path), os.path.join(options.tools, os.path.basename(path)))
    try:
        return toolcase.run_tests(rest)
    finally:
        shutil.rmtree(options.tools, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
