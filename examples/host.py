#!/usr/bin/env python3
"""A host application's use of scribbet, gripwell and vantor, in Python (3.8 or later).

    host.py [--tools DIR] insert PID TEXT   insert TEXT into PID's focused text field
    host.py [--tools DIR] watch-key [KEY]   report a modifier key until ended (SIGTERM, Ctrl-C)
    host.py [--tools DIR] watch-apps        report application activations until ended

DIR holds the three executables (default: found on PATH). docs/integration.md explains each
step; the tests in tests/desktop/examples_test.py run this file against the Linux build.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile

RUN_TIMEOUT = 10  # seconds; scribbet waits as long as the target application takes to answer
START_TIMEOUT = 5  # seconds for gripwell or vantor to write their first line

# Outcomes where the focus is in the target but its field cannot be edited through the
# accessibility interface: the application's own paste command may still take the text.
FALL_BACK_TO_PASTE = {
    "no_focused_element", "no_focused_text_input", "value_unavailable", "value_not_string",
    "value_not_settable", "selection_unavailable", "selection_not_range",
    "selection_not_settable", "set_value_failed",
}

tools = ""


def tool(name):
    return os.path.join(tools, name) if tools else (shutil.which(name) or name)


def say(text):
    print(text, flush=True)


# ---- scribbet ---------------------------------------------------------------------------------

def run_scribbet(pid, second_argument):
    """Runs scribbet once; returns its answer as a dict, or None when it gave none."""
    try:
        result = subprocess.run([tool("scribbet"), str(pid), second_argument],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:  # run() has killed it
        say("scribbet: no answer in time")
        return None
    except OSError as error:
        say(f"scribbet did not start: {error}")
        return None
    line = result.stdout.decode("utf-8", "replace").rstrip("\n")
    say(f"scribbet: {line}")
    try:
        answer = json.loads(line)
    except ValueError:
        return None
    return answer if isinstance(answer, dict) and "status" in answer else None


def put_on_clipboard(text):
    """The text for fast paste. A host app uses its platform's clipboard API."""
    if sys.platform == "darwin":
        command = ["pbcopy"]
    else:  # an X11 desktop; xclip stays in the background to serve the clipboard
        command = ["xclip", "-selection", "clipboard"]
    subprocess.run(command, input=text.encode(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)


def permission_needed():
    if sys.platform == "darwin":
        return ("permission needed: allow this application in System Settings, "
                "Privacy & Security, Accessibility")
    return "permission needed: the desktop's accessibility bus is not running"


def insert(pid, text):
    # The text goes in a file of its own, readable by this user only, removed afterwards.
    handle, path = tempfile.mkstemp(prefix="host-text-")
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(text.encode("utf-8"))
        answer = run_scribbet(pid, path)
    finally:
        os.remove(path)
    if answer is None:
        return "not inserted: scribbet gave no answer"
    status, error = answer["status"], answer.get("error")
    if status == "inserted":
        if answer.get("selectionUpdated") is False:
            return f"inserted directly; the caret was not moved ({error})"
        return "inserted directly"
    if status == "accessibility_not_trusted":
        return permission_needed()
    if status == "target_mismatch":
        # The user has moved on to another application: write nothing anywhere.
        return f"not inserted: the focus is in process {answer.get('focusedPid')}"
    if status == "set_value_failed" and error == "cannot_complete":
        # The application did not answer in time: it may still take the text. Pasting it too
        # could insert it twice.
        return "perhaps not inserted: the application did not answer in time"
    if status not in FALL_BACK_TO_PASTE:
        return f"not inserted: {status} ({error})"

    say(f"falling back to fast paste after {status}")
    try:
        put_on_clipboard(text)
    except (OSError, subprocess.CalledProcessError) as error:
        return f"not inserted: the clipboard cannot be set ({error})"
    for attempt in (1, 2):
        answer = run_scribbet(pid, "--fast-paste")
        if answer is None:
            return "not inserted: scribbet gave no answer"
        # The target may be slow to come to the front; one more try.
        if answer["status"] != "activation_failed" or attempt == 2:
            break
    status, error = answer["status"], answer.get("error")
    if status == "inserted":
        return "inserted by fast paste"
    if status == "accessibility_not_trusted":
        return permission_needed()
    if status == "activation_failed":
        return f"not inserted: process {pid} did not come to the front"
    return f"not inserted: {status} ({error})"


# ---- gripwell and vantor ----------------------------------------------------------------------

class Ended(Exception):
    """This host was asked to end (SIGTERM, SIGHUP or Ctrl-C)."""


def end_on_signals():
    def end(_signum, _frame):
        raise Ended()
    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signum, end)


