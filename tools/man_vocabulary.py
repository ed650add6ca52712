#!/usr/bin/python3
"""Checks that each tool's manual page names every word and line that the tool can write.

    tools/man_vocabulary.py [ROOT]

The vocabulary comes from the tools' own sources (ROOT/<tool>/*.cpp and *.h, the platform
twins and the tests left out), read as C++ with comments and #include lines dropped. A string
literal belongs to the output when it is

  - an identifier that starts with a lower-case letter ("inserted", "selection_out_of_bounds",
    the Accessibility error labels, the JSON member names, "true", gripwell's modifier words),
  - a prefix that ends in ":" or "_" ("APP:", "ax_error_"), or
  - a whole line, ending in a line feed (gripwell's line table, scribbet's fallback line).

Every one of them must appear in ROOT/man/<tool>.1 as a literal: an argument of Li, Cm, Dv or
Ql, a Dl line, or a line of a literal display (.Bd -literal). A prefix may be followed by more
text there; a word or a line must stand whole. Plain prose does not count, so "up" is not
documented by "walks up".

gripwell's exit statuses are checked too: for each start-up failure in gripwell.cpp
(failStartUp(Line::X, someStatus)), the page's EXIT STATUS list must have an item for the
status's number that names X's error line.

Prints one line per problem and exits with status 1 when there is any, 0 otherwise.
"""

import os
import re
import sys

TOOLS = ("scribbet", "gripwell", "vantor")
LITERAL_MACROS = {"Li", "Cm", "Dv", "Ql"}
# Callable mdoc macros that may follow a literal on the same line and end its arguments.
CALLABLE = {"Ac", "Ad", "An", "Ao", "Ap", "Aq", "Ar", "Bc", "Bo", "Bq", "Brc", "Bro", "Brq",
            "Cm", "Dc", "Do", "Dq", "Dv", "Ec", "Em", "Eo", "Er", "Ev", "Fa", "Fl", "Fn", "Ic",
            "Li", "Lk", "Ms", "Mt", "Nm", "No", "Ns", "Oc", "Oo", "Op", "Pa", "Pc", "Pf", "Po",
            "Pq", "Qc", "Ql", "Qo", "Qq", "Sc", "So", "Sq", "Sx", "Sy", "Va", "Xr"}
DELIMITERS = {".", ",", ";", ":", "?", "!", "(", ")", "[", "]", "|"}

IDENTIFIER = re.compile(r"[a-z][A-Za-z0-9_]*\Z")
PREFIX = re.compile(r"[A-Za-z][A-Za-z0-9_]*[:_]\Z")


def _in_number(source, i):
    start = i
    while start > 0 and (source[start - 1].isalnum() or source[start - 1] in "_'"):
        start -= 1
    return start < i and source[start].isdigit()


def string_literals(source):
    """The contents of the string literals of C++ source text, in order, with their escapes
    resolved; comments, character literals and #include lines are skipped."""
    literals = []
    i, n = 0, len(source)
    line_start = True
    while i < n:
        c = source[i]
        if line_start and source.startswith("#include", i):
            i = source.find("\n", i)
            i = n if i < 0 else i
            continue
        line_start = c == "\n" or (line_start and c in " \t")
        if source.startswith("//", i):
            i = source.find("\n", i)
            i = n if i < 0 else i
        elif source.startswith("/*", i):
            end = source.find("*/", i + 2)
            i = n if end < 0 else end + 2
        elif c == "'" and _in_number(source, i):
            i += 1  # a digit separator, as in 1'000'000
        elif c in "\"'":
            j = i + 1
            text = []
            while j < n and source[j] != c:
                if source[j] == "\\" and j + 1 < n:
                    text.append({"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"',
                                 "'": "'", "/": "/"}.get(source[j + 1], "\\" + source[j + 1]))
                    j += 2
                else:
                    text.append(source[j])
                    j += 1
            if c == '"':
                literals.append("".join(text))
            i = j + 1
        else:
            i += 1
    return literals


def tool_sources(root, tool):
    folder = os.path.join(root, tool)
    names = sorted(name for name in os.listdir(folder)
                   if name.endswith((".cpp", ".h"))
                   and not re.search(r"_(sim|linux)\.cpp\Z", name))
    return [os.path.join(folder, name) for name in names]


