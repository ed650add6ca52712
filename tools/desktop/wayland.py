"""A headless Wayland desktop for the desktop tests and the demo, beside the X11 one (desktop.py).

A desktop is a D-Bus session bus, a compositor (sway or mutter, headless), a keyboard that stays
on the compositor's seat for the whole desktop (a seat without one gives no window the keyboard
focus), and (unless turned off) the accessibility bus, started in that order, each step waiting
for its own condition with a bounded time, never for a fixed time.

- sway refuses to run as root: it runs as the user nobody, in a runtime folder of its own, and
  clients reach its socket by its absolute path. Its keyboard is `wayland-keyboard`, a virtual
  keyboard client built with the tools (tools/desktop/wayland-keyboard.cpp). With xwayland=True
  it starts Xwayland at once and admits root's X clients.
- mutter runs as root, with the session bus of the desktop; its keyboard is a RemoteDesktop
  session held by mutter-keyboard.py. With xwayland=True it starts Xwayland too.

What runs inside gets WAYLAND_DISPLAY, XDG_SESSION_TYPE=wayland, DBUS_SESSION_BUS_ADDRESS, a
private XDG_RUNTIME_DIR and GDK_BACKEND=wayland, and DISPLAY only with Xwayland. Processes, their
group and their ending are as in desktop.Desktop.
"""

import glob
import os
import pwd
import re
import subprocess
import tempfile

import desktop
from desktop import START_TIMEOUT, DesktopError, wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
KEYBOARD_ENV = "WAYLAND_TEST_KEYBOARD"  # the wayland-keyboard binary, when not in a build folder
MUTTER_KEYBOARD = os.path.join(HERE, "mutter-keyboard.py")
COMMAND_TIMEOUT = 10.0

# Linux input codes of the keys the tests press.
KEY_LEFTCTRL = 29
KEY_LEFTSHIFT = 42
KEY_LEFTALT = 56
KEY_TAB = 15
KEY_V = 47

_FOREIGN_VARIABLES = desktop._FOREIGN_VARIABLES + ("DISPLAY", "XDG_SESSION_TYPE", "SWAYSOCK",
                                                   "GDK_BACKEND", "I3SOCK")
_MUTTER_SOCKET = "wayland-test"


def keyboard_binary():
    """The wayland-keyboard binary: $WAYLAND_TEST_KEYBOARD, else the first built one."""
    given = os.environ.get(KEYBOARD_ENV)
    if given:
        return given
    for preset in ("desktop", "release", "dev"):
        path = os.path.join(ROOT, "build", preset, "tools", "desktop", "wayland-keyboard")
        if os.path.isfile(path):
            return path
    raise DesktopError(f"no wayland-keyboard: build it (cmake --workflow --preset release) or "
                       f"set {KEYBOARD_ENV}")


class Keyboard:
    """The desktop's keyboard process, driven line by line."""

    def __init__(self, owner, args):
        with owner._log("keyboard") as log:
            self.process = owner.spawn(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=log)
        owner._procs["keyboard"] = self.process  # ended and reaped with the desktop
        line = self._line(START_TIMEOUT, "the keyboard's ready line")
        if line != "ready":
            raise DesktopError(f"the keyboard did not start: {line!r}")

    def _line(self, timeout, what):
        # One line comes per command, and only after it, so nothing is ever read ahead.
        return desktop._read_line(self.process.stdout.fileno(), timeout, what)

    def _send(self, verb, code):
        self.process.stdin.write(f"{verb} {code}\n".encode())
        self.process.stdin.flush()
        answer = self._line(COMMAND_TIMEOUT, f"the keyboard's answer to {verb} {code}")
        if answer != "ok":
            raise DesktopError(f"the keyboard refused {verb} {code}: {answer!r}")

    def close(self):
        for pipe in (self.process.stdin, self.process.stdout):
            try:
                pipe.close()
            except BrokenPipeError:
                pass

    def press(self, code):
        self._send("press", code)

    def release(self, code):
        self._send("release", code)

    def tap(self, *codes):
        """Presses the keys in order and releases them in reverse: tap(KEY_LEFTCTRL, KEY_V)."""
        for code in codes:
            self.press(code)
        for code in reversed(codes):
            self.release(code)