def first_line(process):
    """The first line of a long-running tool, or None when it ended or said nothing in time."""
    def give_up(_signum, _frame):
        raise TimeoutError()
    previous = signal.signal(signal.SIGALRM, give_up)
    signal.alarm(START_TIMEOUT)
    try:
        line = process.stdout.readline()
    except TimeoutError:
        return None
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)
    return line.decode("utf-8", "replace").rstrip("\n") if line else None


def start(name, *arguments):
    process = subprocess.Popen([tool(name), *arguments], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    say(f"started {name} (pid {process.pid})")
    return process


def stop(name, process):
    """Ends a long-running tool: SIGTERM, then waits for it. Its status tells how it ended."""
    if process.poll() is None:
        process.terminate()
    try:
        process.wait(START_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    process.stdout.close()
    status = process.returncode
    say(f"{name} ended " + (f"by signal {-status}" if status < 0 else f"with status {status}"))


GRIPWELL_START_ERRORS = {
    "error:accessibility_not_granted": None,  # filled in by permission_needed()
    "error:event_tap_failed": "cannot watch keys: the system refused the event tap",
    "error:runloop_source_failed": "cannot watch keys: the run loop refused the event source",
}

KEY_LINES = {"down": "key down", "up": "key up", "combo_space": "space while the key is held"}


def watch_key(key):
    process = start("gripwell", *([key] if key else []))
    try:
        line = first_line(process)
        if line != "ready":
            # An error line is the only line; the exit status (1, 2 or 3) follows it.
            if line in GRIPWELL_START_ERRORS:
                say(GRIPWELL_START_ERRORS[line] or permission_needed())
                try:
                    process.wait(START_TIMEOUT)  # it exits right after its error line
                except subprocess.TimeoutExpired:
                    pass  # stop() ends it
            else:
                say(f"gripwell did not start: {'no line in time' if line is None else line}")
            return 1
        say("watching the key")
        for raw in process.stdout:
            say(KEY_LINES.get(raw.decode().rstrip("\n"), f"unexpected line {raw!r}"))
        say("gripwell stopped by itself")
        return 1
    except Ended:
        return 0
    finally:
        stop("gripwell", process)


def parse_activation(line):
    """APP:bundle-id|name|pid into (bundle id, name, pid). A name may hold "|"; a bundle
    identifier does not, and the pid is always last."""
    if not line.startswith("APP:"):
        return None
    bundle_id, _, rest = line[len("APP:"):].partition("|")
    name, bar, pid = rest.rpartition("|")
    if not bar or not pid.lstrip("-").isdigit():
        return None
    return bundle_id, name, int(pid)


def watch_apps():
    process = start("vantor")
    try:
        line = first_line(process)
        if line != "ready":
            say(f"vantor did not start: {'no line in time' if line is None else line}")
            return 1
        say("watching applications")
        for raw in process.stdout:
            activation = parse_activation(raw.decode("utf-8", "replace").rstrip("\n"))
            if activation:
                bundle_id, name, pid = activation
                say(f"active: {name} ({bundle_id or 'no bundle identifier'}, pid {pid})")
        say("vantor stopped by itself")
        return 1
    except Ended:
        return 0
    finally:
        stop("vantor", process)


def main():
    global tools
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tools", default="", help="folder of the three executables")
    commands = parser.add_subparsers(dest="command", required=True)
    insert_command = commands.add_parser("insert")
    insert_command.add_argument("pid", type=int)
    insert_command.add_argument("text")
    commands.add_parser("watch-key").add_argument("key", nargs="?")
    commands.add_parser("watch-apps")
    options = parser.parse_args()
    tools = options.tools
    if options.command == "insert":
        say(insert(options.pid, options.text))
        return 0
    end_on_signals()
    try:
        return watch_key(options.key) if options.command == "watch-key" else watch_apps()
    except Ended:  # asked to end before the tool was started
        return 0
    except OSError as error:
        say(f"cannot start the tool: {error}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
