"""Stand-in keyboards for gripwell on a Wayland session, on a machine without input devices.

A FakeInput is a folder holding named pipes, input/eventN, that stand for the kernel's devices,
and their descriptions, kernel/eventN, which the stand-in kernel (xdesk/tests/fake_input/) reads:
what the device is called, which keys it can send and which it holds. Records written into a
pipe are what the device sends. A real tool finds the folder where /dev/input would be when the
library built from the stand-in kernel (target fake_input_preload) is preloaded into it and
FAKE_INPUT_ROOT names the folder; env() gives such an environment, with WAYLAND_DISPLAY set so
that the tool takes the session for a Wayland one, and no display, session bus or keymap
variables of the caller's session.

Processes started with spawn() run in a process group of their own, which close() ends.
"""

import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time

EV_SYN, EV_KEY, EV_MSC = 0, 1, 4
SYN_REPORT, SYN_DROPPED = 0, 3
MSC_SCAN = 4

# Kernel key codes (linux/input-event-codes.h).
KEY_B = 48
KEY_SPACE = 57
KEY_POWER = 116
BTN_LEFT = 0x110
MODIFIER_KEYS = {  # gripwell's words, and the keys on either side that stand for them
    "option": (56, 100),  # KEY_LEFTALT, KEY_RIGHTALT
    "control": (29, 97),  # KEY_LEFTCTRL, KEY_RIGHTCTRL
    "shift": (42, 54),  # KEY_LEFTSHIFT, KEY_RIGHTSHIFT
    "command": (125, 126),  # KEY_LEFTMETA, KEY_RIGHTMETA
}
KEY_LEFTALT = MODIFIER_KEYS["option"][0]

# The keys of a full keyboard: the main block, the keypad and the modifiers.
KEYBOARD = tuple(range(1, 84)) + (97, 100, 125, 126)

# struct input_event on 64-bit Linux: the time (seconds, microseconds), type, code, value.
_RECORD = struct.Struct("qqHHi")
RECORD_SIZE = _RECORD.size

_SESSION_VARIABLES = ("DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "DBUS_SESSION_BUS_ADDRESS",
                      "AT_SPI_BUS_ADDRESS", "XKB_DEFAULT_RULES", "XKB_DEFAULT_MODEL",
                      "XKB_DEFAULT_LAYOUT", "XKB_DEFAULT_VARIANT", "XKB_DEFAULT_OPTIONS",
                      "LD_PRELOAD")

STOP_TIMEOUT = 5.0  # seconds for a process to end on SIGTERM before SIGKILL


def records(*events):
    """The bytes a keyboard sends for `events`, each (type, code, value), stamped now on the
    monotonic clock, as the kernel stamps them for a reader that asks for that clock."""
    now = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
    seconds, micros = now // 1_000_000_000, now % 1_000_000_000 // 1000
    return b"".join(_RECORD.pack(seconds, micros, *event) for event in events)


def key(code, value):
    """A key event as a keyboard sends it: the scan code, the key, the end of the frame."""
    return [(EV_MSC, MSC_SCAN, code), (EV_KEY, code, value), (EV_SYN, SYN_REPORT, 0)]


class FakeInput:

    def __init__(self, preload):
        self.preload = preload
        self.root = tempfile.mkdtemp(prefix="fake-input-")
        self.folder = os.path.join(self.root, "input")
        self._writers = {}
        self._processes = []
        for folder in (self.root, self.folder, os.path.join(self.root, "kernel")):
            os.makedirs(folder, exist_ok=True)
            os.chmod(folder, 0o755)  # also for a tool run as another user
        self.env = {key: value for key, value in os.environ.items()
                    if key not in _SESSION_VARIABLES}
        self.env.update(WAYLAND_DISPLAY="wayland-stand-in", LD_PRELOAD=preload,
                        FAKE_INPUT_ROOT=self.root)

    def add(self, name, keys=KEYBOARD, held=(), mode=0o644):
        """A device `name` (eventN) that can send `keys` and holds `held`."""
        self.hold(name, held, keys)
        node = os.path.join(self.folder, name)
        os.mkfifo(node, 0o600)
        # Read and write: the pipe has a writer before the tool reads it, and writes never block.
        self._writers[name] = os.open(node, os.O_RDWR | os.O_NONBLOCK | os.O_CLOEXEC)
        os.chmod(node, mode)

    def hold(self, name, held, keys=None):
        """The keys the device holds from now on, as the kernel answers when asked."""
        description = os.path.join(self.root, "kernel", name)
        if keys is None:
            with open(description) as old:
                keys = next(line for line in old if line.startswith("keys")).split()[1:]
        with open(description, "w") as new:
            new.write(f"name Stand-in {name}\nkeys {' '.join(map(str, keys))}\n"
                      f"held {' '.join(map(str, held))}\n")

    def send(self, name, *keys):
        """Key events, each (code, value), sent by the device in one write."""
        events = [event for code, value in keys for event in key(code, value)]
        self.write(name, records(*events))

    def write(self, name, data):
        written = os.write(self._writers[name], data)
        assert written == len(data), f"{name} took {written} of {len(data)} bytes"

    def lose_events(self, name, held):
        """The kernel's buffer overflows: the device holds `held` now, and says events were lost."""
        self.hold(name, held)
        self.write(name, records((EV_SYN, SYN_DROPPED, 0)))

    def end(self, name):
        """The device stops: its pipe has no writer any more."""
        os.close(self._writers.pop(name))

    def remove(self, name):
        os.unlink(os.path.join(self.folder, name))

    def spawn(self, args, **kwargs):
        """Starts a process in a process group of its own, ended by close()."""
        kwargs.setdefault("env", self.env)
        process = subprocess.Popen(args, process_group=0, **kwargs)
        self._processes.append(process)
        return process

    def close(self):
        for process in self._processes:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(STOP_TIMEOUT)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
        for fd in self._writers.values():
            os.close(fd)
        self._writers.clear()
        shutil.rmtree(self.root, ignore_errors=True)
