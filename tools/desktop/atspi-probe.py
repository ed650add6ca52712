#!/usr/bin/python3
"""Looks at an application through the accessibility bus, as an assistive tool sees it.

    atspi-probe.py focus PID [TIMEOUT]     waits until application PID has a focused accessible
                                           and prints it as one JSON line
    atspi-probe.py focus-text PID [TIMEOUT]
                                           waits until application PID's active window has a
                                           focused accessible with the Text interface and prints
                                           the deepest one as focus does, with "toolkit" and
                                           "interfaces"
    atspi-probe.py set-text PID TEXT       replaces the focused accessible's text through
                                           EditableText, then prints it as focus does

The printed object: {"role": AT-SPI role name, "name": accessible name, "states": [...],
"text": whole text, "selection": [start, end], "caret": offset}, offsets in characters as AT-SPI
counts them; "text", "selection" and "caret" only for an accessible with the Text interface.
Exit status 0 on success, 1 with a message on standard error otherwise.

Run it inside a desktop (DISPLAY and DBUS_SESSION_BUS_ADDRESS set): libatspi finds the
accessibility bus from there.
"""

import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

POLL_INTERVAL = 0.01


def application(pid):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        child = desktop.get_child_at_index(index)
        if child is not None and child.get_process_id() == pid:
            return child
    return None


def focused(node, depth=0):
    # Whatever libatspi cached may lag behind: this process runs no main loop to take the
    # applications' change events.
    node.clear_cache()
    if node.get_state_set().contains(Atspi.StateType.FOCUSED):
        return node
    if depth > 32:
        return None
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        found = child and focused(child, depth + 1)
        if found:
            return found
    return None


def focused_texts(node, depth=0):
    """Every focused accessible with the Text interface below node, shallowest first, through
    what is showing. Lists that manage their descendants are not entered."""
    node.clear_cache()
    states = node.get_state_set()
    found = []
    if states.contains(Atspi.StateType.FOCUSED) and "Text" in node.get_interfaces():
        found.append(node)
    if depth > 48 or (depth > 0 and not states.contains(Atspi.StateType.SHOWING)):
        return found
    if states.contains(Atspi.StateType.MANAGES_DESCENDANTS):
        # Such a container marks its focused child itself; only that one is looked at.
        for index in range(min(node.get_child_count(), 64)):
            child = node.get_child_at_index(index)
            if child is not None:
                child.clear_cache()
                if child.get_state_set().contains(Atspi.StateType.FOCUSED):
                    found += focused_texts(child, depth + 1)
        return found
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            found += focused_texts(child, depth + 1)
    return found


def active_windows(app):
    for index in range(app.get_child_count()):
        window = app.get_child_at_index(index)
        if window is not None:
            window.clear_cache()
            if window.get_state_set().contains(Atspi.StateType.ACTIVE):
                yield window


def wait_focused_text(pid, timeout):
    deadline = time.monotonic() + timeout
    while True:
        try:
            app = application(pid)
            if app is not None:
                for window in active_windows(app):
                    found = focused_texts(window)
                    if found:
                        return app, found[-1]
        except gi.repository.GLib.Error:
            pass  # an accessible went away while it was read (an application still starting)
        if time.monotonic() >= deadline:
            raise LookupError(f"application {pid} has no focused text within {timeout:g} s")
        time.sleep(POLL_INTERVAL * 10)


def describe(node):
    states = node.get_state_set().get_states()
    result = {"role": node.get_role_name(), "name": node.get_name(),
              "states": sorted(Atspi.StateType(s).value_nick for s in states)}
    if "Text" in node.get_interfaces():
        result["text"] = Atspi.Text.get_text(node, 0, -1)
        result["caret"] = Atspi.Text.get_caret_offset(node)
        if Atspi.Text.get_n_selections(node) > 0:
            selection = Atspi.Text.get_selection(node, 0)
            result["selection"] = [selection.start_offset, selection.end_offset]
        else:
            result["selection"] = [result["caret"], result["caret"]]
    return result


def wait_focus(pid, timeout):
    deadline = time.monotonic() + timeout
    while True:
        try:
            app = application(pid)
            node = app and focused(app)
            if node is not None:
                return node
        except gi.repository.GLib.Error:
            pass  # an accessible went away while it was read (an application still starting)
        if time.monotonic() >= deadline:
            raise LookupError(f"application {pid} has no focused accessible within {timeout:g} s")
        time.sleep(POLL_INTERVAL)


def main(argv):
    if (len(argv) < 3 or argv[1] not in ("focus", "focus-text", "set-text")
            or not argv[2].isdigit()):
        sys.stderr.write(__doc__)
        return 1
    try:
        Atspi.init()
        if argv[1] == "focus":
            node = wait_focus(int(argv[2]), float(argv[3]) if len(argv) > 3 else 5.0)
        elif argv[1] == "focus-text":
            app, node = wait_focused_text(int(argv[2]), float(argv[3]) if len(argv) > 3 else 5.0)
            result = describe(node)
            result["toolkit"] = app.get_toolkit_name()
            result["interfaces"] = sorted(node.get_interfaces())
            print(json.dumps(result))
            return 0
        else:
            node = wait_focus(int(argv[2]), 5.0)
            if ("EditableText" not in node.get_interfaces()
                    or not Atspi.EditableText.set_text_contents(node, argv[3])):
                raise LookupError("the focused accessible refused the text")
        print(json.dumps(describe(node)))
        return 0
    except (LookupError, ValueError, gi.repository.GLib.Error) as error:
        sys.stderr.write(f"atspi-probe: {error}\n")
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
