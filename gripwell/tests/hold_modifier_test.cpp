#include "gripwell/hold_modifier.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace gripwell {

void PrintTo(HoldModifier modifier, std::ostream* out) {
    *out << rawValue(modifier);
}

namespace {

TEST(HoldModifier, RawValuesAndFlagsFollowTheTable) {
    struct Row {
        HoldModifier modifier;
        const char* raw;
        const char* capitalised; // not a raw text: construction from raw text is exact
        CGEventFlags flag;
    };
    const Row rows[] = {
        {HoldModifier::option, "option", "Option", 0x80000},
        {HoldModifier::control, "control", "CONTROL", 0x40000},
        {HoldModifier::shift, "shift", "Shift", 0x20000},
        {HoldModifier::command, "command", "Command", 0x100000},
        {HoldModifier::fn, "fn", "FN", 0x800000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.raw);
        EXPECT_EQ(rawValue(row.modifier), row.raw);
        EXPECT_EQ(holdModifierFromRawValue(row.raw), row.modifier);
        EXPECT_EQ(holdModifierFromRawValue(row.capitalised), std::nullopt);
        EXPECT_EQ(flag(row.modifier), row.flag);
    }
    EXPECT_EQ(holdModifierFromRawValue(std::string("fn\0", 3)), std::nullopt);
}

TEST(HoldModifier, FromArgumentLowerCasesAndFallsBackToOption) {
    struct Row {
        std::optional<std::string> word;
        HoldModifier expected;
    };
    const Row rows[] = {
        {std::nullopt, HoldModifier::option},
        {"control", HoldModifier::control},
        {"CONTROL", HoldModifier::control},
        {"cOmMaNd", HoldModifier::command},
        {"Fn", HoldModifier::fn},
        // No aliases, prefixes, trimming or error: all of these watch option.
        {"shif", HoldModifier::option},
        {"", HoldModifier::option},
        {" shift", HoldModifier::option},
        {"shift\n", HoldModifier::option},
        {"commands", HoldModifier::option},
        {"\xC3\x89", HoldModifier::option},
    };
    for (const Row& row : rows) {
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
