#include "scribbet/response.h"

#include "base/line_out.h"
#include "unicode/utf.h"

#include <cstdlib>
#include <unistd.h>

namespace scribbet {

namespace {

constexpr std::string_view keyTexts[] = {"status",
                                         "role",
                                         "subrole",
                                         "targetPid",
                                         "focusedPid",
                                         "selectionUpdated",
                                         "error",
                                         "frontmostPidBefore",
                                         "frontmostConfirmed"};

// RFC 8259 string: quote and backslash escaped, "/" as "\/", the short escapes for the usual
// control characters, \u00xx (lower-case hex) for the others, everything else as its UTF-8.
void appendString(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out.push_back(hex[(static_cast<unsigned char>(c) >> 4) & 0xF]);
                out.push_back(hex[static_cast<unsigned char>(c) & 0xF]);
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

void appendKey(std::string& out, CodingKeys key) {
    if (out.size() > 1) {
        out.push_back(',');
    }
    appendString(out, keyText(key));
    out.push_back(':');
}

void encodeIfPresent(std::string& out, CodingKeys key, const std::optional<std::string>& value) {
    if (value) {
        appendKey(out, key);
        appendString(out, *value);
    }
}

void encodeIfPresent(std::string& out, CodingKeys key, const std::optional<pid_t>& value) {
    if (value) {
        appendKey(out, key);
        out += std::to_string(*value);
    }
}

void encodeIfPresent(std::string& out, CodingKeys key, const std::optional<bool>& value) {
    if (value) {
        appendKey(out, key);
        out += *value ? "true" : "false";
    }
}

// Failures are not reported: there is nobody to tell. A non-blocking pipe from the host that
// fills up is waited on, so that the host never gets the head of the line without its end.
void writeOut(std::string_view bytes) {
    static_cast<void>(base::writeAllWaiting(STDOUT_FILENO, bytes));
}

} // namespace

HelperResponse targetOutcome(std::string status, pid_t targetPid,
                             std::optional<std::string> error) {
    HelperResponse response(std::move(status));
    response.targetPid = targetPid;
    response.error = std::move(error);
    return response;
}

HelperResponse elementOutcome(std::string status, const std::optional<std::u16string>& role,
                              const std::optional<std::u16string>& subrole, pid_t targetPid,
                              std::optional<pid_t> focusedPid) {
    HelperResponse response(std::move(status));
    response.role = utf8Field(role);
    response.subrole = utf8Field(subrole);
    response.targetPid = targetPid;
    response.focusedPid = focusedPid;
    return response;
}

std::optional<std::string> utf8Field(const std::optional<std::u16string>& text) {
    if (!text) {
        return std::nullopt;
    }
    return unicode::utf8FromUtf16(*text);
}

std::string_view keyText(CodingKeys key) {
    return keyTexts[static_cast<std::size_t>(key)];
}

std::optional<CodingKeys> codingKeyFromText(std::string_view text) {
    for (std::size_t i = 0; i < std::size(keyTexts); ++i) {
        if (keyTexts[i] == text) {
            return static_cast<CodingKeys>(i);
        }
    }
    return std::nullopt;
}

std::string encode(const HelperResponse& response) {
    std::string out = "{";
    appendKey(out, CodingKeys::status);
    appendString(out, response.status);
    encodeIfPresent(out, CodingKeys::role, response.role);
    encodeIfPresent(out, CodingKeys::subrole, response.subrole);
    encodeIfPresent(out, CodingKeys::targetPid, response.targetPid);
    encodeIfPresent(out, CodingKeys::focusedPid, response.focusedPid);
    encodeIfPresent(out, CodingKeys::selectionUpdated, response.selectionUpdated);
    encodeIfPresent(out, CodingKeys::error, response.error);
    encodeIfPresent(out, CodingKeys::frontmostPidBefore, response.frontmostPidBefore);
    encodeIfPresent(out, CodingKeys::frontmostConfirmed, response.frontmostConfirmed);
    out.push_back('}');
    return out;
}

void emit(const HelperResponse& response) {
    std::string line;
    try {
        line = encode(response);
    } catch (...) {
        // Out of memory while encoding: the fixed line still tells the host that the run failed.
        emitFallback();
    }
    writeOut(line);
    writeOut("\n");
    std::exit(0);
}

void emitFallback() {
    writeOut(fallbackLine);
    std::exit(0);
}

} // namespace scribbet
