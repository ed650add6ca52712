#include "simdesk/quoting.h"

#include "unicode/utf.h"

#include <cstdio>

namespace simdesk {

namespace {

std::string escaped(std::string_view bytes, bool quoted) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x80) {
            const std::size_t length = unicode::utf8SequenceLength(bytes, i);
            if (length > 0) {
                out.append(bytes.substr(i, length));
                i += length;
                continue;
            }
        }
        switch (c) {
        case '"':
            out += quoted ? "\\\"" : "\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out;
}

} // namespace

std::string quoteBytes(std::string_view bytes) {
    return "\"" + escaped(bytes, true) + "\"";
}

std::string indentLines(const std::string& text, const std::string& indent) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        out += indent + text.substr(start, end - start) + "\n";
        start = end + 1;
    }
    return out;
}

std::string escapeBytes(std::string_view bytes) {
    return escaped(bytes, false);
}

} // namespace simdesk
