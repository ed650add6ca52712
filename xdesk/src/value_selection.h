// The value and the selected text range of an accessible, read and written in the Mac's terms:
// the value is the whole text (or a number, for an accessible that offers only a value), the range
// counts UTF-16 units where AT-SPI counts characters.
#pragma once

#include "accessible.h"

namespace xdesk {

// The accessible's text as a string, or its number; kAXErrorNoValue when it offers neither.
AXError readValue(AtspiAccessible* accessible, CFTypeRef* value);

// The first selection, or else the caret, as a CFRange AXValue in UTF-16 units.
AXError readSelectedRange(AtspiAccessible* accessible, CFTypeRef* value);

// Replaces the whole text with a string. A text that holds U+0000 is refused.
AXError writeValue(AtspiAccessible* accessible, CFTypeRef value);

// Selects a CFRange AXValue in UTF-16 units, or puts the caret for an empty one. A range that
// cuts a character in two takes in the whole character.
AXError writeSelectedRange(AtspiAccessible* accessible, CFTypeRef value);

} // namespace xdesk
