#include "application_identity.h"

#include "unicode/utf.h"

#include <cstddef>
#include <cstdint>

#include <unistd.h>

namespace xdesk {

namespace {

// An empty text is no text.
std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

// The last path component of an executable, without the " (deleted)" that Linux adds to one
// that has been replaced.
std::optional<std::string> executableName(std::string_view path) {
    constexpr std::string_view replaced = " (deleted)";
    if (path.size() > replaced.size() && path.substr(path.size() - replaced.size()) == replaced) {
        path.remove_suffix(replaced.size());
    }
    const std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) {
        path.remove_prefix(slash + 1);
    }
    return nonEmpty(textPropertyUtf8(path));
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
        application.executableName = executableName(*window.executablePath);
    }
    return application;
}

RunningApplication applicationFor(const BusApplicationFacts& facts) {
    RunningApplication application;
    application.processIdentifier = facts.pid;
    if (facts.executablePath) {
        application.executableName = executableName(*facts.executablePath);
    }
    application.localizedName = nonEmpty(facts.rootName);
    if (!application.localizedName) {
        application.localizedName = application.executableName;
    }
    application.bundleIdentifier = application.localizedName;
    return application;
}

std::optional<std::string> executablePath(pid_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target(4096, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(length));
    return target;
}

bool isActivation(std::optional<pid_t>& current, std::optional<pid_t> activeWindowPid) {
    if (!activeWindowPid || activeWindowPid == current) {
        return false;
    }
    current = activeWindowPid;
    return true;
}

} // namespace xdesk
