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
        macsim::desktop().trusted = true;
        macsim::element("field").attributes["AXValue"] = macsim::Read::of(macsim::text("old"));
    }
    void TearDown() override {
        EXPECT_EQ(macsim::liveObjects(), 0u)
            << ::testing::PrintToString(macsim::liveObjectDescriptions());
    }

    // Runs the splice on "field" as a resolved context would hand it over.
    static HelperResponse insert(std::u16string value, CFRange range, const std::u16string& text,
                                 std::optional<std::u16string> role = u"AXTextArea",
                                 std::optional<std::u16string> subrole = std::nullopt,
                                 std::optional<pid_t> focusedPid = targetPid) {
        TextInsertionContext context{scribbet::adopt(static_cast<AXUIElementRef>(
                                         macsim::createObject(ElementValue{"field"}))),
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
    {"InsertsAtTheCaret", u"Hello", 2, 0, u"XY", u"HeXYllo", 4},
    {"AppendsAtTheEnd", u"Hello", 5, 0, u"!", u"Hello!", 6},
    {"ReplacesTheWholeValue", u"Hello", 0, 5, u"Bye", u"Bye", 3},
    {"EmptyTextDeletesTheSelection", u"Hello", 1, 3, u"", u"Ho", 1},
    {"EmptyTextAndSelectionStillWrites", u"Hello", 2, 0, u"", u"Hello", 2},
    {"EmptyValueTakesTheText", u"", 0, 0, u"new", u"new", 3},
    {"NonBmpTextMovesTheCaretByTwo", u"ab", 1, 0, smiley, u"a" + smiley + u"b", 3},
    {"NonBmpValueIsMeasuredInUnits", smiley + u"x" + smiley, 2, 1, u"y", smiley + u"y" + smiley, 3},
    {"SelectionAfterNonBmpLinesUp", u"\u00e9" + smiley + u"x", 3, 1, u"yz",
     u"\u00e9" + smiley + u"yz", 5},
    {"CombiningSequenceTextCountsTwo", u"ab", 1, 0, u"e\u0301", u"ae\u0301b", 3},
    {"PrecomposedTextCountsOne", u"ab", 1, 0, u"\u00e9", u"a\u00e9b", 2},
    {"CombiningMarkInTheValueIsItsOwnUnit", u"e\u0301x", 1, 1, u"", u"ex", 1},
    {"BoundaryBetweenSurrogateHalvesIsSplicedAsUnits", u"a" + smiley + u"b", 2, 0, u"X",
     std::u16string{u'a', char16_t{0xD83D}, u'X', char16_t{0xDE00}, u'b'}, 3},
    {"SelectionOfOneSurrogateHalf", u"a" + smiley + u"b", 1, 1, u"",
     std::u16string{u'a', char16_t{0xDE00}, u'b'}, 1},
    {"TrailingLineFeedIsInserted", u"ab", 2, 0, u"line\n", u"abline\n", 7},
    {"RangeEndingExactlyAtTheEnd", u"abc", 1, 2, u"Z", u"aZ", 2},
    {"LocationAtTheEndWithLength", u"abc", 3, 1, u"Z", std::nullopt},
    {"LocationMinusOne", u"abc", -1, 0, u"Z", std::nullopt},
    {"NegativeLength", u"abc", 1, -1, u"Z", std::nullopt},
    {"LocationPastTheEnd", u"abc", 4, 0, u"Z", std::nullopt},
    {"EndPastTheEnd", u"abc", 1, 3, u"Z", std::nullopt},
    {"EndPastTheEndOfAnEmptyValue", u"", 0, 1, u"Z", std::nullopt},
    {"SumOverflowingInt64", u"abc", 2, maxIndex, u"Z", std::nullopt},
    {"LargestLocationAndLength", u"abc", maxIndex, maxIndex, u"Z", std::nullopt},
    {"SmallestLocation", u"abc", INT64_MIN, 1, u"Z", std::nullopt},
    {"SmallestLength", u"abc", 0, INT64_MIN, u"Z", std::nullopt},
    {"RangeInBytesWouldBeRefused", u"\u00e9\u00e9", 2, 0, u"!", u"\u00e9\u00e9!", 3},
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

TEST(SpliceSelection, CountsUnitsAndRefusesRangesOutsideTheValue) {
    EXPECT_EQ(scribbet::spliceSelection(u"a" + smiley, CFRangeMake(1, 2), u"b"), u"ab");
    EXPECT_EQ(scribbet::spliceSelection(u"abc", CFRangeMake(3, 0), u"d"), u"abcd");
    EXPECT_EQ(scribbet::spliceSelection(u"abc", CFRangeMake(3, 1), u"d"), std::nullopt);
    EXPECT_EQ(scribbet::spliceSelection(u"abc", CFRangeMake(3, maxIndex), u"d"), std::nullopt);
}

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
    const auto& written = std::get<std::u16string>(macsim::writes()[0].value);
    ASSERT_EQ(written.size(), value.size() - 4096 + 1024);
    EXPECT_EQ(written.compare(0, location, value, 0, location), 0);
    EXPECT_EQ(written.compare(location, 1024, text), 0);
    EXPECT_EQ(written.compare(location + 1024, std::u16string::npos, value, location + length), 0);
    expectWrite(1, "AXSelectedTextRange", macsim::range(location + 1024, 0));
}

// ---- Outcome rows ----------------------------------------------------------------------------

TEST_F(Splice, CapturedValueIsTheBaseAndNothingIsReadBack) {
    macsim::element("field").attributes["AXValue"] =
        macsim::Read::of(macsim::text("typed by the user meanwhile"));
    const HelperResponse response = insert(u"abc", CFRangeMake(1, 1), u"X");
    EXPECT_EQ(scribbet::encode(response), rowK);
    expectWrite(0, "AXValue", macsim::text("aXc"));
    EXPECT_EQ(macsim::callStrings(), (std::vector<std::string>{setValue, createRange, setCaret}));
}

struct WriteFailure {
    AXError code;
    std::string label;
};

const WriteFailure writeFailures[] = {
    {kAXErrorCannotComplete, "cannot_complete"},
    {kAXErrorInvalidUIElement, "invalid_ui_element"},
    {kAXErrorAttributeUnsupported, "attribute_unsupported"},
    {kAXErrorFailure, "failure"},
    {kAXErrorNotEnoughPrecision, "not_enough_precision"},
    {static_cast<AXError>(-25215), "ax_error_-25215"},
    {static_cast<AXError>(7), "ax_error_7"},
};

TEST_F(Splice, ValueWriteFailureLeavesTheSelectionAlone) {
    for (const WriteFailure& failure : writeFailures) {
        SCOPED_TRACE(failure.label);
        SetUp();
        macsim::element("field").writeErrors["AXValue"] = failure.code;

        const HelperResponse response = insert(u"abc", CFRangeMake(0, 3), u"new");

        EXPECT_EQ(scribbet::encode(response),
                  R"({"status":"set_value_failed","role":"AXTextArea","targetPid":412,)"
                  R"("focusedPid":412,"error":")" +
                      failure.label + R"("})");
        EXPECT_EQ(macsim::callStrings(), std::vector<std::string>{setValue});
        ASSERT_EQ(macsim::writes().size(), 1u);
        expectWrite(0, "AXValue", macsim::text("new"), failure.code);
        EXPECT_EQ(macsim::element("field").attributes["AXValue"].value,
                  std::optional<macsim::Value>(macsim::text("old")));
    }
}

