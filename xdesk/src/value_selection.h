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
// A password text reads as a mask; when its mask has one character per character of the text
// last written to it through this element, its offsets count in that text (so an emoji there
// counts two units, as everywhere else), otherwise in the mask.
AXError readSelectedRange(ElementObject& element, CFTypeRef* value);

// Makes the text the string given, by editing only the span that differs: the new part is
// inserted after the old one, then the old one deleted, and each step is read back. An edit that
// did not happen, or happened otherwise, is taken back where it can be, so the user's text is
// never lost; the answer then follows what the text reads as: as before, the step's error (or
// kAXErrorFailure); as wanted (a late step), success; anything else (the new text beside the old
// when the taking back failed too) kAXErrorCannotComplete, since the new text may be there. A
// password text, and an application that refuses the insertion outright, get the whole text
// written at once; a password text then keeps the text in the element (readSelectedRange). A
// string that holds U+0000 is refused.
AXError writeValue(ElementObject& element, CFTypeRef value);

// Selects a CFRange AXValue in UTF-16 units, or puts the caret for an empty one and makes sure no
// selection is left around it. A range that cuts a character in two takes in the whole character.
// A password text's offsets count as readSelectedRange says.
AXError writeSelectedRange(ElementObject& element, CFTypeRef value);

} // namespace xdesk
