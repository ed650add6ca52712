// The splice and the write-back: values, ranges and texts counted in UTF-16 code units, the bounds
// test, the two writes in their order, and where each failure stops the calls.
#include "scribbet/splice.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using macsim::ElementValue;
using scribbet::HelperResponse;
using scribbet::TextInsertionContext;

constexpr CFIndex maxIndex = INT64_MAX;
constexpr pid_t targetPid = 412;

const std::string setValue = "AXUIElementSetAttributeValue field AXValue";
const std::string createRange = "AXValueCreate";
const std::string setCaret = "AXUIElementSetAttributeValue field AXSelectedTextRange";

class Splice : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        // Differs from every captured value: the splice must start from the context's value.
        macsim::element("field").attributes["AXValue"] = macsim::Read::of(macsim::text("old"));
    }
    // Runs the splice on "field" as a resolved context would hand it over.
    static HelperResponse insert(std::u16string value, CFRange range, const std::u16string& text,
                                 std::optional<std::u16string> role = u"AXTextArea",
                                 std::optional<std::u16string> subrole = std::nullopt,
                                 std::optional<pid_t> focusedPid = targetPid) {
        TextInsertionContext context{
            base::adopt(static_cast<AXUIElementRef>(macsim::createObject(ElementValue{"field"}))),
            std::move(role), std::move(subrole), std::move(value), range};
        HelperResponse response =
            scribbet::runDirectInsertion(std::move(context), text, targetPid, focusedPid);
        EXPECT_EQ(macsim::liveObjects(), 0u)
            << "the context's element and every value made must be released on return: "
            << ::testing::PrintToString(macsim::liveObjectDescriptions());
        return response;
    }
};

void expectWrite(std::size_t index, const std::string& attribute, const macsim::Value& value) {
    ASSERT_LT(index, macsim::writes().size());
    const macsim::Write& write = macsim::writes()[index];
    EXPECT_EQ(write.target, "field");
    EXPECT_EQ(write.attribute, attribute);
    // Compared without printing: a long value would fill the log.
    EXPECT_TRUE(write.value == value) << attribute;
}

const char* const insertedLine =
    R"({"status":"inserted","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
    R"("selectionUpdated":true})";
const char* const outOfBoundsLine =
    R"({"status":"selection_not_range","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
    R"("error":"selection_out_of_bounds"})";

struct SpliceCase {
    std::string name;
    std::u16string value;
    CFIndex location;
    CFIndex length;
    std::u16string text;
    std::optional<std::u16string> expected; // none: the range is refused
    CFIndex caret = 0;
};

std::ostream& operator<<(std::ostream& out, const SpliceCase& c) {
    return out << c.name;
}

const std::u16string smiley = u"\U0001F600";  // two code units: D83D DE00
const std::u16string longValue(70'000, u'a'); // positions past 16 bits

const SpliceCase spliceCases[] = {
    {"AppendsAtTheEnd", u"Hello", 5, 0, u"!", u"Hello!", 6},
    {"ReplacesTheWholeValue", u"Hello", 0, 5, u"Bye", u"Bye", 3},
    {"EmptyTextAndSelectionStillWrites", u"Hello", 2, 0, u"", u"Hello", 2},
    {"CombiningSequenceTextCountsTwo", u"ab", 1, 0, u"e\u0301", u"ae\u0301b", 3},
    {"BoundaryBetweenSurrogateHalvesIsSplicedAsUnits", u"a" + smiley + u"b", 2, 0, u"X",
     std::u16string{u'a', char16_t{0xD83D}, u'X', char16_t{0xDE00}, u'b'}, 3},
    {"PositionsPast16Bits", longValue, 69'999, 1, smiley, longValue.substr(1) + smiley, 70'001},
    {"LocationMinusOne", u"abc", -1, 0, u"Z", std::nullopt},
    {"NegativeLength", u"abc", 1, -1, u"Z", std::nullopt},
    {"SumOverflowingInt64", u"abc", 2, maxIndex, u"Z", std::nullopt},
};

class SpliceTable : public Splice, public ::testing::WithParamInterface<SpliceCase> {};

TEST_P(SpliceTable, WritesTheSplicedValueThenTheCaret) {
    const SpliceCase& c = GetParam();

    const HelperResponse response = insert(c.value, CFRangeMake(c.location, c.length), c.text);

    if (!c.expected) {
        EXPECT_EQ(scribbet::encode(response), outOfBoundsLine);
        EXPECT_TRUE(macsim::callStrings().empty());
        return;
    }
    EXPECT_EQ(scribbet::encode(response), insertedLine);
    EXPECT_EQ(macsim::callStrings(), (std::vector<std::string>{setValue, createRange, setCaret}));
    ASSERT_EQ(macsim::writes().size(), 2u);
    expectWrite(0, "AXValue", *c.expected);
    expectWrite(1, "AXSelectedTextRange", macsim::range(c.caret, 0));
}

INSTANTIATE_TEST_SUITE_P(Values, SpliceTable, ::testing::ValuesIn(spliceCases),
                         [](const auto& test) { return test.param.name; });

// Each failure stops the calls where it shows, with nothing left alive (see insert); the lines
// and the writes are the scenarios' to check.
TEST_F(Splice, EachFailureStopsWhereItShows) {
    struct Case {
        const char* name;
        std::map<std::string, AXError> writeErrors;
        bool caretValueFails;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"value write refused", {{"AXValue", kAXErrorCannotComplete}}, false, {setValue}},
        {"caret value not made", {}, true, {setValue, createRange}},
        {"caret write refused",
         {{"AXSelectedTextRange", kAXErrorAttributeUnsupported}},
         false,
         {setValue, createRange, setCaret}},
    };
    for (const Case& c : cases) {
        SetUp();
        macsim::element("field").writeErrors = c.writeErrors;
        macsim::failures().axValueCreate = c.caretValueFails;
        static_cast<void>(insert(u"abc", CFRangeMake(1, 1), u"XY"));
        EXPECT_EQ(macsim::callStrings(), c.calls) << c.name;
    }
}

TEST_F(Splice, ResponsesCarryTheContextsFieldsOnlyWhenKnown) {
    EXPECT_EQ(scribbet::encode(insert(u"", CFRangeMake(0, 0), u"x", std::nullopt, u"AXSearchField",
                                      std::nullopt)),
              R"({"status":"inserted","subrole":"AXSearchField","targetPid":412,)"
              R"("selectionUpdated":true})");
}

} // namespace
