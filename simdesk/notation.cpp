#include "simdesk/notation.h"

#include "unicode/utf.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace simdesk {

namespace {

double readNumber(const Json& json, const std::string& place) {
    if (!json.is_number()) {
        wrongType(json, place, "a number");
    }
    return json.get<double>();
}

// An array of exactly `count` numbers.
std::vector<double> readNumbers(const Json& json, const std::string& place, std::size_t count) {
    requireArray(json, place);
    if (json.size() != count) {
        throw FormatError{place, "expected an array of " + std::to_string(count) + " numbers"};
    }
    std::vector<double> numbers;
    for (std::size_t i = 0; i < count; ++i) {
        numbers.push_back(readNumber(json[i], itemPlace(place, i)));
    }
    return numbers;
}

Json numberJson(double value) {
    constexpr double exactLimit = 9007199254740992.0; // 2^53: every integer below is exact
    if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < exactLimit) {
        return static_cast<int64_t>(value);
    }
    return value;
}

} // namespace

AXError readCode(const Json& json, const std::string& place) {
    return static_cast<AXError>(readInteger(json, place, std::numeric_limits<int32_t>::min(),
                                            std::numeric_limits<int32_t>::max()));
}

AXError readErrorCode(const Json& json, const std::string& place) {
    const AXError code = readCode(json, place);
    if (code == kAXErrorSuccess) {
        throw FormatError{place, "0 is success, not an error"};
    }
    return code;
}

int hexDigitValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

CGEventFlags readFlags(const Json& json, const std::string& place) {
    if (json.is_number_unsigned()) {
        return json.get<uint64_t>();
    }
    if (json.is_number()) {
        return static_cast<CGEventFlags>(
            readInteger(json, place, 0, std::numeric_limits<int64_t>::max()));
    }
    if (!json.is_string()) {
        wrongType(json, place, "flags (a number, or hex text such as \"0x80000\")");
    }
    const std::string& text = json.get_ref<const std::string&>();
    const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    CGEventFlags flags = 0;
    bool valid = prefixed && text.size() <= 2 + 16;
    for (std::size_t i = 2; valid && i < text.size(); ++i) {
        const char c = text[i];
        const int digit = hexDigitValue(c);
        valid = digit >= 0;
        flags = flags * 16 + static_cast<CGEventFlags>(digit);
    }
    if (!valid) {
        throw FormatError{place, "not hex flags: \"" + text + "\" (write them as \"0x80000\")"};
    }
    return flags;
}

int64_t readSeconds(const Json& json, const std::string& place) {
    constexpr double longest = 1e6; // far beyond any run; keeps nanoseconds within 64 bits
    const double seconds = readNumber(json, place);
    if (!(seconds >= 0 && seconds <= longest)) {
        throw FormatError{place, "seconds out of range: " + showJson(json)};
    }
    return std::llround(seconds * 1e9);
}

macsim::Value readValue(const Json& json, const std::string& place) {
    if (json.is_string()) {
        return macsim::utf16(json.get_ref<const std::string&>());
    }
    if (json.is_boolean()) {
        return json.get<bool>();
    }
    if (json.is_number()) {
        return macsim::Number{json.get<double>()};
    }
    if (json.is_null()) {
        throw FormatError{place, "a value is required here, not null"};
    }
    const auto unknownForm = [&]() {
        return FormatError{place, "unknown value form: " + showJson(json)};
    };
    if (!json.is_object() || json.empty()) {
        throw unknownForm();
    }
    const std::string form = json.begin().key();
    const Json& body = json.begin().value();
    const std::string bodyPlace = memberPlace(place, form);
    if (form == "range" || json.contains("range")) {
        allowOnly(json, place, {"range", "unreadable"});
        const std::string rangePlace = memberPlace(place, "range");
        const Json& pair = requireArray(requireMember(json, place, "range"), rangePlace);
        if (pair.size() != 2) {
            throw FormatError{rangePlace, "expected [LOCATION, LENGTH]"};
        }
        constexpr int64_t low = std::numeric_limits<int64_t>::min();
        constexpr int64_t high = std::numeric_limits<int64_t>::max();
        macsim::RangeValue range;
        range.range.location = readInteger(pair[0], itemPlace(rangePlace, 0), low, high);
        range.range.length = readInteger(pair[1], itemPlace(rangePlace, 1), low, high);
        if (json.contains("unreadable")) {
            range.unreadable = requireBool(json.at("unreadable"), memberPlace(place, "unreadable"));
        }
        return range;
    }
    if (json.size() != 1) {
        throw unknownForm();
    }
    if (form == "element") {
        return macsim::ElementValue{requireString(body, bodyPlace)};
    }
    if (form == "attributedString") {
        return macsim::AttributedText{macsim::utf16(requireString(body, bodyPlace))};
    }
    if (form == "point") {
        const std::vector<double> n = readNumbers(body, bodyPlace, 2);
        return macsim::PointValue{n[0], n[1]};
    }
    if (form == "size") {
        const std::vector<double> n = readNumbers(body, bodyPlace, 2);
        return macsim::SizeValue{n[0], n[1]};
    }
    if (form == "rect") {
        const std::vector<double> n = readNumbers(body, bodyPlace, 4);
        return macsim::RectValue{n[0], n[1], n[2], n[3]};
    }
    if (form == "axError") {
        return macsim::ErrorValue{readCode(body, bodyPlace)};
    }
    if (form == "utf16") {
        requireArray(body, bodyPlace);
        std::u16string text;
        for (std::size_t i = 0; i < body.size(); ++i) {
            text.push_back(
                static_cast<char16_t>(readInteger(body[i], itemPlace(bodyPlace, i), 0, 0xFFFF)));
        }
        return text;
    }
    throw unknownForm();
}

