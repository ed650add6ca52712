// The JSON notation of scenario files for what the desktop holds: attribute values, outcomes of
// attribute reads, error codes, flags and times. The scenario reader, the child's report and the
// messages of the runner all speak it, so that what a report shows can be pasted into a file.
//
// Readers throw FormatError, which only the scenario and report readers catch: it never leaves
// those operations.
#pragma once

#include <macsim/control.h>

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
// An Accessibility error code: any signed 32-bit number.
AXError readCode(const Json& json, const std::string& place);
// The code of a call that fails: as readCode, but not 0, which is success.
AXError readErrorCode(const Json& json, const std::string& place);
// The value of a hexadecimal digit, or -1.
int hexDigitValue(char c);
// Event flags: a number, or hex text such as "0x80000".
CGEventFlags readFlags(const Json& json, const std::string& place);
// Seconds on the simulated clock, as nanoseconds (not negative).
int64_t readSeconds(const Json& json, const std::string& place);

// READ-VALUE: a string, number or boolean, or an object of one form such as {"range": [6, 5]}.
macsim::Value readValue(const Json& json, const std::string& place);
// READ: a value, null (success without a value), {"error": CODE} or {"error": CODE, "value": V}.
macsim::Read readOutcome(const Json& json, const std::string& place);

// Same code and same value (or both without one).
bool sameOutcome(const macsim::Read& a, const macsim::Read& b);

Json valueJson(const macsim::Value& value);
Json outcomeJson(const macsim::Read& read);

// Compact notation for messages: the JSON text of the value or outcome.
std::string showJson(const Json& json);
std::string showValue(const macsim::Value& value);
std::string showOutcome(const macsim::Read& read);
std::string showFlags(CGEventFlags flags); // "0x100000"
std::string showSeconds(int64_t nanos);    // "0.042"

// Bytes as a double-quoted text with C escapes: control characters, the quote, the backslash
// and bytes that are not UTF-8 are escaped, so any output can be shown on one line.
std::string quoteBytes(std::string_view bytes);
// Every line of `text` with `indent` before it and a line feed after it.
std::string indentLines(const std::string& text, const std::string& indent);

// The same escapes without the quotes, and with the quote itself left as it is.
std::string escapeBytes(std::string_view bytes);

} // namespace simdesk
