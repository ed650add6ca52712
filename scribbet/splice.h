// Replacing the selected range of the element's value with the text, and moving the caret.
// Every position and length here counts UTF-16 code units.
#pragma once

#include "scribbet/context.h"
#include "scribbet/response.h"

#include <optional>
#include <string>
#include <string_view>

namespace scribbet {

// The value's code units before the range, then the text, then the code units after the range.
// Nothing when the range is not inside the value: a negative location or length, a location past
// the end, or an end past the end (an end beyond the 64-bit range included). Ranges are not moved
// to character boundaries, so a boundary between the halves of a surrogate pair is spliced as is.
[[nodiscard]] std::optional<std::u16string>
spliceSelection(std::u16string_view value, CFRange range, std::u16string_view text);

// Writes the spliced value to the context's element, then the caret just after the text, and
// returns the run's result. Each write is checked by reading it back once:
// - the value, after a write that succeeded: when it still reads as the old value although the
//   spliced value differs, nothing was written ("set_value_failed", "failure"), and the caret is
//   left alone. A value that changed in another way counts as written.
// - the value, after a write that answered kAXErrorCannotComplete (a slow application whose
//   answer came too late): when it reads as the spliced value, the write landed and the run goes
//   on as after a success; otherwise "set_value_failed", "cannot_complete".
// - the selection, after the caret write succeeded: when it is not the caret just set, the caret
//   is written once more, and when the selection still differs, "inserted" with
//   selectionUpdated false and "failure".
// A read that fails or gives something else than a string (a range) leaves the write's own
// answer standing. A failed caret write does not undo the value.
// A secure text field, whose value reads only as its mask, is written only when the text
// replaces the whole value (an empty field, or everything selected); otherwise nothing is written
// and the result is "value_unavailable". Its value is not read back, since the mask tells nothing.
// The context's element is released before it returns. The context's value and the text are
// freed as soon as the new value is spliced (only the selected units of the old value are kept,
// to recognise it), so that a big text is held at most twice by the tool (the spliced value and
// the platform's string made of it, then that string and the value read back).
[[nodiscard]] HelperResponse runDirectInsertion(TextInsertionContext context, std::u16string text,
                                                pid_t targetPid, std::optional<pid_t> focusedPid);

} // namespace scribbet
