// Conversions between the UTF-8 of files and output lines and the UTF-16 of platform strings,
// in which every position and length is counted.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <string_view>

namespace base {

// Strict UTF-8 (RFC 3629): overlong forms, encoded surrogates, values above U+10FFFF, truncated
// sequences and stray continuation bytes give nothing. U+0000 and a byte-order mark are kept.
[[nodiscard]] std::optional<std::u16string> utf16FromUtf8(std::string_view bytes);

// UTF-8 of UTF-16 code units; a surrogate without its partner becomes U+FFFD, U+0000 is kept.
[[nodiscard]] std::string utf8FromUtf16(std::u16string_view units);

// Every UTF-16 code unit of a string, unpaired surrogates included. The string is borrowed.
[[nodiscard]] std::u16string stringUnits(CFStringRef string);

// stringUnits of an object that may be anything: nothing for NULL and for an object that is not
// a string. The object is borrowed.
[[nodiscard]] std::optional<std::u16string> stringContents(CFTypeRef object);

} // namespace base
