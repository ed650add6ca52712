// The walk from the focused element up to the element that holds the editable text, over parent
// chains built on the simulated desktop: which element wins, which failure is reported, the exact
// calls per element, and the references left behind.
#include "scribbet/context.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

using macsim::ElementValue;
using macsim::Read;
using macsim::Settable;
using scribbet::InsertionResolution;
using scribbet::ResolutionFailure;
using scribbet::TextInsertionContext;

std::string read(const std::string& element, const std::string& attribute) {
    return "AXUIElementCopyAttributeValue " + element + " " + attribute;
}
std::string settableTest(const std::string& element, const std::string& attribute) {
    return "AXUIElementIsAttributeSettable " + element + " " + attribute;
}

using Calls = std::vector<std::string>;

Calls operator+(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Step 1: the focused element's role and subrole, read before the walk.
Calls focusedReads(const std::string& name) {
    return {read(name, "AXRole"), read(name, "AXSubrole")};
}
Calls nonCandidate(const std::string& name) {
    return {read(name, "AXRole"), read(name, "AXSubrole"), read(name, "AXValue"),
            read(name, "AXParent")};
}
Calls passing(const std::string& name) {
    return {read(name, "AXRole"),
            read(name, "AXSubrole"),
            read(name, "AXValue"),
            settableTest(name, "AXValue"),
            read(name, "AXSelectedTextRange"),
            settableTest(name, "AXSelectedTextRange")};
}
// A candidate that fails after `checkCalls` of its three check calls, then reads its parent.
Calls failing(const std::string& name, std::size_t checkCalls) {
    Calls all = passing(name);
    all.resize(3 + checkCalls);
    all.push_back(read(name, "AXParent"));
    return all;
}

macsim::Element& textInput(const std::string& name, const std::string& role,
                           const std::string& value, CFIndex location, CFIndex length) {
    macsim::Element& element = macsim::element(name);
    element.attributes["AXRole"] = Read::of(macsim::text(role));
    element.attributes["AXValue"] = Read::of(macsim::text(value));
    element.attributes["AXSelectedTextRange"] = Read::of(macsim::range(location, length));
    element.settable["AXValue"] = {kAXErrorSuccess, true};
    element.settable["AXSelectedTextRange"] = {kAXErrorSuccess, true};
    return element;
}

macsim::Element& group(const std::string& name) {
    macsim::Element& element = macsim::element(name);
    element.attributes["AXRole"] = Read::of(macsim::text("AXGroup"));
    return element;
}

void parentOf(const std::string& child, const std::string& parent) {
    macsim::element(child).attributes["AXParent"] = Read::of(ElementValue{parent});
}

std::string nameOf(AXUIElementRef element) {
    const std::optional<macsim::Value> value = macsim::valueOf(element);
    if (!value || !std::holds_alternative<ElementValue>(*value)) {
        return "(not an element)";
    }
    return std::get<ElementValue>(*value).name;
}

std::optional<std::u16string> u(const char* utf8) {
    return macsim::utf16(utf8);
}

class ContextResolution : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
    }
    void TearDown() override {
        EXPECT_EQ(macsim::liveObjects(), 0u)
            << ::testing::PrintToString(macsim::liveObjectDescriptions());
    }

    // Resolves from the named element as the caller holds it, releases the caller's reference,
    // and checks what the result holds: a context exactly one reference to one element, a
    // failure nothing.
    static InsertionResolution resolveFrom(const std::string& name) {
        scribbet::ElementPtr focused =
            scribbet::adopt(static_cast<AXUIElementRef>(macsim::createObject(ElementValue{name})));
        InsertionResolution result = scribbet::resolveInsertionContext(focused.get());
        EXPECT_EQ(CFGetRetainCount(focused.get()), 1 + (holdsSameObject(result, focused) ? 1 : 0))
            << "the caller's reference must be left as it was";
        focused.reset();
        if (const auto* context = std::get_if<TextInsertionContext>(&result)) {
            EXPECT_NE(context->element, nullptr);
            EXPECT_EQ(macsim::liveObjects(), 1u)
                << ::testing::PrintToString(macsim::liveObjectDescriptions());
            if (context->element != nullptr) {
                EXPECT_EQ(CFGetRetainCount(context->element.get()), 1);
            }
        } else {
            EXPECT_EQ(macsim::liveObjects(), 0u)
                << ::testing::PrintToString(macsim::liveObjectDescriptions());
        }
        return result;
    }

    static bool holdsSameObject(const InsertionResolution& result,
                                const scribbet::ElementPtr& focused) {
        const auto* context = std::get_if<TextInsertionContext>(&result);
        return context != nullptr && context->element.get() == focused.get();
    }
};

