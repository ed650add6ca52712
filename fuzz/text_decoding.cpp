// The text file's decoding against glibc's iconv from UTF-8 to UTF-16LE: what iconv refuses we
// refuse, and what it accepts decodes to the same code units. iconv is backed by explicit checks
// for what RFC 3629 forbids and a permissive decoder might let through (overlong forms, encoded
// surrogates, values above U+10FFFF, bytes that never occur in UTF-8); the glibc here refuses all
// of them itself, so the two oracles never pull apart. The one difference allowed on purpose:
// scribbet drops one byte-order mark at the start of the file, iconv keeps it as U+FEFF.
#include "check.h"

#include "scribbet/entry.h"
#include "unicode/utf.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <optional>
#include <string>
#include <string_view>

namespace {

// The units of `bytes` as iconv decodes them, or nothing when it refuses them.
std::optional<std::u16string> iconvUtf16(std::string_view bytes) {
    static const iconv_t converter = iconv_open("UTF-16LE", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        fuzzcheck::disagree("iconv_open(UTF-16LE, UTF-8) failed");
    }
    iconv(converter, nullptr, nullptr, nullptr, nullptr); // back to the initial state
    std::string out(2 * bytes.size() + 4, '\0');          // a byte never gives more than 2
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* next = out.data();
    std::size_t outLeft = out.size();
    const std::size_t converted = iconv(converter, &in, &inLeft, &next, &outLeft);
    if (converted == static_cast<std::size_t>(-1)) {
        if (errno != EILSEQ && errno != EINVAL) {
            fuzzcheck::disagree("iconv failed for another reason than the input");
        }
        return std::nullopt;
    }
    fuzzcheck::require(converted == 0 && inLeft == 0, "iconv converted irreversibly");
    std::u16string units;
    for (std::size_t i = 0; i + 1 < out.size() - outLeft; i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(out[i]) |
                                              (static_cast<unsigned char>(out[i + 1]) << 8)));
    }
    return units;
}

// Byte patterns that RFC 3629 rules out whatever surrounds them: C0, C1 and F5 to FF never
// occur; E0 before 80..9F and F0 before 80..8F start overlong forms; ED before A0..BF starts an
// encoded surrogate; F4 before 90..BF starts a value above U+10FFFF.
bool forbiddenByRfc3629(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == 0xC0 || byte == 0xC1 || byte >= 0xF5) {
            return true;
        }
        if (i + 1 == bytes.size()) {
            break;
        }
        const auto next = static_cast<unsigned char>(bytes[i + 1]);
        if ((byte == 0xE0 && next >= 0x80 && next <= 0x9F) ||
            (byte == 0xF0 && next >= 0x80 && next <= 0x8F) ||
            (byte == 0xED && next >= 0xA0 && next <= 0xBF) ||
            (byte == 0xF4 && next >= 0x90 && next <= 0xBF)) {
            return true;
        }
    }
    return false;
}

std::string show(const std::optional<std::u16string>& units) {
    if (!units) {
        return "refused";
    }
    std::string out = std::to_string(units->size()) + " units:";
    for (char16_t unit : *units) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " %04X", static_cast<unsigned>(unit));
        out += hex;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::optional<std::u16string> expected = iconvUtf16(bytes);
    if (expected && forbiddenByRfc3629(bytes)) {
        fuzzcheck::disagree("iconv accepted what RFC 3629 forbids");
    }

    const std::optional<std::u16string> decoded = unicode::utf16FromUtf8(bytes);
    if (decoded != expected) {
        fuzzcheck::disagree("decoding " + fuzzcheck::printable(std::string(bytes)) + ": ours " +
                            show(decoded) + ", iconv " + show(expected));
    }

    // The file's text: the same, less one byte-order mark at the very start.
    if (expected && !expected->empty() && expected->front() == u'\uFEFF') {
        expected->erase(0, 1);
    }
    const std::optional<std::u16string> text = scribbet::decodeInputText(std::string(bytes));
    if (text != expected) {
        fuzzcheck::disagree("file text of " + fuzzcheck::printable(std::string(bytes)) + ": ours " +
                            show(text) + ", iconv " + show(expected));
    }
    return 0;
}
