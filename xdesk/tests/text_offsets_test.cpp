// The offsets that AT-SPI and the tools exchange: characters against UTF-16 units.
#include "text_offsets.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using xdesk::InsidePair;

// "a", U+1F600 (two units), "b", "e" + U+0301 (a combining mark, one unit of its own).
const std::u16string mixed = u"a\U0001F600be\u0301";

// The desktop tests splice beside an emoji and a combining mark on a real GTK entry; these are the
// offsets no application reports: past the end, negative, and inside a pair.
TEST(TextOffsets, CharactersAndUnitsConvertBothWaysWithTwoUnitsForAnEmoji) {
    const struct {
        long characters;
        long units;
    } rows[] = {{0, 0},
                {1, 1},
                {2, 3},
                {3, 4},
                {5, 6},
                // past the end: one unit per character, so still out of range
                {6, 7},
                {9, 10},
                // negative: unchanged, for the caller to refuse
                {-1, -1}};
    for (const auto& row : rows) {
        EXPECT_EQ(xdesk::unitsForCharacters(mixed, row.characters), row.units) << row.characters;
        EXPECT_EQ(xdesk::charactersForUnits(mixed, row.units, InsidePair::before), row.characters);
        EXPECT_EQ(xdesk::charactersForUnits(mixed, row.units, InsidePair::after), row.characters);
    }
    // Unit 2 is the second half of the emoji, which is character 1.
    EXPECT_EQ(xdesk::charactersForUnits(mixed, 2, InsidePair::before), 1);
    EXPECT_EQ(xdesk::charactersForUnits(mixed, 2, InsidePair::after), 2);
    // A text that ends with half a pair: the lone surrogate counts as one character.
    EXPECT_EQ(xdesk::unitsForCharacters(u"x\xD83D", 2), 2);
    EXPECT_EQ(xdesk::charactersForUnits(u"x\xD83D", 2, InsidePair::before), 2);
}

struct RangeRow {
    const char* what;
    CFRange units;
    long start;
    long end;
};

TEST(TextOffsets, RangesTakeInWholeCharacters) {
    const RangeRow rows[] = {
        {"caret inside the emoji goes before it", {2, 0}, 1, 1},
        {"start inside the emoji grows back", {2, 2}, 1, 3},
        {"end inside the emoji grows on", {0, 2}, 0, 2},
        {"everything", {0, 6}, 0, 5},
        {"caret at the end", {6, 0}, 5, 5},
    };
    for (const RangeRow& row : rows) {
        const xdesk::CharacterRange range = xdesk::charactersForRange(mixed, row.units);
        EXPECT_EQ(range.start, row.start) << row.what;
        EXPECT_EQ(range.end, row.end) << row.what;
    }
}

} // namespace

namespace {

using xdesk::ApplicationText;
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
// units in; an application offset between the two units of the pair is no offset at all.
TEST(ApplicationText, OffsetsConvertInEitherWayOfCountingAndNeverLandInsideAPair) {
    const ApplicationText characters{u"a\U0001F600bc", OffsetUnit::characters};
    const ApplicationText units{u"a\U0001F600bc", OffsetUnit::utf16};
    EXPECT_EQ(xdesk::applicationOffset(characters, 3, InsidePair::before), 2);
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