TEST_F(Splice, CaretValueThatCannotBeMadeStillReportsInserted) {
    macsim::failures().axValueCreate = true;

    const HelperResponse response = insert(u"abc", CFRangeMake(3, 0), u"d");

    EXPECT_EQ(scribbet::encode(response),
              R"({"status":"inserted","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
              R"("selectionUpdated":false,"error":"selection_value_create_failed"})");
    EXPECT_EQ(macsim::callStrings(), (std::vector<std::string>{setValue, createRange}));
    ASSERT_EQ(macsim::writes().size(), 1u);
    expectWrite(0, "AXValue", macsim::text("abcd"));
}

TEST_F(Splice, CaretWriteFailureKeepsTheValue) {
    for (const WriteFailure& failure : writeFailures) {
        SCOPED_TRACE(failure.label);
        SetUp();
        macsim::element("field").writeErrors["AXSelectedTextRange"] = failure.code;

        const HelperResponse response = insert(u"abc", CFRangeMake(1, 1), u"XY");

        EXPECT_EQ(scribbet::encode(response),
                  R"({"status":"inserted","role":"AXTextArea","targetPid":412,"focusedPid":412,)"
                  R"("selectionUpdated":false,"error":")" +
                      failure.label + R"("})");
        EXPECT_EQ(macsim::callStrings(),
                  (std::vector<std::string>{setValue, createRange, setCaret}));
        ASSERT_EQ(macsim::writes().size(), 2u);
        expectWrite(0, "AXValue", macsim::text("aXYc"));
        expectWrite(1, "AXSelectedTextRange", macsim::range(3, 0), failure.code);
        // Nothing is undone.
        EXPECT_EQ(macsim::element("field").attributes["AXValue"].value,
                  std::optional<macsim::Value>(macsim::text("aXYc")));
    }
}

TEST_F(Splice, ResponsesCarryTheContextsFieldsOnlyWhenKnown) {
    EXPECT_EQ(scribbet::encode(insert(u"", CFRangeMake(0, 0), u"x", std::nullopt, u"AXSearchField",
                                      std::nullopt)),
              R"({"status":"inserted","subrole":"AXSearchField","targetPid":412,)"
              R"("selectionUpdated":true})");
    EXPECT_EQ(scribbet::encode(
                  insert(u"", CFRangeMake(1, 0), u"x", u"AXTextField\u00e9/", std::nullopt, 97)),
              "{\"status\":\"selection_not_range\",\"role\":\"AXTextField\xc3\xa9\\/\","
              "\"targetPid\":412,\"focusedPid\":97,\"error\":\"selection_out_of_bounds\"}");
}

} // namespace
