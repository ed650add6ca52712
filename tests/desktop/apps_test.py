#!/usr/bin/python3
"""scribbet against real applications from Debian packages on a virtual desktop.

    tests/desktop/apps_test.py --scribbet PATH [unittest arguments]

Each test class starts one desktop and one application (tools/desktop/apps.py: a fresh home and
profile, the document given) for all of its tests, and ends both after them. scribbet runs as a
host runs it; what the application then holds is read back without the accessibility bus: select
all, copy, read the clipboard, with a mark typed first where the caret is. Every answer must be
true: "inserted" only with exactly the right text and caret, anything else with the text
untouched.

Classes of applications that are not installed are skipped, and so is everything without a
real-desktop scribbet; the exit status is then 77 if nothing ran, which CTest reports as skipped.
"""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import toolcase  # noqa: E402
from toolcase import desktop  # noqa: E402

sys.path.insert(0, os.path.dirname(desktop.__file__))
import apps  # noqa: E402

SENTENCE = "Lunch with Sam on Tuesday at noon."
MARK = apps.MARK


class ApplicationTestCase(unittest.TestCase):
    """One application on one desktop for the whole class."""

    application = ""  # a name in apps.RECIPES
    runs = None  # the document's runs of (text, bold) where the application opens formatting
    binary = ""  # set by main()

    @classmethod
    def setUpClass(cls):
        recipe = apps.RECIPES[cls.application]
        if not cls.binary or not os.path.isfile(cls.binary):
            raise unittest.SkipTest("no real-desktop scribbet to run")
        if not recipe.available():
            raise unittest.SkipTest(f"{recipe.title} is not installed ({' '.join(recipe.packages)})")
        cls.desktop = desktop.Desktop(assistive=recipe.assistive)
        cls.desktop.start()
        try:
            cls.app = apps.start(cls.desktop, cls.application, SENTENCE, cls.runs)
        except BaseException:
            cls.desktop.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.app.stop()
        cls.desktop.stop()

    def scribbet(self, text=None):
        """The one line of `scribbet PID FILE` (FILE holding text) or of `scribbet PID
        --fast-paste` (text None), as a parsed object; standard error empty, exit status 0."""
        result, _ = desktop.run_scribbet(self.binary, self.app.pid, text, env=self.app.env)
        self.assertEqual(result.stderr, b"", "nothing on standard error")
        self.assertEqual(result.returncode, 0, "exit status")
        line = result.stdout.decode()
        self.assertTrue(line.endswith("\n") and line.count("\n") == 1, line)
        return json.loads(line)

    def text_with_mark(self):
        """The whole text, with a mark typed where the caret was."""
        self.app.type(MARK)
        return self.app.read_text().rstrip("\n")

    def replace(self, text, selection, word):
        """Selects text[selection] and inserts word; checks that the answer is true and returns
        it."""
        start, end = selection
        self.app.set_text(text, selection)
        answer = self.scribbet(word)
        expected = text[:start] + word + MARK + text[end:]
        untouched = text[:start] + MARK + text[end:]  # the mark replaced the selection
        read = self.text_with_mark()
        if answer["status"] == "inserted" and answer.get("selectionUpdated"):
            self.assertEqual(read, expected, answer)
        else:
            self.assertEqual(read, untouched, answer)
        return answer


class DirectInsertionCases:
    """What every application whose text takes direct insertion must do."""

    role = "AXTextArea"

    def test_selection_is_replaced_with_the_caret_after_it(self):
        answer = self.replace(SENTENCE, (18, 25), "Friday")
        self.assertEqual((answer["status"], answer.get("selectionUpdated")), ("inserted", True))
        self.assertEqual(answer["role"], self.role)

    def test_emoji_before_the_selection_counts_as_the_application_counts(self):
        answer = self.replace("a😀b Tuesday c", (4, 11), "Fri😀day")
        self.assertEqual(answer["status"], "inserted")

    def test_text_at_the_caret_goes_in_and_one_undo_takes_it_out(self):
        self.app.set_text(SENTENCE, (6, 6))
        self.assertEqual(self.scribbet("early ")["status"], "inserted")
        self.assertEqual(self.app.read_text().rstrip("\n"), "Lunch early with Sam on Tuesday at noon.")
        self.app.set_text(SENTENCE, (6, 6))
        self.scribbet("early ")
        self.app.undo()
        self.assertEqual(self.app.read_text().rstrip("\n"), SENTENCE)

    def test_one_undo_after_a_replacement_never_loses_the_text(self):
        self.app.set_text(SENTENCE, (18, 25))
        self.assertEqual(self.scribbet("Friday")["status"], "inserted")
        self.app.undo()
        after = self.app.read_text().rstrip("\n")
        # The replaced word comes back (beside what replaced it, in applications that undo the
        # two edits one at a time); the document is never emptied.
        self.assertTrue(after.startswith("Lunch with Sam on ") and after.endswith(" at noon."),
                        after)
        self.assertIn("Tues", after)

    def test_fast_paste_pastes_at_the_caret(self):
        self.app.set_text(SENTENCE, (6, 6))
        self.app.own_clipboard("soon ")
        answer = self.scribbet()
        self.assertEqual((answer["status"], answer.get("frontmostConfirmed")), ("inserted", True))
        self.app.wait_text("Lunch soon with Sam on Tuesday at noon.")
        self.assertEqual(self.app.read_text().rstrip("\n"),
                         "Lunch soon with Sam on Tuesday at noon.")


