// The value and the selected text range of an accessible, read and written in the Mac's terms:
// the value is the whole text (or a number, for an accessible that offers only a value), the range
// counts UTF-16 units, whatever the application counts in (text_offsets.h).
#pragma once

#include "accessible.h"

namespace xdesk {

// The accessible's text as a string, or its number; kAXErrorNoValue when it offers neither. A
// text whose reported length agrees with no way of counting is kAXErrorCannotComplete.
AXError readValue(const Accessible& accessible, CFTypeRef* value);

// The first selection, or else the caret, as a CFRange AXValue in UTF-16 units. Two readings
// that disagree (a selection whose ends the caret is at neither of, an offset between the units
// of a surrogate pair or past the end) are kAXErrorCannotComplete: nothing is written on them.
AXError readSelectedRange(const Accessible& accessible, CFTypeRef* value);

// Makes the text the string given, by editing only the span that differs: the new part is
// inserted after the old one, then the old one deleted, and each step is read back. An edit that
// did not happen, or happened otherwise, is taken back where it can be and answers
// kAXErrorFailure, so the user's text is never lost. A password text, and an application that
// refuses the insertion outright, get the whole text written at once. A string that holds U+0000
// is refused.
AXError writeValue(ElementObject& element, CFTypeRef value);

// Selects a CFRange AXValue in UTF-16 units, or puts the caret for an empty one and makes sure no
// selection is left around it. A range that cuts a character in two takes in the whole character.
AXError writeSelectedRange(const Accessible& accessible, CFTypeRef value);

} // namespace xdesk
