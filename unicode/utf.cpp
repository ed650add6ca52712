#include "unicode/utf.h"

namespace unicode {

namespace {

struct Decoded {
    char32_t code = 0;
    std::size_t length = 0; // 0: no well-formed sequence
};

// The character of the sequence at `at`. The ranges of the second byte after the leads E0, ED, F0
// and F4 are what keeps out overlong forms, surrogates and values above U+10FFFF.
Decoded decodeAt(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t length = 0;
    char32_t code = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {};
    }
    if (bytes.size() - at < length || byte(at + 1) < low || byte(at + 1) > high) {
        return {};
    }
    code = (code << 6) | (byte(at + 1) & 0x3Fu);
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return {};
        }
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    return {code, length};
}

constexpr bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

constexpr bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// UTF-8 of UTF-16; a surrogate without its partner becomes U+FFFD, or ends the conversion with
// nothing when `repair` is false.
std::optional<std::string> encode(std::u16string_view units, bool repair) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code = units[i];
        if (isHighSurrogate(code) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        } else if (isHighSurrogate(code) || isLowSurrogate(code)) {
            if (!repair) {
                return std::nullopt;
            }
            code = 0xFFFD;
        }
        appendUtf8(out, code);
    }
    return out;
}

} // namespace

std::size_t utf8SequenceLength(std::string_view bytes, std::size_t at) {
    return decodeAt(bytes, at).length;
}

bool isUtf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = decodeAt(bytes, at).length;
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

std::optional<std::u16string> utf16FromUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++at;
            continue;
        }
        const Decoded decoded = decodeAt(bytes, at);
        if (decoded.length == 0) {
            return std::nullopt;
        }
        if (decoded.code >= 0x10000) {
            const char32_t offset = decoded.code - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(decoded.code));
        }
        at += decoded.length;
    }
    return out;
}

std::string utf8FromUtf16(std::u16string_view units) {
    return *encode(units, true);
}

std::optional<std::string> utf8FromWellFormedUtf16(std::u16string_view units) {
    return encode(units, false);
}

} // namespace unicode
