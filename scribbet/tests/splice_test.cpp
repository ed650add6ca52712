// The write-back of a splice, for what the scenarios and the splice fuzz target do not tell apart:
// the read-backs whose outcome neither scripts (a value changed otherwise, a long value, a read
// that fails, a selection kept once), with the calls in their order.
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
        macsim::element("field");
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
    std::u16string nearlyLongWritten = longValue;
    nearlyLongWritten[69'998] = u'b';
    nearlyLongWritten.back() = u'X';
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
    };
    const Case cases[] = {
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
        EXPECT_EQ(scribbet::encode(insert(c.value, c.range, c.text)), c.line);
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
