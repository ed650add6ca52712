// The UTF-16 units of platform strings.
#include "base/utf.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

namespace {

using std::nullopt;

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
