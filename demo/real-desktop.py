#!/usr/bin/python3
"""Inserts a word into a real GTK window with scribbet, as a host would, and shows it.

    demo/real-desktop.py SCRIBBET [PNG-DIRECTORY]

Starts a virtual desktop with a note window whose text has a word selected, runs
`SCRIBBET PID FILE` on it, prints the result line and the note's text before and after (the
selection drawn as [word], the caret as |), writes a screenshot of the window before and after
to PNG-DIRECTORY (default: build/demo), prints their paths, and ends the desktop.
"""

import os
import shlex
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "desktop"))
import desktop  # noqa: E402

NOTE = "Lunch with Sam on Tuesday at noon.\nBring the slides."
WORD = "Tuesday"
INSERTED = "Friday"


def drawn(text, selection):
    start, end = selection
    if start == end:
        return text[:start] + "|" + text[start:]
    return text[:start] + "[" + text[start:end] + "]" + text[end:]


def show(label, widget):
    lines = drawn(widget["text"], widget["selection"]).split("\n")
    print(f"{label:<8}" + ("\n" + " " * 8).join(lines))


def shown(path):
    """The path as a person would type it from here."""
    relative = os.path.relpath(path)
    return path if relative.startswith("..") else relative


def screenshot(session, app, path):
    app.command("drawn")
    subprocess.run(["import", "-window", str(app.windows["main"]), path], env=session.env,
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return path


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    scribbet = os.path.abspath(argv[1])
    pictures = os.path.abspath(argv[2] if len(argv) > 2 else os.path.join(ROOT, "build", "demo"))
    os.makedirs(pictures, exist_ok=True)
    desktop.exit_on_signals()
    start = NOTE.index(WORD)
    with desktop.Desktop() as session:
        app = desktop.App(session, {"windows": [{
            "name": "main", "title": "Notes", "focus": "text",
            "widgets": {"text": {"text": NOTE, "selection": [start, start + len(WORD)]}}}]})
        try:
            # The window is up; wait until the accessibility bus shows its focused text too.
            probe = os.path.join(ROOT, "tools", "desktop", "atspi-probe.py")
            subprocess.run(["/usr/bin/python3", probe, "focus", str(app.pid)], env=session.env,
                           check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
            show("before:", app.widget("text"))
            before = screenshot(session, app, os.path.join(pictures, "real-desktop-before.png"))
            with tempfile.NamedTemporaryFile("w", prefix="scribbet-text-",
                                             encoding="utf-8") as text_file:
                text_file.write(INSERTED)
                text_file.flush()
                command = [scribbet, str(app.pid), text_file.name]
                print("$ " + shlex.join([shown(scribbet), *command[1:]]))
                result = subprocess.run(command, env=session.env, stdin=subprocess.DEVNULL,
                                        capture_output=True, text=True, timeout=10)
            sys.stdout.write(result.stdout)
            if result.stderr or result.returncode != 0:
                print(f"(standard error: {result.stderr!r}, exit status {result.returncode})")
            show("after:", app.widget("text"))
            after = screenshot(session, app, os.path.join(pictures, "real-desktop-after.png"))
            print(f"screenshots: {shown(before)}\n             {shown(after)}")
        finally:
            app.stop()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (desktop.DesktopError, subprocess.SubprocessError, OSError) as error:
        sys.stderr.write(f"real-desktop: {error}\n")
        sys.exit(1)
