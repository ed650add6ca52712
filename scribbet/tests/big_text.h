// Big texts for whole runs and their benchmarks: one sentence, written out both as UTF-8 bytes and
// as UTF-16 code units (independently of the conversions under test), repeated to a size.
#pragma once

#include <macsim/control.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace bigtext {

inline constexpr std::size_t mebibyte = std::size_t{1} << 20;

// ASCII, a two-, a three- and a four-byte sequence (a surrogate pair in UTF-16), a line feed.
inline constexpr std::string_view sentenceUtf8 =
    "Lorem ipsum \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 dolor sit amet.\n";
inline constexpr std::u16string_view sentenceUtf16 =
    u"Lorem ipsum \u00E9 \u20AC \U0001F600 dolor sit amet.\n";

// Whole sentences, then "x" up to exactly `bytes` bytes of UTF-8, in chunks of at most `chunk`
// bytes handed to `sink`, so that a writer never holds the whole text.
template <class Sink> void utf8(std::size_t bytes, Sink&& sink, std::size_t chunk = mebibyte) {
    std::string buffer;
    std::size_t left = bytes;
    while (left > 0) {
        buffer.clear();
        while (buffer.size() + sentenceUtf8.size() <= chunk && sentenceUtf8.size() <= left) {
            buffer += sentenceUtf8;
            left -= sentenceUtf8.size();
        }
        if (left < sentenceUtf8.size()) {
            buffer.append(left, 'x');
            left = 0;
        }
        sink(std::string_view(buffer));
    }
}

// The UTF-16 of utf8(bytes): the same sentences and the same "x"s.
inline std::u16string utf16OfUtf8(std::size_t bytes) {
    std::u16string out;
    const std::size_t sentences = bytes / sentenceUtf8.size();
    out.reserve(sentences * sentenceUtf16.size() + bytes % sentenceUtf8.size());
    for (std::size_t i = 0; i < sentences; ++i) {
        out += sentenceUtf16;
    }
    out.append(bytes % sentenceUtf8.size(), u'x');
    return out;
}

// Whole sentences, then "x" up to exactly `units` UTF-16 code units.
inline std::u16string utf16(std::size_t units) {
    std::u16string out;
    out.reserve(units);
    while (out.size() + sentenceUtf16.size() <= units) {
        out += sentenceUtf16;
    }
    out.append(units - out.size(), u'x');
    return out;
}

// A trusted simulated desktop whose focus is a text area of `pid` holding `value` with
// `selection`, every check of the insertion passing.
inline void focusTextArea(pid_t pid, std::u16string value, CFRange selection) {
    macsim::reset();
    macsim::desktop().trusted = true;
    macsim::desktop().systemWide.attributes["AXFocusedUIElement"] =
        macsim::Read::of(macsim::ElementValue{"area"});
    macsim::Element& area = macsim::element("area");
    area.pid = macsim::PidOutcome::of(pid);
    area.attributes["AXRole"] = macsim::Read::of(macsim::text("AXTextArea"));
    area.attributes["AXValue"] = macsim::Read::of(std::move(value));
    area.attributes["AXSelectedTextRange"] =
        macsim::Read::of(macsim::range(selection.location, selection.length));
    area.settable["AXValue"] = {kAXErrorSuccess, true};
    area.settable["AXSelectedTextRange"] = {kAXErrorSuccess, true};
}

} // namespace bigtext
