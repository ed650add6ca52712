#!/usr/bin/python3
"""scribbet and vantor on a headless Wayland desktop, run as a host would run them.

    demo/wayland.py [--compositor sway|mutter] [BUILD-DIRECTORY]

BUILD-DIRECTORY (default build/release, made by `cmake --workflow --preset release`) holds the
tools and tools/desktop/wayland-keyboard. Starts a Wayland desktop (tools/desktop/wayland.py) with
two native GTK 3 windows, Notes and Sketch, Sketch in front, and prints each step and each line:
vantor's line as Notes is brought to the front; scribbet replacing the selected word in Notes;
scribbet writing into Notes while Sketch is in front (target_mismatch); and a fast paste into
Notes from behind Sketch (sway brings Notes forward; mutter cannot, and says so). Then it ends
the desktop.
"""

import argparse
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "desktop"))
import desktop  # noqa: E402
import wayland  # noqa: E402

PROBE = os.path.join(ROOT, "tools", "desktop", "atspi-probe.py")


def step(text):
    print(f"# {text}", flush=True)


def run(session, arguments):
    shown = " ".join(a if not os.path.isabs(a) or os.path.relpath(a).startswith("..")
                     else os.path.relpath(a) for a in arguments)
    print(f"$ {shown}", flush=True)
    result = subprocess.run(arguments, env=session.env, stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=10)
    print("  " + result.stdout.strip(), flush=True)


def wait_focus(session, app):
    subprocess.run(["/usr/bin/python3", PROBE, "focus", str(app.pid)], env=session.env,
                   stdin=subprocess.DEVNULL, capture_output=True, check=True, timeout=10)


def bring_forward(session, app):
    if session.compositor == "sway":
        session.swaymsg(f"[pid={app.pid}] focus")
    else:
        session.keyboard.tap(wayland.KEY_LEFTALT, wayland.KEY_TAB)  # back to the window before
    wait_focus(session, app)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--compositor", choices=("sway", "mutter"), default="sway")
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "release"))
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    scribbet = os.path.join(build, "scribbet", "scribbet")
    os.environ.setdefault(wayland.KEYBOARD_ENV,
                          os.path.join(build, "tools", "desktop", "wayland-keyboard"))
    desktop.exit_on_signals()
    with wayland.WaylandDesktop(options.compositor) as session:
        print(f"{options.compositor} on {session.wayland_display}", flush=True)
        notes = desktop.App(session, {"program": "notes", "windows": [{"name": "main",
                                                                       "title": "Notes"}]})
        sketch = desktop.App(session, {"program": "sketch", "windows": [{"name": "main",
                                                                         "title": "Sketch"}]})
        vantor = desktop.LineProcess(session, [os.path.join(build, "vantor", "vantor")])
        text = tempfile.NamedTemporaryFile(prefix="scribbet-text-", delete=False)
        try:
            wait_focus(session, sketch)
            print(f"$ {os.path.relpath(os.path.join(build, 'vantor', 'vantor'))} &", flush=True)
            print("  " + vantor.line(), flush=True)
            step(f"Notes (pid {notes.pid}) to the front")
            bring_forward(session, notes)
            print("  " + vantor.line(), flush=True)

            notes.reset({"program": "notes", "windows": [{
                "name": "main", "title": "Notes",
                "widgets": {"entry": {"text": "Lunch on Tuesday", "selection": [9, 16]}}}]})
            wait_focus(session, notes)
            text.write(b"Friday")
            text.close()
            step(f"Notes's entry: {notes.widget('entry')['text']!r}, 'Tuesday' selected")
            run(session, [scribbet, str(notes.pid), text.name])
            step(f"Notes's entry now: {notes.widget('entry')['text']!r}")

            step(f"Sketch (pid {sketch.pid}) to the front; Notes behind it")
            bring_forward(session, sketch)
            print("  " + vantor.line(), flush=True)
            run(session, [scribbet, str(notes.pid), text.name])

            sketch.command("clipboard", text=" at noon")
            step("the clipboard holds ' at noon'; fast paste into Notes, behind Sketch")
            run(session, [scribbet, str(notes.pid), "--fast-paste"])
            step(f"Notes's entry now: {notes.widget('entry')['text']!r}")
        finally:
            os.remove(text.name)
            vantor.stop()
            notes.stop()
            sketch.stop()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except desktop.DesktopError as error:
        sys.stderr.write(f"wayland.py: {error}\n")
        sys.exit(1)
