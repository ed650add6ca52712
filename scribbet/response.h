// The one result of a run: a HelperResponse, written by emit as one line of compact JSON.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace scribbet {

// Texts are UTF-8. Fields are encoded in declaration order; absent fields are left out. Every field
// but the status starts absent, and the places that build a record set the others by name.
struct HelperResponse {
    std::string status;
    std::optional<std::string> role;
    std::optional<std::string> subrole;
    std::optional<pid_t> targetPid;
    std::optional<pid_t> focusedPid;
    std::optional<bool> selectionUpdated;
    std::optional<std::string> error;
    std::optional<pid_t> frontmostPidBefore;
    std::optional<bool> frontmostConfirmed;

    explicit HelperResponse(std::string givenStatus) : status(std::move(givenStatus)) {}
};

// An outcome decided before any element is looked at: the target pid and an error word only.
[[nodiscard]] HelperResponse targetOutcome(std::string status, pid_t targetPid,
                                           std::optional<std::string> error);

// An outcome about one element: its role and subrole as read (each when known), the target pid
// and the owner of the focused element (when known).
[[nodiscard]] HelperResponse elementOutcome(std::string status,
                                            const std::optional<std::u16string>& role,
                                            const std::optional<std::u16string>& subrole,
                                            pid_t targetPid, std::optional<pid_t> focusedPid);

// The UTF-8 of a text that may be absent, for the optional fields of the line.
[[nodiscard]] std::optional<std::string> utf8Field(const std::optional<std::u16string>& text);

// The record's key table: one key per field, in field order; each key's text is the field's name.
enum class CodingKeys {
    status,
    role,
    subrole,
    targetPid,
    focusedPid,
    selectionUpdated,
    error,
    frontmostPidBefore,
    frontmostConfirmed
};

std::string_view keyText(CodingKeys key);
std::optional<CodingKeys> codingKeyFromText(std::string_view text); // exact, case-sensitive

// The compact JSON object of the record, without the line feed.
std::string encode(const HelperResponse& response);

// The line written when encoding fails, or when the run itself runs out of memory.
inline constexpr std::string_view fallbackLine = "{\"status\":\"unexpected_error\"}\n";

// Writes the record's line to standard output and ends the process with status 0. The writes
// are unbuffered; their failures (a closed standard output, a reader that has gone) are not
// reported anywhere and do not change the exit status.
[[noreturn]] void emit(const HelperResponse& response);

// Writes fallbackLine and ends the process with status 0, as emit does when encoding fails.
[[noreturn]] void emitFallback();

} // namespace scribbet
