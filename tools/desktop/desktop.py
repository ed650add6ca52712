"""A virtual X11 desktop for the desktop tests and the demo.

A desktop is Xvfb, a D-Bus session bus, the openbox window manager and (unless turned off) the
accessibility bus, started in that order. Each step waits for its own condition (the display
number written by Xvfb, the bus address printed by dbus-daemon, the window manager's check window
on the root, the accessibility registry answering), never for a fixed time, and gives up after
a bounded time with the tail of that process's log.

What runs inside gets DISPLAY and DBUS_SESSION_BUS_ADDRESS (the contract the tools' Linux platform
relies on), a private XDG_RUNTIME_DIR, and GDK_BACKEND=x11.

Every process of the desktop, and every process started with Desktop.spawn, runs in one process
group that stop() ends as a whole. The process that starts a desktop becomes a child subreaper,
so that daemons forked inside the desktop (the accessibility bus and its registry) are adopted
by it rather than by init and can be reaped; each direct child also gets SIGTERM when the
starting process dies, however it dies.
"""

import ctypes
import json
import os
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import time

START_TIMEOUT = 10.0  # seconds, for each step of the start
STOP_TIMEOUT = 5.0  # seconds for the group to end on SIGTERM before SIGKILL
POLL_INTERVAL = 0.01  # seconds between two looks at a condition

_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36
_libc = ctypes.CDLL(None, use_errno=True)

# The session bus activates nothing: on the standard configuration, the first client that asks
# for org.a11y.Bus would start an accessibility bus by itself, and a desktop without one could
# not be made.
_SESSION_BUS_CONFIG = """<busconfig>
  <type>session</type>
  <listen>unix:dir={dir}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

# Variables of the caller's session that would lead a client inside to another display, bus or
# toolkit back end.
_FOREIGN_VARIABLES = ("WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE", "SESSION_MANAGER",
                      "XAUTHORITY")


class DesktopError(RuntimeError):
    """The desktop could not be started."""


def _die_with_parent():
    # Runs in the child between fork and exec.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def exit_on_signals():
    """Turns SIGTERM and SIGHUP into SystemExit, so that finally blocks end the desktop."""
    def leave(signum, _frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, leave)
    signal.signal(signal.SIGHUP, leave)


def wait_until(condition, timeout, what):
    """Calls condition until it returns something true and returns that; raises DesktopError
    naming `what` when it has not within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise DesktopError(f"{what}: not within {timeout:g} s")
        time.sleep(POLL_INTERVAL)


def _read_line(fd, timeout, what):
    """Reads one line from a pipe, waiting at most `timeout` seconds; None at end of file."""
    deadline = time.monotonic() + timeout
    data = b""
    while b"\n" not in data:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise DesktopError(f"{what}: nothing within {timeout:g} s")
        chunk = os.read(fd, 4096)
        if not chunk:
            return None
        data += chunk
    return data.split(b"\n", 1)[0].decode()


def _write_xauthority(path, cookie):
    """An authority file with one MIT-MAGIC-COOKIE-1 for any display of any host (FamilyWild,
    empty address and display number): what an X server given -auth lets in, and what a client
    presents."""
    def counted(data):
        return struct.pack(">H", len(data)) + data
    entry = (struct.pack(">H", 0xFFFF) + counted(b"") + counted(b"")
             + counted(b"MIT-MAGIC-COOKIE-1") + counted(cookie))
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as out:
        out.write(entry)


