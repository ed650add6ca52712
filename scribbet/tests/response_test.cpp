// The result line: exact bytes, escaping, member order and presence. That any text reads back
// the same through a JSON parser is for the result-line fuzz target to find.
#include "scribbet/response.h"

#include <gtest/gtest.h>

namespace scribbet {
namespace {

TEST(ResultLine, EveryFieldInTableOrderAndAnAbsentOneLeftOut) {
    HelperResponse all("s");
    all.role = "r";
    all.subrole = "sr";
    all.targetPid = 2147483647;
    all.focusedPid = 0;
    all.selectionUpdated = true;
    all.error = "e";
    all.frontmostPidBefore = -2147483647 - 1;
    all.frontmostConfirmed = false;
    EXPECT_EQ(
        encode(all),
        R"({"status":"s","role":"r","subrole":"sr","targetPid":2147483647,"focusedPid":0,"selectionUpdated":true,"error":"e","frontmostPidBefore":-2147483648,"frontmostConfirmed":false})");
    EXPECT_EQ(encode(HelperResponse("unexpected_error")), R"({"status":"unexpected_error"})");
}

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
