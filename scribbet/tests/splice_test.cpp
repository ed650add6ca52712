// The splice and the write-back: values, ranges and texts counted in UTF-16 code units, the bounds
// test in its order, the two writes in their order, and the result rows of each outcome.
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

void expectWrite(std::size_t index, const std::string& attribute, const macsim::Value& value,
                 AXError result = kAXErrorSuccess) {
    ASSERT_LT(index, macsim::writes().size());
    const macsim::Write& write = macsim::writes()[index];
    EXPECT_EQ(write.target, "field");
    EXPECT_EQ(write.attribute, attribute);
    EXPECT_EQ(write.value, value) << macsim::describe(write.value) << " vs "
                                  << macsim::describe(value);
    EXPECT_EQ(write.result, result);
}

const char* const rowK =
    R"({"status":"inserted","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
    R"("selectionUpdated":true})";
const char* const rowG =
    R"({"status":"selection_not_range","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
    R"("error":"selection_out_of_bounds"})";

// ---- The splice as a table -------------------------------------------------------------------

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

const std::u16string smiley = u"\U0001F600"; // two code units: D83D DE00

const SpliceCase spliceCases[] = {
    {"ReplacesTheSelection", u"Hello world", 6, 5, u"there", u"Hello there", 11},
    {"AppendsAtTheEnd", u"Hello", 5, 0, u"!", u"Hello!", 6},
    {"ReplacesTheWholeValue", u"Hello", 0, 5, u"Bye", u"Bye", 3},
    {"EmptyTextAndSelectionStillWrites", u"Hello", 2, 0, u"", u"Hello", 2},
    {"NonBmpTextMovesTheCaretByTwo", u"ab", 1, 0, smiley, u"a" + smiley + u"b", 3},
    {"NonBmpValueIsMeasuredInUnits", smiley + u"x" + smiley, 2, 1, u"y", smiley + u"y" + smiley, 3},
    {"CombiningSequenceTextCountsTwo", u"ab", 1, 0, u"e\u0301", u"ae\u0301b", 3},
    {"BoundaryBetweenSurrogateHalvesIsSplicedAsUnits", u"a" + smiley + u"b", 2, 0, u"X",
     std::u16string{u'a', char16_t{0xD83D}, u'X', char16_t{0xDE00}, u'b'}, 3},
    {"LocationAtTheEndWithLength", u"abc", 3, 1, u"Z", std::nullopt},
    {"LocationMinusOne", u"abc", -1, 0, u"Z", std::nullopt},
    {"NegativeLength", u"abc", 1, -1, u"Z", std::nullopt},
    {"SumOverflowingInt64", u"abc", 2, maxIndex, u"Z", std::nullopt},
};

class SpliceTable : public Splice, public ::testing::WithParamInterface<SpliceCase> {};

TEST_P(SpliceTable, WritesTheSplicedValueThenTheCaret) {
    const SpliceCase& c = GetParam();

    const HelperResponse response = insert(c.value, CFRangeMake(c.location, c.length), c.text);

    if (!c.expected) {
        EXPECT_EQ(scribbet::encode(response), rowG);
        EXPECT_TRUE(macsim::writes().empty());
        EXPECT_TRUE(macsim::callStrings().empty());
        return;
    }
    EXPECT_EQ(scribbet::encode(response), rowK);
    EXPECT_EQ(macsim::callStrings(), (std::vector<std::string>{setValue, createRange, setCaret}));
    ASSERT_EQ(macsim::writes().size(), 2u);
    expectWrite(0, "AXValue", *c.expected);
    expectWrite(1, "AXSelectedTextRange", macsim::range(c.caret, 0));
}

INSTANTIATE_TEST_SUITE_P(Values, SpliceTable, ::testing::ValuesIn(spliceCases),
                         [](const auto& test) { return test.param.name; });

