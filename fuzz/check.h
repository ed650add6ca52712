// What a fuzz target does when the code under test and its oracle disagree: it says how on
// standard error and aborts, which libFuzzer reports as a crash and keeps the input that did it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzcheck {

[[noreturn]] inline void disagree(const std::string& what) {
    std::fprintf(stderr, "oracle disagrees: %s\n", what.c_str());
    std::abort();
}

inline void require(bool holds, const char* what) {
    if (!holds) {
        disagree(what);
    }
}

// Bytes as printable text with C escapes, for the messages above.
inline std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

} // namespace fuzzcheck
