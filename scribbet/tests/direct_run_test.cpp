// Whole direct-insertion runs: the tool's entry in a child process on a desktop built here, from
// the argument list to the bytes on standard output, with what the child did to the desktop
// brought back by its exit report.
#include "scribbet/entry.h"

#include <macsim/child.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace {

using macsim::ElementValue;
using macsim::PidOutcome;
using macsim::Read;

constexpr pid_t targetPid = 412;

std::string oneLine(std::string text) {
    std::string out;
    for (char c : text) {
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

// Runs in the child at exit, after the result line: whether every platform object was released,
// the writes in order, the final value and selection of the given element, and the call log.
std::string childReport(const std::string& watched) {
    std::string out = "live " + std::to_string(macsim::liveObjects()) + "\n";
    for (const macsim::Write& write : macsim::writes()) {
        out += "write " + write.target + " " + write.attribute + " " +
               oneLine(macsim::describe(write.value)) + " " + std::to_string(write.result) + "\n";
    }
    for (const char* attribute : {"AXValue", "AXSelectedTextRange"}) {
        const Read& now = macsim::element(watched).attributes[attribute];
        out += std::string(attribute) + " " +
               (now.value ? oneLine(macsim::describe(*now.value)) : std::string("none")) + "\n";
    }
    for (const std::string& call : macsim::callStrings()) {
        out += "call " + call + "\n";
    }
    return out;
}

std::vector<std::string> lines(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (line.compare(0, prefix.size(), prefix) == 0) {
            out.push_back(line.substr(prefix.size()));
        }
        start = end + 1;
    }
    return out;
}

// A text input of the target that passes every check, focused system-wide.
macsim::Element& focusedTextArea(const std::string& name, const char* value, CFIndex location,
                                 CFIndex length) {
    macsim::desktop().systemWide.attributes["AXFocusedUIElement"] = Read::of(ElementValue{name});
    macsim::Element& element = macsim::element(name);
    element.pid = PidOutcome::of(targetPid);
    element.attributes["AXRole"] = Read::of(macsim::text("AXTextArea"));
    element.attributes["AXValue"] = Read::of(macsim::text(value));
    element.attributes["AXSelectedTextRange"] = Read::of(macsim::range(location, length));
    element.settable["AXValue"] = {kAXErrorSuccess, true};
    element.settable["AXSelectedTextRange"] = {kAXErrorSuccess, true};
    return element;
}

class DirectRun : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
        char pattern[] = "/tmp/scribbet-direct-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        textPath_ = directory_ + "/text.txt";
    }
    void TearDown() override {
        std::remove(textPath_.c_str());
        ::rmdir(directory_.c_str());
    }

    // Runs `scribbet 412 <text file>` with the file holding `text`; the report watches `watched`.
    macsim::ChildResult runWith(const std::string& text, const std::string& watched = "area") {
        std::ofstream(textPath_, std::ios::binary) << text;
        const scribbet::Arguments arguments{"scribbet", std::to_string(targetPid), textPath_};
        macsim::ChildOptions options;
        options.report = [watched] { return childReport(watched); };
        macsim::ChildResult result =
            macsim::runChild([&arguments]() -> int { scribbet::run(arguments); }, options);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(lines(result.report, "live "), std::vector<std::string>{"0"})
            << "every platform object must be released before the result line";
        return result;
    }

private:
    std::string directory_;
    std::string textPath_;
};

using Lines = std::vector<std::string>;

TEST_F(DirectRun, InsertsIntoATextAreaAndMovesTheCaret) {
    focusedTextArea("area", "Hello world", 6, 5);

    const macsim::ChildResult result = runWith("there \xF0\x9F\x98\x80\n");

    EXPECT_EQ(result.out, "{\"status\":\"inserted\",\"role\":\"AXTextArea\",\"targetPid\":412,"
                          "\"focusedPid\":412,\"selectionUpdated\":true}\n");
    EXPECT_EQ(lines(result.report, "write "),
              (Lines{"area AXValue \"Hello there \xF0\x9F\x98\x80\\n\" 0",
                     "area AXSelectedTextRange range(15, 0) 0"}));
    EXPECT_EQ(lines(result.report, "AXValue "), Lines{"\"Hello there \xF0\x9F\x98\x80\\n\""});
    EXPECT_EQ(lines(result.report, "AXSelectedTextRange "), Lines{"range(15, 0)"});
    const Lines expectedCalls = {
        "AXIsProcessTrusted",
        "AXUIElementCreateSystemWide",
        "AXUIElementCopyAttributeValue system-wide AXFocusedUIElement",
        "AXUIElementGetPid area",
        "AXUIElementCopyAttributeValue area AXRole",
        "AXUIElementCopyAttributeValue area AXSubrole",
        "AXUIElementCopyAttributeValue area AXRole",
        "AXUIElementCopyAttributeValue area AXSubrole",
        "AXUIElementCopyAttributeValue area AXValue",
        "AXUIElementIsAttributeSettable area AXValue",
        "AXUIElementCopyAttributeValue area AXSelectedTextRange",
        "AXUIElementIsAttributeSettable area AXSelectedTextRange",
        "AXUIElementSetAttributeValue area AXValue",
        "AXValueCreate",
        "AXUIElementSetAttributeValue area AXSelectedTextRange",
    };
    EXPECT_EQ(lines(result.report, "call "), expectedCalls);
}

