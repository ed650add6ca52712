// The splice and the write-back: values, ranges and texts counted in UTF-16 code units, the two
// writes in their order, and where each failure stops the calls.
#include "scribbet/splice.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

namespace {

using macsim::ElementValue;
using scribbet::HelperResponse;
using scribbet::TextInsertionContext;

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

// Examples in UTF-16 code units; the splice fuzz target holds every value, range and text
// against a model of its own.
TEST_F(Splice, WritesTheSplicedValueThenTheCaretCountedInUtf16Units) {
    const std::u16string smiley = u"\U0001F600";  // two code units: D83D DE00
    const std::u16string longValue(70'000, u'a'); // positions past 16 bits
    const struct {
        const char* name;
        std::u16string value;
        CFRange range;
        std::u16string text;
        std::u16string expected;
        CFIndex caret;
    } cases[] = {
        {"between surrogate halves",
         u"a" + smiley + u"b",
         {2, 0},
         u"X",
         std::u16string{u'a', char16_t{0xD83D}, u'X', char16_t{0xDE00}, u'b'},
         3},
        {"past 16 bits", longValue, {69'999, 1}, smiley, longValue.substr(1) + smiley, 70'001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        EXPECT_EQ(scribbet::encode(insert(c.value, c.range, c.text)), insertedLine);
        ASSERT_EQ(macsim::writes().size(), 2u);
        expectWrite(0, "AXValue", c.expected);
        expectWrite(1, "AXSelectedTextRange", macsim::range(c.caret, 0));
    }
}

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
