#include "value_selection.h"

#include "text_offsets.h"

#include <algorithm>
#include <climits>
#include <string>

namespace xdesk {

namespace {

// The first selection, or the caret, in characters.
AXError selectionOf(AtspiAccessible* accessible, CharacterRange* selection) {
    AtspiText* text = ATSPI_TEXT(accessible);
    gint count = 0;
    if (const AXError failed = callApplication(
            accessible, [&](GError** error) { count = atspi_text_get_n_selections(text, error); });
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (count > 0) {
        std::unique_ptr<AtspiRange, GFree> range;
        const AXError failed = callApplication(accessible, [&](GError** error) {
            range.reset(atspi_text_get_selection(text, 0, error));
        });
        if (failed != kAXErrorSuccess) {
            return failed;
        }
        if (range == nullptr) {
            return kAXErrorNoValue;
        }
        *selection = {std::min(range->start_offset, range->end_offset),
                      std::max(range->start_offset, range->end_offset)};
        return kAXErrorSuccess;
    }
    gint caret = -1;
    const AXError failed = callApplication(
        accessible, [&](GError** error) { caret = atspi_text_get_caret_offset(text, error); });
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    if (caret < 0) {
        return kAXErrorNoValue; // no caret at all
    }
    *selection = {caret, caret};
    return kAXErrorSuccess;
}

} // namespace

AXError readValue(AtspiAccessible* accessible, CFTypeRef* value) {
    bool text = false;
    if (const AXError failed = offers(accessible, Interface::text, &text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (text) {
        std::u16string whole;
        if (const AXError failed = textOf(accessible, -1, &whole); failed != kAXErrorSuccess) {
            return failed;
        }
        *value = newString(std::move(whole));
        return kAXErrorSuccess;
    }
    bool numeric = false;
    if (const AXError failed = offers(accessible, Interface::value, &numeric);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (!numeric) {
        return kAXErrorNoValue;
    }
    gdouble current = 0;
    const AXError failed = callApplication(accessible, [&](GError** error) {
        current = atspi_value_get_current_value(ATSPI_VALUE(accessible), error);
    });
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    *value = toRef<CFTypeRef>(track(std::make_unique<cfcore::NumberObject>(current)));
    return kAXErrorSuccess;
}

AXError readSelectedRange(AtspiAccessible* accessible, CFTypeRef* value) {
    if (const AXError failed = requireInterface(accessible, Interface::text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    CharacterRange selection;
    if (const AXError failed = selectionOf(accessible, &selection); failed != kAXErrorSuccess) {
        return failed;
    }
    std::u16string prefix;
    if (const AXError failed = prefixOf(accessible, selection.end, &prefix);
        failed != kAXErrorSuccess) {
        return failed;
    }
    const long start = unitsForCharacters(prefix, selection.start);
    const long end = unitsForCharacters(prefix, selection.end);
    const CFRange units = CFRangeMake(start, end - start);
    *value = toRef<CFTypeRef>(cfcore::createAxValue(kAXValueTypeCFRange, &units));
    return kAXErrorSuccess;
}

AXError writeValue(AtspiAccessible* accessible, CFTypeRef value) {
    if (cfcore::lookup(value, "AXUIElementSetAttributeValue")->type != cfcore::stringTypeId) {
        return kAXErrorIllegalArgument;
    }
    const std::u16string text =
        cfcore::stringText(static_cast<CFStringRef>(value), "AXUIElementSetAttributeValue");
    // The bus carries C strings: a text holding U+0000 would arrive cut short, so it is refused
    // rather than written in part.
    if (text.find(u'\0') != std::u16string::npos) {
        return kAXErrorIllegalArgument;
    }
    if (const AXError failed = requireInterface(accessible, Interface::editableText);
        failed != kAXErrorSuccess) {
        return failed;
    }
    const std::string utf8 = cfcore::encodeUtf8Lossy(text);
    gboolean written = FALSE;
    const AXError failed = callApplication(
        accessible,
        [&](GError** error) {
            written = atspi_editable_text_set_text_contents(ATSPI_EDITABLE_TEXT(accessible),
                                                            utf8.c_str(), error);
        },
        CallKind::write);
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    return written ? kAXErrorSuccess : kAXErrorFailure; // FALSE: the application refused
}

AXError writeSelectedRange(AtspiAccessible* accessible, CFTypeRef value) {
    CFRange range = CFRangeMake(0, 0);
    if (cfcore::lookup(value, "AXUIElementSetAttributeValue")->type != cfcore::axValueTypeId ||
        !AXValueGetValue(static_cast<AXValueRef>(value), kAXValueTypeCFRange, &range)) {
        return kAXErrorIllegalArgument;
    }
    if (range.location < 0 || range.length < 0 || range.location > INT_MAX ||
        range.length > INT_MAX - range.location) {
        return kAXErrorIllegalArgument;
    }
    if (const AXError failed = requireInterface(accessible, Interface::text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    // N units never hold more than N characters, so the first N characters cover them; a text
    // shorter than the range's end in units is shorter than the range.
    const long endUnits = range.location + range.length;
    std::u16string prefix;
    if (const AXError failed = prefixOf(accessible, endUnits, &prefix); failed != kAXErrorSuccess) {
        return failed;
    }
    if (static_cast<long>(prefix.size()) < endUnits) {
        return kAXErrorIllegalArgument;
    }
    const CharacterRange characters = charactersForRange(prefix, range);
    const auto start = static_cast<gint>(characters.start);
    const auto end = static_cast<gint>(characters.end);
    AtspiText* textInterface = ATSPI_TEXT(accessible);
    gboolean set = FALSE;
    AXError failed = kAXErrorSuccess;
    if (range.length == 0) {
        // Moving the caret also drops any selection, as setting an empty range does on a Mac.
        failed = callApplication(
            accessible,
            [&](GError** error) { set = atspi_text_set_caret_offset(textInterface, start, error); },
            CallKind::write);
    } else {
        failed = callApplication(
            accessible,
            [&](GError** error) {
                set = atspi_text_set_selection(textInterface, 0, start, end, error);
            },
            CallKind::write);
        if (failed == kAXErrorSuccess && !set) {
            // No selection to move: one is added, in a call of its own.
            failed = callApplication(
                accessible,
                [&](GError** error) {
                    set = atspi_text_add_selection(textInterface, start, end, error);
                },
                CallKind::write);
        }
    }
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    return set ? kAXErrorSuccess : kAXErrorFailure;
}

} // namespace xdesk
