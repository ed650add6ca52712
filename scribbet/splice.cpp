#include "scribbet/splice.h"

#include "base/cf_ptr.h"

#include <algorithm>

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

// Units compared per step: a value is compared piece by piece, never copied whole.
constexpr CFIndex compareChunk = 4096;

// Whether `count` units of `a` from `aFrom` equal those of `b` from `bFrom`; both ranges lie
// inside their strings.
bool sameUnits(CFStringRef a, CFIndex aFrom, CFStringRef b, CFIndex bFrom, CFIndex count) {
    UniChar left[compareChunk];
    UniChar right[compareChunk];
    for (CFIndex done = 0; done < count;) {
        const CFIndex step = std::min(compareChunk, count - done);
        CFStringGetCharacters(a, CFRangeMake(aFrom + done, step), left);
        CFStringGetCharacters(b, CFRangeMake(bFrom + done, step), right);
        if (!std::equal(left, left + step, right)) {
            return false;
        }
        done += step;
    }
    return true;
}

// Whether the units of `string` from `from` on are `units`; the range lies inside the string.
bool sameUnits(CFStringRef string, CFIndex from, std::u16string_view units) {
    UniChar chunk[compareChunk];
    const auto count = static_cast<CFIndex>(units.size());
    for (CFIndex done = 0; done < count;) {
        const CFIndex step = std::min(compareChunk, count - done);
        CFStringGetCharacters(string, CFRangeMake(from + done, step), chunk);
        if (!std::equal(chunk, chunk + step, units.begin() + done)) {
            return false;
        }
        done += step;
    }
    return true;
}

// What the element's value reads as after a write: the value written, the value before it, some
// other text (an application that normalises line ends, say), or nothing that can be compared (a
// failed read, a value that is not a plain string).
enum class ReadBack { written, old, other, unreadable };

// The value before the write is not kept whole: it is the written value with `replaced` in place
// of the text's units at `location`.
struct WrittenValue {
    CFStringRef value;            // borrowed
    CFIndex location;             // where the text starts
    CFIndex textUnits;            // the text's length
    std::u16string_view replaced; // the units that the text replaced
};

ReadBack readValueBack(AXUIElementRef element, const WrittenValue& written) {
    const ValuePtr read = copyAttributeValue(element, kAXValueAttribute);
    if (read == nullptr || CFGetTypeID(read.get()) != CFStringGetTypeID()) {
        return ReadBack::unreadable;
    }
    const auto readBack = static_cast<CFStringRef>(read.get());
    const CFIndex readUnits = CFStringGetLength(readBack);
    const CFIndex writtenUnits = CFStringGetLength(written.value);
    if (readUnits == writtenUnits && sameUnits(readBack, 0, written.value, 0, writtenUnits)) {
        return ReadBack::written;
    }
    // The old value: the same head, the replaced units, the same tail.
    const CFIndex head = written.location;
    const CFIndex tail = writtenUnits - head - written.textUnits;
    const auto replacedUnits = static_cast<CFIndex>(written.replaced.size());
    if (readUnits == head + replacedUnits + tail &&
        sameUnits(readBack, 0, written.value, 0, head) &&
        sameUnits(readBack, head, written.replaced) &&
        sameUnits(readBack, head + replacedUnits, written.value, head + written.textUnits, tail)) {
        return ReadBack::old;
    }
    return ReadBack::other;
}

// Whether the element's selection reads as something else than `caret`. A selection that cannot
// be read tells nothing, and the write's own answer stands.
bool selectionDiffers(AXUIElementRef element, CFRange caret) {
    const ValuePtr read = copyAttributeValue(element, kAXSelectedTextRangeAttribute);
    const std::optional<CFRange> range = parseSelectedTextRange(read.get());
    return range && (range->location != caret.location || range->length != caret.length);
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
    // A secure field's value reads back as its mask, which tells nothing about what it holds.
    const bool secure = isSecureTextField(context);
    std::u16string replaced; // the selected units of the old value
    base::CfPtr<CFStringRef> newValue;
    {
        // The value captured while the context was resolved; it is not read again.
        const std::optional<std::u16string> spliced =
            spliceSelection(context.value, context.selectedRange, text);
        if (!spliced) {
            return respond("selection_not_range", std::nullopt, "selection_out_of_bounds");
        }
        if (secure && !replacesWholeValue(static_cast<CFIndex>(context.value.size()),
                                          context.selectedRange)) {
            // The value we hold is the mask, not the text: nothing is written.
            return respond("value_unavailable", std::nullopt, std::nullopt);
        }
        if (!secure) {
            replaced =
                context.value.substr(static_cast<std::size_t>(context.selectedRange.location),
                                     static_cast<std::size_t>(context.selectedRange.length));
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
    const WrittenValue written{newValue.get(), context.selectedRange.location, textUnits, replaced};
    if (valueWritten == kAXErrorCannotComplete && !secure) {
        // The answer did not come in time, but a slow application may have taken the value all
        // the same: when it reads back as ours, the insertion happened.
        if (readValueBack(element.get(), written) != ReadBack::written) {
            return respond("set_value_failed", std::nullopt, axErrorLabel(valueWritten));
        }
    } else if (valueWritten != kAXErrorSuccess) {
        // The selection is left alone; there is nothing to undo.
        return respond("set_value_failed", std::nullopt, axErrorLabel(valueWritten));
    } else if (!secure && readValueBack(element.get(), written) == ReadBack::old) {
        // The application said yes and kept its old value, although ours differs: nothing was
        // written, and the caret is left alone. A value that changed in another way (line ends
        // of the application's own, say) counts as written: a host that pasted again would
        // double the text.
        return respond("set_value_failed", std::nullopt, axErrorLabel(kAXErrorFailure));
    }
    newValue.reset();
    std::u16string().swap(replaced);

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
    // An application may take the caret and keep a selection beside it, which the user's next key
    // would replace: the caret is set once more, and when that does not collapse the selection
    // either, the host is told.
    if (!selectionDiffers(element.get(), caret)) {
        return respond("inserted", true, std::nullopt);
    }
    const AXError caretRewritten = AXUIElementSetAttributeValue(
        element.get(), kAXSelectedTextRangeAttribute, caretValue.get());
    if (caretRewritten != kAXErrorSuccess) {
        return respond("inserted", false, axErrorLabel(caretRewritten));
    }
    if (selectionDiffers(element.get(), caret)) {
        return respond("inserted", false, axErrorLabel(kAXErrorFailure));
    }
    return respond("inserted", true, std::nullopt);
}

} // namespace scribbet
