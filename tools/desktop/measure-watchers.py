#!/usr/bin/python3
"""Measures gripwell and vantor on a fresh virtual desktop.

    tools/desktop/measure-watchers.py [--gripwell PATH] [--vantor PATH] [--events N]
                                      [--idle SECONDS] [--activations N]

gripwell: the CPU time it takes while idle for SECONDS (default 10), and while N key events
(default 1,000,000: half presses, half releases of the space bar) arrive through XTest as fast as
the X server takes them, per event; its resident memory before and after. vantor: for N
activations (default 20) of two test applications in turn, the time from the activation request
to vantor's line, and from the moment another X client (xprop -spy) learns of the change to
vantor's line. Prints one line per figure. The defaults are the binaries of build/release.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "desktop"))
import desktop  # noqa: E402
from gripwell_test import flood_space, resident_kib  # noqa: E402
from toolcase import sleeps_in_poll  # noqa: E402


def cpu_seconds(pid):
    """Time the process has run on a CPU, in seconds (nanosecond resolution)."""
    with open(f"/proc/{pid}/schedstat") as schedstat:
        return int(schedstat.read().split()[0]) / 1e9


def measure_gripwell(session, binary, idle, events):
    gripwell = desktop.LineProcess(session, [binary, "control"])
    try:
        assert gripwell.line() == "ready"
        start = cpu_seconds(gripwell.pid)
        time.sleep(idle)  # measuring idleness: time has to pass
        idle_cpu = cpu_seconds(gripwell.pid) - start
        print(f"gripwell idle: {idle_cpu * 1e3:.3f} ms CPU in {idle:g} s")

        rss_before = resident_kib(gripwell.pid)
        start_cpu = cpu_seconds(gripwell.pid)
        started = time.monotonic()
        flood_space(session.display, events)
        subprocess.run(["xdotool", "keydown", "ctrl", "keyup", "ctrl"], env=session.env,
                       check=True)
        assert gripwell.line(60) == "down" and gripwell.line() == "up"
        elapsed = time.monotonic() - started
        used = cpu_seconds(gripwell.pid) - start_cpu - idle_cpu * elapsed / idle
        print(f"gripwell busy: {events} key events in {elapsed:.1f} s, {used:.2f} s CPU, "
              f"{used / events * 1e6:.2f} us per event")
        print(f"gripwell memory: {rss_before} KiB before, {resident_kib(gripwell.pid)} KiB after")
    finally:
        assert gripwell.stop() == b""


def measure_vantor(session, binary, activations):
    apps = [desktop.App(session, {"windows": [{"name": "main", "wmclass": [name.lower(), name]}]})
            for name in ("Notes", "Sketch")]
    spy = desktop.LineProcess(session, ["xprop", "-spy", "-root", "_NET_ACTIVE_WINDOW"])
    vantor = desktop.LineProcess(session, [binary])
    try:
        assert vantor.line() == "ready"
        desktop.wait_until(lambda: sleeps_in_poll(vantor.pid), 10, "vantor waiting")
        from_request = []
        from_spy = []
        for i in range(activations + 1):
            app = apps[i % 2]
            window = app.windows["main"]
            started = time.monotonic()
            subprocess.run(["xdotool", "windowactivate", str(window)], env=session.env,
                           check=True, stderr=subprocess.DEVNULL)
            # The spy's line that names the window, then vantor's line.
            while hex(window) not in spy.line():
                pass
            spied = time.monotonic()
            line = vantor.line()
            arrived = time.monotonic()
            if i == 0:
                continue  # the first may come before vantor watches
            assert line.endswith(f"|{app.pid}"), line
            from_request.append(arrived - started)
            from_spy.append(arrived - spied)
        for what, values in (("activation request", from_request), ("xprop -spy", from_spy)):
            print(f"vantor delay from {what} to line: median "
                  f"{statistics.median(values) * 1e3:.1f} ms, max {max(values) * 1e3:.1f} ms "
                  f"({len(values)} activations)")
    finally:
        assert vantor.stop() == b""
        spy.stop()
        for app in apps:
            app.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gripwell", default=os.path.join(ROOT, "build/release/gripwell/gripwell"))
    parser.add_argument("--vantor", default=os.path.join(ROOT, "build/release/vantor/vantor"))
    parser.add_argument("--events", type=int, default=1000000)
    parser.add_argument("--idle", type=float, default=10.0)
    parser.add_argument("--activations", type=int, default=20)
    options = parser.parse_args()
    desktop.exit_on_signals()
    with desktop.Desktop() as session:
        measure_gripwell(session, options.gripwell, options.idle, options.events)
        measure_vantor(session, options.vantor, options.activations)


if __name__ == "__main__":
    main()
