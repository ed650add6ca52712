// The UTF-16 of platform strings, in which every position and length is counted. Conversions to
// and from the UTF-8 of files and output lines are unicode/utf.h's.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>

namespace base {

// Every UTF-16 code unit of a string, unpaired surrogates included. The string is borrowed.
[[nodiscard]] std::u16string stringUnits(CFStringRef string);

// stringUnits of an object that may be anything: nothing for NULL and for an object that is not
// a string. The object is borrowed.
[[nodiscard]] std::optional<std::u16string> stringContents(CFTypeRef object);

} // namespace base
