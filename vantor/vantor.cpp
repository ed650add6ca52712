#include "vantor/vantor.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace vantor {
namespace {

// A field as written into a line: line feeds and carriage returns become spaces. Neither byte
// occurs inside a multi-byte UTF-8 sequence, so replacing bytes is safe.
void appendField(std::string& line, std::string_view text) {
    for (char c : text) {
        line += (c == '\n' || c == '\r') ? ' ' : c;
    }
}

void appendCodePoint(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

std::optional<std::string> activationLine(const RunningApplication& application) {
    std::string_view name;
    if (application.localizedName) {
        name = *application.localizedName;
    } else if (application.executableName) {
        name = *application.executableName;
    }
    if (name.empty()) {
        return std::nullopt;
    }
    std::string line = "APP:";
    appendField(line, application.bundleIdentifier.value_or(std::string()));
    line += '|';
    appendField(line, name);
    line += '|';
    line += std::to_string(application.processIdentifier);
    return line;
}

void emit(std::string_view line) {
    // The line and its line feed go to stdio in one call and leave it in one flush.
    std::string record(line);
    record += '\n';
    errno = 0;
    bool written = std::fwrite(record.data(), 1, record.size(), stdout) == record.size();
    written = std::fflush(stdout) == 0 && written;
    if (!written) {
        // SIGPIPE is ignored (see run), so a reader that has gone shows as EPIPE.
        if (errno == EPIPE) {
            std::exit(0);
        }
        std::clearerr(stdout);
    }
}

void handleActivation(const RunningApplication& application) {
    if (auto line = activationLine(application)) {
        emit(*line);
    }
}

std::string utf8FromUtf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code = units[i];
        bool high = code >= 0xD800 && code <= 0xDBFF;
        bool low = code >= 0xDC00 && code <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (high || low) {
            code = 0xFFFD;
        }
        appendCodePoint(out, code);
    }
    return out;
}

int run(const std::vector<std::string>& /*args*/) {
    // Without this a write to a pipe whose reader has gone would kill the process by signal;
    // ignored, the write fails with EPIPE and emit ends the run with status 0.
    std::signal(SIGPIPE, SIG_IGN);
    emit("ready");
    observeActivations(&handleActivation);
    runMainRunLoop();
    return 0;
}

} // namespace vantor
