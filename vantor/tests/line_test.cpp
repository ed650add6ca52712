#include "vantor/vantor.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace {

using vantor::RunningApplication;

struct LineCase {
    const char* what;
    RunningApplication application;
    std::optional<std::string> line;
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.what;
}

const std::optional<std::string> none;

const LineCase lineCases[] = {
    {"all three fields in order",
     {"com.apple.Safari", "Safari", "Safari", 412},
     "APP:com.apple.Safari|Safari|412"},
    {"absent bundle id is empty", {none, "Tool", none, 77}, "APP:|Tool|77"},
    {"empty bundle id", {"", "Tool", none, 77}, "APP:|Tool|77"},
    {"empty localized name: no line, executable not consulted", {"a.b", "", "tool", 5}, none},
    {"localized name wins over the executable", {"a.b", "Tool", "tool-bin", 5}, "APP:a.b|Tool|5"},
    {"executable name only when localized name is absent",
     {"a.b", none, "tool", 5},
     "APP:a.b|tool|5"},
    {"no name at all", {"a.b", none, none, 5}, none},
    {"empty executable name", {"a.b", none, "", 5}, none},
    {"pid -1", {"a.b", "Tool", none, -1}, "APP:a.b|Tool|-1"},
    {"largest pid", {"a.b", "Tool", none, INT_MAX}, "APP:a.b|Tool|2147483647"},
    {"smallest pid", {"a.b", "Tool", none, INT_MIN}, "APP:a.b|Tool|-2147483648"},
    {"bar kept in a name", {"a.b", "A|B", none, 9}, "APP:a.b|A|B|9"},
    {"non-ASCII as UTF-8", {"jp.co.例", "Café ☕ 𝄞", none, 3}, "APP:jp.co.例|Café ☕ 𝄞|3"},
    {"line feed in a name", {"a.b", "Two\nLines", none, 1}, "APP:a.b|Two Lines|1"},
    {"carriage return in a name", {"a.b", "Two\rLines", none, 1}, "APP:a.b|Two Lines|1"},
    {"each of CR LF is a space", {"a.b", "A\r\nB", none, 1}, "APP:a.b|A  B|1"},
    {"line feed in a bundle id", {"a\n.b", "Tool", none, 1}, "APP:a .b|Tool|1"},
    {"line feed in an executable name", {"a.b", none, "to\nol", 1}, "APP:a.b|to ol|1"},
    {"a lone line feed is a name", {"a.b", "\n", none, 1}, "APP:a.b| |1"},
    {"cannot forge a second line",
     {"a.b", "Notes|1\nAPP:com.bank|Bank|2", none, 9},
     "APP:a.b|Notes|1 APP:com.bank|Bank|2|9"},
    {"embedded NUL kept",
     {"a.b", std::string("A\0B", 3), none, 1},
     std::string("APP:a.b|A\0B|1", 13)},
};

class ActivationLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ActivationLine, Builds) {
    const LineCase& c = GetParam();
    EXPECT_EQ(vantor::activationLine(c.application), c.line) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, ActivationLine, ::testing::ValuesIn(lineCases));

TEST(Utf8FromUtf16, EncodesAndRepairs) {
    struct Case {
        std::u16string units;
        std::string utf8;
    };
    const Case cases[] = {
        {u"Tool", "Tool"},
        {u"\u007F\u0080", "\x7F\xC2\x80"},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U0001D11E", "\xF0\x9D\x84\x9E"},
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        {std::u16string(1, char16_t(0xD834)), "\xEF\xBF\xBD"},
        {std::u16string(1, char16_t(0xDD1E)), "\xEF\xBF\xBD"},
        {std::u16string({char16_t(0xD834), u'x'}), "\xEF\xBF\xBDx"},
        {std::u16string({char16_t(0xDD1E), char16_t(0xD834)}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vantor::utf8FromUtf16(c.units), c.utf8) << ::testing::PrintToString(c.utf8);
    }
}

} // namespace
