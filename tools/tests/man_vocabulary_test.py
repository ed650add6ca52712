#!/usr/bin/python3
"""The manual-page vocabulary check finds what a page leaves out.

Each test copies the tools' sources and pages to a scratch tree, changes one thing the way a
real drift would (a word dropped from a page, a new status in the code, a changed exit status),
and expects the check to name it.
"""

import os
import re
import shutil
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import man_vocabulary  # noqa: E402


class ScratchTree(unittest.TestCase):

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="man-vocabulary-")
        self.addCleanup(shutil.rmtree, self.root)
        for folder in (*man_vocabulary.TOOLS, "man"):
            shutil.copytree(os.path.join(ROOT, folder), os.path.join(self.root, folder),
                            ignore=shutil.ignore_patterns("tests", "bench"))

    def edit(self, relative, old, new, count=1):
        path = os.path.join(self.root, relative)
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
        self.assertIn(old, text, f"{relative} no longer holds {old!r}; update this test")
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(text.replace(old, new, count))

    def problems(self):
        return man_vocabulary.check(self.root)


class PagesMatchTheCode(ScratchTree):

    def test_the_pages_of_this_tree_name_everything_the_tools_write(self):
        self.assertEqual(self.problems(), [])

    def test_the_vocabulary_is_read_from_the_code(self):
        # A sample of each kind, so that an extractor that finds nothing cannot pass.
        self.assertLessEqual({("word", "selection_out_of_bounds"), ("word", "not_enough_precision"),
                              ("prefix", "ax_error_"), ("word", "frontmostConfirmed"),
                              ("line", '{"status":"unexpected_error"}')},
                             man_vocabulary.vocabulary(self.root, "scribbet"))
        self.assertLessEqual({("line", "combo_space"), ("line", "error:runloop_source_failed"),
                              ("word", "fn")},
                             man_vocabulary.vocabulary(self.root, "gripwell"))
        self.assertEqual(man_vocabulary.vocabulary(self.root, "vantor"),
                         {("word", "ready"), ("prefix", "APP:")})
        self.assertEqual(man_vocabulary.gripwell_failures(self.root),
                         [("error:accessibility_not_granted", 1), ("error:event_tap_failed", 2),
                          ("error:runloop_source_failed", 3)])


class DriftIsFound(ScratchTree):

    def test_an_error_word_missing_from_the_page(self):
        self.edit("man/scribbet.1", ".It Li selection_not_range , Li selection_out_of_bounds",
                  ".It Li selection_not_range")
        self.assertEqual(self.problems(), [
            f"{self.root}/man/scribbet.1: word 'selection_out_of_bounds' of scribbet is not in the page"])

    def test_an_accessibility_label_missing_from_the_page(self):
        self.edit("man/scribbet.1", ".Li not_enough_precision ;", ".Li precision ;")
        self.assertEqual(len(self.problems()), 1)
        self.assertIn("'not_enough_precision'", self.problems()[0])

    def test_a_new_status_in_the_code(self):
        self.edit("scribbet/entry.cpp", 'targetOutcome("no_focused_element"',
                  'targetOutcome("focus_lost"')
        self.assertEqual(self.problems(), [
            f"{self.root}/man/scribbet.1: word 'focus_lost' of scribbet is not in the page"])

    def test_a_word_in_prose_only_does_not_count(self):
        # Every literal "up" becomes prose; the word stays in the page's text ("held up").
        path = os.path.join(self.root, "man", "gripwell.1")
        with open(path, encoding="utf-8") as handle:
            page = handle.read()
        page, literals = re.subn(r"^\.(?:It )?Li up( [.,])?$", lambda m: "up" + (m[1] or ""), page,
                                 flags=re.M)
        page, shown = re.subn(r"^up$\n(?=\^C)", "", page, flags=re.M)
        self.assertGreater(literals, 0)
        self.assertEqual(shown, 1)
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(page)
        self.assertEqual(self.problems(), [
            f"{self.root}/man/gripwell.1: line 'up' of gripwell is not in the page"])

    def test_a_line_changed_in_the_line_table(self):
        self.edit("gripwell/decision.cpp", '"error:event_tap_failed\\n"', '"error:tap_failed\\n"')
        problems = self.problems()
        self.assertIn(f"{self.root}/man/gripwell.1: line 'error:tap_failed' of gripwell is not "
                      "in the page", problems)
        self.assertIn(f"{self.root}/man/gripwell.1: EXIT STATUS does not give 2 for "
                      "'error:tap_failed'", problems)

    def test_an_exit_status_changed_in_the_code(self):
        self.edit("gripwell/gripwell.h", "eventTapFailedStatus = 2;", "eventTapFailedStatus = 4;")
        self.assertEqual(self.problems(), [
            f"{self.root}/man/gripwell.1: EXIT STATUS does not give 4 for 'error:event_tap_failed'"])

    def test_the_line_prefix_of_vantor(self):
        self.edit("vantor/vantor.cpp", 'std::string line = "APP:";', 'std::string line = "APP2:";')
        self.assertEqual(self.problems(), [
            f"{self.root}/man/vantor.1: prefix 'APP2:' of vantor is not in the page"])

    def test_literals_in_comments_are_not_output(self):
        self.edit("scribbet/entry.cpp", "namespace scribbet {",
                  '// "not_an_outcome"\n/* "nor_this" */\nnamespace scribbet {')
        self.assertEqual(self.problems(), [])


class LiteralsOfAPage(unittest.TestCase):

    def test_macro_arguments_and_literal_displays(self):
        tokens, lines = man_vocabulary.page_literals(
            '.It Li inserted , Li selection_value_create_failed\n'
            '.Pq Li selectionUpdated No is Li false .\n'
            '.It Li APP\\&: Ns Ar bundle-id Ns Li \\&| Ns Ar name\n'
            'prose with words_in_it\n'
            '.Bd -literal -offset indent\n'
            '{"status":"inserted"}\n'
            '.Ed\n')
        self.assertEqual(tokens, {"inserted", "selection_value_create_failed", "selectionUpdated",
                                  "false", "APP:"})
        self.assertEqual(lines, {'{"status":"inserted"}'})
        self.assertFalse(re.search("words_in_it", " ".join(tokens | lines)))


if __name__ == "__main__":
    unittest.main()
