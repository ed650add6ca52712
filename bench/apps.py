#!/usr/bin/python3
"""scribbet against real applications on a virtual desktop: one line per application.

    bench/apps.py --scribbet PATH [--runs N] [APPLICATION...]

For each application (all of tools/desktop/apps.py's that are installed, or those named), on a
fresh virtual desktop with the desktop's accessibility on where the application needs it:

- replace: "Lunch with Sam on Tuesday at noon." with "Tuesday" selected, `scribbet PID FILE`
  with "Friday": the status line, whether the text read back (select all, copy, clipboard) is
  right, and whether the caret is right after "Friday" (a mark typed there);
- emoji: the same with "a😀b Tuesday c";
- undo: the replacement again, then one Control+Z: the text read back;
- time: N insertions of one word at the caret, the whole process from start to exit
  (median, and the range);
- paste: "pasted" on the clipboard, `scribbet PID --fast-paste`: the status and whether it
  arrived (terminals: what their reader got).

Nothing is asserted: the figures are for bench/README.md. Status lines are shortened to their
status word, error and selectionUpdated.
"""

import argparse
import json
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "desktop"))
import apps  # noqa: E402
import desktop  # noqa: E402

SENTENCE = "Lunch with Sam on Tuesday at noon."
EMOJI = "a😀b Tuesday c"


def run_scribbet(app, scribbet, text=None):
    """The line and the seconds of one run, as a host runs it."""
    result, elapsed = desktop.run_scribbet(scribbet, app.pid, text, env=app.env, timeout=30)
    line = result.stdout.decode(errors="replace").strip()
    if result.stderr or result.returncode != 0:
        line += f" [status {result.returncode}, stderr {result.stderr[:80]!r}]"
    return line, elapsed


def short(line):
    try:
        answer = json.loads(line)
    except ValueError:
        return line
    parts = [answer.get("status", "?")]
    if "error" in answer:
        parts.append(answer["error"])
    if "role" in answer:
        parts.append(answer["role"])
    if "selectionUpdated" in answer:
        parts.append(f"sel={str(answer['selectionUpdated']).lower()}")
    if "frontmostConfirmed" in answer:
        parts.append(f"front={str(answer['frontmostConfirmed']).lower()}")
    return "/".join(parts)


def replaced(app, scribbet, text, start, end, word):
    """Replaces text[start:end] by word; returns (short line, text ok, caret ok, read)."""
    app.set_text(text, (start, end))
    line, _ = run_scribbet(app, scribbet, word)
    expected = text[:start] + word + text[end:]
    app.type(apps.MARK)
    read = app.read_text().rstrip("\n")
    with_mark = expected[:start + len(word)] + apps.MARK + expected[start + len(word):]
    caret_ok = read == with_mark
    text_ok = caret_ok or read.replace(apps.MARK, "", 1) == expected
    if not text_ok and read == text[:start] + apps.MARK + text[end:]:
        read = "untouched"  # the mark replaced the selection, which is still there
    return short(line), text_ok, caret_ok, read


def measure(name, scribbet, runs):
    recipe = apps.RECIPES[name]
    out = {"application": recipe.title}
    with desktop.Desktop(assistive=recipe.assistive) as session:
        app = apps.start(session, name, SENTENCE)
        try:
            out["ready"] = f"{app.ready_after:.1f}s"
            if recipe.kind == "terminal":
                out["direct"] = short(run_scribbet(app, scribbet, "Friday")[0])
            else:
                line, text_ok, caret_ok, read = replaced(app, scribbet, SENTENCE, 18, 25, "Friday")
                out["replace"] = line
                out["text"] = "right" if text_ok else (
                    read if read == "untouched" else f"wrong {read!r}")
                out["caret"] = "right" if caret_ok else "wrong"
                line, text_ok, caret_ok, read = replaced(app, scribbet, EMOJI, 4, 11, "Friday")
                out["emoji"] = (f"{line}, text {'right' if text_ok else read if read == 'untouched' else 'wrong ' + repr(read)}, "
                                f"caret {'right' if caret_ok else 'wrong'}")
                app.set_text(SENTENCE, (18, 25))
                run_scribbet(app, scribbet, "Friday")
                app.undo()
                out["undo"] = repr(app.read_text().rstrip("\n"))
                app.set_text(SENTENCE, (0, 0))
                times = [run_scribbet(app, scribbet, "word ")[1] * 1000 for _ in range(runs)]
                out["time"] = (f"{statistics.median(times):.0f} ms "
                               f"({min(times):.0f}-{max(times):.0f})")
            out["paste"] = fast_paste(app, scribbet)
        finally:
            app.stop()
    return out


def fast_paste(app, scribbet):
    if app.recipe.kind != "terminal":
        app.set_text(SENTENCE)
    app.own_clipboard("pasted")
    line, elapsed = run_scribbet(app, scribbet)
    try:
        if app.recipe.kind == "terminal":
            arrived = apps.wait_until(lambda: "pasted" in app.received(), 2.0, "paste")
            got = app.received()
        else:
            # Waited for without the clipboard, which the paste may still be reading.
            app.wait_text(SENTENCE + "pasted", 2.0)
            got = app.read_text()
            arrived = "pasted" in got
    except apps.AppError:
        arrived, got = False, app.received() if app.recipe.kind == "terminal" else ""
    return f"{short(line)}, {'arrived' if arrived else 'nothing arrived ' + repr(got)}"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scribbet", required=True)
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("applications", nargs="*")
    options = parser.parse_args(argv)
    names = options.applications or [name for name, recipe in apps.RECIPES.items()
                                      if recipe.available()]
    for name in names:
        try:
            result = measure(name, os.path.abspath(options.scribbet), options.runs)
        except (apps.AppError, desktop.DesktopError) as error:
            result = {"application": apps.RECIPES[name].title, "failed": str(error)[:200]}
        print(json.dumps(result, ensure_ascii=False), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
