// Finding the focused element: each of the three tries winning and failing, with the exact calls
// made and every element but the returned one released.
#include "scribbet/focus.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

using macsim::ElementValue;
using macsim::PidOutcome;
using macsim::Read;
using Calls = std::vector<std::string>;

constexpr pid_t targetPid = 412;

const std::string createSystemWide = "AXUIElementCreateSystemWide";
const std::string readSystemWide = "AXUIElementCopyAttributeValue system-wide AXFocusedUIElement";
const std::string createApp = "AXUIElementCreateApplication app:412";
const std::string readApp = "AXUIElementCopyAttributeValue app:412 AXFocusedUIElement";
std::string pidOf(const std::string& name) {
    return "AXUIElementGetPid " + name;
}
// All three tries, with `first` found by the first read and `last` by the third.
Calls thirdTry(const std::string& first, const std::string& last) {
    return {createSystemWide, readSystemWide, pidOf(first), createApp,
            readApp,          readSystemWide, pidOf(last)};
}

void systemWideFocus(Read read) {
    macsim::desktop().systemWide.attributes["AXFocusedUIElement"] = std::move(read);
}
void appFocus(Read read) {
    macsim::desktop().apps[targetPid].attributes["AXFocusedUIElement"] = std::move(read);
}
Read focusOn(const std::string& name, PidOutcome pid) {
    macsim::element(name).pid = pid;
    return Read::of(ElementValue{name});
}

struct FocusCase {
    std::string name;
    std::function<void()> build;
    std::optional<std::string> element; // the element returned, if any
    std::optional<pid_t> focusedPid;
    Calls calls;
};

std::ostream& operator<<(std::ostream& out, const FocusCase& c) {
    return out << c.name;
}

const FocusCase focusCases[] = {
    {"TargetsOwnFocusIsTakenWithItsPidUncompared",
     [] {
         systemWideFocus(focusOn("browser", PidOutcome::of(97)));
         appFocus(focusOn("sheet", PidOutcome::of(98)));
     },
     "sheet",
     98,
     {createSystemWide, readSystemWide, pidOf("browser"), createApp, readApp, pidOf("sheet")}},
    {"SystemWidePidZeroNeverMatches", [] { systemWideFocus(focusOn("field", PidOutcome::of(0))); },
     "field", std::nullopt, thirdTry("field", "field")},
    {"SystemWideNegativePidNeverMatches",
     [] { systemWideFocus(focusOn("field", PidOutcome::of(-targetPid))); }, "field", std::nullopt,
     thirdTry("field", "field")},
    {"SystemWideTargetPidWithFailingQueryIsNotTaken",
     [] { systemWideFocus(focusOn("field", PidOutcome::error(kAXErrorFailure, targetPid))); },
     "field", std::nullopt, thirdTry("field", "field")},
    {"ThirdTryReadsTheSystemWideFocusAfresh",
     [] {
         systemWideFocus(focusOn("browser", PidOutcome::of(97)));
         macsim::onCall("AXUIElementCopyAttributeValue", 3,
                        [] { systemWideFocus(focusOn("dialog", PidOutcome::of(98))); });
     },
     "dialog", 98, thirdTry("browser", "dialog")},
};

class FocusResolution : public ::testing::TestWithParam<FocusCase> {};

TEST_P(FocusResolution, ReturnsTheRightElementWithExactCallsAndNoLeaks) {
    const FocusCase& c = GetParam();
    macsim::reset();
    c.build();

    std::optional<scribbet::FocusedElement> focused = scribbet::resolveFocusedElement(targetPid);

    EXPECT_EQ(macsim::callStrings(), c.calls);
    ASSERT_EQ(focused.has_value(), c.element.has_value());
    if (focused) {
        EXPECT_EQ(macsim::valueOf(focused->element.get()),
                  std::optional<macsim::Value>(ElementValue{*c.element}));
        EXPECT_EQ(focused->focusedPid, c.focusedPid);
        // Only the returned element survives, and the caller holds its only reference.
        EXPECT_EQ(macsim::liveObjects(), 1u)
            << ::testing::PrintToString(macsim::liveObjectDescriptions());
        EXPECT_EQ(CFGetRetainCount(focused->element.get()), 1);
    }
    focused.reset();
    EXPECT_EQ(macsim::liveObjects(), 0u)
        << ::testing::PrintToString(macsim::liveObjectDescriptions());
}

INSTANTIATE_TEST_SUITE_P(Tries, FocusResolution, ::testing::ValuesIn(focusCases),
                         [](const auto& test) { return test.param.name; });

} // namespace
