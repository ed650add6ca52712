"""Real applications from Debian packages on a virtual desktop, for the application tests and the
figures of bench/.

Each application starts with a home folder and profile of its own (removed when it ends), on a
document given as plain text, and is driven as a person would drive it: through the keyboard
(xdotool, which goes through XTest like a keyboard) and the clipboard (xclip). What it holds is
read back the same way, never through the accessibility bus: select all, copy, read the
clipboard. Every wait is for a condition, with a bounded time.

    with desktop.Desktop(assistive=apps.RECIPES["mousepad"].assistive) as session:
        app = apps.start(session, "mousepad")
        app.set_text("Lunch on Tuesday", selection=(9, 16))
        ...                                      # run a tool against app.pid
        app.type("#")                            # a mark where the caret is
        app.read_text()                          # "Lunch on Friday#"
        app.stop()

Offsets given to set_text count what the arrow keys step over: user-perceived characters.
"""

import html
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

import desktop

HERE = os.path.dirname(os.path.abspath(__file__))
PROBE = os.path.join(HERE, "atspi-probe.py")
COMMAND_TIMEOUT = 10.0  # seconds for one helper command (xdotool, xclip)
CLIPBOARD_TIMEOUT = 5.0  # seconds for an application to take or give the clipboard
POLL_INTERVAL = 0.02
MARK = "#"  # typed where the caret is, to see it in a text read back


class Recipe:
    """How to start one application and how it behaves for the harness."""

    def __init__(self, name, title, packages, command, document="txt", assistive=False,
                 start_timeout=30.0, kind="editor", env=None):
        self.name = name
        self.title = title  # for tables
        self.packages = packages  # Debian packages, for tools/deps.sh
        self.command = command  # function (Home) -> argv
        self.document = document  # "txt", "fodt" or "html": what the application opens
        self.assistive = assistive  # whether the desktop's accessibility must be on
        self.start_timeout = start_timeout
        self.kind = kind  # "editor", "browser", "office", "terminal"
        self.env = env or {}

    def available(self):
        return shutil.which(self.command(Home.placeholder())[0]) is not None


class Home:
    """A fresh home folder and the paths an application is started with."""

    def __init__(self, root):
        self.root = root
        self.document = os.path.join(root, "note.txt")
        self.page = os.path.join(root, "page.html")
        self.odt = os.path.join(root, "note.fodt")
        self.profile = os.path.join(root, "profile")
        self.received = os.path.join(root, "received.txt")

    @classmethod
    def placeholder(cls):
        return cls("/nonexistent")


def _firefox_command(home):
    return ["firefox-esr", "--no-remote", "--new-instance", "--profile", home.profile,
            "file://" + home.page]


def _chromium_command(home):
    # As root Chromium refuses to start without --no-sandbox. Its renderers join the
    # accessibility bus only when asked on the command line.
    command = ["chromium", "--no-first-run", "--no-default-browser-check", "--disable-gpu",
               "--disable-features=Translate,MediaRouter", "--password-store=basic",
               "--user-data-dir=" + home.profile, "--force-renderer-accessibility"]
    if os.geteuid() == 0:
        command.append("--no-sandbox")
    return command + ["file://" + home.page]


RECIPES = {
    recipe.name: recipe for recipe in [
        Recipe("mousepad", "Mousepad", ["mousepad"],
             lambda home: ["mousepad", "--disable-server", home.document]),
        Recipe("gedit", "gedit", ["gedit"], lambda home: ["gedit", "--standalone", home.document]),
        Recipe("featherpad", "FeatherPad", ["featherpad"],
             lambda home: ["featherpad", "--standalone", home.document]),
        Recipe("kwrite", "KWrite", ["kwrite"], lambda home: ["kwrite", home.document]),
        Recipe("writer", "LibreOffice Writer", ["libreoffice-writer", "libreoffice-gtk3"],
             lambda home: ["lowriter", "--norestore", "--nologo", "--nodefault",
                           "-env:UserInstallation=file://" + home.profile, home.odt],
             document="fodt", kind="office", env={"SAL_USE_VCLPLUGIN": "gtk3"}),
        Recipe("firefox", "Firefox ESR", ["firefox-esr"], _firefox_command, document="html",
             assistive=True, kind="browser"),
        Recipe("chromium", "Chromium", ["chromium"], _chromium_command, document="html",
             assistive=True, kind="browser"),
        Recipe("xfce4-terminal", "xfce4-terminal", ["xfce4-terminal"],
             lambda home: ["xfce4-terminal", "--disable-server", "-x",
                           *desktop.terminal_reader(home.received)],
             kind="terminal"),
        Recipe("xterm", "xterm", ["xterm"],
             lambda home: ["xterm", "-e", *desktop.terminal_reader(home.received)],
             kind="terminal"),
    ]
}

