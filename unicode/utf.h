// Conversions between UTF-8 and UTF-16, strict where they read UTF-8. UTF-8 is well-formed as RFC
// 3629 has it: no overlong forms, no encoded surrogates, nothing above U+10FFFF, no sequence cut
// short and no stray continuation byte. U+0000 and a byte-order mark are characters like any
// other, kept both ways.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace unicode {

// The length of the well-formed UTF-8 sequence that starts at `at` (1 to 4), or 0 when the bytes
// there start none. `at` must lie inside `bytes`.
[[nodiscard]] std::size_t utf8SequenceLength(std::string_view bytes, std::size_t at);

// Whether the bytes are well-formed UTF-8 throughout.
[[nodiscard]] bool isUtf8(std::string_view bytes);

// The UTF-16 of well-formed UTF-8; nothing for anything else.
[[nodiscard]] std::optional<std::u16string> utf16FromUtf8(std::string_view bytes);

// The UTF-8 of UTF-16 code units; a surrogate without its partner becomes U+FFFD.
[[nodiscard]] std::string utf8FromUtf16(std::u16string_view units);

// The UTF-8 of well-formed UTF-16; nothing when a surrogate is without its partner.
[[nodiscard]] std::optional<std::string> utf8FromWellFormedUtf16(std::u16string_view units);

} // namespace unicode
