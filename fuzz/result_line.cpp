// scribbet's result line against nlohmann-json: a random record (texts with lone surrogates and
// every control character, as the platform may hand them over) encodes to one line that the
// parser reads back to the same members, in the record's order, with the same values. No raw
// control character, and "/" only as "\/". The UTF-8 of a platform text is checked against
// iconv, with each lone surrogate taken as U+FFFD.
#include "check.h"

#include "scribbet/response.h"
#include "unicode/utf.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

// A text of UTF-16 code units as the platform may report one: mostly the awkward units (controls,
// quote, backslash, slash, DEL, surrogates of either half, non-characters), some of any value.
std::u16string platformText(FuzzedDataProvider& input) {
    static constexpr char16_t awkward[] = {u'"',   u'\\',  u'/',   0x7F,   0x80,   0xFFFD,
                                           0xFEFF, 0xFFFF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF,
                                           0xD83D, 0xDE00, u'a',   0x2028, 0x2029, 0xE9};
    std::u16string text;
    const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, 24);
    for (std::size_t i = 0; i < length && input.remaining_bytes() > 0; ++i) {
        switch (input.ConsumeIntegralInRange(0, 2)) {
        case 0:
            text.push_back(input.ConsumeIntegralInRange<char16_t>(0, 0x20));
            break;
        case 1:
            text.push_back(
                awkward[input.ConsumeIntegralInRange<std::size_t>(0, std::size(awkward) - 1)]);
            break;
        default:
            text.push_back(input.ConsumeIntegral<char16_t>());
        }
    }
    return text;
}

// The same text with each lone surrogate replaced by U+FFFD, then converted by iconv.
std::string iconvUtf8(const std::u16string& units) {
    std::u16string mended;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool pairs =
            high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        if (pairs) {
            mended += units.substr(i++, 2);
        } else {
            mended.push_back(unit >= 0xD800 && unit <= 0xDFFF ? u'\uFFFD' : unit);
        }
    }
    static const iconv_t converter = iconv_open("UTF-8", "UTF-16LE");
    fuzzcheck::require(converter != reinterpret_cast<iconv_t>(-1), "iconv_open failed");
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string in;
    for (char16_t unit : mended) {
        in.push_back(static_cast<char>(unit & 0xFF));
        in.push_back(static_cast<char>(unit >> 8));
    }
    std::string out(in.size() * 2 + 4, '\0'); // 2 bytes of UTF-16 never give more than 3
    char* from = in.data();
    std::size_t fromLeft = in.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    fuzzcheck::require(iconv(converter, &from, &fromLeft, &to, &toLeft) == 0 && fromLeft == 0,
                       "iconv refused well-formed UTF-16");
    out.resize(out.size() - toLeft);
    return out;
}

std::optional<std::string> maybeText(FuzzedDataProvider& input) {
    if (!input.ConsumeBool()) {
        return std::nullopt;
    }
    const std::u16string units = platformText(input);
    std::string utf8 = unicode::utf8FromUtf16(units);
    if (utf8 != iconvUtf8(units)) {
        fuzzcheck::disagree("UTF-8 of a platform text differs from iconv's: " +
                            fuzzcheck::printable(utf8));
    }
    return utf8;
}

std::optional<pid_t> maybePid(FuzzedDataProvider& input) {
    if (!input.ConsumeBool()) {
        return std::nullopt;
    }
    return input.ConsumeIntegral<pid_t>();
}

std::optional<bool> maybeBool(FuzzedDataProvider& input) {
    if (!input.ConsumeBool()) {
        return std::nullopt;
    }
    return input.ConsumeBool();
}

// The members the line must hold: every present field, in the record's order, with its value.
Json expectedMembers(const scribbet::HelperResponse& r) {
    Json members = Json::object();
    members["status"] = r.status;
    const auto put = [&members](const char* name, const auto& field) {
        if (field) {
            members[name] = *field;
        }
    };
    put("role", r.role);
    put("subrole", r.subrole);
    put("targetPid", r.targetPid);
    put("focusedPid", r.focusedPid);
    put("selectionUpdated", r.selectionUpdated);
    put("error", r.error);
    put("frontmostPidBefore", r.frontmostPidBefore);
    put("frontmostConfirmed", r.frontmostConfirmed);
    return members;
}

// Every "/" is escaped, and nothing below U+0020 appears raw: the line stays one line and safe
// inside a <script> element.
void checkBytes(const std::string& line) {
    bool escaped = false;
    for (char c : line) {
        if (static_cast<unsigned char>(c) < 0x20) {
            fuzzcheck::disagree("raw control character in " + fuzzcheck::printable(line));
        }
        if (c == '/' && !escaped) {
            fuzzcheck::disagree("unescaped slash in " + fuzzcheck::printable(line));
        }
        escaped = !escaped && c == '\\';
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::string status = input.ConsumeBool() ? "inserted" : maybeText(input).value_or("");
    scribbet::HelperResponse response(std::move(status));
    response.role = maybeText(input);
    response.subrole = maybeText(input);
    response.targetPid = maybePid(input);
    response.focusedPid = maybePid(input);
    response.selectionUpdated = maybeBool(input);
    response.error = maybeText(input);
    response.frontmostPidBefore = maybePid(input);
    response.frontmostConfirmed = maybeBool(input);

    const std::string line = scribbet::encode(response);
    checkBytes(line);
    Json parsed;
    try {
        parsed = Json::parse(line);
    } catch (const Json::exception& error) {
        fuzzcheck::disagree(std::string("the line does not parse: ") + error.what() + ": " +
                            fuzzcheck::printable(line));
    }
    // ordered_json keeps the members in the order of the line, so == compares order too.
    if (parsed != expectedMembers(response)) {
        fuzzcheck::disagree("members read back as " + parsed.dump() + " from " +
                            fuzzcheck::printable(line));
    }
    // Integers stay integers and booleans booleans.
    for (const auto& member : parsed.items()) {
        const Json& value = member.value();
        fuzzcheck::require(value.is_string() || value.is_boolean() || value.is_number_integer(),
                           "a member of another type");
    }

    // The key table: exactly the nine names, each back to its own text.
    const std::string word = input.ConsumeRandomLengthString(24);
    const std::optional<scribbet::CodingKeys> key = scribbet::codingKeyFromText(word);
    const bool known = word == "status" || word == "role" || word == "subrole" ||
                       word == "targetPid" || word == "focusedPid" || word == "selectionUpdated" ||
                       word == "error" || word == "frontmostPidBefore" ||
                       word == "frontmostConfirmed";
    fuzzcheck::require(key.has_value() == known, "key lookup disagrees with the nine names");
    fuzzcheck::require(!key || scribbet::keyText(*key) == word, "a key's text is not its name");
    return 0;
}
