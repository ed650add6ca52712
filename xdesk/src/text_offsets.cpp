#include "text_offsets.h"

#include <algorithm>
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

namespace xdesk {

namespace {

constexpr char16_t byteOrderMark = 0xFEFF;
constexpr char16_t replacementCharacter = 0xFFFD;

bool isPairAt(std::u16string_view text, std::size_t at) {
    return at + 1 < text.size() && isHighSurrogate(text[at]) && isLowSurrogate(text[at + 1]);
}

// Whether `at` falls between the two units of a surrogate pair.
bool splitsPair(std::u16string_view text, std::size_t at) {
    return at > 0 && at < text.size() && isPairAt(text, at - 1);
}

long codePoints(std::u16string_view text) {
    long count = 0;
    for (std::size_t at = 0; at < text.size(); at += unitsOfCharacterAt(text, at)) {
        ++count;
    }
    return count;
}

} // namespace

std::optional<ApplicationText> applicationTextFrom(std::u16string reported, long count,
                                                   bool padded) {
    const long characters = codePoints(reported);
    if (padded) {
        // Each pair followed by its U+FEFF, which goes; the count is of the padded text.
        std::u16string text;
        text.reserve(reported.size());
        for (std::size_t at = 0; at < reported.size(); ++at) {
            text.push_back(reported[at]);
            if (isPairAt(reported, at)) {
                text.push_back(reported[++at]);
                if (at + 1 >= reported.size() || reported[at + 1] != byteOrderMark) {
                    return std::nullopt;
                }
                ++at;
            }
        }
        if (count != characters) {
            return std::nullopt;
        }
        return ApplicationText{std::move(text), OffsetUnit::utf16};
    }
    const auto units = static_cast<long>(reported.size());
    if (count == characters) {
        return ApplicationText{std::move(reported), OffsetUnit::characters};
    }
    if (count == units) {
        return ApplicationText{std::move(reported), OffsetUnit::utf16};
    }
    return std::nullopt;
}

long applicationOffset(const ApplicationText& text, long units, InsidePair insidePair) {
    if (text.unit == OffsetUnit::characters) {
        return charactersForUnits(text.text, units, insidePair);
    }
    if (units > 0 && splitsPair(text.text, static_cast<std::size_t>(units))) {
        return insidePair == InsidePair::before ? units - 1 : units + 1;
    }
    return units;
}

std::optional<long> unitOffset(const ApplicationText& text, long offset) {
    if (offset < 0) {
        return std::nullopt;
    }
    const long units =
        text.unit == OffsetUnit::characters ? unitsForCharacters(text.text, offset) : offset;
    if (units > static_cast<long>(text.text.size()) ||
        splitsPair(text.text, static_cast<std::size_t>(units))) {
        return std::nullopt;
    }
    return units;
}

ChangedSpan changedSpan(std::u16string_view before, std::u16string_view after) {
    const std::size_t shorter = std::min(before.size(), after.size());
    std::size_t prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix]) {
        ++prefix;
    }
    if (splitsPair(before, prefix) || splitsPair(after, prefix)) {
        --prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    if (suffix > 0 &&
        (splitsPair(before, before.size() - suffix) || splitsPair(after, after.size() - suffix))) {
        --suffix;
    }
    return {prefix, suffix};
}

std::u16string withUnpairedAsReplacement(std::u16string_view text) {
    std::u16string out(text);
    for (std::size_t at = 0; at < out.size(); ++at) {
        if (isPairAt(out, at)) {
            ++at;
        } else if (isHighSurrogate(out[at]) || isLowSurrogate(out[at])) {
            out[at] = replacementCharacter;
        }
    }
    return out;
}

} // namespace xdesk
