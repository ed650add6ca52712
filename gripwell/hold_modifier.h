// The one modifier key that gripwell watches, named by a word on its command line.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <optional>
#include <string_view>

namespace gripwell {

// Equal values are the same case; each case has its own raw text, one to one.
enum class HoldModifier { option, control, shift, command, fn };

// The case whose raw text is exactly `raw` (byte for byte, case-sensitive, untrimmed).
[[nodiscard]] std::optional<HoldModifier> holdModifierFromRawValue(std::string_view raw) noexcept;

[[nodiscard]] std::string_view rawValue(HoldModifier modifier) noexcept;

// The command-line word, or its absence, to a case: ASCII letters are lower-cased, nothing is
// trimmed, and a missing or unknown word selects `option`. Never fails.
[[nodiscard]] HoldModifier fromArgument(std::optional<std::string_view> word) noexcept;

// The device-independent flag that the platform sets in an event's flags while either key of
// this kind is held: exactly one bit per case, distinct between cases.
[[nodiscard]] CGEventFlags flag(HoldModifier modifier) noexcept;

} // namespace gripwell