# Firefox without its first-run pages, updates, session restore and telemetry: one window on
# our page. The profile is fresh each time.
_FIREFOX_PREFS = {
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.startup.page": 0,
    "startup.homepage_welcome_url": "",
    "startup.homepage_welcome_url.additional": "",
    "browser.aboutwelcome.enabled": False,
    "trailhead.firstrun.didSeeAboutWelcome": True,
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.healthreport.uploadEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.update.enabled": False,
    "app.normandy.enabled": False,
    "browser.sessionstore.resume_from_crash": False,
    "browser.tabs.warnOnClose": False,
    "extensions.autoDisableScopes": 15,
    "browser.newtabpage.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.translations.enable": False,
    "sidebar.revamp": False,
}

_PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>Note</title></head>
<body><textarea id="note" rows="6" cols="60" autofocus>{text}</textarea>
<input id="line" value="Meet on Tuesday"></body></html>
"""

# A flat OpenDocument text: one paragraph whose second word is bold, so that a test can see
# whether formatting outside an insertion survives.
_FODT = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:automatic-styles>
  <style:style style:name="B" style:family="text"><style:text-properties fo:font-weight="bold"/>
  </style:style>
 </office:automatic-styles>
 <office:body><office:text>{paragraphs}</office:text></office:body>
</office:document>
"""


def fodt(paragraphs):
    """A flat OpenDocument text of paragraphs, each a list of (text, bold) runs."""
    body = "".join(
        "<text:p>" + "".join(
            f'<text:span text:style-name="B">{html.escape(text)}</text:span>' if bold
            else html.escape(text) for text, bold in runs) + "</text:p>"
        for runs in paragraphs)
    return _FODT.format(paragraphs=body)


class AppError(RuntimeError):
    """The application did not do what the harness waited for."""


def wait_until(condition, timeout, what):
    try:
        return desktop.wait_until(condition, timeout, what)
    except desktop.DesktopError as error:
        raise AppError(str(error)) from None


