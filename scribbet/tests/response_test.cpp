// The result line's escapes, byte for byte. Member names, order and presence, and that any text
// reads back the same through a JSON parser, are for the result-line fuzz target to find.
#include "scribbet/response.h"

#include <gtest/gtest.h>

namespace scribbet {
namespace {

TEST(ResultLine, EscapesEveryCharacterClass) {
    struct Case {
        std::string role;
        std::string json;
    };
    const Case cases[] = {
        {"AX/Role", R"("AX\/Role")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"back\\slash", R"("back\\slash")"},
        {"\n\r\t\b\f", R"("\n\r\t\b\f")"},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\x7f\""},
        {std::string("nul\0x", 5), R"("nul\u0000x")"},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""},
        {"", R"("")"},
    };
    for (const auto& c : cases) {
        HelperResponse response("inserted");
        response.role = c.role;
        EXPECT_EQ(encode(response), R"({"status":"inserted","role":)" + c.json + "}");
    }
}

} // namespace
} // namespace scribbet
