#include "gripwell/hold_modifier.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace gripwell {

void PrintTo(HoldModifier modifier, std::ostream* out) {
    *out << rawValue(modifier);
}

namespace {

// Each word watching its own modifier is what the desktop tests show with real keys; these are the
// words that fall back to option: no aliases, prefixes or trimming, and nothing but ASCII letters
// lower-cased.
TEST(HoldModifier, FromArgumentLowerCasesAndFallsBackToOption) {
    struct Row {
        std::optional<std::string> word;
        HoldModifier expected;
    };
    const Row rows[] = {
        {"cOmMaNd", HoldModifier::command}, {std::nullopt, HoldModifier::option},
        {"shif", HoldModifier::option},     {"", HoldModifier::option},
        {" shift", HoldModifier::option},   {"shift\n", HoldModifier::option},
        {"commands", HoldModifier::option}, {std::string("fn\0", 3), HoldModifier::option},
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

// The desktop has no fn key: its flag is pinned here with the others.
TEST(HoldModifier, EachModifierWatchesItsOwnFlag) {
    const std::pair<HoldModifier, CGEventFlags> rows[] = {
        {HoldModifier::option, 0x80000}, {HoldModifier::control, 0x40000},
        {HoldModifier::shift, 0x20000},  {HoldModifier::command, 0x100000},
        {HoldModifier::fn, 0x800000},
    };
    for (const auto& [modifier, expected] : rows) {
        EXPECT_EQ(flag(modifier), expected) << rawValue(modifier);
    }
}

} // namespace
} // namespace gripwell