macsim::Read readOutcome(const Json& json, const std::string& place) {
    if (json.is_null()) {
        return macsim::Read::none();
    }
    if (json.is_object() && json.contains("error")) {
        allowOnly(json, place, {"error", "value"});
        const AXError code = readErrorCode(json.at("error"), memberPlace(place, "error"));
        if (json.contains("value")) {
            return macsim::Read::errorLeaving(
                code, readValue(json.at("value"), memberPlace(place, "value")));
        }
        return macsim::Read::error(code);
    }
    return macsim::Read::of(readValue(json, place));
}

bool sameOutcome(const macsim::Read& a, const macsim::Read& b) {
    return a.code == b.code && a.value.has_value() == b.value.has_value() &&
           (!a.value || *a.value == *b.value);
}

Json valueJson(const macsim::Value& value) {
    return std::visit(
        [](const auto& v) -> Json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::u16string>) {
                // A text with a UTF-8 form is written as one; one with a lone surrogate, unit
                // by unit.
                if (std::optional<std::string> utf8 = unicode::utf8FromWellFormedUtf16(v)) {
                    return *utf8;
                }
                Json units = Json::array();
                for (char16_t unit : v) {
                    units.push_back(static_cast<int>(unit));
                }
                return {{"utf16", units}};
            } else if constexpr (std::is_same_v<T, bool>) {
                return v;
            } else if constexpr (std::is_same_v<T, macsim::Number>) {
                return numberJson(v.value);
            } else if constexpr (std::is_same_v<T, macsim::ElementValue>) {
                return {{"element", v.name}};
            } else if constexpr (std::is_same_v<T, macsim::RangeValue>) {
                Json out = {{"range", {v.range.location, v.range.length}}};
                if (v.unreadable) {
                    out["unreadable"] = true;
                }
                return out;
            } else if constexpr (std::is_same_v<T, macsim::PointValue>) {
                return {{"point", {numberJson(v.x), numberJson(v.y)}}};
            } else if constexpr (std::is_same_v<T, macsim::SizeValue>) {
                return {{"size", {numberJson(v.width), numberJson(v.height)}}};
            } else if constexpr (std::is_same_v<T, macsim::RectValue>) {
                return {{"rect",
                         {numberJson(v.x), numberJson(v.y), numberJson(v.width),
                          numberJson(v.height)}}};
            } else if constexpr (std::is_same_v<T, macsim::ErrorValue>) {
                return {{"axError", v.code}};
            } else {
                return {{"attributedString", macsim::utf8(v.text)}};
            }
        },
        value);
}

Json outcomeJson(const macsim::Read& read) {
    if (read.code == kAXErrorSuccess) {
        return read.value ? valueJson(*read.value) : Json(nullptr);
    }
    Json out = {{"error", static_cast<int32_t>(read.code)}};
    if (read.value) {
        out["value"] = valueJson(*read.value);
    }
    return out;
}

std::string showValue(const macsim::Value& value) {
    return showJson(valueJson(value));
}

std::string showOutcome(const macsim::Read& read) {
    return showJson(outcomeJson(read));
}

std::string showFlags(CGEventFlags flags) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(flags));
    return text;
}

std::string showSeconds(int64_t nanos) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%09lld", nanos < 0 ? "-" : "",
                  static_cast<long long>(std::llabs(nanos) / 1000000000),
                  static_cast<long long>(std::llabs(nanos) % 1000000000));
    std::string out = text;
    while (out.back() == '0') {
        out.pop_back();
    }
    if (out.back() == '.') {
        out.pop_back();
    }
    return out;
}

} // namespace simdesk
