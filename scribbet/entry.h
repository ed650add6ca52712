// The process entry: command line, mode, and the order of the stages.
#pragma once

#include "scribbet/response.h"

#include <optional>
#include <string>
#include <vector>

namespace scribbet {

// The process's argument list; entry 0 is the program's path.
using Arguments = std::vector<std::string>;

inline constexpr std::string_view fastPasteSwitch = "--fast-paste";

// Position 1 as a target pid: an optional sign, ASCII digits only, within 32 bits, at least 1.
// Nothing when the list has fewer than 3 entries.
[[nodiscard]] std::optional<pid_t> parseTargetPid(const Arguments& arguments);

// The text of a file's bytes: strict UTF-8, with a byte-order mark at the very start dropped.
// Nothing when the bytes are not UTF-8.
[[nodiscard]] std::optional<std::u16string> decodeInputText(std::string_view bytes);

// The whole file named at position 2, as decodeInputText reads it. Nothing when the list has
// fewer than 3 entries or the file can't be read or decoded, also when it is too big to hold,
// and for anything but a regular file (a FIFO, a directory, a device, a socket) or a file that
// grows while it is read; neither waits nor grows past the file's size.
// The file's bytes are gone by the time it returns: only the decoded text stays.
[[nodiscard]] std::optional<std::u16string> readInputText(const Arguments& arguments);

// The whole run up to its result. Every platform object it obtained is released by the time it
// returns.
[[nodiscard]] HelperResponse respond(const Arguments& arguments);

// respond, then emit: writes the result line and ends the process with status 0.
[[noreturn]] void run(const Arguments& arguments);

} // namespace scribbet