TEST_F(DirectRun, RefusesAFocusedFieldOfAnotherProcessWithoutWritingToIt) {
    // An editable field of process 97 has the focus, and the target reports no focus of its own.
    macsim::Element& chat = focusedTextArea("chat", "typing here", 11, 0);
    chat.pid = PidOutcome::of(97);
    chat.attributes["AXRole"] = Read::of(macsim::text("AXTextField"));
    chat.attributes["AXSubrole"] = Read::of(macsim::text("AXSearchField"));
    macsim::desktop().apps[targetPid].attributes["AXFocusedUIElement"] = Read::none();

    const macsim::ChildResult result = runWith("secret", "chat");

    EXPECT_EQ(result.out, "{\"status\":\"target_mismatch\",\"role\":\"AXTextField\","
                          "\"subrole\":\"AXSearchField\",\"targetPid\":412,\"focusedPid\":97}\n");
    EXPECT_EQ(lines(result.report, "write "), Lines{});
    EXPECT_EQ(lines(result.report, "AXValue "), Lines{"\"typing here\""});
    const Lines expectedCalls = {
        "AXIsProcessTrusted",
        "AXUIElementCreateSystemWide",
        "AXUIElementCopyAttributeValue system-wide AXFocusedUIElement",
        "AXUIElementGetPid chat",
        "AXUIElementCreateApplication app:412",
        "AXUIElementCopyAttributeValue app:412 AXFocusedUIElement",
        "AXUIElementCopyAttributeValue system-wide AXFocusedUIElement",
        "AXUIElementGetPid chat",
        "AXUIElementCopyAttributeValue chat AXRole",
        "AXUIElementCopyAttributeValue chat AXSubrole",
    };
    EXPECT_EQ(lines(result.report, "call "), expectedCalls);
}

TEST_F(DirectRun, ValueWriteFailureIsReportedWithItsLabelAndTheCaretIsLeftAlone) {
    focusedTextArea("area", "Hello world", 6, 5).writeErrors["AXValue"] = kAXErrorCannotComplete;

    const macsim::ChildResult result = runWith("there");

    EXPECT_EQ(result.out, "{\"status\":\"set_value_failed\",\"role\":\"AXTextArea\","
                          "\"targetPid\":412,\"focusedPid\":412,\"error\":\"cannot_complete\"}\n");
    EXPECT_EQ(lines(result.report, "write "), Lines{"area AXValue \"Hello there\" -25204"});
    EXPECT_EQ(lines(result.report, "AXValue "), Lines{"\"Hello world\""});
    EXPECT_EQ(lines(result.report, "AXSelectedTextRange "), Lines{"range(6, 5)"});
}

// ---- Rows D to K, each from a whole run ------------------------------------------------------

struct RowCase {
    std::string name;
    std::function<void()> build;
    std::string text;
    std::string line; // the whole of standard output
    Lines writes;
};

std::ostream& operator<<(std::ostream& out, const RowCase& c) {
    return out << c.name;
}