class WaylandDesktop(desktop.Desktop):
    """One headless Wayland desktop. Use as a context manager, or call start() and stop()."""

    def __init__(self, compositor="sway", accessibility=True, xwayland=False):
        super().__init__(accessibility=accessibility)
        if compositor not in ("sway", "mutter"):
            raise ValueError(f"unknown compositor {compositor!r}")
        self.compositor = compositor
        self.xwayland = xwayland
        self.keyboard = None
        self.wayland_display = None
        self.swaysock = None

    def start(self):
        if desktop._libc.prctl(desktop._PR_SET_CHILD_SUBREAPER, 1) != 0:
            raise DesktopError("cannot become a child subreaper")
        self.workdir = tempfile.mkdtemp(prefix="wayland-desktop-")
        try:
            os.chmod(self.workdir, 0o755)  # sway's user reads its configuration here
            runtime_dir = os.path.join(self.workdir, "run")
            os.mkdir(runtime_dir, 0o700)
            self.env = {key: value for key, value in os.environ.items()
                        if key not in _FOREIGN_VARIABLES}
            self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
            self.env.update(XDG_RUNTIME_DIR=runtime_dir, XDG_SESSION_TYPE="wayland",
                            GDK_BACKEND="wayland")
            self._start_session_bus()
            if self.compositor == "sway":
                self._start_sway()
            else:
                self._start_mutter()
            if self.accessibility:
                self._start_accessibility_bus()
        except BaseException:
            self.stop()
            raise

    # ---- sway --------------------------------------------------------------------------------

    def _start_sway(self):
        user = pwd.getpwnam("nobody")
        sway_dir = os.path.join(self.workdir, "sway")
        os.mkdir(sway_dir, 0o700)
        os.chown(sway_dir, user.pw_uid, user.pw_gid)
        display_file = os.path.join(sway_dir, "x-display")
        config = os.path.join(self.workdir, "sway.conf")
        with open(config, "w") as out:
            if self.xwayland:
                # Xwayland runs as sway's user and admits only that user; root's clients are let
                # in once it runs. The display goes to a file when it is ready.
                out.write("xwayland force\n"
                          f"exec sh -c 'xhost +si:localuser:root >/dev/null && "
                          f"echo \"$DISPLAY\" > {display_file}'\n")
            else:
                out.write("xwayland disable\n")
        os.chmod(config, 0o644)
        environment = {"PATH": "/usr/bin:/bin", "XDG_RUNTIME_DIR": sway_dir, "HOME": sway_dir,
                       "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1",
                       "WLR_RENDERER": "pixman"}
        self._start("sway", ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}",
                             "--clear-groups", "--pdeathsig=TERM", "sway", "-c", config],
                    env=environment)

        def socket():
            self._alive("sway")
            found = [name for name in os.listdir(sway_dir) if re.fullmatch(r"wayland-\d+", name)]
            ipc = glob.glob(os.path.join(sway_dir, "sway-ipc.*.sock"))
            return found and ipc and (os.path.join(sway_dir, found[0]), ipc[0])

        self.wayland_display, self.swaysock = wait_until(socket, START_TIMEOUT, "sway's socket")
        self.env.update(WAYLAND_DISPLAY=self.wayland_display, SWAYSOCK=self.swaysock)
        self.keyboard = Keyboard(self, [keyboard_binary()])
        if self.xwayland:
            def x_display():
                self._alive("sway")
                try:
                    with open(display_file) as given:
                        return given.read().strip()
                except OSError:
                    return None
            self._use_x_display(wait_until(x_display, START_TIMEOUT, "Xwayland's display"))

    def swaymsg(self, *arguments):
        """Runs swaymsg on the desktop's sway and returns its output."""
        result = subprocess.run(["swaymsg", *arguments], env=self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=COMMAND_TIMEOUT)
        if result.returncode != 0:
            raise DesktopError(f"swaymsg {' '.join(arguments)}: {result.stdout}{result.stderr}")
        return result.stdout

    # ---- mutter ------------------------------------------------------------------------------

    def _start_mutter(self):
        arguments = ["mutter", "--headless", "--wayland", "--virtual-monitor", "1280x800",
                     f"--wayland-display={_MUTTER_SOCKET}"]
        if not self.xwayland:
            arguments.append("--no-x11")
        self._start("mutter", arguments, env=self.env)
        socket = os.path.join(self.env["XDG_RUNTIME_DIR"], _MUTTER_SOCKET)
        wait_until(lambda: self._alive("mutter") and os.path.exists(socket)
                   and self._dbus_call("--session", "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus.NameHasOwner",
                                       "string:org.gnome.Mutter.RemoteDesktop") == "boolean true",
                   START_TIMEOUT, "mutter's socket and remote desktop service")
        self.wayland_display = _MUTTER_SOCKET
        self.env["WAYLAND_DISPLAY"] = _MUTTER_SOCKET
        self.keyboard = Keyboard(self, ["/usr/bin/python3", MUTTER_KEYBOARD])
        if self.xwayland:
            # mutter names its Xwayland display in its log, and keeps the display's cookie in
            # the runtime folder.
            def x_display():
                self._alive("mutter")
                display = re.search(r"Using public X11 display (:\d+)", self._log_tail("mutter"))
                cookie = glob.glob(os.path.join(self.env["XDG_RUNTIME_DIR"],
                                                ".mutter-Xwaylandauth.*"))
                return display and cookie and (display.group(1), cookie[0])
            display, cookie = wait_until(x_display, START_TIMEOUT, "mutter's Xwayland display")
            self.env["XAUTHORITY"] = cookie
            self._use_x_display(display)

    def _use_x_display(self, display):
        self.env["DISPLAY"] = display
        self.display = display
        wait_until(lambda: subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                          env=self.env, stdin=subprocess.DEVNULL,
                                          capture_output=True).returncode == 0,
                   START_TIMEOUT, "Xwayland admitting this user")

    def stop(self):
        super().stop()
        if self.keyboard is not None:
            self.keyboard.close()
            self.keyboard = None

    def end_display(self):
        raise NotImplementedError("a Wayland desktop ends with its compositor: use stop()")
