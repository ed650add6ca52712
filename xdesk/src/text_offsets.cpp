#include "text_offsets.h"

#include <cstddef>

namespace xdesk {

namespace {

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Units taken by the character that starts at `at`: 2 for a surrogate pair, else 1 (an unpaired
// surrogate stands for one character, as it does once written out as U+FFFD).
std::size_t unitsOfCharacterAt(std::u16string_view text, std::size_t at) {
    return isHighSurrogate(text[at]) && at + 1 < text.size() && isLowSurrogate(text[at + 1]) ? 2
                                                                                             : 1;
}

} // namespace

long unitsForCharacters(std::u16string_view text, long characters) {
    if (characters <= 0) {
        return characters;
    }
    std::size_t at = 0;
    long counted = 0;
    while (counted < characters && at < text.size()) {
        at += unitsOfCharacterAt(text, at);
        ++counted;
    }
    return static_cast<long>(at) + (characters - counted);
}

long charactersForUnits(std::u16string_view text, long units, InsidePair insidePair) {
    if (units <= 0) {
        return units;
    }
    const auto wanted = static_cast<std::size_t>(units);
    std::size_t at = 0;
    long characters = 0;
    while (at < wanted && at < text.size()) {
        const std::size_t width = unitsOfCharacterAt(text, at);
        if (at + width > wanted) { // `wanted` falls between the units of this pair
            return insidePair == InsidePair::before ? characters : characters + 1;
        }
        at += width;
        ++characters;
    }
    return characters + static_cast<long>(wanted - at);
}

CharacterRange charactersForRange(std::u16string_view text, CFRange units) {
    const long start = charactersForUnits(text, units.location, InsidePair::before);
    if (units.length == 0) {
        return {start, start};
    }
    return {start, charactersForUnits(text, units.location + units.length, InsidePair::after)};
}

} // namespace xdesk
