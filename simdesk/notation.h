// The JSON notation of scenario files for what the desktop holds: attribute values, outcomes of
// attribute reads, error codes, flags and times. The scenario reader, the child's report and the
// messages of the runner all speak it, so that what a report shows can be pasted into a file.
#pragma once

#include "simdesk/json_reading.h"

#include <macsim/control.h>

#include <cstdint>
#include <string>

namespace simdesk {

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
std::string showValue(const macsim::Value& value);
std::string showOutcome(const macsim::Read& read);
std::string showFlags(CGEventFlags flags); // "0x100000"
std::string showSeconds(int64_t nanos);    // "0.042"

} // namespace simdesk