class Desktop:
    """One virtual desktop. Use as a context manager, or call start() and stop().

    `assistive` turns the desktop's accessibility on (org.a11y.Status IsEnabled true), as a
    desktop does while an assistive technology runs: some applications (Firefox, Chromium) join
    the accessibility bus only then. `cookie` makes the X server let in only clients that present
    its cookie (the desktop's own do, through XAUTHORITY)."""

    def __init__(self, accessibility=True, screen="1280x800x24", assistive=False, cookie=False):
        self.accessibility = accessibility
        self.assistive = assistive
        self.screen = screen
        # With a cookie the X server lets in only clients that present it: the desktop's own get
        # it through XAUTHORITY (self.xauthority), so that a client without it can be tried.
        self.cookie = cookie
        self.xauthority = None
        self.display = None  # ":N"
        self.bus_address = None
        self.env = None
        self.workdir = None
        self._pgid = None
        self._procs = {}  # name -> Popen of the desktop's own processes

    @property
    def process_group(self):
        return self._pgid

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *_):
        self.stop()

    def start(self):
        if _libc.prctl(_PR_SET_CHILD_SUBREAPER, 1) != 0:
            raise DesktopError("cannot become a child subreaper")
        self.workdir = tempfile.mkdtemp(prefix="desktop-")
        try:
            self._start_x()
            self._start_session_bus()
            self._start_window_manager()
            if self.accessibility:
                self._start_accessibility_bus()
        except BaseException:
            self.stop()
            raise

    def spawn(self, args, **kwargs):
        """Starts a process inside the desktop: its environment, its process group, ended by
        stop() if it is still running then."""
        kwargs.setdefault("env", self.env)
        return subprocess.Popen(args, process_group=self._pgid, preexec_fn=_die_with_parent,
                                **kwargs)

    def _log(self, name):
        return open(os.path.join(self.workdir, name + ".log"), "wb")

    def _log_tail(self, name):
        try:
            with open(os.path.join(self.workdir, name + ".log"), "rb") as log:
                return log.read()[-2000:].decode(errors="replace")
        except OSError:
            return ""

    def _failed(self, name, why):
        tail = self._log_tail(name)
        return DesktopError(f"{name}: {why}" + (f"\n--- {name}.log ---\n{tail}" if tail else ""))

    def _start(self, name, args, **kwargs):
        with self._log(name) as log:
            kwargs.setdefault("stdout", log)
            process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stderr=log,
                                       process_group=self._pgid or 0, preexec_fn=_die_with_parent,
                                       **kwargs)
        if self._pgid is None:
            self._pgid = process.pid
        self._procs[name] = process
        return process

    def _alive(self, name):
        if self._procs[name].poll() is not None:
            raise self._failed(name, f"exited with status {self._procs[name].returncode}")
        return True

    def _start_x(self):
        # -displayfd: Xvfb takes the first free display number and writes it once it accepts
        # connections, so no number is ever fixed and nothing needs to be polled. -noreset: by
        # default the server resets whenever its last client leaves, and a client that connects
        # during the reset (openbox, while a probe of ours has just left) is refused.
        access = []
        if self.cookie:
            self.xauthority = os.path.join(self.workdir, "Xauthority")
            _write_xauthority(self.xauthority, os.urandom(16))
            access = ["-auth", self.xauthority]
        read_end, write_end = os.pipe()
        try:
            self._start("Xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen,
                                 "-nolisten", "tcp", "-noreset", *access], pass_fds=(write_end,))
            os.close(write_end)
            write_end = None
            number = _read_line(read_end, START_TIMEOUT, "Xvfb display number")
        except DesktopError as error:
            raise self._failed("Xvfb", str(error)) from None
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        if not number or not number.isdigit():
            raise self._failed("Xvfb", "wrote no display number")
        self.display = ":" + number
        runtime_dir = os.path.join(self.workdir, "runtime")
        os.mkdir(runtime_dir, 0o700)
        self.env = {key: value for key, value in os.environ.items()
                    if key not in _FOREIGN_VARIABLES}
        self.env.update(DISPLAY=self.display, XDG_RUNTIME_DIR=runtime_dir, GDK_BACKEND="x11")
        if self.xauthority:
            self.env["XAUTHORITY"] = self.xauthority
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)

    def _start_session_bus(self):
        config = os.path.join(self.workdir, "session-bus.conf")
        with open(config, "w") as out:
            out.write(_SESSION_BUS_CONFIG.format(dir=self.workdir))
        process = self._start("dbus-daemon", ["dbus-daemon", f"--config-file={config}", "--nofork",
                                              "--print-address=1"],
                              stdout=subprocess.PIPE, env=self.env)
        try:
            # The address is printed once the bus listens.
            address = _read_line(process.stdout.fileno(), START_TIMEOUT, "session bus address")
        except DesktopError as error:
            raise self._failed("dbus-daemon", str(error)) from None
        finally:
            process.stdout.close()
        if not address:
            raise self._failed("dbus-daemon", "printed no address")
        self.bus_address = address
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def _root_property(self, name):
        result = subprocess.run(["xprop", "-root", "-notype", name], env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
        found = result.returncode == 0 and "not found" not in result.stdout
        return result.stdout if found else None

    def _start_window_manager(self):
        # The system's own configuration, whatever the caller has in its home.
        self._start("openbox", ["openbox", "--sm-disable",
                                "--config-file", "/etc/xdg/openbox/rc.xml"], env=self.env)
        # openbox sets the root's check window once it manages the screen, and the list of what
        # it supports a moment later; a pager (xdotool) asks the list before it activates.
        wait_until(lambda: self._alive("openbox")
                   and self._root_property("_NET_SUPPORTING_WM_CHECK")
                   and "_NET_ACTIVE_WINDOW" in (self._root_property("_NET_SUPPORTED") or ""),
                   START_TIMEOUT, "openbox managing the screen")

    def _dbus_call(self, bus, destination, path, method, *args):
        result = subprocess.run(["dbus-send", bus, "--print-reply=literal", "--reply-timeout=2000",
                                 f"--dest={destination}", path, method, *args],
                                env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True)
        return result.stdout.strip() if result.returncode == 0 else None

    def _start_accessibility_bus(self):
        self._start("at-spi-bus-launcher",
                    ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately",
                     f"--a11y={int(self.assistive)}"], env=self.env)
        address = wait_until(
            lambda: self._alive("at-spi-bus-launcher") and self._dbus_call(
                "--session", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"),
            START_TIMEOUT, "accessibility bus address")
        # The registry is started on the accessibility bus by the first call to it; applications
        # started after it answers register with it at once.
        wait_until(lambda: self._dbus_call(
            f"--bus={address}", "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
            "org.freedesktop.DBus.Peer.Ping") is not None,
            START_TIMEOUT, "accessibility registry answering")

    def end_display(self):
        """Ends the X server alone, as when the session's display goes away, and waits until
        it has gone."""
        server = self._procs["Xvfb"]
        server.terminate()
        server.wait(STOP_TIMEOUT)

    def stop(self):
        """Ends every process of the desktop's group, SIGTERM first, SIGKILL after STOP_TIMEOUT,
        reaps them, and removes the working directory. Safe to call more than once."""
        if self._pgid is not None:
            if not self._end_group(signal.SIGTERM, STOP_TIMEOUT):
                self._end_group(signal.SIGKILL, STOP_TIMEOUT)
            self._pgid = None
        self._procs = {}
        if self.workdir:
            shutil.rmtree(self.workdir, ignore_errors=True)
            self.workdir = None

    def _end_group(self, signum, timeout):
        try:
            os.killpg(self._pgid, signum)
        except ProcessLookupError:
            return True
        deadline = time.monotonic() + timeout
        while True:
            self._reap()
            try:
                os.killpg(self._pgid, 0)
            except ProcessLookupError:
                return True
            if time.monotonic() >= deadline:
                return False
            time.sleep(POLL_INTERVAL)

    def _reap(self):
        for process in self._procs.values():
            process.poll()
        # Members of the group that are not Popen objects of ours: adopted daemons, and
        # processes of spawn() whose Popen the caller has dropped.
        while True:
            try:
                pid, _ = os.waitpid(-self._pgid, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return


TESTAPP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testapp.py")
APP_TIMEOUT = 10.0  # seconds for the test application to start or answer


class App:
    """The test application (testapp.py) running on a desktop, driven through its line protocol."""

    def __init__(self, desktop, layout, timeout=APP_TIMEOUT, env=None):
        self.process = desktop.spawn(["/usr/bin/python3", TESTAPP, json.dumps(layout)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=env or desktop.env)
        self.pid = self.process.pid
        self._buffer = b""
        try:
            ready = self._answer(timeout, "the test application's ready line")
            if ready.get("event") != "ready":
                raise DesktopError(f"the test application did not start: {ready}")
        except BaseException:
            self.stop()
            raise
        self.windows = ready["windows"]

    def _answer(self, timeout, what):
        fd = self.process.stdout.fileno()
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise DesktopError(f"{what}: nothing within {timeout:g} s")
            chunk = os.read(fd, 65536)
            if not chunk:
                raise DesktopError(f"{what}: the application ended (status {self.process.wait()})")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return json.loads(line)

    def command(self, op, timeout=APP_TIMEOUT, **arguments):
        """Sends one command and returns its answer; raises DesktopError on a refusal."""
        self.process.stdin.write((json.dumps({"op": op, **arguments}) + "\n").encode())
        self.process.stdin.flush()
        answer = self._answer(timeout, f"answer to {op!r}")
        if not answer.get("ok"):
            raise DesktopError(f"{op!r} refused: {answer.get('error')}")
        return answer

    def state(self):
        return self.command("state")

    def widget(self, name, window="main"):
        """Text, selection and caret of one widget."""
        return self.state()["windows"][window]["widgets"][name]

    def reset(self, layout, timeout=APP_TIMEOUT):
        answer = self.command("reset", timeout, **layout)
        self.windows = answer["windows"]
        return answer

    def stop(self):
        """Ends the application: at the end of its input, or by SIGTERM, or by SIGKILL."""
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
            except BrokenPipeError:
                pass
            try:
                self.process.wait(STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


LINE_TIMEOUT = 10.0  # seconds for a line that must come


class LineProcess:
    """A long-running process on a desktop (a tool such as gripwell or vantor) whose standard
    output is read line by line, each line waited for at most a bounded time. Its standard error
    goes to a file, so that it can never block the process, and is read back by stop()."""

    def __init__(self, desktop, args, env=None):
        self._stderr = tempfile.TemporaryFile()
        self.process = desktop.spawn(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=self._stderr, env=env or desktop.env)
        self.pid = self.process.pid
        self.stderr = b""
        self._buffer = b""
        self._ended = False

    def _fill(self, timeout):
        """Reads what arrives within `timeout` seconds; False at the end of the output."""
        fd = self.process.stdout.fileno()
        if not select.select([fd], [], [], max(timeout, 0))[0]:
            return True
        chunk = os.read(fd, 65536)
        if not chunk:
            self._ended = True
            return False
        self._buffer += chunk
        return True

    def line(self, timeout=LINE_TIMEOUT):
        """The next line without its line feed; None when the output has ended first. Raises
        DesktopError when no whole line comes within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buffer:
            if self._ended or not self._fill(deadline - time.monotonic()):
                return None
            if b"\n" not in self._buffer and time.monotonic() >= deadline:
                raise DesktopError(f"no line within {timeout:g} s (so far {self._buffer!r})")
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode()

    def unread(self):
        """Whatever output has arrived and has not been read as a line, without waiting."""
        while not self._ended and select.select([self.process.stdout], [], [], 0)[0]:
            self._fill(0)
        return self._buffer

    def close_output(self):
        """Closes the reading end of standard output: the reader is gone."""
        self.process.stdout.close()
        self._ended = True

    def wait(self, timeout=LINE_TIMEOUT):
        """The exit status once the process ends by itself within `timeout` seconds."""
        return self.process.wait(timeout)

    def stop(self):
        """Ends the process (SIGTERM, then SIGKILL) if it still runs; returns its standard
        error."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if not self.process.stdout.closed:
            self.process.stdout.close()
        if not self._stderr.closed:
            self._stderr.seek(0)
            self.stderr = self._stderr.read()
            self._stderr.close()
        return self.stderr



SCRIBBET_TIMEOUT = 10.0  # seconds for one run of scribbet


def run_scribbet(binary, pid, text=None, env=None, timeout=SCRIBBET_TIMEOUT):
    """Runs scribbet as a host runs it: `binary PID FILE` with FILE a fresh file holding `text`
    in UTF-8 (removed afterwards), or `binary PID --fast-paste` when text is None; no standard
    input. Returns the CompletedProcess (output as bytes) and the seconds from start to exit."""
    arguments = [binary, str(pid)]
    path = None
    if text is None:
        arguments.append("--fast-paste")
    else:
        handle, path = tempfile.mkstemp(prefix="scribbet-text-")
        with os.fdopen(handle, "wb") as out:
            out.write(text.encode())
        arguments.append(path)
    try:
        start = time.monotonic()
        result = subprocess.run(arguments, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=timeout)
        return result, time.monotonic() - start
    finally:
        if path:
            os.remove(path)


def terminal_reader(path):
    """The command of a program for a terminal that writes every byte it is given to `path` the
    moment it comes (no line editing, no echo), so that a test sees what the terminal passed on."""
    return ["sh", "-c", f"stty raw -echo; exec dd bs=1 of={path} 2>/dev/null"]
