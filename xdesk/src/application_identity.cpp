#include "application_identity.h"

#include <cstddef>
#include <cstdint>

namespace xdesk {

namespace {

bool isUtf8(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        std::size_t length = 0;
        uint32_t point = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            point = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - at < length) {
            return false;
        }
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(bytes[at + i]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
        if (overlong || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
            return false;
        }
        at += length;
    }
    return true;
}

// An empty text is no text.
std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::string textPropertyUtf8(std::string_view bytes) {
    if (isUtf8(bytes)) {
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
