#include "gripwell/hold_modifier.h"

#include <gtest/gtest.h>

#include <bitset>
#include <optional>
#include <ostream>
#include <string>

namespace gripwell {

void PrintTo(HoldModifier modifier, std::ostream* out) {
    *out << rawValue(modifier);
}

namespace {

struct ModifierRow {
    HoldModifier modifier;
    const char* raw;
    CGEventFlags flag;
};

const ModifierRow modifierRows[] = {
    {HoldModifier::option, "option", 0x80000}, {HoldModifier::control, "control", 0x40000},
    {HoldModifier::shift, "shift", 0x20000},   {HoldModifier::command, "command", 0x100000},
    {HoldModifier::fn, "fn", 0x800000},
};

TEST(HoldModifier, RawValuesAndFlagsFollowTheTable) {
    CGEventFlags seen = 0;
    for (const ModifierRow& row : modifierRows) {
        SCOPED_TRACE(row.raw);
        EXPECT_EQ(rawValue(row.modifier), row.raw);
        EXPECT_EQ(holdModifierFromRawValue(row.raw), row.modifier);
        EXPECT_EQ(flag(row.modifier), row.flag);
        EXPECT_EQ(std::bitset<64>(flag(row.modifier)).count(), 1u);
        EXPECT_EQ(seen & flag(row.modifier), 0u) << "two cases share a bit";
        seen |= flag(row.modifier);
    }
}

struct RawRow {
    std::string raw;
    std::optional<HoldModifier> expected;
};

TEST(HoldModifier, ConstructionFromRawTextIsExact) {
    const RawRow rows[] = {
        {"Shift", std::nullopt},
        {"OPTION", std::nullopt},
        {"shift ", std::nullopt},
        {" fn", std::nullopt},
        {"", std::nullopt},
        {"alt", std::nullopt},
        {"commandx", std::nullopt},
        {std::string("fn\0", 3), std::nullopt},
        {"control", HoldModifier::control},
    };
    for (const RawRow& row : rows) {
        SCOPED_TRACE("raw \"" + row.raw + "\"");
        EXPECT_EQ(holdModifierFromRawValue(row.raw), row.expected);
    }
}

struct WordRow {
    std::optional<std::string> word;
    HoldModifier expected;
};

TEST(HoldModifier, FromArgumentLowerCasesAndFallsBackToOption) {
    const WordRow rows[] = {
        {std::nullopt, HoldModifier::option},
        {"option", HoldModifier::option},
        {"control", HoldModifier::control},
        {"CONTROL", HoldModifier::control},
        {"Command", HoldModifier::command},
        {"COMMAND", HoldModifier::command},
        {"cOmMaNd", HoldModifier::command},
        {"Fn", HoldModifier::fn},
        {"FN", HoldModifier::fn},
        {"SHIFT", HoldModifier::shift},
        {"shift", HoldModifier::shift},
        // No aliases, no trimming, no error: all of these watch option.
        {"alt", HoldModifier::option},
        {"ctrl", HoldModifier::option},
        {"cmd", HoldModifier::option},
        {"opt", HoldModifier::option},
        {"", HoldModifier::option},
        {" shift", HoldModifier::option},
        {"shift ", HoldModifier::option},
        {"shift\n", HoldModifier::option},
        {"commands", HoldModifier::option},
        {"controlcontrol", HoldModifier::option},
        {"\xC3\x89", HoldModifier::option},
        {"f\xC3\xB1", HoldModifier::option},
    };
    for (const WordRow& row : rows) {
        SCOPED_TRACE(row.word ? "word \"" + *row.word + "\"" : "no word");
        std::optional<std::string_view> word;
        if (row.word) {
            word = *row.word;
        }
        EXPECT_EQ(fromArgument(word), row.expected);
    }
}

} // namespace
} // namespace gripwell