const RowCase rowCases[] = {
    {"D_NoFocusedElement",
     [] {
         macsim::desktop().systemWide.attributes["AXFocusedUIElement"] =
             Read::error(kAXErrorNoValue);
     },
     "x",
     "{\"status\":\"no_focused_element\",\"targetPid\":412}\n",
     {}},
    {"E_MismatchWithUnreadableRole",
     [] {
         macsim::desktop().systemWide.attributes["AXFocusedUIElement"] =
             Read::of(ElementValue{"other"});
         macsim::element("other").pid = PidOutcome::of(97);
     },
     "x",
     "{\"status\":\"target_mismatch\",\"targetPid\":412,\"focusedPid\":97}\n",
     {}},
    {"F_NoFocusedTextInput",
     [] {
         focusedTextArea("area", "", 0, 0).attributes = {
             {"AXRole", Read::of(macsim::text("AXButton"))}};
     },
     "x",
     "{\"status\":\"no_focused_text_input\",\"role\":\"AXButton\",\"targetPid\":412,"
     "\"focusedPid\":412}\n",
     {}},
    {"F_CheckFailureWithUnknownFocusedPid",
     [] {
         macsim::Element& area = focusedTextArea("area", "abc", 0, 0);
         area.pid = PidOutcome::error(kAXErrorCannotComplete);
         area.attributes["AXSubrole"] = Read::of(macsim::text("AXSecureTextField"));
         area.settable["AXValue"] = {kAXErrorSuccess, false};
     },
     "x",
     "{\"status\":\"value_not_settable\",\"role\":\"AXTextArea\",\"subrole\":"
     "\"AXSecureTextField\",\"targetPid\":412}\n",
     {}},
    {"G_SelectionOutOfBounds",
     [] { focusedTextArea("area", "Hello world", 12, 0); },
     "x",
     "{\"status\":\"selection_not_range\",\"role\":\"AXTextArea\",\"targetPid\":412,"
     "\"focusedPid\":412,\"error\":\"selection_out_of_bounds\"}\n",
     {}},
    {"G_SelectionEndOverflowing",
     [] { focusedTextArea("area", "Hello world", 3, INT64_MAX); },
     "x",
     "{\"status\":\"selection_not_range\",\"role\":\"AXTextArea\",\"targetPid\":412,"
     "\"focusedPid\":412,\"error\":\"selection_out_of_bounds\"}\n",
     {}},
    {"H_SetValueFailed",
     [] {
         focusedTextArea("area", "abc", 3, 0).writeErrors["AXValue"] = kAXErrorAttributeUnsupported;
     },
     "d",
     "{\"status\":\"set_value_failed\",\"role\":\"AXTextArea\",\"targetPid\":412,"
     "\"focusedPid\":412,\"error\":\"attribute_unsupported\"}\n",
     {"area AXValue \"abcd\" -25205"}},
    {"I_CaretValueNotMade",
     [] {
         focusedTextArea("area", "abc", 3, 0);
         macsim::failures().axValueCreate = true;
     },
     "d",
     "{\"status\":\"inserted\",\"role\":\"AXTextArea\",\"targetPid\":412,\"focusedPid\":412,"
     "\"selectionUpdated\":false,\"error\":\"selection_value_create_failed\"}\n",
     {"area AXValue \"abcd\" 0"}},
    {"J_CaretWriteRefused",
     [] {
         focusedTextArea("area", "abc", 1, 1).writeErrors["AXSelectedTextRange"] =
             kAXErrorCannotComplete;
     },
     "\xC3\xA9",
     "{\"status\":\"inserted\",\"role\":\"AXTextArea\",\"targetPid\":412,\"focusedPid\":412,"
     "\"selectionUpdated\":false,\"error\":\"cannot_complete\"}\n",
     {"area AXValue \"a\xC3\xA9"
      "c\" 0",
      "area AXSelectedTextRange range(2, 0) -25204"}},
    {"K_EmptyTextDeletesTheSelection",
     [] { focusedTextArea("area", "abcdef", 1, 3); },
     "",
     "{\"status\":\"inserted\",\"role\":\"AXTextArea\",\"targetPid\":412,\"focusedPid\":412,"
     "\"selectionUpdated\":true}\n",
     {"area AXValue \"aef\" 0", "area AXSelectedTextRange range(1, 0) 0"}},
    {"K_UnknownFocusedPidIsLeftOut",
     [] {
         macsim::desktop().systemWide.attributes["AXFocusedUIElement"] = Read::none();
         macsim::desktop().apps[targetPid].attributes["AXFocusedUIElement"] =
             Read::of(ElementValue{"area"});
         focusedTextArea("area", "", 0, 0).pid = PidOutcome::of(0);
     },
     "hi",
     "{\"status\":\"inserted\",\"role\":\"AXTextArea\",\"targetPid\":412,"
     "\"selectionUpdated\":true}\n",
     {"area AXValue \"hi\" 0", "area AXSelectedTextRange range(2, 0) 0"}},
    {"K_ContextIsAnAncestorOfTheFocus",
     [] {
         macsim::desktop().systemWide.attributes["AXFocusedUIElement"] =
             Read::of(ElementValue{"run"});
         macsim::element("run").pid = PidOutcome::of(targetPid);
         macsim::element("run").attributes["AXRole"] = Read::of(macsim::text("AXStaticText"));
         macsim::element("run").attributes["AXParent"] = Read::of(ElementValue{"area"});
         focusedTextArea("area", "ab", 1, 0);
         // The focus is on the run of text, not on the area itself.
         macsim::desktop().systemWide.attributes["AXFocusedUIElement"] =
             Read::of(ElementValue{"run"});
     },
     "\xF0\x9F\x98\x80",
     "{\"status\":\"inserted\",\"role\":\"AXTextArea\",\"targetPid\":412,\"focusedPid\":412,"
     "\"selectionUpdated\":true}\n",
     {"area AXValue \"a\xF0\x9F\x98\x80"
      "b\" 0",
      "area AXSelectedTextRange range(3, 0) 0"}},
};

class DirectRunRow : public DirectRun, public ::testing::WithParamInterface<RowCase> {};

TEST_P(DirectRunRow, WritesExactlyItsLine) {
    const RowCase& c = GetParam();
    c.build();

    const macsim::ChildResult result = runWith(c.text);

    EXPECT_EQ(result.out, c.line);
    EXPECT_EQ(lines(result.report, "write "), c.writes);
}

INSTANTIATE_TEST_SUITE_P(Rows, DirectRunRow, ::testing::ValuesIn(rowCases),
                         [](const auto& test) { return test.param.name; });

} // namespace
