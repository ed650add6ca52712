// UTF-8 to UTF-16 (strict), UTF-16 to UTF-8 (lone surrogates repaired), and platform strings.
#include "base/utf.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

namespace {

using std::nullopt;

TEST(Utf16FromUtf8, AcceptsOnlyWellFormedUtf8) {
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::u16string> units;
    };
    const Case cases[] = {
        {"empty", "", u""},
        {"white space and line ends kept", "  a\r\n", u"  a\r\n"},
        {"two-byte", "caf\xc3\xa9", u"caf\u00e9"},
        {"combining kept as is", "e\xcc\x81", u"e\u0301"},
        {"outside the BMP", "\xf0\x9f\x98\x80", u"\U0001F600"},
        {"largest scalar", "\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
        {"byte-order mark kept", "\xef\xbb\xbfhi", u"\uFEFFhi"},
        {"nul byte", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"overlong slash", "\xc0\xaf", nullopt},
        {"overlong three-byte", "\xe0\x80\xaf", nullopt},
        {"encoded surrogate", "\xed\xa0\x80", nullopt},
        {"above U+10FFFF", "\xf4\x90\x80\x80", nullopt},
        {"truncated", "ab\xe2\x82", nullopt},
        {"stray continuation", "a\x80", nullopt},
        {"invalid lead", "\xff", nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base::utf16FromUtf8(c.bytes), c.units) << c.name;
    }
}

TEST(Utf8FromUtf16, EncodesAndRepairsAtEachBoundary) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"\u007F\u0080", "\x7F\xC2\x80"},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U0001D11E", "\xF0\x9D\x84\x9E"},
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        {std::u16string(1, char16_t(0xD834)), "\xEF\xBF\xBD"},
        {std::u16string({char16_t(0xD834), u'x'}), "\xEF\xBF\xBDx"},
        {std::u16string({char16_t(0xDD1E), char16_t(0xD834)}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& [units, utf8] : cases) {
        EXPECT_EQ(base::utf8FromUtf16(units), utf8) << ::testing::PrintToString(utf8);
    }
}

TEST(StringContents, EveryUnitOfAStringAndNothingOfAnythingElse) {
    macsim::reset();
    struct Case {
        macsim::Value value;
        std::optional<std::u16string> units;
    };
    const Case cases[] = {
        {std::u16string(u"a\xD800\0b", 4), std::u16string(u"a\xD800\0b", 4)},
        {std::u16string(), u""},
        {macsim::AttributedText{u"styled"}, nullopt},
        {macsim::Number{3}, nullopt},
    };
    for (const auto& c : cases) {
        CFTypeRef object = macsim::createObject(c.value);
        EXPECT_EQ(base::stringContents(object), c.units) << macsim::describe(c.value);
        EXPECT_EQ(CFGetRetainCount(object), 1) << "the object is only borrowed";
        CFRelease(object);
    }
    EXPECT_EQ(base::stringContents(nullptr), nullopt);
}

} // namespace
