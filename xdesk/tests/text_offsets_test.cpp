// The offsets that AT-SPI and the tools exchange: characters or UTF-16 units, as each application
// counts, against the tools' UTF-16 units; and the span an edit touches.
#include "text_offsets.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using xdesk::ApplicationText;
using xdesk::InsidePair;
using xdesk::OffsetUnit;

// What three toolkits report for "a😀bc": GTK counts 4 characters, Qt and LibreOffice 5 UTF-16
// units, Gecko pads the emoji with U+FEFF and counts the 5 characters of that.
TEST(ApplicationText, EachWayOfCountingIsToldByTheReportedCount) {
    const std::u16string text = u"a\U0001F600bc";
    const std::u16string padded = u"a\U0001F600\uFEFFbc";
    const struct {
        std::u16string reported;
        long count;
        bool padded;
        std::optional<OffsetUnit> unit; // nothing: refused
    } rows[] = {
        {text, 4, false, OffsetUnit::characters},
        {text, 5, false, OffsetUnit::utf16},
        {padded, 5, true, OffsetUnit::utf16},
        {text, 6, false, std::nullopt}, // agrees with no way of counting
        {text, 3, false, std::nullopt},
        {text, 4, true, std::nullopt}, // a padding application without its padding
        {padded, 6, true, std::nullopt},
        {u"abc", 3, false, OffsetUnit::characters}, // no pair: either way is the same
        {u"abc", 4, false, std::nullopt},
    };
    for (const auto& row : rows) {
        const std::optional<ApplicationText> read =
            xdesk::applicationTextFrom(row.reported, row.count, row.padded);
        ASSERT_EQ(read.has_value(), row.unit.has_value()) << row.count << " " << row.padded;
        if (read) {
            EXPECT_EQ(read->unit, *row.unit);
            EXPECT_EQ(read->text, row.reported == u"abc" ? u"abc" : text); // padding taken out
        }
    }
}

// Offsets both ways in each way of counting: a caret after the emoji is 2 characters in or 3
// units in; a unit offset inside the pair goes to the side asked for, and an application offset
// between the two units of the pair is no offset at all. The desktop and application tests splice
// beside emoji in each way of counting; these are the offsets no application reports.
TEST(ApplicationText, OffsetsConvertInEitherWayOfCountingAndNeverLandInsideAPair) {
    const ApplicationText characters{u"a\U0001F600bc", OffsetUnit::characters};
    const ApplicationText units{u"a\U0001F600bc", OffsetUnit::utf16};
    EXPECT_EQ(xdesk::applicationOffset(characters, 3, InsidePair::before), 2);
    EXPECT_EQ(xdesk::applicationOffset(characters, 2, InsidePair::before), 1);
    EXPECT_EQ(xdesk::applicationOffset(units, 3, InsidePair::before), 3);
    EXPECT_EQ(xdesk::applicationOffset(units, 2, InsidePair::before), 1);
    EXPECT_EQ(xdesk::applicationOffset(units, 2, InsidePair::after), 3);
    EXPECT_EQ(xdesk::applicationOffset(characters, 2, InsidePair::after), 2);

    EXPECT_EQ(xdesk::unitOffset(characters, 2), 3);
    EXPECT_EQ(xdesk::unitOffset(units, 3), 3);
    EXPECT_EQ(xdesk::unitOffset(units, 2), std::nullopt); // inside the pair
    EXPECT_EQ(xdesk::unitOffset(units, 6), std::nullopt); // past the end
    EXPECT_EQ(xdesk::unitOffset(characters, 5), std::nullopt);
    EXPECT_EQ(xdesk::unitOffset(characters, -1), std::nullopt);
    EXPECT_EQ(xdesk::unitOffset(units, 5), 5);
    // A text that ends with half a pair: the lone surrogate counts as one character.
    const ApplicationText lone{u"x\xD83D", OffsetUnit::characters};
    EXPECT_EQ(xdesk::applicationOffset(lone, 2, InsidePair::before), 2);
    EXPECT_EQ(xdesk::unitOffset(lone, 2), 2);
}

// The span an edit touches: the rest of both texts is kept, and a pair is never cut (a changed
// emoji whose high surrogate stays the same is replaced whole).
TEST(ChangedSpan, KeepsTheCommonEndsAndNeverCutsAPair) {
    const struct {
        std::u16string before;
        std::u16string after;
        std::size_t prefix;
        std::size_t suffix;
    } rows[] = {
        {u"on Tuesday at", u"on Friday at", 3, 6}, // "Tues" -> "Fri", "day at" kept
        {u"ab", u"ab", 2, 0},
        {u"", u"x", 0, 0},
        {u"x", u"", 0, 0},
        {u"abc", u"abXc", 2, 1},
        {u"aaa", u"aaaa", 3, 0},              // the suffix never overlaps the prefix
        {u"\U0001F600", u"\U0001F601", 0, 0}, // same high surrogate
        {u"x\U0001F600y", u"x\U0001F600\U0001F600y", 3, 1},
        {u"\U0001F600b", u"\U0001F680b", 0, 1}, // the pairs differ in their second unit only
    };
    for (const auto& row : rows) {
        const xdesk::ChangedSpan span = xdesk::changedSpan(row.before, row.after);
        EXPECT_EQ(span.prefix, row.prefix) << std::string(row.before.begin(), row.before.end());
        EXPECT_EQ(span.suffix, row.suffix) << std::string(row.before.begin(), row.before.end());
    }
}

TEST(ChangedSpan, UnpairedSurrogatesReadAsReplacementCharacters) {
    std::u16string text = u"a";
    text += char16_t{0xD800};
    text += u"b\U0001F600";
    text += char16_t{0xDC00};
    EXPECT_EQ(xdesk::withUnpairedAsReplacement(text), u"a\uFFFDb\U0001F600\uFFFD");
}

} // namespace