void expectFailure(const InsertionResolution& result, const std::string& status,
                   const std::optional<std::u16string>& role,
                   const std::optional<std::u16string>& subrole) {
    const auto* failure = std::get_if<ResolutionFailure>(&result);
    ASSERT_NE(failure, nullptr) << "expected the failure " << status;
    EXPECT_EQ(failure->status, status);
    EXPECT_EQ(failure->role, role);
    EXPECT_EQ(failure->subrole, subrole);
}

TEST_F(ContextResolution, FocusedTextFieldIsItsOwnContextAndItsParentIsNeverRead) {
    textInput("field", "AXTextField", "Hello world", 6, 5).attributes["AXSubrole"] =
        Read::of(macsim::text("AXSearchField"));
    group("window");
    parentOf("field", "window");

    const InsertionResolution result = resolveFrom("field");

    const auto* context = std::get_if<TextInsertionContext>(&result);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(nameOf(context->element.get()), "field");
    EXPECT_EQ(context->role, u"AXTextField");
    EXPECT_EQ(context->subrole, u"AXSearchField");
    EXPECT_EQ(context->value, u"Hello world");
    EXPECT_EQ(context->selectedRange.location, 6);
    EXPECT_EQ(context->selectedRange.length, 5);
    EXPECT_EQ(macsim::callStrings(), focusedReads("field") + passing("field"));
}

TEST_F(ContextResolution, NonCandidateFocusUnderTextAreaGivesTheParent) {
    group("cell").attributes["AXValue"] = Read::of(macsim::Number{3});
    textInput("area", "AXTextArea", "abc", 1, 0).attributes["AXSubrole"] =
        Read::of(macsim::text("AXContentArea"));
    parentOf("cell", "area");

    const InsertionResolution result = resolveFrom("cell");

    const auto* context = std::get_if<TextInsertionContext>(&result);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(nameOf(context->element.get()), "area");
    EXPECT_EQ(context->role, u"AXTextArea");
    EXPECT_EQ(context->subrole, u"AXContentArea");
    EXPECT_EQ(context->value, u"abc");
    EXPECT_EQ(macsim::callStrings(), focusedReads("cell") + nonCandidate("cell") + passing("area"));
}

TEST_F(ContextResolution, FailureOfACandidateByValueIsDroppedWhenAParentPasses) {
    macsim::Element& label = textInput("label", "AXStaticText", "caption", 0, 0);
    label.settable["AXValue"] = {kAXErrorSuccess, false};
    textInput("field", "AXTextField", "", 0, 0);
    parentOf("label", "field");

    const InsertionResolution result = resolveFrom("label");

    const auto* context = std::get_if<TextInsertionContext>(&result);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(nameOf(context->element.get()), "field");
    EXPECT_EQ(macsim::callStrings(),
              focusedReads("label") + failing("label", 1) + passing("field"));
}

TEST_F(ContextResolution, FailureOfTheHighestCandidateWins) {
    textInput("inner", "AXTextField", "a", 0, 0).attributes.erase("AXSelectedTextRange");
    group("between");
    macsim::Element& outer = textInput("outer", "AXTextArea", "b", 0, 0);
    outer.attributes["AXSubrole"] = Read::of(macsim::text("AXOuter"));
    outer.settable["AXValue"] = {kAXErrorSuccess, false};
    group("window");
    parentOf("inner", "between");
    parentOf("between", "outer");
    parentOf("outer", "window");

    const InsertionResolution result = resolveFrom("inner");

    expectFailure(result, "value_not_settable", u"AXTextArea", u"AXOuter");
    EXPECT_EQ(macsim::callStrings(), focusedReads("inner") + failing("inner", 2) +
                                         nonCandidate("between") + failing("outer", 1) +
                                         nonCandidate("window"));
}

