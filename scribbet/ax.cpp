#include "scribbet/ax.h"

#include "base/utf.h"

#include <array>

namespace scribbet {

ValuePtr copyAttributeValue(AXUIElementRef element, CFStringRef attribute) {
    CFTypeRef slot = nullptr;
    const AXError error = AXUIElementCopyAttributeValue(element, attribute, &slot);
    ValuePtr value = base::adopt(slot); // Copy rule: whatever landed in the slot is ours
    if (error != kAXErrorSuccess) {
        return nullptr;
    }
    return value;
}

std::optional<std::u16string> copyStringAttribute(AXUIElementRef element, CFStringRef attribute) {
    const ValuePtr value = copyAttributeValue(element, attribute);
    return base::stringContents(value.get());
}

ElementPtr copyElementAttribute(AXUIElementRef element, CFStringRef attribute) {
    ValuePtr value = copyAttributeValue(element, attribute);
    if (value == nullptr || CFGetTypeID(value.get()) != AXUIElementGetTypeID()) {
        return nullptr;
    }
    return ElementPtr(static_cast<AXUIElementRef>(value.release()));
}

std::optional<CFRange> parseSelectedTextRange(CFTypeRef value) {
    if (value == nullptr || CFGetTypeID(value) != AXValueGetTypeID()) {
        return std::nullopt;
    }
    auto boxed = static_cast<AXValueRef>(value);
    if (AXValueGetType(boxed) != kAXValueTypeCFRange) {
        return std::nullopt;
    }
    CFRange range = CFRangeMake(0, 0);
    if (!AXValueGetValue(boxed, kAXValueTypeCFRange, &range)) {
        return std::nullopt;
    }
    return range;
}

bool isAttributeSettable(AXUIElementRef element, CFStringRef attribute) {
    Boolean settable = false;
    const AXError error = AXUIElementIsAttributeSettable(element, attribute, &settable);
    return error == kAXErrorSuccess && settable;
}

std::optional<pid_t> copyElementPid(AXUIElementRef element) {
    pid_t pid = 0;
    const AXError error = AXUIElementGetPid(element, &pid);
    if (error != kAXErrorSuccess || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

std::string axErrorLabel(AXError error) {
    // kAXErrorNotEnoughPrecision (-25214) up to kAXErrorFailure (-25200), in code order.
    static constexpr std::array<const char*, 15> block = {
        "not_enough_precision",
        "parameterized_attribute_unsupported",
        "no_value",
        "api_disabled",
        "notification_not_registered",
        "notification_already_registered",
        "not_implemented",
        "notification_unsupported",
        "action_unsupported",
        "attribute_unsupported",
        "cannot_complete",
        "invalid_ui_element_observer",
        "invalid_ui_element",
        "illegal_argument",
        "failure",
    };
    const long code = static_cast<long>(error);
    if (code == 0) {
        return "success";
    }
    const long index = code + 25214;
    if (index >= 0 && index < static_cast<long>(block.size())) {
        return block[static_cast<std::size_t>(index)];
    }
    return "ax_error_" + std::to_string(code);
}

} // namespace scribbet
