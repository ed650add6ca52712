"""What the desktop tests share: the script entry of every test script here (run_tests), and
the test case of the long-running tools (gripwell, vantor).

Each test of those tools gets a virtual desktop of its own (tools/desktop/desktop.py), runs the
tool binary under test as a host would, reads its lines with a bounded wait each, and ends every
process it started when it ends. The tool's standard error must stay empty. The binary comes from
the command line (--gripwell PATH, --vantor PATH); when it is empty or names no file, the tests
are skipped with the reason, and the exit status is then 77 if nothing else ran, which CTest
reports as skipped.
"""

import argparse
import json
import os
import platform
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "desktop"))
import desktop  # noqa: E402

SKIPPED = 77
COMMAND_TIMEOUT = 10.0  # seconds for a helper command such as xdotool

# The numbers of poll(2) and ppoll(2), in which the tools' run loop waits.
POLL_SYSCALLS = {"x86_64": {7, 271}, "aarch64": {73}}.get(platform.machine(), set())


def sleeps_in_poll(pid):
    """Whether the process `pid` is asleep in poll or ppoll: its run loop waits."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            state = stat.read().rsplit(")", 1)[1].split()[0]
        with open(f"/proc/{pid}/syscall") as syscall:
            number = syscall.read().split()[0]
    except (OSError, IndexError):
        return False
    return state == "S" and number.isdigit() and int(number) in POLL_SYSCALLS


class ToolTestCase(unittest.TestCase):
    tool = ""  # the tool's name, which is also its command-line option here
    binary = ""  # set by main()
    accessibility = True
    cookie = False  # the X server lets in only clients with the desktop's cookie

    def setUp(self):
        if not self.binary or not os.path.isfile(self.binary):
            self.skipTest(f"no real-desktop {self.tool} to run: " + (
                f"{self.binary} does not exist" if self.binary else
                "this build runs the tools against the simulated platform; configure with "
                f"USE_MACSIM=OFF (preset 'desktop') or pass --{self.tool} PATH"))
        self.desktop = desktop.Desktop(accessibility=self.accessibility, cookie=self.cookie)
        self.desktop.start()
        self.addCleanup(self.desktop.stop)

    def start_tool(self, *arguments, env=None, first_line="ready"):
        """Starts the tool with `arguments` and reads its first line, which must be
        `first_line` (not read when None)."""
        process = desktop.LineProcess(self.desktop, [self.binary, *arguments], env=env)
        self.addCleanup(self.end_tool, process)
        if first_line is not None:
            self.assertEqual(process.line(), first_line)
        return process

    def wait_until_waiting(self, process):
        """Waits until `process` sleeps in its run loop: everything it sets up after its first
        line (vantor's observer) is in place."""
        desktop.wait_until(lambda: sleeps_in_poll(process.pid), desktop.START_TIMEOUT,
                           f"{self.tool} waiting in its run loop")

    def env_without_cookie(self):
        """The desktop's environment with an authority file that holds no cookie: the X server
        refuses the connection, and Xlib prints the server's reason to standard error."""
        return dict(self.desktop.env, XAUTHORITY=os.path.join(self.desktop.workdir, "no-cookie"))

    def end_tool(self, process):
        self.assertEqual(process.stop(), b"", f"nothing on {self.tool}'s standard error")

    def start_app(self, layout):
        app = desktop.App(self.desktop, layout)
        self.addCleanup(app.stop)
        return app

    def xdotool(self, *arguments):
        xdotool(self, self.desktop, *arguments)

    def assertLines(self, process, *expected):
        """The next lines of `process` are `expected`, in order."""
        for line in expected:
            self.assertEqual(process.line(), line)


def xdotool(test, session, *arguments):
    """Runs xdotool on `session` and waits for it to end; `test` fails when it fails."""
    result = subprocess.run(["xdotool", *map(str, arguments)], env=session.env,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=COMMAND_TIMEOUT)
    test.assertEqual(result.returncode, 0, result.stderr)


PROBE = os.path.join(os.path.dirname(desktop.__file__), "atspi-probe.py")


def probe(test, session, *arguments):
    """What tools/desktop/atspi-probe.py answers for `arguments` on `session`, parsed; `test`
    fails when the probe fails."""
    result = subprocess.run(["/usr/bin/python3", PROBE, *map(str, arguments)], env=session.env,
                            stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            timeout=desktop.APP_TIMEOUT)
    test.assertEqual(result.returncode, 0, result.stderr)
    return json.loads(result.stdout)


class TerminalReader:
    """xfce4-terminal running desktop.terminal_reader: `received()` is every byte that the
    terminal passed on to its program so far."""

    def __init__(self, test, session):
        """Starts it on `session` for `test` (ended with the test) and returns once the program
        runs in it; skips the test without xfce4-terminal."""
        if shutil.which("xfce4-terminal") is None:
            test.skipTest("xfce4-terminal is not installed (tools/deps.sh installs it)")
        self.path = os.path.join(session.workdir, "typed")
        home = dict(session.env, HOME=session.workdir,
                    XDG_CONFIG_HOME=os.path.join(session.workdir, "config"))
        self.process = session.spawn(
            ["xfce4-terminal", "--disable-server", "-x", *desktop.terminal_reader(self.path)],
            env=home, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        test.addCleanup(self.process.wait)
        test.addCleanup(self.process.kill)
        # The program first: the terminal's accessibles come and go until it runs.
        desktop.wait_until(lambda: os.path.exists(self.path), desktop.APP_TIMEOUT,
                           "the program in the terminal")
        self.pid = self.process.pid

    def received(self):
        with open(self.path, "rb") as data:
            return data.read()

    def wait_for(self, expected):
        """Waits until the program has got as many bytes as `expected` and returns them."""
        desktop.wait_until(lambda: len(self.received()) >= len(expected), desktop.APP_TIMEOUT,
                           "the paste in the terminal")
        return self.received()


def binary_option(tool, arguments=None):
    """The PATH of the script's --TOOL PATH option ("" without it), and the other arguments, which
    are unittest's. The arguments are the script's, or `arguments`."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument(f"--{tool}", default="")
    options, rest = parser.parse_known_args(arguments)
    return getattr(options, tool), rest


def run_tests(arguments):
    """Runs the tests of the script being run, as unittest's `arguments` select them, and returns
    the script's exit status: 1 when a test failed, SKIPPED when every test that ran was skipped
    (CTest then shows the test as skipped), 0 otherwise. SIGTERM and SIGHUP become SystemExit, so
    that the desktops started meanwhile are ended."""
    desktop.exit_on_signals()
    program = unittest.main(module="__main__", argv=[sys.argv[0], *arguments], exit=False)
    result = program.result
    if not result.wasSuccessful():
        return 1
    return SKIPPED if result.testsRun and len(result.skipped) == result.testsRun else 0


def main(tool, case):
    """Runs the tests of this script with `case.binary` taken from --TOOL PATH."""
    case.binary, rest = binary_option(tool)
    return run_tests(rest)
