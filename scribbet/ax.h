// The Accessibility access layer: one platform call per wrapper, loosely typed results turned
// into optional values of fixed types. Failed calls, missing values and values of the wrong kind
// all give "none"; error codes reach the result line only through axErrorLabel.
#pragma once

#include "base/cf_ptr.h"

#include <ApplicationServices/ApplicationServices.h>

#include <optional>
#include <string>

namespace scribbet {

using ElementPtr = base::CfPtr<AXUIElementRef>;
using ValuePtr = base::CfPtr<CFTypeRef>;

// The attribute's value, owned by the caller; empty on any error code (a value left behind with
// an error is released) and when the call succeeds without a value.
[[nodiscard]] ValuePtr copyAttributeValue(AXUIElementRef element, CFStringRef attribute);

// The attribute's whole text when its value is a string of any string class.
[[nodiscard]] std::optional<std::u16string> copyStringAttribute(AXUIElementRef element,
                                                                CFStringRef attribute);

// The attribute's value as an element, owned by the caller. A value of another kind is released
// and gives none, so that no other object is ever used as an element.
[[nodiscard]] ElementPtr copyElementAttribute(AXUIElementRef element, CFStringRef attribute);

// The range boxed in a value of kind kAXValueTypeCFRange, unchecked; the value is only borrowed.
[[nodiscard]] std::optional<CFRange> parseSelectedTextRange(CFTypeRef value);

// True only when the test succeeds and reports the attribute settable.
[[nodiscard]] bool isAttributeSettable(AXUIElementRef element, CFStringRef attribute);

// The owning process, when the query succeeds with a pid above 0.
[[nodiscard]] std::optional<pid_t> copyElementPid(AXUIElementRef element);

// The label of an Accessibility error code for the result line; total.
[[nodiscard]] std::string axErrorLabel(AXError error);

} // namespace scribbet