TEST_F(ContextResolution, FailedCandidateBeatsNoFocusedTextInput) {
    macsim::Element& field = textInput("field", "AXTextField", "a", 0, 0);
    field.settable["AXSelectedTextRange"] = {kAXErrorSuccess, false};
    group("window");
    parentOf("field", "window");

    expectFailure(resolveFrom("field"), "selection_not_settable", u"AXTextField", std::nullopt);
}

TEST_F(ContextResolution, SecureTextFieldIsACandidateLikeAnyTextField) {
    textInput("password", "AXSecureTextField", "", 0, 0);
    const InsertionResolution result = resolveFrom("password");
    const auto* context = std::get_if<TextInsertionContext>(&result);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->role, u"AXSecureTextField");
}

TEST_F(ContextResolution, WebAreaWithoutValueFailsAndTheWalkGoesOn) {
    macsim::Element& web = macsim::element("web");
    web.attributes["AXRole"] = Read::of(macsim::text("AXWebArea"));
    textInput("area", "AXTextArea", "x", 0, 1);
    parentOf("web", "area");

    const InsertionResolution result = resolveFrom("web");

    const auto* context = std::get_if<TextInsertionContext>(&result);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(nameOf(context->element.get()), "area");
    EXPECT_EQ(macsim::callStrings(), focusedReads("web") + failing("web", 0) + passing("area"));
}

TEST_F(ContextResolution, StringValueWithoutReadableRoleGivesAContextWithoutRole) {
    macsim::Element& field = textInput("field", "unused", "plain", 5, 0);
    field.attributes["AXRole"] = Read::error(kAXErrorNoValue);
    field.attributes["AXSubrole"] = Read::of(macsim::Number{1});

    const InsertionResolution result = resolveFrom("field");

    const auto* context = std::get_if<TextInsertionContext>(&result);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->role, std::nullopt);
    EXPECT_EQ(context->subrole, std::nullopt);
    EXPECT_EQ(context->value, u"plain");
}

TEST_F(ContextResolution, RolesThatOnlyLookTextLikeAreNotCandidates) {
    for (const char* role : {"AXTextfield", "axtextfield", "AXTEXTAREA", "AXTextField ",
                             " AXTextField", "AXTextFieldX", "AXText", ""}) {
        SCOPED_TRACE(role);
        macsim::reset();
        macsim::Element& field = textInput("field", role, "unused", 0, 0);
        field.attributes["AXValue"] = Read::of(macsim::Number{7});

        expectFailure(resolveFrom("field"), "no_focused_text_input", u(role), std::nullopt);
        EXPECT_EQ(macsim::callStrings(), focusedReads("field") + nonCandidate("field"));

        // The same element with a string value is a candidate through its value.
        macsim::reset();
        textInput("field", role, "text", 0, 0);
        EXPECT_TRUE(std::holds_alternative<TextInsertionContext>(resolveFrom("field")));
    }
}

TEST_F(ContextResolution, EveryTextLikeRoleIsACandidateWithoutAStringValue) {
    for (std::u16string_view role : scribbet::textLikeRoles) {
        SCOPED_TRACE(macsim::utf8(std::u16string(role)));
        macsim::reset();
        macsim::element("field").attributes["AXRole"] = Read::of(std::u16string(role));
        expectFailure(resolveFrom("field"), "value_unavailable", std::u16string(role),
                      std::nullopt);
    }
    EXPECT_EQ(scribbet::textLikeRoles.size(), 7u);
}

// A chain of `length` groups g0 (focused) .. g{length-1}, each the parent of the one before.
void groupChain(int length) {
    for (int i = 0; i < length; ++i) {
        group("g" + std::to_string(i));
        if (i > 0) {
            parentOf("g" + std::to_string(i - 1), "g" + std::to_string(i));
        }
    }
}

