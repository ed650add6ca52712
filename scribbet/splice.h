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
// returns the run's result; nothing is read back and a failed caret write does not undo the
// value. A secure text field, whose value reads only as its mask, is written only when the text
// replaces the whole value (an empty field, or everything selected); otherwise nothing is written
// and the result is "value_unavailable". The context's element is released before it returns.
// The context's value and the text are freed as soon as the new value is spliced, so that a big
// text is held at most twice (the spliced value and the platform's string made of it).
[[nodiscard]] HelperResponse runDirectInsertion(TextInsertionContext context, std::u16string text,
                                                pid_t targetPid, std::optional<pid_t> focusedPid);

} // namespace scribbet
