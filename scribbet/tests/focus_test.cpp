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

constexpr pid_t targetPid = 412;

const std::string createSystemWide = "AXUIElementCreateSystemWide";
const std::string readSystemWide = "AXUIElementCopyAttributeValue system-wide AXFocusedUIElement";
const std::string createApp = "AXUIElementCreateApplication app:412";
const std::string readApp = "AXUIElementCopyAttributeValue app:412 AXFocusedUIElement";
std::string pidOf(const std::string& name) {
    return "AXUIElementGetPid " + name;
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
    std::vector<std::string> calls;
};

std::ostream& operator<<(std::ostream& out, const FocusCase& c) {
    return out << c.name;
}

const FocusCase focusCases[] = {
    {"TargetFocusFoundSystemWide",
     [] {
         systemWideFocus(focusOn("field", PidOutcome::of(targetPid)));
         appFocus(focusOn("other", PidOutcome::of(targetPid)));
     },
     "field",
     targetPid,
     {createSystemWide, readSystemWide, pidOf("field")}},
    {"SystemWideElsewhereTargetReportsItsOwn",
     [] {
         systemWideFocus(focusOn("browser", PidOutcome::of(97)));
         appFocus(focusOn("field", PidOutcome::of(targetPid)));
     },
     "field",
     targetPid,
     {createSystemWide, readSystemWide, pidOf("browser"), createApp, readApp, pidOf("field")}},
    {"SystemWideUnreadableTargetReportsItsOwn",
     [] {
         systemWideFocus(Read::error(kAXErrorCannotComplete));
         appFocus(focusOn("field", PidOutcome::of(targetPid)));
     },
     "field",
     targetPid,
     {createSystemWide, readSystemWide, createApp, readApp, pidOf("field")}},
    {"TargetReportsElementOfAnotherPidUncompared",
     [] {
         systemWideFocus(Read::none());
         appFocus(focusOn("sheet", PidOutcome::of(98)));
     },
     "sheet",
     98,
     {createSystemWide, readSystemWide, createApp, readApp, pidOf("sheet")}},
    {"TargetFocusWithUnreadablePid",
     [] {
         systemWideFocus(focusOn("browser", PidOutcome::of(97)));
         appFocus(focusOn("field", PidOutcome::error(kAXErrorCannotComplete, targetPid)));
     },
     "field",
     std::nullopt,
     {createSystemWide, readSystemWide, pidOf("browser"), createApp, readApp, pidOf("field")}},
    {"TargetFocusWithPidZero",
     [] {
         systemWideFocus(Read::none());
         appFocus(focusOn("field", PidOutcome::of(0)));
     },
     "field",
     std::nullopt,
     {createSystemWide, readSystemWide, createApp, readApp, pidOf("field")}},
    {"SystemWideElsewhereTargetReportsNone",
     [] {
         systemWideFocus(focusOn("browser", PidOutcome::of(97)));
         appFocus(Read::none());
     },
     "browser",
     97,
     {createSystemWide, readSystemWide, pidOf("browser"), createApp, readApp, readSystemWide,
      pidOf("browser")}},
    {"SystemWideElsewhereTargetNotOnDesktop",
     [] { systemWideFocus(focusOn("browser", PidOutcome::of(97))); },
     "browser",
     97,
     {createSystemWide, readSystemWide, pidOf("browser"), createApp, readApp, readSystemWide,
      pidOf("browser")}},
    {"SystemWidePidZeroNeverMatches",
     [] {
         systemWideFocus(focusOn("field", PidOutcome::of(0)));
         appFocus(Read::none());
     },
     "field",
     std::nullopt,
     {createSystemWide, readSystemWide, pidOf("field"), createApp, readApp, readSystemWide,
      pidOf("field")}},
    {"SystemWideNegativePidNeverMatches",
     [] {
         systemWideFocus(focusOn("field", PidOutcome::of(-targetPid)));
         appFocus(Read::none());
     },
     "field",
     std::nullopt,
     {createSystemWide, readSystemWide, pidOf("field"), createApp, readApp, readSystemWide,
      pidOf("field")}},
    {"SystemWideTargetPidWithFailingQueryIsNotTaken",
     [] {
         // The query writes the target's pid but fails: it must not count as a match.
         systemWideFocus(focusOn("field", PidOutcome::error(kAXErrorFailure, targetPid)));
         appFocus(Read::none());
     },
     "field",
     std::nullopt,
     {createSystemWide, readSystemWide, pidOf("field"), createApp, readApp, readSystemWide,
      pidOf("field")}},
    {"NothingFound",
     [] {
         systemWideFocus(Read::error(kAXErrorNoValue));
         appFocus(Read::error(kAXErrorNoValue));
     },
     std::nullopt,
     std::nullopt,
     {createSystemWide, readSystemWide, createApp, readApp, readSystemWide}},
    {"ForeignFocusGoneByTheThirdRead",
     [] {
         systemWideFocus(focusOn("browser", PidOutcome::of(97)));
         appFocus(Read::none());
         macsim::onCall("AXUIElementCopyAttributeValue", 3, [] { systemWideFocus(Read::none()); });
     },
     std::nullopt,
     std::nullopt,
     {createSystemWide, readSystemWide, pidOf("browser"), createApp, readApp, readSystemWide}},
    {"ThirdTryReadsTheSystemWideFocusAfresh",
     [] {
         systemWideFocus(focusOn("browser", PidOutcome::of(97)));
         appFocus(Read::none());
         macsim::onCall("AXUIElementCopyAttributeValue", 3,
                        [] { systemWideFocus(focusOn("dialog", PidOutcome::of(98))); });
     },
     "dialog",
     98,
     {createSystemWide, readSystemWide, pidOf("browser"), createApp, readApp, readSystemWide,
      pidOf("dialog")}},
    {"ErrorReadLeavingAnElementIsNoElement",
     [] {
         macsim::element("field").pid = PidOutcome::of(targetPid);
         systemWideFocus(Read::errorLeaving(kAXErrorFailure, ElementValue{"field"}));
         appFocus(Read::errorLeaving(kAXErrorFailure, ElementValue{"field"}));
     },
     std::nullopt,
     std::nullopt,
     {createSystemWide, readSystemWide, createApp, readApp, readSystemWide}},
    {"FocusOfAnotherKindIsNoElement",
     [] {
         systemWideFocus(Read::of(macsim::text("field")));
         appFocus(Read::of(macsim::Number{412}));
     },
     std::nullopt,
     std::nullopt,
     {createSystemWide, readSystemWide, createApp, readApp, readSystemWide}},
};

class FocusDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
    }
};

class FocusResolution : public FocusDesktop, public ::testing::WithParamInterface<FocusCase> {};

TEST_P(FocusResolution, ReturnsTheRightElementWithExactCallsAndNoLeaks) {
    const FocusCase& c = GetParam();
    c.build();

    std::optional<scribbet::FocusedElement> focused = scribbet::resolveFocusedElement(targetPid);

    EXPECT_EQ(macsim::callStrings(), c.calls);
    ASSERT_EQ(focused.has_value(), c.element.has_value());
    if (focused) {
        ASSERT_NE(focused->element, nullptr);
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

TEST_F(FocusDesktop, CanBeCalledAgainWithTheSameResult) {
    systemWideFocus(focusOn("browser", PidOutcome::of(97)));
    appFocus(focusOn("field", PidOutcome::of(targetPid)));
    for (int round = 0; round < 2; ++round) {
        std::optional<scribbet::FocusedElement> focused =
            scribbet::resolveFocusedElement(targetPid);
        ASSERT_TRUE(focused);
        EXPECT_EQ(focused->focusedPid, targetPid);
    }
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

} // namespace