TEST_F(ContextResolution, SixthAncestorIsTheLastExaminedAndItsParentIsReadButNotExamined) {
    groupChain(7);
    textInput("g7", "AXTextField", "never looked at", 0, 0);
    parentOf("g6", "g7");

    const InsertionResolution result = resolveFrom("g0");

    expectFailure(result, "no_focused_text_input", u"AXGroup", std::nullopt);
    Calls expected = focusedReads("g0");
    for (int i = 0; i < 7; ++i) {
        expected = expected + nonCandidate("g" + std::to_string(i));
    }
    EXPECT_EQ(macsim::callStrings(), expected);
}

TEST_F(ContextResolution, SixthAncestorCanBeTheContext) {
    groupChain(6);
    textInput("g6", "AXTextArea", "deep", 4, 0);
    parentOf("g5", "g6");

    const InsertionResolution result = resolveFrom("g0");

    const auto* context = std::get_if<TextInsertionContext>(&result);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(nameOf(context->element.get()), "g6");
}

TEST_F(ContextResolution, ParentCycleStopsAfterSevenExaminations) {
    group("loop");
    parentOf("loop", "loop");

    expectFailure(resolveFrom("loop"), "no_focused_text_input", u"AXGroup", std::nullopt);
    EXPECT_EQ(macsim::callStrings().size(), 2u + 7u * 4u);
}

TEST_F(ContextResolution, LoneNonCandidateReportsItsOwnRoleAndSubrole) {
    macsim::Element& button = macsim::element("button");
    button.attributes["AXRole"] = Read::of(macsim::text("AXButton"));
    button.attributes["AXSubrole"] = Read::of(macsim::text("AXCloseButton"));
    expectFailure(resolveFrom("button"), "no_focused_text_input", u"AXButton", u"AXCloseButton");
    EXPECT_EQ(macsim::callStrings(), focusedReads("button") + nonCandidate("button"));
}

TEST_F(ContextResolution, LoneElementWithNothingReadable) {
    macsim::element("blank");
    expectFailure(resolveFrom("blank"), "no_focused_text_input", std::nullopt, std::nullopt);
}

TEST_F(ContextResolution, NoFocusedTextInputCarriesTheRoleReadBeforeTheWalk) {
    group("cell");
    // The role changes between the first read and the examination of the same element.
    macsim::onCall("AXUIElementCopyAttributeValue", 3, [] {
        macsim::element("cell").attributes["AXRole"] = Read::of(macsim::text("AXChanged"));
    });
    expectFailure(resolveFrom("cell"), "no_focused_text_input", u"AXGroup", std::nullopt);
}

TEST_F(ContextResolution, RangesOutsideTheValueArePassedOnUnchanged) {
    for (CFRange range : {CFRangeMake(-1, 0), CFRangeMake(2, 100), CFRangeMake(0, -3),
                          CFRangeMake(INT64_MAX, INT64_MAX)}) {
        macsim::reset();
        textInput("field", "AXTextField", "abc", range.location, range.length);
        const InsertionResolution result = resolveFrom("field");
        const auto* context = std::get_if<TextInsertionContext>(&result);
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(context->selectedRange.location, range.location);
        EXPECT_EQ(context->selectedRange.length, range.length);
    }
}

TEST_F(ContextResolution, ParentReadThatFailsEndsTheWalkAndReleasesWhatItLeft) {
    group("cell").attributes["AXParent"] =
        Read::errorLeaving(kAXErrorFailure, ElementValue{"area"});
    textInput("area", "AXTextArea", "abc", 0, 0);
    expectFailure(resolveFrom("cell"), "no_focused_text_input", u"AXGroup", std::nullopt);
    EXPECT_EQ(macsim::callStrings(), focusedReads("cell") + nonCandidate("cell"));
}

TEST_F(ContextResolution, ParentOfAnotherKindEndsTheWalk) {
    group("cell").attributes["AXParent"] = Read::of(macsim::text("area"));
    textInput("area", "AXTextArea", "abc", 0, 0);
    expectFailure(resolveFrom("cell"), "no_focused_text_input", u"AXGroup", std::nullopt);
}

