// Text conversions at the edges of the tool: the UTF-8 of the text file and of the result line,
// and the UTF-16 of platform strings, where every position and length is counted.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <string_view>

namespace scribbet {

// Strict UTF-8 (RFC 3629): overlong forms, encoded surrogates, values above U+10FFFF, truncated
// sequences and stray continuation bytes give nothing.
std::optional<std::u16string> decodeUtf8(std::string_view bytes);

// UTF-8 of UTF-16 text; a surrogate without its partner becomes U+FFFD.
std::string encodeUtf8(std::u16string_view text);

// encodeUtf8 of a text that may be absent, for the optional fields of the result line.
std::optional<std::string> utf8Field(const std::optional<std::u16string>& text);

// The whole text of a platform string, or nothing when the object is not a string.
std::optional<std::u16string> stringContents(CFTypeRef object);

} // namespace scribbet
