// The Accessibility wrappers against the simulated desktop: each outcome, and no object left
// alive that a wrapper did not hand on.
#include "scribbet/ax.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

namespace scribbet {
namespace {

using macsim::Read;
using std::nullopt;

class Wrappers : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
        macsim::element("other");
        element_ = base::adopt(
            static_cast<AXUIElementRef>(macsim::createObject(macsim::ElementValue{"field"})));
    }
    void TearDown() override {
        element_.reset();
        EXPECT_EQ(macsim::liveObjects(), 0u);
    }
    void give(Read read) { macsim::element("field").attributes["AXValue"] = std::move(read); }
    AXUIElementRef field() const { return element_.get(); }

private:
    ElementPtr element_;
};

TEST_F(Wrappers, CopyAttributeValueOutcomes) {
    give(Read::of(macsim::text("v")));
    EXPECT_NE(copyAttributeValue(field(), CFSTR("AXValue")), nullptr);
    give(Read::none());
    EXPECT_EQ(copyAttributeValue(field(), CFSTR("AXValue")), nullptr);
    give(Read::error(kAXErrorNoValue));
    EXPECT_EQ(copyAttributeValue(field(), CFSTR("AXValue")), nullptr);
    give(Read::errorLeaving(kAXErrorCannotComplete, macsim::text("left behind")));
    EXPECT_EQ(copyAttributeValue(field(), CFSTR("AXValue")), nullptr);
    EXPECT_EQ(macsim::liveObjects(), 1u) << "the value left with the error must be released";
    EXPECT_EQ(copyAttributeValue(field(), CFSTR("AXUnlisted")), nullptr);
}

TEST_F(Wrappers, CopyElementAttributeTakesOnlyElements) {
    give(Read::of(macsim::ElementValue{"other"}));
    {
        const ElementPtr parent = copyElementAttribute(field(), CFSTR("AXValue"));
        ASSERT_NE(parent, nullptr);
        EXPECT_EQ(CFGetRetainCount(parent.get()), 1);
        EXPECT_EQ(macsim::valueOf(parent.get()), macsim::Value{macsim::ElementValue{"other"}});
    }
    for (const Read& read : {Read::none(), Read::error(kAXErrorNoValue),
                             Read::errorLeaving(kAXErrorFailure, macsim::ElementValue{"other"}),
                             Read::of(macsim::text("not an element"))}) {
        give(read);
        EXPECT_EQ(copyElementAttribute(field(), CFSTR("AXValue")), nullptr);
        EXPECT_EQ(macsim::liveObjects(), 1u);
    }
}

TEST_F(Wrappers, ParseSelectedTextRange) {
    struct Case {
        const char* name;
        macsim::Value value;
        std::optional<std::pair<CFIndex, CFIndex>> expected;
    };
    const Case cases[] = {
        {"negative location unchanged", macsim::range(-1, 0), std::pair<CFIndex, CFIndex>{-1, 0}},
        {"huge length unchanged", macsim::range(0, INT64_MAX),
         std::pair<CFIndex, CFIndex>{0, INT64_MAX}},
        {"cannot be copied out", macsim::RangeValue{{1, 1}, true}, nullopt},
        {"string", macsim::text("6,5"), nullopt},
    };
    for (const auto& c : cases) {
        const ValuePtr value = base::adopt(macsim::createObject(c.value));
        const auto range = parseSelectedTextRange(value.get());
        ASSERT_EQ(range.has_value(), c.expected.has_value()) << c.name;
        if (range) {
            EXPECT_EQ(range->location, c.expected->first) << c.name;
            EXPECT_EQ(range->length, c.expected->second) << c.name;
        }
        EXPECT_EQ(CFGetRetainCount(value.get()), 1) << c.name << ": the value is only borrowed";
    }
}

// A failed test counts as not settable, even when it set the flag.
TEST_F(Wrappers, FailedSettableTestIsNotSettableWhateverTheFlag) {
    macsim::element("field").settable["AXValue"] = {kAXErrorCannotComplete, true};
    EXPECT_FALSE(isAttributeSettable(field(), CFSTR("AXValue")));
}

TEST(AxErrorLabel, WholeBlockAndNeighbours) {
    const std::pair<int, const char*> cases[] = {
        {0, "success"},
        {-25200, "failure"},
        {-25201, "illegal_argument"},
        {-25202, "invalid_ui_element"},
        {-25203, "invalid_ui_element_observer"},
        {-25204, "cannot_complete"},
        {-25205, "attribute_unsupported"},
        {-25206, "action_unsupported"},
        {-25207, "notification_unsupported"},
        {-25208, "not_implemented"},
        {-25209, "notification_already_registered"},
        {-25210, "notification_not_registered"},
        {-25211, "api_disabled"},
        {-25212, "no_value"},
        {-25213, "parameterized_attribute_unsupported"},
        {-25214, "not_enough_precision"},
        {-25199, "ax_error_-25199"},
        {-25215, "ax_error_-25215"},
        {1, "ax_error_1"},
        {-1, "ax_error_-1"},
        {INT32_MIN, "ax_error_-2147483648"},
        {INT32_MAX, "ax_error_2147483647"},
    };
    for (const auto& [code, label] : cases) {
        EXPECT_EQ(axErrorLabel(static_cast<AXError>(code)), label) << code;
    }
}

} // namespace
} // namespace scribbet