class MousepadTest(DirectInsertionCases, ApplicationTestCase):
    application = "mousepad"


class FeatherPadTest(DirectInsertionCases, ApplicationTestCase):
    application = "featherpad"


class WriterTest(DirectInsertionCases, ApplicationTestCase):
    application = "writer"
    role = "AXGroup"  # a paragraph


class WriterFormattingTest(ApplicationTestCase):
    application = "writer"
    runs = [("Lunch with ", False), ("Sam", True), (" on Tuesday at noon.", False)]

    def test_formatting_outside_the_insertion_survives(self):
        # The document as it opened: "Lunch with **Sam** on Tuesday at noon."
        self.app.keys("ctrl+Home", *["Right"] * 18, *["shift+Right"] * 7)
        self.assertEqual(self.scribbet("Friday")["status"], "inserted")
        self.assertIsNotNone(self.app.copy(("ctrl+a", "ctrl+c")))
        copied = self.app.run("xclip", "-o", "-selection", "clipboard", "-t", "text/html",
                              check=False).stdout.decode(errors="replace")
        self.assertRegex(copied, r"<b>\s*Sam\s*</b>", copied)
        self.assertIn("Lunch with ", copied)
        self.assertIn(" on Friday at noon.", copied)


class KWriteTest(ApplicationTestCase):
    application = "kwrite"

    def test_its_editor_offers_no_editing_so_nothing_is_written(self):
        self.app.set_text(SENTENCE, (18, 25))
        answer = self.scribbet("Friday")
        # The deepest focus is found (the editor, not a group above it), and it takes no edits.
        self.assertEqual((answer["status"], answer["role"]), ("value_not_settable", "AXTextArea"))
        self.assertEqual(self.text_with_mark(), SENTENCE[:18] + MARK + SENTENCE[25:])


class FirefoxTest(ApplicationTestCase):
    application = "firefox"

    def test_a_write_the_application_ignores_is_no_insertion(self):
        answer = self.replace(SENTENCE, (18, 25), "Friday")
        self.assertEqual((answer["status"], answer.get("error")), ("set_value_failed", "failure"))

    def test_fast_paste_pastes_at_the_caret(self):
        DirectInsertionCases.test_fast_paste_pastes_at_the_caret(self)


class ChromiumTest(ApplicationTestCase):
    application = "chromium"

    def test_its_fields_offer_no_editing_so_nothing_is_written(self):
        answer = self.replace(SENTENCE, (18, 25), "Friday")
        self.assertEqual(answer["status"], "value_not_settable")

    def test_fast_paste_pastes_at_the_caret(self):
        DirectInsertionCases.test_fast_paste_pastes_at_the_caret(self)


class TerminalCases:

    def test_direct_insertion_writes_nothing(self):
        answer = self.scribbet("echo typed")
        self.assertNotEqual(answer["status"], "inserted")
        self.assertEqual(self.app.received(), "")


class XfceTerminalTest(TerminalCases, ApplicationTestCase):
    application = "xfce4-terminal"

    def test_fast_paste_reaches_the_program_or_says_it_could_not(self):
        self.app.own_clipboard("echo pasted")
        answer = self.scribbet()
        if answer["status"] == "inserted":
            apps.wait_until(lambda: self.app.received() == "echo pasted", 5.0,
                            f"the paste (got {self.app.received()!r})")
        else:
            self.assertEqual(self.app.received(), "")


class XtermTest(TerminalCases, ApplicationTestCase):
    application = "xterm"


if __name__ == "__main__":
    sys.exit(toolcase.main("scribbet", ApplicationTestCase))
