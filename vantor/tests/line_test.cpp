#include "vantor/vantor.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace {

using vantor::RunningApplication;

const std::optional<std::string> none;

TEST(ActivationLine, Builds) {
    struct Row {
        const char* what;
        RunningApplication application;
        std::optional<std::string> line;
    };
    const Row rows[] = {
        {"all three fields in order",
         {"com.apple.Safari", "Safari", "Safari", 412},
         "APP:com.apple.Safari|Safari|412"},
        {"absent bundle id is empty", {none, "Tool", none, 77}, "APP:|Tool|77"},
        {"empty localized name: no line, executable not consulted", {"a.b", "", "tool", 5}, none},
        {"localized name wins over the executable",
         {"a.b", "Tool", "tool-bin", 5},
         "APP:a.b|Tool|5"},
        {"executable name when localized name is absent",
         {"a.b", none, "tool", 5},
         "APP:a.b|tool|5"},
        {"no name at all", {"a.b", none, none, 5}, none},
        {"smallest pid", {"a.b", "Tool", none, INT_MIN}, "APP:a.b|Tool|-2147483648"},
        {"bar kept in a name", {"a.b", "A|B", none, 9}, "APP:a.b|A|B|9"},
        {"non-ASCII as UTF-8", {"jp.co.例", "Café ☕ 𝄞", none, 3}, "APP:jp.co.例|Café ☕ 𝄞|3"},
        {"embedded NUL kept",
         {"a.b", std::string("A\0B", 3), none, 1},
         std::string("APP:a.b|A\0B|1", 13)},
        // Line breaks inside a field used to split the record.
        {"each of CR LF is a space", {"a.b", "A\r\nB", none, 1}, "APP:a.b|A  B|1"},
        {"line feed in a bundle id", {"a\n.b", "Tool", none, 1}, "APP:a .b|Tool|1"},
        {"a lone line feed is a name", {"a.b", "\n", none, 1}, "APP:a.b| |1"},
        {"cannot forge a second line",
         {"a.b", "Notes|1\nAPP:com.bank|Bank|2", none, 9},
         "APP:a.b|Notes|1 APP:com.bank|Bank|2|9"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(vantor::activationLine(row.application), row.line) << row.what;
    }
}

} // namespace
