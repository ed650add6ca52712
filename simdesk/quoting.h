// Bytes and texts as messages show them.
#pragma once

#include <string>
#include <string_view>

namespace simdesk {

// Bytes as a double-quoted text with C escapes: control characters, the quote, the backslash
// and bytes that are not UTF-8 are escaped, so any output can be shown on one line.
std::string quoteBytes(std::string_view bytes);
// Every line of `text` with `indent` before it and a line feed after it.
std::string indentLines(const std::string& text, const std::string& indent);

// The same escapes without the quotes, and with the quote itself left as it is.
std::string escapeBytes(std::string_view bytes);

} // namespace simdesk
