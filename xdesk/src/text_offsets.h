// Text offsets between AT-SPI's characters and the tools' UTF-16 units. Pure: unit-tested without
// a desktop.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>
#include <optional>
#include <string>
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

namespace xdesk {

// ---- How an application counts ---------------------------------------------------------------
// GTK counts characters, as AT-SPI says; Qt and LibreOffice count UTF-16 units; Gecko pads its
// text with a U+FEFF after each character outside the Basic Multilingual Plane, so that its
// character offsets are the UTF-16 offsets of the text without the padding.

enum class OffsetUnit { characters, utf16 };

// An application's text as the user sees it, and how its offsets count.
struct ApplicationText {
    std::u16string text; // without Gecko's padding
    OffsetUnit unit = OffsetUnit::characters;
};

// The text that an application reported (as read, padding and all) with the character count it
// reported, or nothing when the two do not agree with any way of counting. `padded`: the
// application is one that pads (Gecko); each character outside the Basic Multilingual Plane must
// then be followed by its U+FEFF. A text without such characters counts the same either way and
// is taken as counting characters.
std::optional<ApplicationText> applicationTextFrom(std::u16string reported, long count,
                                                   bool padded);

// A UTF-16 offset in the text as the application's offset; one between the units of a surrogate
// pair goes to the boundary `insidePair` names.
long applicationOffset(const ApplicationText& text, long units, InsidePair insidePair);

// An application's offset as a UTF-16 offset in the text; nothing when it falls between the
// units of a surrogate pair (no offset a caret can have) or outside the text.
std::optional<long> unitOffset(const ApplicationText& text, long offset);

// ---- Editing only what changes -----------------------------------------------------------------

// The span where two texts differ: both keep their first `prefix` and last `suffix` units. Never
// cuts a surrogate pair; prefix + suffix fits in either text.
struct ChangedSpan {
    std::size_t prefix = 0;
    std::size_t suffix = 0;
};

ChangedSpan changedSpan(std::u16string_view before, std::u16string_view after);

// The text with each unpaired surrogate as U+FFFD, as it reads once written out as UTF-8.
std::u16string withUnpairedAsReplacement(std::u16string_view text);

} // namespace xdesk
