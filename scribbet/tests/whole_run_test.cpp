// Whole runs from the argument list to the result line, in a child process on a desktop built
// here, for what the scenarios cannot see: every platform call of the run in order, and no object
// left alive at exit. The child reports both after its result line.
#include "scribbet/entry.h"

#include <macsim/child.h>
#include <macsim/control.h>
#include <macsim/keyboard.h>

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

struct WholeRun {
    std::string name;
    std::string mode; // "--fast-paste", or empty for a text file
    std::function<void()> build;
    Lines calls;
};

std::ostream& operator<<(std::ostream& out, const WholeRun& c) {
    return out << c.name;
}

const WholeRun wholeRuns[] = {
    {"InsertsIntoATextArea",
     "",
     [] { focusedTextArea("area"); },
     {
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
         "AXUIElementCopyAttributeValue area AXValue",
         "AXValueCreate",
         "AXUIElementSetAttributeValue area AXSelectedTextRange",
         "AXUIElementCopyAttributeValue area AXSelectedTextRange",
     }},
    // An editable field of process 97 has the focus, and the target reports no focus of its own:
    // its role and subrole are read for the line, and nothing else is done with it.
    {"RefusesAFocusedFieldOfAnotherProcess",
     "",
     [] {
         focusedTextArea("chat").pid = PidOutcome::of(97);
         macsim::desktop().apps[targetPid].attributes["AXFocusedUIElement"] = Read::none();
     },
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

class WholeRunTest : public ::testing::TestWithParam<WholeRun> {};

TEST_P(WholeRunTest, MakesExactlyItsCallsAndReleasesEverythingBeforeTheLine) {
    const WholeRun& c = GetParam();
    macsim::reset();
    macsim::desktop().trusted = true;
    c.build();
    char path[] = "/tmp/scribbet-whole-run-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "there", 5), 5);
    ::close(fd);
    macsim::ChildOptions options;
    options.report = macsim::liveObjectsAndCalls; // runs in the child at exit, after the line
    const scribbet::Arguments arguments{"scribbet", std::to_string(targetPid),
                                        c.mode.empty() ? path : c.mode};

    const macsim::ChildResult result =
        macsim::runChild([&arguments]() -> int { scribbet::run(arguments); }, options);
    std::remove(path);

    std::string expected = "live 0\n";
    for (const std::string& call : c.calls) {
        expected += call + "\n";
    }
    EXPECT_EQ(result.report, expected);
    EXPECT_EQ(result.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Runs, WholeRunTest, ::testing::ValuesIn(wholeRuns),
                         [](const auto& test) { return test.param.name; });

} // namespace
