#!/usr/bin/python3
"""gripwell and vantor on a virtual desktop, as a host runs them.

    demo/watch-keys-and-apps.py [--gripwell PATH] [--vantor PATH]

Starts a virtual desktop (tools/desktop/desktop.py), runs gripwell and presses keys on the
desktop's keyboard through XTest (xdotool), then runs vantor and activates two GTK test
applications and a second window of one of them through the window manager. Prints each step and
every line the tools write. The defaults are the binaries of build/release
(cmake --workflow --preset release).
"""

import argparse
import os
import subprocess
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tools", "desktop"))
sys.path.insert(0, os.path.join(ROOT, "tests", "desktop"))
import desktop  # noqa: E402
from toolcase import sleeps_in_poll  # noqa: E402


def xdotool(session, *arguments):
    subprocess.run(["xdotool", *map(str, arguments)], env=session.env, check=True,
                   stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def show(process, count):
    for _ in range(count):
        print(f"  {process.line()}")


def gripwell(session, binary):
    print(f"$ {os.path.relpath(binary)} option")
    tool = desktop.LineProcess(session, [binary, "option"])
    try:
        show(tool, 1)
        print("# Alt held, space pressed twice, then space alone, then Alt again")
        xdotool(session, "keydown", "alt", "key", "space", "key", "space", "keyup", "alt")
        xdotool(session, "key", "space")
        xdotool(session, "keydown", "alt", "keyup", "alt")
        show(tool, 6)
    finally:
        tool.stop()


def vantor(session, binary):
    apps = {}
    for name, app_id, windows in (("Notes", None, ["main"]),
                                  ("Sketch", "org.example.Sketch", ["main", "palette"])):
        layout = {"windows": [{"name": window, "wmclass": [name.lower(), name]}
                            for window in windows]}
        if app_id:
            layout["app_id"] = app_id
        apps[name] = desktop.App(session, layout)
    print(f"$ {os.path.relpath(binary)}")
    tool = desktop.LineProcess(session, [binary])
    try:
        show(tool, 1)
        # "ready" comes before vantor watches; it watches once it waits in its run loop.
        desktop.wait_until(lambda: sleeps_in_poll(tool.pid), 10, "vantor waiting")
        steps = (("Notes", "main", 1), ("Sketch", "main", 1), ("Sketch", "palette", 0),
                 ("Notes", "main", 1))
        for name, window, lines in steps:
            app = apps[name]
            print(f"# activate {name}'s window {window!r} (pid {app.pid})")
            xdotool(session, "windowactivate", "--sync", app.windows[window])
            show(tool, lines)
    finally:
        tool.stop()
        for app in apps.values():
            app.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gripwell", default=os.path.join(ROOT, "build/release/gripwell/gripwell"))
    parser.add_argument("--vantor", default=os.path.join(ROOT, "build/release/vantor/vantor"))
    options = parser.parse_args()
    desktop.exit_on_signals()
    with desktop.Desktop() as session:
        gripwell(session, options.gripwell)
        vantor(session, options.vantor)


if __name__ == "__main__":
    main()
