// Reading the JSON of scenario files and reports: parsing, with members given twice and deep
// nesting refused; the places of faults as JSON pointers; shape checks; and whole numbers in a
// range.
//
// Readers throw FormatError, which only the scenario and report readers catch: it never leaves
// those operations.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace simdesk {

using Json = nlohmann::json;

// Where a file breaks the format, and why. `place` is a JSON pointer into the file
// ("/desktop/elements/notes/attributes/AXValue"), empty for the whole document, or
// "byte N" for text that is not JSON.
struct FormatError {
    std::string place;
    std::string reason;
};

// The JSON pointer of a member or an item below `place` (tokens escaped as RFC 6901 says).
std::string memberPlace(const std::string& place, std::string_view name);
std::string itemPlace(const std::string& place, std::size_t index);

// Parses JSON text; a syntax fault becomes "byte N", and a member given twice in one object is
// a fault too (the parser would silently keep the last), as is nesting deeper than 64 levels.
Json parseJson(std::string_view text);

// Shape checks.
const Json& requireObject(const Json& json, const std::string& place);
const Json& requireArray(const Json& json, const std::string& place);
const std::string& requireString(const Json& json, const std::string& place);
bool requireBool(const Json& json, const std::string& place);
// A member of an object that must be there.
const Json& requireMember(const Json& object, const std::string& place, std::string_view name);
// Every member of the object is one of `allowed`.
void allowOnly(const Json& object, const std::string& place,
               std::initializer_list<std::string_view> allowed);

// A JSON integer (not a fraction) within [minimum, maximum].
int64_t readInteger(const Json& json, const std::string& place, int64_t minimum, int64_t maximum);

// A fault for a value of the wrong JSON type: "expected WANTED, found a string".
[[noreturn]] void wrongType(const Json& json, const std::string& place, const char* wanted);

// The JSON text of a value on one line, for messages.
std::string showJson(const Json& json);

} // namespace simdesk
