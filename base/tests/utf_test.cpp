// UTF-8 to UTF-16 (strict), UTF-16 to UTF-8 (lone surrogates repaired), and platform strings.
#include "base/utf.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

namespace {

using std::nullopt;

// A few examples of the contract; the text-decoding and result-line fuzz targets hold both
// directions against iconv.
TEST(Utf, DecodingIsStrictAndEncodingRepairsLoneSurrogates) {
    EXPECT_EQ(base::utf16FromUtf8("\xef\xbb\xbf\xf0\x9f\x98\x80"), u"\uFEFF\U0001F600");
    for (const char* refused : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "ab\xe2\x82"}) {
        EXPECT_EQ(base::utf16FromUtf8(refused), nullopt) << ::testing::PrintToString(refused);
    }
    EXPECT_EQ(base::utf8FromUtf16(u"\U0001D11E"), "\xF0\x9D\x84\x9E");
    EXPECT_EQ(base::utf8FromUtf16(std::u16string({char16_t(0xDD1E), char16_t(0xD834), u'x'})),
              "\xEF\xBF\xBD\xEF\xBF\xBDx");
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
