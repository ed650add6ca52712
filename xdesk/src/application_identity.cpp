#include "application_identity.h"

#include "unicode/utf.h"

#include <cstddef>
#include <cstdint>

namespace xdesk {

namespace {

// An empty text is no text.
std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::string textPropertyUtf8(std::string_view bytes) {
    if (unicode::isUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

RunningApplication applicationFor(const WindowFacts& window) {
    RunningApplication application;
    application.processIdentifier = window.pid;
    if (window.wmClass) {
        // The class follows the instance's terminating NUL and ends at its own.
        const std::string_view stored = *window.wmClass;
        const std::size_t instanceEnd = stored.find('\0');
        if (instanceEnd != std::string_view::npos) {
            std::string_view windowClass = stored.substr(instanceEnd + 1);
            windowClass = windowClass.substr(0, windowClass.find('\0'));
            application.localizedName = nonEmpty(textPropertyUtf8(windowClass));
        }
    }
    if (window.gtkApplicationId) {
        application.bundleIdentifier = nonEmpty(textPropertyUtf8(*window.gtkApplicationId));
    }
    if (!application.bundleIdentifier) {
        application.bundleIdentifier = application.localizedName;
    }
    if (window.executablePath) {
        std::string_view path = *window.executablePath;
        constexpr std::string_view replaced = " (deleted)";
        if (path.size() > replaced.size() &&
            path.substr(path.size() - replaced.size()) == replaced) {
            path.remove_suffix(replaced.size());
        }
        const std::size_t slash = path.rfind('/');
        if (slash != std::string_view::npos) {
            path.remove_prefix(slash + 1);
        }
        application.executableName = nonEmpty(textPropertyUtf8(path));
    }
    return application;
}

bool isActivation(std::optional<pid_t>& current, std::optional<pid_t> activeWindowPid) {
    if (!activeWindowPid || activeWindowPid == current) {
        return false;
    }
    current = activeWindowPid;
    return true;
}

} // namespace xdesk
