#include "vantor/vantor.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace {

using vantor::RunningApplication;

const std::optional<std::string> none;

// The cases that the scenarios do not show.
TEST(ActivationLine, Builds) {
    struct Row {
        const char* what;
        RunningApplication application;
        std::optional<std::string> line;
    };
    const Row rows[] = {
        {"localized name wins over the executable",
         {"a.b", "Tool", "tool-bin", 5},
         "APP:a.b|Tool|5"},
        {"no name at all", {"a.b", none, none, 5}, none},
        {"smallest pid", {"a.b", "Tool", none, INT_MIN}, "APP:a.b|Tool|-2147483648"},
        {"bar kept in a name", {"a.b", "A|B", none, 9}, "APP:a.b|A|B|9"},
        {"non-ASCII as UTF-8", {"jp.co.例", "Café ☕ 𝄞", none, 3}, "APP:jp.co.例|Café ☕ 𝄞|3"},
        {"embedded NUL kept",
         {"a.b", std::string("A\0B", 3), none, 1},
         std::string("APP:a.b|A\0B|1", 13)},
        {"a lone line feed is a name", {"a.b", "\n", none, 1}, "APP:a.b| |1"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(vantor::activationLine(row.application), row.line) << row.what;
    }
}

} // namespace
