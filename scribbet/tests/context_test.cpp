// The walk from the focused element up to the element that holds the editable text, over parent
// chains built on the simulated desktop: which element wins, which failure is reported, the exact
// calls per element, and the references left behind.
#include "scribbet/context.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

namespace {

using macsim::ElementValue;
using macsim::Read;
using scribbet::InsertionResolution;
using scribbet::ResolutionFailure;
using scribbet::TextInsertionContext;
using Calls = std::vector<std::string>;

std::string read(const std::string& element, const std::string& attribute) {
    return "AXUIElementCopyAttributeValue " + element + " " + attribute;
}
std::string settableTest(const std::string& element, const std::string& attribute) {
    return "AXUIElementIsAttributeSettable " + element + " " + attribute;
}

Calls operator+(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The focused element's role and subrole, read before the walk begins.
Calls focusedReads(const std::string& name) {
    return {read(name, "AXRole"), read(name, "AXSubrole")};
}
Calls nonCandidate(const std::string& name) {
    return focusedReads(name) + Calls{read(name, "AXValue"), read(name, "AXParent")};
}
Calls passing(const std::string& name) {
    return focusedReads(name) + Calls{read(name, "AXValue"), settableTest(name, "AXValue"),
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
                           const std::string& value, CFIndex location = 0) {
    macsim::Element& element = macsim::element(name);
    element.attributes["AXRole"] = Read::of(macsim::text(role));
    element.attributes["AXValue"] = Read::of(macsim::text(value));
    element.attributes["AXSelectedTextRange"] = Read::of(macsim::range(location, 0));
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
    return value && std::holds_alternative<ElementValue>(*value)
               ? std::get<ElementValue>(*value).name
               : "(not an element)";
}

class ContextResolution : public ::testing::Test {
protected:
    void SetUp() override { macsim::reset(); }
    void TearDown() override {
        EXPECT_EQ(macsim::liveObjects(), 0u)
            << ::testing::PrintToString(macsim::liveObjectDescriptions());
    }

    // Resolves from the named element as the caller holds it, releases the caller's reference,
    // and checks what the result holds: a context exactly one reference to one element, a
    // failure nothing.
    static InsertionResolution resolveFrom(const std::string& name) {
        scribbet::ElementPtr focused =
            base::adopt(static_cast<AXUIElementRef>(macsim::createObject(ElementValue{name})));
        InsertionResolution result = scribbet::resolveInsertionContext(focused.get());
        const auto* context = std::get_if<TextInsertionContext>(&result);
        const bool keepsFocused = context != nullptr && context->element.get() == focused.get();
        EXPECT_EQ(CFGetRetainCount(focused.get()), keepsFocused ? 2 : 1)
            << "the caller's reference must be left as it was";
        focused.reset();
        EXPECT_EQ(macsim::liveObjects(), context != nullptr ? 1u : 0u)
            << ::testing::PrintToString(macsim::liveObjectDescriptions());
        if (context != nullptr && context->element != nullptr) {
            EXPECT_EQ(CFGetRetainCount(context->element.get()), 1);
        }
        return result;
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

// Both are candidates by their string values alone; the failure of the first is dropped, and the
// context's role and subrole are the parent's own.
TEST_F(ContextResolution, CandidatesByStringValueAndAContextWithoutRole) {
    macsim::Element& label = textInput("label", "AXStaticText", "caption");
    label.settable["AXValue"] = {kAXErrorSuccess, false};
    label.attributes["AXSubrole"] = Read::of(macsim::text("AXCaption")); // not the context's
    macsim::Element& field = textInput("field", "unused", "plain", 5);
    field.attributes["AXRole"] = Read::error(kAXErrorNoValue);
    field.attributes["AXSubrole"] = Read::of(macsim::Number{1});
    parentOf("label", "field");

    const InsertionResolution result = resolveFrom("label");

    const auto* context = std::get_if<TextInsertionContext>(&result);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(nameOf(context->element.get()), "field");
    EXPECT_EQ(context->role, std::nullopt);
    EXPECT_EQ(context->subrole, std::nullopt);
    EXPECT_EQ(context->value, u"plain");
    EXPECT_EQ(macsim::callStrings(),
              focusedReads("label") + failing("label", 1) + passing("field"));
}

// Without a string value the role decides: each text-like one exactly, nothing that only looks so.
TEST_F(ContextResolution, OnlyTextLikeRolesAreCandidatesWithoutAStringValue) {
    const std::pair<const char*, const char*> cases[] = {
        {"AXComboBox", "value_not_string"},        {"AXSearchField", "value_not_string"},
        {"AXSecureTextField", "value_not_string"}, {"AXTextArea", "value_not_string"},
        {"AXTextField", "value_not_string"},       {"AXTextView", "value_not_string"},
        {"AXWebArea", "value_not_string"},         {"AXTextfield", "no_focused_text_input"},
        {"axtextfield", "no_focused_text_input"},  {"AXTextField ", "no_focused_text_input"},
        {"AXTextFieldX", "no_focused_text_input"}, {"", "no_focused_text_input"},
    };
    for (const auto& [role, status] : cases) {
        SCOPED_TRACE(role);
        macsim::reset();
        macsim::element("field").attributes["AXRole"] = Read::of(macsim::text(role));
        macsim::element("field").attributes["AXValue"] = Read::of(macsim::Number{7});
        expectFailure(resolveFrom("field"), status, macsim::utf16(role), std::nullopt);
        if (std::string(status) == "no_focused_text_input") {
            EXPECT_EQ(macsim::callStrings(), focusedReads("field") + nonCandidate("field"));
        }
    }
}

TEST_F(ContextResolution, SixthAncestorIsTheLastExaminedAndItsParentIsReadButNotExamined) {
    // Groups g0 (focused) .. g6, each the parent of the one before, under a text field g7.
    Calls expected = focusedReads("g0");
    for (int i = 0; i < 7; ++i) {
        const std::string name = "g" + std::to_string(i);
        group(name);
        parentOf(name, "g" + std::to_string(i + 1));
        expected = expected + nonCandidate(name);
    }
    textInput("g7", "AXTextField", "never looked at");

    expectFailure(resolveFrom("g0"), "no_focused_text_input", u"AXGroup", std::nullopt);
    EXPECT_EQ(macsim::callStrings(), expected);
}

TEST_F(ContextResolution, NoFocusedTextInputCarriesTheRoleReadBeforeTheWalk) {
    group("cell").attributes["AXSubrole"] = Read::of(macsim::text("AXCell"));
    // The role changes between the first read and the examination of the same element.
    macsim::onCall("AXUIElementCopyAttributeValue", 3, [] {
        macsim::element("cell").attributes["AXRole"] = Read::of(macsim::text("AXChanged"));
    });
    expectFailure(resolveFrom("cell"), "no_focused_text_input", u"AXGroup", u"AXCell");
}

// Six candidates up a chain of parents, each failing another of the six checks (the scenarios
// show each failure's answer): each one's calls stop at the check that fails, and its parent is
// read; the failure of the highest is the answer, with its role and subrole, though its check
// comes first.
TEST_F(ContextResolution, EachCheckStopsTheCallsWhereItFailsAndTheHighestFailureWins) {
    const struct {
        const char* attribute;    // the attribute spoilt
        std::optional<Read> read; // its read; none: its settable test fails
        std::size_t checkCalls;   // check calls made before the failure shows
    } checks[] = {
        {"AXSelectedTextRange", std::nullopt, 3},                       // selection_not_settable
        {"AXSelectedTextRange", Read::of(macsim::PointValue{1, 2}), 2}, // selection_not_range
        {"AXSelectedTextRange", Read::none(), 2},                       // selection_unavailable
        {"AXValue", std::nullopt, 1},                                   // value_not_settable
        {"AXValue", Read::of(macsim::AttributedText{u"styled"}), 0},    // value_not_string
        {"AXValue", Read::none(), 0},                                   // value_unavailable
    };
    Calls expected = focusedReads("f0");
    for (std::size_t i = 0; i < std::size(checks); ++i) {
        const std::string name = "f" + std::to_string(i);
        const bool highest = i + 1 == std::size(checks);
        macsim::Element& field = textInput(name, highest ? "AXTextArea" : "AXTextField", "value");
        field.attributes["AXSubrole"] = Read::of(macsim::text(highest ? "AXOuter" : "AXInner"));
        if (checks[i].read) {
            field.attributes[checks[i].attribute] = *checks[i].read;
        } else {
            field.settable[checks[i].attribute] = {kAXErrorSuccess, false};
        }
        if (!highest) {
            parentOf(name, "f" + std::to_string(i + 1));
        }
        expected = expected + failing(name, checks[i].checkCalls);
    }
    expectFailure(resolveFrom("f0"), "value_unavailable", u"AXTextArea", u"AXOuter");
    EXPECT_EQ(macsim::callStrings(), expected);
}

} // namespace
