#!/usr/bin/python3
"""CPU per key event of gripwell's tap over the kernel's keyboards (a Wayland session), fed records.

    bench/gripwell-devices.py [--gripwell PATH] [--preload LIBRARY] [--events N] [--paced N]
                              [--idle SECONDS] [--runs K]

Runs the real gripwell (`gripwell control`) over one stand-in keyboard (tools/desktop/
fake_input.py, with the stand-in kernel preloaded) and measures its CPU time from
/proc/PID/schedstat, the idle baseline taken off:
- flood: N key events (default 1,000,000), half presses and half releases of the space bar, each
  sent as a keyboard sends it (scan code, key, end of frame: 72 bytes), as fast as the pipe takes
  them; then Control pressed and released, whose lines say that all were read. Comparable with the
  XInput2 figure of tools/desktop/measure-watchers.py, whose events also come as fast as they can.
- paced: N presses of the space bar (default 20,000) with Control held, each sent when the line of
  the one before has arrived, so that each wakes gripwell on its own as a typist's keys do; each
  makes a `combo_space` line, and its release comes with the next press.
Prints one line per figure, per run. Defaults: the binaries of build/desktop (a Release build).
"""

import argparse
import os
import select
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tools", "desktop"))
import desktop  # noqa: E402
import fake_input  # noqa: E402
from fake_input import EV_KEY, EV_MSC, EV_SYN, KEY_SPACE, MSC_SCAN, SYN_REPORT  # noqa: E402

KEY_LEFTCTRL = fake_input.MODIFIER_KEYS["control"][0]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/schedstat") as schedstat:
        return int(schedstat.read().split()[0]) / 1e9


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(next(line for line in status if line.startswith("VmRSS")).split()[1])


# Records per write: a write of up to PIPE_BUF bytes goes into a pipe whole or not at all, so that
# no record is ever split, as the kernel never splits one.
RECORDS_PER_WRITE = 4096 // fake_input.RECORD_SIZE


def write_all(fd, data):
    """Writes `data` into the non-blocking pipe, waiting whenever it is full."""
    view = memoryview(data)
    step = RECORDS_PER_WRITE * fake_input.RECORD_SIZE
    while view:
        try:
            view = view[os.write(fd, view[:step]):]
        except BlockingIOError:
            if not select.select([], [fd], [], 10)[1]:
                raise RuntimeError("gripwell stopped reading its keyboard")


def measure(options):
    devices = fake_input.FakeInput(options.preload)
    try:
        devices.add("event0")
        writer = devices._writers["event0"]
        gripwell = desktop.LineProcess(devices, [options.gripwell, "control"])
        assert gripwell.line() == "ready"
        start = cpu_seconds(gripwell.pid)
        time.sleep(options.idle)  # measuring idleness: time has to pass
        idle_rate = (cpu_seconds(gripwell.pid) - start) / options.idle
        print(f"idle: {idle_rate * options.idle * 1e3:.3f} ms CPU in {options.idle:g} s")

        # The same records over and over, with the time of the start: the tap orders the events
        # of several keyboards by time, and one keyboard's never need it.
        chunk = fake_input.records(*[
            event for i in range(1000)
            for event in ((EV_MSC, MSC_SCAN, KEY_SPACE), (EV_KEY, KEY_SPACE, 1 - i % 2),
                          (EV_SYN, SYN_REPORT, 0))])
        rss_before = resident_kib(gripwell.pid)
        start_cpu = cpu_seconds(gripwell.pid)
        started = time.monotonic()
        for _ in range(options.events // 1000):
            write_all(writer, chunk)
        devices.send("event0", (KEY_LEFTCTRL, 1), (KEY_LEFTCTRL, 0))
        assert gripwell.line(60) == "down" and gripwell.line() == "up"
        elapsed = time.monotonic() - started
        used = cpu_seconds(gripwell.pid) - start_cpu - idle_rate * elapsed
        events = options.events // 1000 * 1000
        print(f"flood: {events} key events in {elapsed:.2f} s, {used:.3f} s CPU, "
              f"{used / events * 1e6:.2f} us per event; resident {rss_before} KiB before, "
              f"{resident_kib(gripwell.pid)} KiB after")

        devices.send("event0", (KEY_LEFTCTRL, 1))
        assert gripwell.line() == "down"
        start_cpu = cpu_seconds(gripwell.pid)
        started = time.monotonic()
        for _ in range(options.paced):
            devices.send("event0", (KEY_SPACE, 0), (KEY_SPACE, 1))
            assert gripwell.line() == "combo_space"
        elapsed = time.monotonic() - started
        used = cpu_seconds(gripwell.pid) - start_cpu - idle_rate * elapsed
        print(f"paced: {options.paced} presses (and releases) each waited for, in {elapsed:.2f} "
              f"s, {used * 1e3:.1f} ms CPU, {used / (2 * options.paced) * 1e6:.2f} us per key "
              f"event, {used / options.paced * 1e6:.2f} us per press and its line")
        assert gripwell.stop() == b""
    finally:
        devices.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gripwell", default=os.path.join(ROOT, "build/desktop/gripwell/gripwell"))
    parser.add_argument("--preload", default=os.path.join(
        ROOT, "build/desktop/tests/desktop/libfake_input_preload.so"))
    parser.add_argument("--events", type=int, default=1000000)
    parser.add_argument("--paced", type=int, default=20000)
    parser.add_argument("--idle", type=float, default=5.0)
    parser.add_argument("--runs", type=int, default=1)
    options = parser.parse_args()
    for run in range(options.runs):
        print(f"run {run + 1}:")
        measure(options)


if __name__ == "__main__":
    main()
