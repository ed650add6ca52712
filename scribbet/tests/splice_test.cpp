// The splice and the write-back: values, ranges and texts counted in UTF-16 code units, the two
// writes in their order, and where each failure stops the calls.
#include "scribbet/splice.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

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

const std::string readValue = "AXUIElementCopyAttributeValue field AXValue";
const std::string readRange = "AXUIElementCopyAttributeValue field AXSelectedTextRange";

std::string line(const std::string& status, const std::string& tail) {
    return R"({"status":")" + status + R"(","role":"AXTextArea","targetPid":412,"focusedPid":412)" +
           tail + "}";
}

// Each write is read back once; what it reads decides the line and where the calls stop, and
// nothing is left alive (see insert). "abc" with "b" selected becomes "aXYc", caret at 3, unless
// a case says otherwise.
TEST_F(Splice, EachReadBackDecidesTheAnswer) {
    using macsim::WriteOutcome;
    const std::u16string longValue(70'000, u'a'); // compared in more than one piece
    std::u16string longWritten = longValue;
    longWritten.back() = u'X';
    std::u16string nearlyLongWritten = longWritten;
    nearlyLongWritten[69'998] = u'b';
    const std::vector<std::string> allCalls = {setValue, readValue, createRange, setCaret,
                                               readRange};
    const std::string inserted = line("inserted", R"(,"selectionUpdated":true)");
    struct Case {
        const char* name;
        std::function<void(macsim::Element&)> arrange;
        std::string line;
        std::vector<std::string> calls;
        std::u16string value = u"abc";
        CFRange range = CFRangeMake(1, 1);
        std::u16string text = u"XY";
        std::optional<std::u16string> subrole = std::nullopt;
    };
    const Case cases[] = {
        {"value refused: nothing read back",
         [](macsim::Element& e) { e.writeErrors["AXValue"] = kAXErrorAttributeUnsupported; },
         line("set_value_failed", R"(,"error":"attribute_unsupported")"),
         {setValue}},
        {"value answer too late, old value still there",
         [](macsim::Element& e) { e.writeErrors["AXValue"] = kAXErrorCannotComplete; },
         line("set_value_failed", R"(,"error":"cannot_complete")"),
         {setValue, readValue}},
        {"value answer too late, the value landed",
         [](macsim::Element& e) {
             e.writeOutcomes["AXValue"] = WriteOutcome::storingWritten(kAXErrorCannotComplete);
         },
         inserted, allCalls},
        {"value answer too late, a long value that differs in its last piece only",
         [&](macsim::Element& e) {
             e.writeOutcomes["AXValue"] =
                 WriteOutcome::storing(nearlyLongWritten, kAXErrorCannotComplete);
         },
         line("set_value_failed", R"(,"error":"cannot_complete")"),
         {setValue, readValue},
         longValue,
         CFRangeMake(69'999, 1),
         u"X"},
        {"value accepted and ignored",
         [](macsim::Element& e) { e.writeOutcomes["AXValue"] = WriteOutcome::keepingOld(); },
         line("set_value_failed", R"(,"error":"failure")"),
         {setValue, readValue}},
        {"value accepted and ignored, but the same as ours",
         [](macsim::Element& e) { e.writeOutcomes["AXValue"] = WriteOutcome::keepingOld(); },
         line("inserted", R"(,"selectionUpdated":true)"), allCalls, u"abc", CFRangeMake(1, 1),
         u"b"},
        // Neither ours nor the old one, each off by one unit in another part of the value.
        {"value changed otherwise: the head differs",
         [](macsim::Element& e) {
             e.writeOutcomes["AXValue"] = WriteOutcome::storing(macsim::text("xbc"));
         },
         inserted, allCalls},
        {"value changed otherwise: the tail differs",
         [](macsim::Element& e) {
             e.writeOutcomes["AXValue"] = WriteOutcome::storing(macsim::text("abd"));
         },
         inserted, allCalls},
        {"value changed otherwise: one unit longer",
         [](macsim::Element& e) {
             e.writeOutcomes["AXValue"] = WriteOutcome::storing(macsim::text("abcc"));
         },
         inserted, allCalls},
        {"value unreadable after the write",
         [](macsim::Element& e) {
             e.writeOutcomes["AXValue"] = WriteOutcome::keepingOld();
             macsim::onCall("AXUIElementCopyAttributeValue", 1, [] {
                 macsim::element("field").attributes["AXValue"] =
                     macsim::Read::error(kAXErrorCannotComplete);
             });
         },
         inserted, allCalls},
        {"secure field: its mask is not read back",
         [](macsim::Element& e) { e.writeOutcomes["AXValue"] = WriteOutcome::keepingOld(); },
         R"({"status":"inserted","role":"AXTextArea","subrole":"AXSecureTextField",)"
         R"("targetPid":412,"focusedPid":412,"selectionUpdated":true})",
         {setValue, createRange, setCaret, readRange},
         u"",
         CFRangeMake(0, 0),
         u"XY",
         u"AXSecureTextField"},
        {"secure field: an answer too late is a failure",
         [](macsim::Element& e) {
             e.writeOutcomes["AXValue"] = WriteOutcome::storingWritten(kAXErrorCannotComplete);
         },
         R"({"status":"set_value_failed","role":"AXTextArea","subrole":"AXSecureTextField",)"
         R"("targetPid":412,"focusedPid":412,"error":"cannot_complete"})",
         {setValue},
         u"",
         CFRangeMake(0, 0),
         u"XY",
         u"AXSecureTextField"},
        {"caret value not made",
         [](macsim::Element&) { macsim::failures().axValueCreate = true; },
         line("inserted", R"(,"selectionUpdated":false,"error":"selection_value_create_failed")"),
         {setValue, readValue, createRange}},
        {"caret refused",
         [](macsim::Element& e) {
             e.writeErrors["AXSelectedTextRange"] = kAXErrorAttributeUnsupported;
         },
         line("inserted", R"(,"selectionUpdated":false,"error":"attribute_unsupported")"),
         {setValue, readValue, createRange, setCaret}},
        {"caret taken, selection kept twice",
         [](macsim::Element& e) {
             e.writeOutcomes["AXSelectedTextRange"] = WriteOutcome::storing(macsim::range(3, 1));
         },
         line("inserted", R"(,"selectionUpdated":false,"error":"failure")"),
         {setValue, readValue, createRange, setCaret, readRange, setCaret, readRange}},
        {"caret taken, selection kept once",
         [](macsim::Element& e) {
             e.writeOutcomes["AXSelectedTextRange"] = WriteOutcome::storing(macsim::range(3, 1));
             macsim::onCall("AXUIElementSetAttributeValue", 3, [] {
                 macsim::element("field").writeOutcomes.erase("AXSelectedTextRange");
             });
         },
         inserted,
         {setValue, readValue, createRange, setCaret, readRange, setCaret, readRange}},
        {"caret taken, selection kept, caret refused the second time",
         [](macsim::Element& e) {
             e.writeOutcomes["AXSelectedTextRange"] = WriteOutcome::storing(macsim::range(3, 1));
             macsim::onCall("AXUIElementSetAttributeValue", 3, [] {
                 macsim::element("field").writeOutcomes["AXSelectedTextRange"] =
                     WriteOutcome::keepingOld(kAXErrorCannotComplete);
             });
         },
         line("inserted", R"(,"selectionUpdated":false,"error":"cannot_complete")"),
         {setValue, readValue, createRange, setCaret, readRange, setCaret}},
        {"selection unreadable after the caret",
         [](macsim::Element& e) {
             e.writeOutcomes["AXSelectedTextRange"] = WriteOutcome::keepingOld();
             e.attributes["AXSelectedTextRange"] = macsim::Read::error(kAXErrorCannotComplete);
         },
         inserted, allCalls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        macsim::Element& field = macsim::element("field");
        field.attributes["AXValue"] = macsim::Read::of(c.value);
        c.arrange(field);
        EXPECT_EQ(scribbet::encode(insert(c.value, c.range, c.text, u"AXTextArea", c.subrole)),
                  c.line);
        EXPECT_EQ(macsim::callStrings(), c.calls);
    }
}

TEST_F(Splice, ResponsesCarryTheContextsFieldsOnlyWhenKnown) {
    EXPECT_EQ(scribbet::encode(insert(u"", CFRangeMake(0, 0), u"x", std::nullopt, u"AXSearchField",
                                      std::nullopt)),
              R"({"status":"inserted","subrole":"AXSearchField","targetPid":412,)"
              R"("selectionUpdated":true})");
}

} // namespace
