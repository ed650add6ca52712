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