def vocabulary(root, tool):
    """What the tool can write, as (kind, text) pairs: kind is "word", "prefix" or "line"."""
    found = set()
    for path in tool_sources(root, tool):
        with open(path, encoding="utf-8") as source:
            for literal in string_literals(source.read()):
                if literal.endswith("\n") and literal.strip():
                    found.add(("line", literal[:-1]))
                elif PREFIX.match(literal):
                    found.add(("prefix", literal))
                elif IDENTIFIER.match(literal):
                    found.add(("word", literal))
    return found


def _unescape(text):
    return (text.replace("\\&", "").replace("\\e", "\\").replace("\\-", "-")
            .replace("\\(ba", "|"))


def _arguments(line):
    """The words of an mdoc macro line, quoted arguments kept whole."""
    return [_unescape(a or b) for a, b in re.findall(r'"((?:[^"]|"")*)"|(\S+)', line)]


def page_literals(page):
    """What a manual page shows as literal text: (tokens, lines). Tokens are the arguments of
    the literal macros; lines are the Dl lines and the lines of literal displays."""
    tokens, lines = set(), set()
    literal_display = False
    for raw in page.splitlines():
        if raw.startswith(".Bd") and "-literal" in raw.split():
            literal_display = True
            continue
        if raw.startswith(".Ed"):
            literal_display = False
            continue
        if literal_display:
            lines.add(_unescape(raw))
            continue
        if not raw.startswith("."):
            continue
        words = _arguments(raw[1:])
        if words and words[0] == "Dl":
            lines.add(" ".join(words[1:]))
        collecting = False
        for word in words:
            if word in CALLABLE:
                collecting = word in LITERAL_MACROS
            elif collecting and word not in DELIMITERS:
                tokens.add(word)
    return tokens, lines


def _exit_status_items(page):
    """The items of the EXIT STATUS section's list: {number: text of the item}."""
    items, current, in_section = {}, None, False
    for raw in page.splitlines():
        if raw.startswith(".Sh "):
            in_section = raw[4:].strip() == "EXIT STATUS"
            current = None
            continue
        if not in_section:
            continue
        match = re.match(r"\.It\s+(\d+)\s*\Z", raw)
        if match:
            current = int(match.group(1))
            items[current] = ""
        elif raw.startswith((".El", ".Pp")):
            current = None
        elif current is not None:
            items[current] += " " + " ".join(_arguments(raw[1:] if raw.startswith(".") else raw))
    return items


def gripwell_failures(root):
    """[(error line, exit status)] for each start-up failure of gripwell."""
    def read(*parts):
        with open(os.path.join(root, *parts), encoding="utf-8") as source:
            return source.read()
    lines = dict(re.findall(r'case Line::(\w+):\s*return "([^"]*)\\n";',
                            read("gripwell", "decision.cpp")))
    statuses = {name: int(value) for name, value in
                re.findall(r"constexpr int (\w+) = (\d+);", read("gripwell", "gripwell.h"))}
    pairs = re.findall(r"failStartUp\(Line::(\w+),\s*(\w+)\)", read("gripwell", "gripwell.cpp"))
    return [(lines.get(line), statuses.get(status)) for line, status in pairs]


def documented(kind, text, tokens, lines):
    if kind == "prefix":
        return any(token.startswith(text) for token in tokens | lines)
    if kind == "line":
        return text in tokens or text in lines
    return text in tokens or any(re.search(rf"(?<![\w:]){re.escape(text)}(?![\w])", line)
                                 for line in lines)


def check(root):
    """The problems found, one text each; empty when every page is complete."""
    problems = []
    for tool in TOOLS:
        page_path = os.path.join(root, "man", tool + ".1")
        with open(page_path, encoding="utf-8") as page_file:
            page = page_file.read()
        tokens, lines = page_literals(page)
        words = vocabulary(root, tool)
        if not words:
            problems.append(f"{tool}: no output words found in its sources")
        for kind, text in sorted(words):
            if not documented(kind, text, tokens, lines):
                problems.append(f"{page_path}: {kind} {text!r} of {tool} is not in the page")
        if tool == "gripwell":
            failures = gripwell_failures(root)
            if not failures:
                problems.append("gripwell: no start-up failures found in gripwell.cpp")
            items = _exit_status_items(page)
            for line, status in failures:
                if line is None or status is None:
                    problems.append(f"gripwell: cannot read a start-up failure: {line!r}, {status!r}")
                elif line not in items.get(status, ""):
                    problems.append(f"{page_path}: EXIT STATUS does not give {status} for {line!r}")
    return problems


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(root)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