// ---- Each of the six checks failing, alone on a focused text field without a parent ----------

struct CheckCase {
    std::string name;
    std::function<void(macsim::Element&)> spoil;
    std::string status;
    std::size_t checkCalls; // check calls made before the failure shows
};

std::ostream& operator<<(std::ostream& out, const CheckCase& c) {
    return out << c.name;
}

const CheckCase checkCases[] = {
    {"ValueMissing", [](macsim::Element& e) { e.attributes.erase("AXValue"); }, "value_unavailable",
     0},
    {"ValueEmptyRead", [](macsim::Element& e) { e.attributes["AXValue"] = Read::none(); },
     "value_unavailable", 0},
    {"ValueErrorLeavingAString",
     [](macsim::Element& e) {
         e.attributes["AXValue"] = Read::errorLeaving(kAXErrorCannotComplete, macsim::text("x"));
     },
     "value_unavailable", 0},
    {"ValueNumber",
     [](macsim::Element& e) { e.attributes["AXValue"] = Read::of(macsim::Number{4}); },
     "value_not_string", 0},
    {"ValueAttributed",
     [](macsim::Element& e) {
         e.attributes["AXValue"] = Read::of(macsim::AttributedText{u"styled"});
     },
     "value_not_string", 0},
    {"ValueNotSettable",
     [](macsim::Element& e) {
         e.settable["AXValue"] = {kAXErrorSuccess, false};
     },
     "value_not_settable", 1},
    {"ValueSettableTestFailsWithFlagSet",
     [](macsim::Element& e) {
         e.settable["AXValue"] = {kAXErrorCannotComplete, true};
     },
     "value_not_settable", 1},
    {"SelectionMissing", [](macsim::Element& e) { e.attributes.erase("AXSelectedTextRange"); },
     "selection_unavailable", 2},
    {"SelectionEmptyRead",
     [](macsim::Element& e) { e.attributes["AXSelectedTextRange"] = Read::none(); },
     "selection_unavailable", 2},
    {"SelectionErrorLeavingARange",
     [](macsim::Element& e) {
         e.attributes["AXSelectedTextRange"] =
             Read::errorLeaving(kAXErrorFailure, macsim::range(0, 0));
     },
     "selection_unavailable", 2},
    {"SelectionString",
     [](macsim::Element& e) { e.attributes["AXSelectedTextRange"] = Read::of(macsim::text("0")); },
     "selection_not_range", 2},
    {"SelectionPoint",
     [](macsim::Element& e) {
         e.attributes["AXSelectedTextRange"] = Read::of(macsim::PointValue{1, 2});
     },
     "selection_not_range", 2},
    {"SelectionRangeThatCannotBeCopiedOut",
     [](macsim::Element& e) {
         e.attributes["AXSelectedTextRange"] = Read::of(macsim::RangeValue{{0, 0}, true});
     },
     "selection_not_range", 2},
    {"SelectionNotSettable",
     [](macsim::Element& e) {
         e.settable["AXSelectedTextRange"] = {kAXErrorSuccess, false};
     },
     "selection_not_settable", 3},
    {"SelectionSettableTestFailsWithFlagSet",
     [](macsim::Element& e) {
         e.settable["AXSelectedTextRange"] = {kAXErrorNoValue, true};
     },
     "selection_not_settable", 3},
};

class CandidateCheck : public ContextResolution, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CandidateCheck, StopsAtTheFirstFailingCheckAndReadsTheParent) {
    const CheckCase& c = GetParam();
    macsim::Element& field = textInput("field", "AXTextField", "value", 0, 0);
    field.attributes["AXSubrole"] = Read::of(macsim::text("AXSearchField"));
    c.spoil(field);

    expectFailure(resolveFrom("field"), c.status, u"AXTextField", u"AXSearchField");
    EXPECT_EQ(macsim::callStrings(), focusedReads("field") + failing("field", c.checkCalls));
}

INSTANTIATE_TEST_SUITE_P(Checks, CandidateCheck, ::testing::ValuesIn(checkCases),
                         [](const auto& test) { return test.param.name; });

} // namespace
