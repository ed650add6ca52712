// UTF-8 to UTF-16 (strict), UTF-16 to UTF-8 (lone surrogates repaired, or refused).
#include "unicode/utf.h"

#include <gtest/gtest.h>

namespace {

using std::nullopt;

// A few examples of the contract; the text-decoding and result-line fuzz targets hold both
// directions against iconv.
TEST(Utf, DecodingIsStrictAndEncodingRepairsLoneSurrogates) {
    EXPECT_EQ(unicode::utf16FromUtf8("\xef\xbb\xbf\xf0\x9f\x98\x80"), u"\uFEFF\U0001F600");
    for (const char* refused : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "ab\xe2\x82"}) {
        EXPECT_EQ(unicode::utf16FromUtf8(refused), nullopt) << ::testing::PrintToString(refused);
        EXPECT_FALSE(unicode::isUtf8(refused)) << ::testing::PrintToString(refused);
    }
    EXPECT_EQ(unicode::utf8FromUtf16(u"\U0001D11E"), "\xF0\x9D\x84\x9E");
    const std::u16string lone({char16_t(0xDD1E), char16_t(0xD834), u'x'});
    EXPECT_EQ(unicode::utf8FromUtf16(lone), "\xEF\xBF\xBD\xEF\xBF\xBDx");
    EXPECT_EQ(unicode::utf8FromWellFormedUtf16(lone), nullopt);
}

} // namespace
