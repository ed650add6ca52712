// The target pid of scribbet's command line against a model written from the grammar alone: an
// optional sign, ASCII digits only, the value from strtol, then the 32-bit range and the floor
// of 1 checked as separate steps. The input is the argument at position 1.
#include "check.h"

#include "scribbet/entry.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

namespace {

std::optional<pid_t> modelPid(const std::string& text) {
    std::size_t digitsFrom = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        digitsFrom = 1;
    }
    if (digitsFrom == text.size()) {
        return std::nullopt; // empty, or a sign alone
    }
    for (std::size_t i = digitsFrom; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt; // also a NUL, which strtol would take for the end
        }
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size()) {
        fuzzcheck::disagree("strtoll stopped early on " + fuzzcheck::printable(text));
    }
    if (errno == ERANGE || value > std::numeric_limits<int32_t>::max() ||
        value < std::numeric_limits<int32_t>::min()) {
        return std::nullopt;
    }
    if (value < 1) {
        return std::nullopt;
    }
    return static_cast<pid_t>(value);
}

std::string show(std::optional<pid_t> pid) {
    return pid ? std::to_string(*pid) : "nothing";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<pid_t> parsed = scribbet::parseTargetPid({"scribbet", text, "file"});
    const std::optional<pid_t> expected = modelPid(text);
    if (parsed != expected) {
        fuzzcheck::disagree("pid of " + fuzzcheck::printable(text) + ": parsed " + show(parsed) +
                            ", model " + show(expected));
    }
    // Fewer than three entries is nothing, whatever position 1 holds.
    fuzzcheck::require(!scribbet::parseTargetPid({"scribbet", text}),
                       "a pid from a command line without position 2");
    return 0;
}
