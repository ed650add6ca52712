// Whole direct-insertion runs: the tool's entry in a child process on a desktop built here, from
// the argument list to the result line, with the platform calls of the whole run and the objects
// still alive at exit brought back by the child's exit report.
#include "scribbet/entry.h"

#include <macsim/child.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

using macsim::ElementValue;
using macsim::PidOutcome;
using macsim::Read;
using Lines = std::vector<std::string>;

constexpr pid_t targetPid = 412;

// A text input of the target that passes every check, focused system-wide.
macsim::Element& focusedTextArea(const std::string& name) {
    macsim::desktop().systemWide.attributes["AXFocusedUIElement"] = Read::of(ElementValue{name});
    macsim::Element& element = macsim::element(name);
    element.pid = PidOutcome::of(targetPid);
    element.attributes["AXRole"] = Read::of(macsim::text("AXTextArea"));
    element.attributes["AXValue"] = Read::of(macsim::text("Hello world"));
    element.attributes["AXSelectedTextRange"] = Read::of(macsim::range(6, 5));
    element.settable["AXValue"] = {kAXErrorSuccess, true};
    element.settable["AXSelectedTextRange"] = {kAXErrorSuccess, true};
    return element;
}

const Lines insertionCalls = {
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

struct WholeRun {
    std::string name;
    std::function<void()> build;
    std::string out; // the whole of standard output
    Lines calls;
};

std::ostream& operator<<(std::ostream& out, const WholeRun& c) {
    return out << c.name;
}

const WholeRun wholeRuns[] = {
    {"InsertsIntoATextArea", [] { focusedTextArea("area"); },
     "{\"status\":\"inserted\",\"role\":\"AXTextArea\",\"targetPid\":412,\"focusedPid\":412,"
     "\"selectionUpdated\":true}\n",
     insertionCalls},
    {"ValueWriteFailureStopsThere",
     [] { focusedTextArea("area").writeErrors["AXValue"] = kAXErrorCannotComplete; },
     "{\"status\":\"set_value_failed\",\"role\":\"AXTextArea\",\"targetPid\":412,"
     "\"focusedPid\":412,\"error\":\"cannot_complete\"}\n",
     Lines(insertionCalls.begin(), insertionCalls.end() - 2)},
    // An editable field of process 97 has the focus, and the target reports no focus of its own:
    // its role and subrole are read for the line, and nothing is written to it.
    {"RefusesAFocusedFieldOfAnotherProcess",
     [] {
         macsim::Element& chat = focusedTextArea("chat");
         chat.pid = PidOutcome::of(97);
         chat.attributes["AXSubrole"] = Read::of(macsim::text("AXSearchField"));
         macsim::desktop().apps[targetPid].attributes["AXFocusedUIElement"] = Read::none();
     },
     "{\"status\":\"target_mismatch\",\"role\":\"AXTextArea\",\"subrole\":\"AXSearchField\","
     "\"targetPid\":412,\"focusedPid\":97}\n",
     {
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
     }},
};

class DirectRun : public ::testing::TestWithParam<WholeRun> {};

TEST_P(DirectRun, MakesExactlyItsCallsAndReleasesEverythingBeforeTheLine) {
    const WholeRun& c = GetParam();
    macsim::reset();
    macsim::desktop().trusted = true;
    c.build();
    char path[] = "/tmp/scribbet-direct-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "there", 5), 5);
    ::close(fd);
    macsim::ChildOptions options;
    // Runs in the child at exit, after the result line.
    options.report = macsim::liveObjectsAndCalls;
    const scribbet::Arguments arguments{"scribbet", std::to_string(targetPid), path};

    const macsim::ChildResult result =
        macsim::runChild([&arguments]() -> int { scribbet::run(arguments); }, options);
    std::remove(path);

    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    std::string expected = "live 0\n";
    for (const std::string& call : c.calls) {
        expected += call + "\n";
    }
    EXPECT_EQ(result.report, expected);
}

INSTANTIATE_TEST_SUITE_P(Runs, DirectRun, ::testing::ValuesIn(wholeRuns),
                         [](const auto& test) { return test.param.name; });

} // namespace