TEST_F(Splice, MebibyteValue) {
    // 2^20 code units: runs of ASCII, a combining sequence and a surrogate pair.
    const std::u16string unit = u"abcde\u0301" + smiley; // 8 code units
    std::u16string value;
    for (int i = 0; i < (1 << 17); ++i) {
        value += unit;
    }
    ASSERT_EQ(value.size(), std::size_t{1} << 20);
    const std::u16string text(1024, u'\u00fc');
    const CFIndex location = (1 << 19) + 7; // between the halves of a surrogate pair
    const CFIndex length = 4096;

    const HelperResponse response = insert(value, CFRangeMake(location, length), text);

    EXPECT_EQ(scribbet::encode(response), rowK);
    ASSERT_EQ(macsim::writes().size(), 2u);
    // Compared without printing: a difference would fill the log with a mebibyte.
    EXPECT_TRUE(macsim::writes()[0].value ==
                macsim::Value(value.substr(0, location) + text + value.substr(location + length)));
    expectWrite(1, "AXSelectedTextRange", macsim::range(location + 1024, 0));
}

// ---- Outcome rows H, I and J ------------------------------------------------------------------

struct OutcomeCase {
    std::string name;
    AXError valueError;
    bool caretValueFails;
    AXError caretError;
    std::string line;
    std::vector<std::string> calls;
};

std::ostream& operator<<(std::ostream& out, const OutcomeCase& c) {
    return out << c.name;
}

const OutcomeCase outcomeCases[] = {
    {"H_ValueWriteFailed",
     kAXErrorCannotComplete,
     false,
     kAXErrorSuccess,
     R"({"status":"set_value_failed","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
     R"("error":"cannot_complete"})",
     {setValue}},
    {"I_CaretValueNotMade",
     kAXErrorSuccess,
     true,
     kAXErrorSuccess,
     R"({"status":"inserted","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
     R"("selectionUpdated":false,"error":"selection_value_create_failed"})",
     {setValue, createRange}},
    {"J_CaretWriteFailed",
     kAXErrorSuccess,
     false,
     kAXErrorAttributeUnsupported,
     R"({"status":"inserted","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
     R"("selectionUpdated":false,"error":"attribute_unsupported"})",
     {setValue, createRange, setCaret}},
};

class SpliceOutcome : public Splice, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(SpliceOutcome, StopsWhereTheFailureShowsAndUndoesNothing) {
    const OutcomeCase& c = GetParam();
    // An entry refuses the write with its code, so only failing writes get one.
    for (const auto& [attribute, code] :
         {std::pair{"AXValue", c.valueError}, std::pair{"AXSelectedTextRange", c.caretError}}) {
        if (code != kAXErrorSuccess) {
            macsim::element("field").writeErrors[attribute] = code;
        }
    }
    macsim::failures().axValueCreate = c.caretValueFails;

    EXPECT_EQ(scribbet::encode(insert(u"abc", CFRangeMake(1, 1), u"XY")), c.line);

    EXPECT_EQ(macsim::callStrings(), c.calls);
    const bool caretWritten = c.calls.size() == 3;
    ASSERT_EQ(macsim::writes().size(), caretWritten ? 2u : 1u);
    expectWrite(0, "AXValue", macsim::text("aXYc"), c.valueError);
    if (caretWritten) {
        expectWrite(1, "AXSelectedTextRange", macsim::range(3, 0), c.caretError);
    }
    EXPECT_EQ(macsim::element("field").attributes["AXValue"].value,
              std::optional<macsim::Value>(
                  macsim::text(c.valueError == kAXErrorSuccess ? "aXYc" : "old")));
}

INSTANTIATE_TEST_SUITE_P(Rows, SpliceOutcome, ::testing::ValuesIn(outcomeCases),
                         [](const auto& test) { return test.param.name; });

TEST_F(Splice, ResponsesCarryTheContextsFieldsOnlyWhenKnown) {
    EXPECT_EQ(scribbet::encode(insert(u"", CFRangeMake(0, 0), u"x", std::nullopt, u"AXSearchField",
                                      std::nullopt)),
              R"({"status":"inserted","subrole":"AXSearchField","targetPid":412,)"
              R"("selectionUpdated":true})");
}

} // namespace
