#include "value_selection.h"

#include "text_offsets.h"

#include "unicode/utf.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <map>
#include <string>

namespace xdesk {

namespace {

constexpr const char* setter = "AXUIElementSetAttributeValue";

// What an application's toolkit calls itself, once per application; empty when it does not say.
const std::string& toolkitOf(const std::string& bus) {
    static std::map<std::string, std::string> known;
    auto found = known.find(bus);
    if (found == known.end()) {
        std::string name;
        if (getToolkitName(bus, &name) != kAXErrorSuccess) {
            name.clear();
        }
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        found = known.emplace(bus, std::move(name)).first;
    }
    return found->second;
}

// Gecko pads its text (text_offsets.h); Qt reads InsertText's length in UTF-16 units.
bool padsText(const Accessible& accessible) {
    return toolkitOf(accessible.bus) == "gecko";
}

bool countsLengthInUnits(const Accessible& accessible) {
    return toolkitOf(accessible.bus).rfind("qt", 0) == 0;
}

// The whole text and how the application counts it. The end asked for is the reported count, not
// -1, which some applications (LibreOffice) do not read as the end.
AXError applicationText(const Accessible& accessible, ApplicationText* text) {
    int32_t count = 0;
    if (const AXError failed = getCharacterCount(accessible, &count); failed != kAXErrorSuccess) {
        return failed;
    }
    std::string utf8;
    if (const AXError failed = getText(accessible, 0, std::max(count, 0), &utf8);
        failed != kAXErrorSuccess) {
        return failed;
    }
    std::optional<std::u16string> reported = unicode::utf16FromUtf8(utf8);
    if (!reported) {
        return kAXErrorCannotComplete;
    }
    std::optional<ApplicationText> read =
        applicationTextFrom(std::move(*reported), count, padsText(accessible));
    if (!read) {
        return kAXErrorCannotComplete; // a length that no way of counting explains
    }
    *text = std::move(*read);
    return kAXErrorSuccess;
}

// The text over which offsets count: the application's, or for a password text, whose text reads
// as a mask, the text last written to it through this element while the mask has one character
// per character of that text. (A mask of one character per UTF-16 unit, or one that no longer
// matches, counts as it is read.)
AXError offsetsText(ElementObject& element, ApplicationText* text) {
    if (const AXError failed = applicationText(element.accessible, text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (element.passwordText) {
        const std::u16string& written = *element.passwordText;
        const auto units = static_cast<long>(written.size());
        const long characters = charactersForUnits(written, units, InsidePair::after);
        const long maskCharacters =
            charactersForUnits(text->text, static_cast<long>(text->text.size()), InsidePair::after);
        if (characters != units && maskCharacters == characters &&
            text->unit == OffsetUnit::characters) {
            *text = {written, OffsetUnit::characters};
        }
    }
    return kAXErrorSuccess;
}

// The first selection, or the caret, as the application counts: both ends and the caret.
struct ReportedSelection {
    int32_t start = 0;
    int32_t end = 0;
};

AXError selectionOf(const Accessible& accessible, ReportedSelection* selection) {
    int32_t count = 0;
    if (const AXError failed = getSelectionCount(accessible, &count); failed != kAXErrorSuccess) {
        return failed;
    }
    int32_t caret = -1;
    if (const AXError failed = getCaretOffset(accessible, &caret); failed != kAXErrorSuccess) {
        return failed;
    }
    if (count > 0) {
        int32_t start = 0;
        int32_t end = 0;
        if (const AXError failed = getSelection(accessible, 0, &start, &end);
            failed != kAXErrorSuccess) {
            return failed;
        }
        if (start > end) {
            std::swap(start, end);
        }
        if (start != end) {
            // The caret is at one end of a selection; where it is at neither, the application
            // contradicts itself and neither reading can be trusted.
            if (caret != start && caret != end) {
                return kAXErrorCannotComplete;
            }
            *selection = {start, end};
            return kAXErrorSuccess;
        }
    }
    if (caret < 0) {
        return kAXErrorNoValue; // no caret at all
    }
    *selection = {caret, caret};
    return kAXErrorSuccess;
}

bool stringValue(CFTypeRef value, std::u16string* text) {
    if (cfcore::lookup(value, setter)->type != cfcore::stringTypeId) {
        return false;
    }
    *text = cfcore::stringText(static_cast<CFStringRef>(value), setter);
    return true;
}

AXError written(AXError failed, bool done) {
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    return done ? kAXErrorSuccess : kAXErrorFailure; // false: the application refused
}

AXError writeWhole(const Accessible& accessible, const std::u16string& text) {
    bool done = false;
    const AXError failed = setTextContents(accessible, unicode::utf8FromUtf16(text), &done);
    return written(failed, done);
}

// InsertText's length argument for `utf8`, in what the application reads it in.
int32_t insertionLength(const Accessible& accessible, std::u16string_view text,
                        const std::string& utf8) {
    const std::size_t length = countsLengthInUnits(accessible) ? text.size() : utf8.size();
    return static_cast<int32_t>(std::min<std::size_t>(length, INT_MAX));
}

// Whether the application's text now reads as `expected`.
bool reads(const Accessible& accessible, std::u16string_view expected) {
    ApplicationText now;
    return applicationText(accessible, &now) == kAXErrorSuccess && now.text == expected;
}

// Takes back text that the application inserted where the text should have read `before`:
// deletes the extra units if that is all that changed. Whether it worked, the caller reads.
void takeBackInsertion(const Accessible& accessible, std::u16string_view before) {
    ApplicationText now;
    if (applicationText(accessible, &now) != kAXErrorSuccess || now.text.size() <= before.size()) {
        return;
    }
    const ChangedSpan span = changedSpan(before, now.text);
    if (span.prefix + span.suffix != before.size()) {
        return; // not a plain insertion: nothing is guessed
    }
    const long start = applicationOffset(now, static_cast<long>(span.prefix), InsidePair::before);
    const long end =
        applicationOffset(now, static_cast<long>(now.text.size() - span.suffix), InsidePair::after);
    bool done = false;
    static_cast<void>(
        deleteText(accessible, static_cast<int32_t>(start), static_cast<int32_t>(end), &done));
}

// The answer after a step of the edit failed (`failed`, or the application refused it) and what
// it changed was taken back where it could be, from what the text reads as now. The text as the
// user left it: the failure stands, nothing was written. The text wanted: the step landed after
// all (a slow application), so the write is done. Anything else, such as the new text beside the
// old when both the deletion and the taking back failed, or no answer at all: the field may hold
// the new text, so kAXErrorCannotComplete, on which a host must not write the text again.
AXError afterFailedStep(const Accessible& accessible, std::u16string_view old,
                        std::u16string_view wanted, AXError failed) {
    ApplicationText now;
    if (applicationText(accessible, &now) != kAXErrorSuccess) {
        return kAXErrorCannotComplete;
    }
    if (now.text == wanted) {
        return kAXErrorSuccess;
    }
    if (now.text == old) {
        return failed != kAXErrorSuccess ? failed : kAXErrorFailure;
    }
    return kAXErrorCannotComplete;
}

// Makes `old` (as read) into `wanted` by inserting the new span after the old one and then
// deleting the old one, each step read back. A step whose answer did not come (a slow
// application's handlers of the change outlast the call's timeout) may still have landed: the
// application answers calls in the order they came, so the read that follows it tells.
AXError editSpan(const Accessible& accessible, const ApplicationText& old,
                 const std::u16string& wanted) {
    const ChangedSpan span = changedSpan(old.text, wanted);
    const std::size_t oldEnd = old.text.size() - span.suffix;
    const std::u16string_view inserted =
        std::u16string_view(wanted).substr(span.prefix, wanted.size() - span.suffix - span.prefix);
    const long from = applicationOffset(old, static_cast<long>(span.prefix), InsidePair::before);
    const long to = applicationOffset(old, static_cast<long>(oldEnd), InsidePair::after);
    if (from > INT_MAX || to > INT_MAX) {
        return kAXErrorIllegalArgument;
    }
    // The text once the new span stands after the old one.
    std::u16string both = old.text.substr(0, oldEnd);
    both.append(inserted);
    both.append(old.text, oldEnd, std::u16string::npos);
    if (!inserted.empty()) {
        const std::string utf8 = unicode::utf8FromUtf16(inserted);
        bool done = false;
        const AXError failed = insertText(accessible, static_cast<int32_t>(to), utf8,
                                          insertionLength(accessible, inserted, utf8), &done);
        if (!reads(accessible, both)) {
            if (reads(accessible, old.text)) {
                if (failed == kAXErrorSuccess && !done) {
                    // Refused outright and nothing changed: the range edit is not available here.
                    return writeWhole(accessible, wanted);
                }
                return failed != kAXErrorSuccess ? failed : kAXErrorFailure;
            }
            takeBackInsertion(accessible, old.text);
            return afterFailedStep(accessible, old.text, wanted, failed);
        }
    }
    if (oldEnd > span.prefix) {
        bool done = false;
        const AXError failed =
            deleteText(accessible, static_cast<int32_t>(from), static_cast<int32_t>(to), &done);
        if (!reads(accessible, wanted)) {
            // The old span is still there (or the application did something else): the
            // insertion is taken back, so the text is as the user left it. A second way of taking
            // it back, the whole old text written at once, is not tried: it would lose the
            // formatting of the text around and the application's undo step.
            if (!inserted.empty()) {
                takeBackInsertion(accessible, old.text);
            }
            return afterFailedStep(accessible, old.text, wanted, failed);
        }
    }
    return kAXErrorSuccess;
}

} // namespace

AXError readValue(const Accessible& accessible, CFTypeRef* value) {
    bool text = false;
    if (const AXError failed = offers(accessible, Interface::text, &text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (text) {
        ApplicationText read;
        if (const AXError failed = applicationText(accessible, &read); failed != kAXErrorSuccess) {
            return failed;
        }
        *value = newString(std::move(read.text));
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
    double current = 0;
    if (const AXError failed = getCurrentValue(accessible, &current); failed != kAXErrorSuccess) {
        return failed;
    }
    *value = toRef<CFTypeRef>(track(std::make_unique<cfcore::NumberObject>(current)));
    return kAXErrorSuccess;
}

AXError readSelectedRange(ElementObject& element, CFTypeRef* value) {
    const Accessible& accessible = element.accessible;
    if (const AXError failed = requireInterface(accessible, Interface::text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    ReportedSelection selection;
    if (const AXError failed = selectionOf(accessible, &selection); failed != kAXErrorSuccess) {
        return failed;
    }
    ApplicationText text;
    if (const AXError failed = offsetsText(element, &text); failed != kAXErrorSuccess) {
        return failed;
    }
    const std::optional<long> start = unitOffset(text, selection.start);
    const std::optional<long> end = unitOffset(text, selection.end);
    if (!start || !end) {
        return kAXErrorCannotComplete;
    }
    const CFRange units = CFRangeMake(*start, *end - *start);
    *value = toRef<CFTypeRef>(cfcore::createAxValue(kAXValueTypeCFRange, &units));
    return kAXErrorSuccess;
}

AXError writeValue(ElementObject& element, CFTypeRef value) {
    std::u16string text;
    if (!stringValue(value, &text)) {
        return kAXErrorIllegalArgument;
    }
    // The bus carries C strings: a text holding U+0000 would arrive cut short, so it is refused
    // rather than written in part.
    if (text.find(u'\0') != std::u16string::npos) {
        return kAXErrorIllegalArgument;
    }
    const Accessible& accessible = element.accessible;
    if (const AXError failed = requireInterface(accessible, Interface::editableText);
        failed != kAXErrorSuccess) {
        return failed;
    }
    uint32_t role = ATSPI_ROLE_INVALID;
    if (const AXError failed = roleOf(element, &role); failed != kAXErrorSuccess) {
        return failed;
    }
    // A password text reads as its mask, which tells nothing of what differs.
    if (role == ATSPI_ROLE_PASSWORD_TEXT) {
        element.passwordText.reset();
        const AXError failed = writeWhole(accessible, text);
        if (failed == kAXErrorSuccess) {
            element.passwordText = withUnpairedAsReplacement(text);
        }
        return failed;
    }
    ApplicationText old;
    if (const AXError failed = applicationText(accessible, &old); failed != kAXErrorSuccess) {
        return failed;
    }
    // What the text reads as once written out as UTF-8.
    return editSpan(accessible, old, withUnpairedAsReplacement(text));
}

AXError writeSelectedRange(ElementObject& element, CFTypeRef value) {
    const Accessible& accessible = element.accessible;
    CFRange range = CFRangeMake(0, 0);
    if (cfcore::lookup(value, setter)->type != cfcore::axValueTypeId ||
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
    ApplicationText text;
    if (const AXError failed = offsetsText(element, &text); failed != kAXErrorSuccess) {
        return failed;
    }
    if (static_cast<long>(text.text.size()) < range.location + range.length) {
        return kAXErrorIllegalArgument;
    }
    const long start = applicationOffset(text, range.location, InsidePair::before);
    const long end = range.length == 0 ? start
                                       : applicationOffset(text, range.location + range.length,
                                                           InsidePair::after);
    const auto first = static_cast<int32_t>(start);
    const auto last = static_cast<int32_t>(end);
    bool done = false;
    if (range.length != 0) {
        AXError failed = setSelection(accessible, 0, first, last, &done);
        if (failed == kAXErrorSuccess && !done) {
            failed = addSelection(accessible, first, last, &done);
        }
        return written(failed, done);
    }
    if (const AXError failed = setCaretOffset(accessible, first, &done);
        failed != kAXErrorSuccess || !done) {
        return written(failed, done);
    }
    // Moving the caret drops the selection on a Mac. Some applications (LibreOffice) keep the
    // selection's other end where it was: the selection is then collapsed onto the caret.
    ReportedSelection now;
    if (selectionOf(accessible, &now) == kAXErrorSuccess && now.start == now.end) {
        return kAXErrorSuccess;
    }
    bool collapsed = false;
    if (setSelection(accessible, 0, first, first, &collapsed) != kAXErrorSuccess || !collapsed ||
        selectionOf(accessible, &now) != kAXErrorSuccess || now.start != now.end) {
        static_cast<void>(removeSelection(accessible, 0, &collapsed));
    }
    int32_t caret = -1;
    if (getCaretOffset(accessible, &caret) == kAXErrorSuccess && caret != first) {
        static_cast<void>(setCaretOffset(accessible, first, &done));
    }
    return kAXErrorSuccess;
}

} // namespace xdesk
