#include "gripwell/hold_modifier.h"

#include <array>

namespace gripwell {
namespace {

struct ModifierEntry {
    HoldModifier modifier;
    std::string_view raw;
    CGEventFlags flag;
};

constexpr std::array<ModifierEntry, 5> modifierTable{{
    {HoldModifier::option, "option", kCGEventFlagMaskAlternate},
    {HoldModifier::control, "control", kCGEventFlagMaskControl},
    {HoldModifier::shift, "shift", kCGEventFlagMaskShift},
    {HoldModifier::command, "command", kCGEventFlagMaskCommand},
    {HoldModifier::fn, "fn", kCGEventFlagMaskSecondaryFn},
}};

// A value outside the enumeration behaves as the default modifier.
const ModifierEntry& entryFor(HoldModifier modifier) noexcept {
    for (const ModifierEntry& entry : modifierTable) {
        if (entry.modifier == modifier) {
            return entry;
        }
    }
    return modifierTable[0];
}

constexpr std::size_t longestRawValue = 7; // "command", "control"

} // namespace

std::optional<HoldModifier> holdModifierFromRawValue(std::string_view raw) noexcept {
    for (const ModifierEntry& entry : modifierTable) {
        if (entry.raw == raw) {
            return entry.modifier;
        }
    }
    return std::nullopt;
}

std::string_view rawValue(HoldModifier modifier) noexcept {
    return entryFor(modifier).raw;
}

HoldModifier fromArgument(std::optional<std::string_view> word) noexcept {
    if (!word || word->size() > longestRawValue) {
        return HoldModifier::option;
    }
    // Every raw text is ASCII, so lower-casing A to Z alone matches full Unicode lower-casing.
    std::array<char, longestRawValue> lowered{};
    for (std::size_t i = 0; i < word->size(); ++i) {
        char c = (*word)[i];
        lowered[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return holdModifierFromRawValue(std::string_view(lowered.data(), word->size()))
        .value_or(HoldModifier::option);
}

CGEventFlags flag(HoldModifier modifier) noexcept {
    return entryFor(modifier).flag;
}

} // namespace gripwell
