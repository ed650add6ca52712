#include "scribbet/splice.h"

#include "base/cf_ptr.h"

namespace scribbet {

namespace {

// Whether `range` lies inside a value of n code units, tested in the fixed order. The end is
// never computed: once loc <= n, n - loc cannot overflow, and a sum past the 64-bit range would
// be greater than n anyway.
bool insideValue(CFIndex n, CFRange range) {
    if (range.location < 0 || range.length < 0 || range.location > n) {
        return false;
    }
    return range.length <= n - range.location;
}

// A secure text field (a password field) never shows its text to an accessibility client: its
// value reads as one mask character per character of the text. A value spliced from that mask
// would put the mask characters into the field in place of the user's real text, so such a field
// is written only when the new value keeps nothing of the old one: the field is empty, or the
// selection covers the whole value. The new value is then the text alone.
bool isSecureTextField(const TextInsertionContext& context) {
    constexpr std::u16string_view secure = u"AXSecureTextField";
    return context.subrole == secure || context.role == secure;
}

bool replacesWholeValue(CFIndex n, CFRange range) {
    return n == 0 || (range.location == 0 && range.length == n);
}

// Create rule: the string is ours. NULL only when it cannot be made.
base::CfPtr<CFStringRef> createString(std::u16string_view text) {
    static_assert(sizeof(UniChar) == sizeof(char16_t));
    return base::adopt(CFStringCreateWithCharacters(kCFAllocatorDefault,
                                                    reinterpret_cast<const UniChar*>(text.data()),
                                                    static_cast<CFIndex>(text.size())));
}

} // namespace

std::optional<std::u16string> spliceSelection(std::u16string_view value, CFRange range,
                                              std::u16string_view text) {
    if (!insideValue(static_cast<CFIndex>(value.size()), range)) {
        return std::nullopt;
    }
    const auto location = static_cast<std::size_t>(range.location);
    const auto end = location + static_cast<std::size_t>(range.length);
    std::u16string spliced;
    spliced.reserve(value.size() - (end - location) + text.size());
    spliced.append(value.substr(0, location));
    spliced.append(text);
    spliced.append(value.substr(end));
    return spliced;
}

HelperResponse runDirectInsertion(TextInsertionContext context, std::u16string text,
                                  pid_t targetPid, std::optional<pid_t> focusedPid) {
    const ElementPtr element = std::move(context.element); // released on every way out
    const auto respond = [&](std::string status, std::optional<bool> selectionUpdated,
                             std::optional<std::string> error) {
        HelperResponse response =
            elementOutcome(std::move(status), context.role, context.subrole, targetPid, focusedPid);
        response.selectionUpdated = selectionUpdated;
        response.error = std::move(error);
        return response;
    };

    const auto textUnits = static_cast<CFIndex>(text.size());
    base::CfPtr<CFStringRef> newValue;
    {
        // The value captured while the context was resolved; it is not read again.
        const std::optional<std::u16string> spliced =
            spliceSelection(context.value, context.selectedRange, text);
        if (!spliced) {
            return respond("selection_not_range", std::nullopt, "selection_out_of_bounds");
        }
        if (isSecureTextField(context) &&
            !replacesWholeValue(static_cast<CFIndex>(context.value.size()),
                                context.selectedRange)) {
            // The value we hold is the mask, not the text: nothing is written.
            return respond("value_unavailable", std::nullopt, std::nullopt);
        }
        // Everything of the old value and the text is in the spliced value now: their buffers go
        // before the platform makes its own copy.
        std::u16string().swap(context.value);
        std::u16string().swap(text);
        newValue = createString(*spliced);
    } // the spliced value goes too: the platform's string is all that is written
    if (newValue == nullptr) {
        // The string could not be made (out of memory): nothing was written.
        return respond("set_value_failed", std::nullopt, axErrorLabel(kAXErrorFailure));
    }
    const AXError valueWritten =
        AXUIElementSetAttributeValue(element.get(), kAXValueAttribute, newValue.get());
    if (valueWritten != kAXErrorSuccess) {
        // The selection is left alone; there is nothing to undo.
        return respond("set_value_failed", std::nullopt, axErrorLabel(valueWritten));
    }

    // In range, so the caret is at most the new value's length and cannot overflow.
    const CFRange caret = CFRangeMake(context.selectedRange.location + textUnits, 0);
    const base::CfPtr<AXValueRef> caretValue =
        base::adopt(AXValueCreate(kAXValueTypeCFRange, &caret));
    if (caretValue == nullptr) {
        return respond("inserted", false, "selection_value_create_failed");
    }
    const AXError caretWritten = AXUIElementSetAttributeValue(
        element.get(), kAXSelectedTextRangeAttribute, caretValue.get());
    if (caretWritten != kAXErrorSuccess) {
        // The value stays written: the insertion happened, only the caret is elsewhere.
        return respond("inserted", false, axErrorLabel(caretWritten));
    }
    return respond("inserted", true, std::nullopt);
}

} // namespace scribbet
