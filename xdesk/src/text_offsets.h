// Text offsets between AT-SPI's characters and the tools' UTF-16 units. Pure: unit-tested without
// a desktop.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string_view>

namespace xdesk {

// AT-SPI counts characters (code points); the Mac and the tools count UTF-16 units, in which a
// character outside the Basic Multilingual Plane counts two. Both conversions run over the text
// itself. Offsets past the end of the text go on at one unit per character, so an offset out of
// range stays out of range; negative offsets are returned unchanged.

// UTF-16 units in the first `characters` characters of `text`.
long unitsForCharacters(std::u16string_view text, long characters);

// Where a UTF-16 offset between the two units of a surrogate pair lands: on the character
// boundary before the pair, or after it.
enum class InsidePair { before, after };

// Characters in the first `units` UTF-16 units of `text`.
long charactersForUnits(std::u16string_view text, long units, InsidePair insidePair);

// A selection in characters, as AT-SPI takes it.
struct CharacterRange {
    long start = 0;
    long end = 0;
};

// A UTF-16 range in characters. A range that cuts a surrogate pair grows to take in the whole
// character at either end; a caret (length 0) inside a pair goes before it.
CharacterRange charactersForRange(std::u16string_view text, CFRange units);

} // namespace xdesk
