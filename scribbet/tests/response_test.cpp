// The result line: exact bytes, escaping, member order and presence.
#include "scribbet/response.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace scribbet {
namespace {

using std::nullopt;

struct LineCase {
    const char* name;
    HelperResponse response;
    const char* line;
};

TEST(ResultLine, ExactBytes) {
    const LineCase cases[] = {
        {"invalid pid",
         {"invalid_target_pid", nullopt, nullopt, nullopt, nullopt, nullopt,
          "missing_or_invalid_pid"},
         R"({"status":"invalid_target_pid","error":"missing_or_invalid_pid"})"},
        {"inserted",
         {"inserted", "AXTextArea", nullopt, 412, 412, true, nullopt},
         R"({"status":"inserted","role":"AXTextArea","targetPid":412,"focusedPid":412,"selectionUpdated":true})"},
        {"activation failed",
         {"activation_failed", nullopt, nullopt, 412, 97, nullopt, "target_not_frontmost", 97,
          false},
         R"({"status":"activation_failed","targetPid":412,"focusedPid":97,"error":"target_not_frontmost","frontmostPidBefore":97,"frontmostConfirmed":false})"},
        {"every field, in table order; false, zero and negative written",
         {"s", "r", "sr", 2147483647, 0, true, "e", -2147483647 - 1, false},
         R"({"status":"s","role":"r","subrole":"sr","targetPid":2147483647,"focusedPid":0,"selectionUpdated":true,"error":"e","frontmostPidBefore":-2147483648,"frontmostConfirmed":false})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encode(c.response), c.line) << c.name;
    }
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
        const HelperResponse response{"inserted", c.role,  nullopt, nullopt,
                                      nullopt,    nullopt, nullopt};
        const std::string line = encode(response);
        EXPECT_EQ(line, R"({"status":"inserted","role":)" + c.json + "}");
        // A real JSON parser reads back exactly the text that went in.
        const auto parsed = nlohmann::json::parse(line);
        EXPECT_EQ(parsed.at("role").get<std::string>(), c.role);
        EXPECT_EQ(parsed.size(), 2u);
    }
}

TEST(CodingKeys, TextsAreTheFieldNamesAndLookupIsExact) {
    const char* names[] = {"status",
                           "role",
                           "subrole",
                           "targetPid",
                           "focusedPid",
                           "selectionUpdated",
                           "error",
                           "frontmostPidBefore",
                           "frontmostConfirmed"};
    for (int i = 0; i < 9; ++i) {
        const auto key = static_cast<CodingKeys>(i);
        EXPECT_EQ(keyText(key), names[i]);
        EXPECT_EQ(codingKeyFromText(names[i]), key);
    }
    for (const char* other : {"Status", "targetpid", "", "status ", "pid"}) {
        EXPECT_EQ(codingKeyFromText(other), nullopt) << other;
    }
}

} // namespace
} // namespace scribbet
