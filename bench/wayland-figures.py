#!/usr/bin/python3
"""Figures of scribbet and vantor on headless Wayland desktops (sway, mutter).

    bench/wayland-figures.py [--runs N] [--build DIR]

Builds nothing: DIR (default build/release) must hold scribbet, vantor and
tools/desktop/wayland-keyboard. For each compositor it starts a fresh desktop
(tools/desktop/wayland.py) with two native GTK 3 windows of the test application and prints one
line per figure, each the median, minimum and maximum of N runs (default 20), in milliseconds:

- direct: `scribbet PID FILE` replacing the selection of the entry in front, start to exit;
- fast paste: `scribbet PID --fast-paste` with the target behind the other window (sway; the
  other window is brought back to the front between two runs); with the target in front
  (mutter, which cannot bring it forward);
- vantor: from the start of the focus request (`swaymsg [pid=N] focus` on sway, Alt+Tab through
  the keyboard's remote desktop session on mutter) to vantor's line for that application.

Every run's line is checked as the desktop tests check it; a run that answers otherwise stops
the script with the line.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "desktop"))
import desktop  # noqa: E402
import wayland  # noqa: E402

PROBE = os.path.join(ROOT, "tools", "desktop", "atspi-probe.py")


def figure(name, samples):
    millis = [s * 1000 for s in samples]
    print(f"{name}: median {statistics.median(millis):.1f} ms, min {min(millis):.1f} ms, "
          f"max {max(millis):.1f} ms ({len(millis)} runs)", flush=True)


def timed(arguments, env):
    start = time.monotonic()
    result = subprocess.run(arguments, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=10)
    elapsed = time.monotonic() - start
    if result.returncode != 0 or result.stderr:
        sys.exit(f"{arguments}: status {result.returncode}, {result.stderr!r}")
    return result.stdout.decode(), elapsed


def wait_focus(session, app):
    subprocess.run(["/usr/bin/python3", PROBE, "focus", str(app.pid)], env=session.env,
                   stdin=subprocess.DEVNULL, capture_output=True, check=True, timeout=10)


def measure(compositor, build, runs):
    scribbet = os.path.join(build, "scribbet", "scribbet")
    vantor = os.path.join(build, "vantor", "vantor")
    with wayland.WaylandDesktop(compositor) as session:
        notes = desktop.App(session, {"program": "notes", "windows": [{"name": "main",
                                                                       "title": "Notes"}]})
        # Focused once before the other window comes: mutter's Alt+Tab leaves out a window that
        # never had the focus.
        wait_focus(session, notes)
        sketch = desktop.App(session, {"program": "sketch", "windows": [{"name": "main",
                                                                         "title": "Sketch"}]})
        try:
            wait_focus(session, sketch)
            text = tempfile.NamedTemporaryFile(prefix="scribbet-text-", delete=False)
            text.write(b"word")
            text.close()
            samples = []
            for _ in range(runs):
                sketch.reset({"program": "sketch", "windows": [{
                    "name": "main", "title": "Sketch",
                    "widgets": {"entry": {"text": "a b", "selection": [2, 3]}}}]})
                wait_focus(session, sketch)
                line, elapsed = timed([scribbet, str(sketch.pid), text.name], session.env)
                if '"status":"inserted"' not in line or sketch.widget("entry")["text"] != "a word":
                    sys.exit(f"direct insertion: {line}")
                samples.append(elapsed)
            os.remove(text.name)
            figure(f"{compositor} direct insertion", samples)

            sketch.command("clipboard", text="x")
            samples = []
            target = notes if compositor == "sway" else sketch
            for _ in range(runs):
                if compositor == "sway":
                    session.swaymsg(f"[pid={sketch.pid}] focus")
                    wait_focus(session, sketch)
                line, elapsed = timed([scribbet, str(target.pid), "--fast-paste"], session.env)
                if '"status":"inserted"' not in line:
                    sys.exit(f"fast paste: {line}")
                samples.append(elapsed)
            where = "target behind" if compositor == "sway" else "target in front"
            figure(f"{compositor} fast paste, {where}", samples)

            watcher = desktop.LineProcess(session, [vantor])
            try:
                if watcher.line() != "ready":
                    sys.exit("vantor did not start")
                desktop.wait_until(lambda: _sleeping(watcher.pid), 10, "vantor waiting")
                samples = []
                front = target
                for _ in range(runs):
                    other = notes if front is sketch else sketch
                    start = time.monotonic()
                    if compositor == "sway":
                        session.swaymsg(f"[pid={other.pid}] focus")
                    else:
                        session.keyboard.tap(wayland.KEY_LEFTALT, wayland.KEY_TAB)
                    line = watcher.line()
                    samples.append(time.monotonic() - start)
                    if not line.endswith(f"|{other.pid}"):
                        sys.exit(f"vantor: {line} after focusing {other.pid}")
                    front = other
                figure(f"{compositor} vantor, focus request to line", samples)
            finally:
                watcher.stop()
        finally:
            notes.stop()
            sketch.stop()


def _sleeping(pid):
    sys.path.insert(0, os.path.join(ROOT, "tests", "desktop"))
    import toolcase
    return toolcase.sleeps_in_poll(pid)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    options = parser.parse_args()
    os.environ.setdefault(wayland.KEYBOARD_ENV, os.path.join(options.build, "tools", "desktop",
                                                             "wayland-keyboard"))
    desktop.exit_on_signals()
    for compositor in ("sway", "mutter"):
        measure(compositor, options.build, options.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