def _descendants(root):
    """The pids of root and of every process below it."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            children.setdefault(int(fields[1]), []).append(int(entry))
    found, pending = set(), [root]
    while pending:
        pid = pending.pop()
        if pid not in found:
            found.add(pid)
            pending.extend(children.get(pid, []))
    return found


class Application:
    """One running application with a fresh home; `pid` is the process of its active window,
    which is the pid a host names (for LibreOffice that is soffice.bin, not the script started)."""

    def __init__(self, session, recipe, text="", runs=None):
        self.session = session
        self.recipe = recipe
        self.home = Home(tempfile.mkdtemp(prefix=f"app-{recipe.name}-"))
        os.makedirs(self.home.profile)
        self.env = dict(session.env, HOME=self.home.root,
                        XDG_CONFIG_HOME=os.path.join(self.home.root, ".config"),
                        XDG_DATA_HOME=os.path.join(self.home.root, ".local", "share"),
                        XDG_CACHE_HOME=os.path.join(self.home.root, ".cache"),
                        XDG_STATE_HOME=os.path.join(self.home.root, ".local", "state"),
                        GSETTINGS_BACKEND="memory", NO_AT_BRIDGE="0", **recipe.env)
        self._write_documents(text, runs)
        self.log = open(os.path.join(self.home.root, "application.log"), "wb")
        self.started = time.monotonic()
        self.process = session.spawn(recipe.command(self.home), env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.pid = None
        try:
            self.pid = self._wait_window()
            self.focused = self.wait_focus()
            self.ready_after = time.monotonic() - self.started
        except BaseException:
            self.stop()
            raise

    def _write_documents(self, text, runs):
        with open(self.home.document, "w") as out:
            out.write(text)
        with open(self.home.page, "w") as out:
            out.write(_PAGE.format(text=html.escape(text)))
        with open(self.home.odt, "w") as out:
            out.write(fodt([runs or [(text, False)]]))
        if self.recipe.name == "firefox":
            with open(os.path.join(self.home.profile, "user.js"), "w") as out:
                for key, value in _FIREFOX_PREFS.items():
                    out.write(f"user_pref({json.dumps(key)}, {json.dumps(value)});\n")

    def run(self, *args, timeout=COMMAND_TIMEOUT, check=True, input=None, text=False):
        """Runs a helper command in the desktop's process group (so that whatever it leaves
        running ends with the desktop) and returns its CompletedProcess."""
        process = self.session.spawn(
            list(args), env=self.env, text=text,
            stdin=subprocess.PIPE if input is not None else subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            stdout, stderr = process.communicate(input, timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise AppError(f"{args[0]}: not done within {timeout:g} s") from None
        result = subprocess.CompletedProcess(args, process.returncode, stdout, stderr)
        if check and result.returncode != 0:
            raise AppError(f"{args[0]} failed ({result.returncode}): {result.stderr!r}")
        return result

    def _active_window_pid(self):
        result = self.run("xdotool", "getactivewindow", "getwindowpid", check=False, text=True)
        value = result.stdout.strip()
        return int(value) if result.returncode == 0 and value.isdigit() else None

    def _wait_window(self):
        """Waits until the active window belongs to the application's processes."""
        def ours():
            # Launchers such as lowriter hand over to a process of their own and end: the window
            # then belongs to a process that runs with our home.
            pid = self._active_window_pid()
            if pid is not None and (pid in _descendants(self.process.pid)
                                    or self._started_by_us(pid)):
                return pid
            return None
        return wait_until(ours, self.recipe.start_timeout, f"{self.recipe.name}: its window in front")

    def _started_by_us(self, pid):
        """Whether pid runs with our home (launchers that hand over to a daemonised process)."""
        try:
            with open(f"/proc/{pid}/environ", "rb") as environ:
                return f"HOME={self.home.root}".encode() in environ.read().split(b"\0")
        except OSError:
            return False

    def probe(self, *arguments, timeout=COMMAND_TIMEOUT):
        result = self.run("/usr/bin/python3", PROBE, *map(str, arguments), check=False,
                          text=True, timeout=timeout + COMMAND_TIMEOUT)
        if result.returncode != 0:
            raise AppError(f"atspi-probe {' '.join(map(str, arguments))}: {result.stderr}")
        return json.loads(result.stdout)

    def wait_focus(self, timeout=None):
        """Waits until the application shows its focused text on the accessibility bus (an
        application without one, such as xterm, is not waited for) and returns the probe's view
        of it."""
        if self.recipe.name == "xterm":
            return None
        return self.probe("focus-text", self.pid, timeout or self.recipe.start_timeout,
                          timeout=timeout or self.recipe.start_timeout)

    # ---- Keyboard and clipboard --------------------------------------------------------------

    def keys(self, *names, delay=12):
        """Presses and releases each key (xdotool's names, e.g. "ctrl+a") in turn."""
        if names:
            self.run("xdotool", "key", "--delay", str(delay), *names)

    def type(self, text):
        self.run("xdotool", "type", "--delay", "12", text)

    def own_clipboard(self, text):
        """Puts text on the clipboard, owned by an xclip of ours until another client takes it."""
        # xclip forks a child that owns the selection; its output goes nowhere, so that nothing
        # waits for it to end.
        process = self.session.spawn(["xclip", "-i", "-selection", "clipboard"], env=self.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        process.communicate(text.encode(), timeout=COMMAND_TIMEOUT)
        if process.returncode != 0:
            raise AppError("xclip could not take the clipboard")

    def clipboard(self):
        result = self.run("xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING",
                          check=False)
        return result.stdout.decode(errors="replace") if result.returncode == 0 else None

    def copy(self, keys=("ctrl+c",), timeout=CLIPBOARD_TIMEOUT):
        """What the application puts on the clipboard for `keys` (copy by default); None when
        it puts nothing there within `timeout` (nothing selected)."""
        sentinel = f"\u2063sentinel {time.monotonic_ns()}\u2063"
        self.own_clipboard(sentinel)
        self.keys(*keys)
        try:
            return wait_until(
                lambda: (lambda text: text if text not in (None, sentinel) else None)(
                    self.clipboard()), timeout, f"{self.recipe.name}: the clipboard after copy")
        except AppError:
            return None

    def read_text(self):
        """The whole text, read by selecting all and copying it. An application copies nothing
        from an empty text: when nothing comes, a mark is typed at the end, read with the text
        and taken back with BackSpace."""
        text = self.copy(("ctrl+a", "ctrl+c"), timeout=1.0)
        if text is not None:
            return text
        self.keys("ctrl+End")
        self.type(MARK)
        text = self.copy(("ctrl+a", "ctrl+c"))
        self.keys("ctrl+End", "BackSpace")
        if text is None or not text.rstrip("\n").endswith(MARK):
            raise AppError(f"{self.recipe.name}: the text could not be read, even with a mark")
        return text.rstrip("\n")[:-len(MARK)]

    def set_text(self, text, selection=None):
        """Replaces the whole text with `text` (pasted) and selects `selection`, (start, end) in
        what the arrow keys step over; None leaves the caret at the end."""
        self.own_clipboard(text)
        self.keys("ctrl+a", "ctrl+v")
        self.wait_text(text)
        if selection is not None:
            start, end = selection
            self.keys("ctrl+Home", *["Right"] * start, *["shift+Right"] * (end - start))

    def wait_text(self, text, timeout=CLIPBOARD_TIMEOUT):
        """Waits until the focused text shows `text` on the accessibility bus: a paste is
        asynchronous (the application asks the clipboard's owner for the text), and it has
        landed once the bus shows it. Only a wait: read_text would take the clipboard from under
        a paste still in progress, which then pastes the wrong text. Firefox shows a U+FEFF
        after each character outside the Basic Multilingual Plane, which is not part of the
        text."""
        wait_until(lambda: self.probe("focus-text", self.pid, 1)["text"].replace(
            "\ufeff", "").rstrip("\n") == text.rstrip("\n"), timeout,
            f"{self.recipe.name}: the text {text!r}")

    def undo(self):
        self.keys("ctrl+z")

    def received(self):
        """What a terminal's reader has been given so far."""
        try:
            with open(self.home.received, "rb") as received:
                return received.read().decode(errors="replace")
        except FileNotFoundError:
            return ""

    # ---- End -----------------------------------------------------------------------------------

    def stop(self):
        """Ends the application and every process it started, then removes its home."""
        pids = _descendants(self.process.pid)
        for pid in list(self._ours()):
            pids.add(pid)
        for pid in pids:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + desktop.STOP_TIMEOUT
        while time.monotonic() < deadline and any(self._alive(pid) for pid in pids):
            time.sleep(POLL_INTERVAL)
        for pid in pids:
            if self._alive(pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        try:
            self.process.wait(desktop.STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            pass
        self.log.close()
        shutil.rmtree(self.home.root, ignore_errors=True)

    def _ours(self):
        for entry in os.listdir("/proc"):
            if entry.isdigit() and self._started_by_us(int(entry)):
                yield int(entry)

    @staticmethod
    def _alive(pid):
        try:
            with open(f"/proc/{pid}/stat") as stat:
                return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
        except OSError:
            return False


def start(session, name, text="", runs=None):
    return Application(session, RECIPES[name], text, runs)
