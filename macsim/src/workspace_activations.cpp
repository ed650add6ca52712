// The workspace activation notifications, the main run loop that delivers them, and NSURL's last
// path component.
#include <macsim/activations.h>

#include "objects.h"

#include "unicode/utf.h"

#include <utility>

namespace macsim {
namespace {

struct Observer {
    std::string name;
    NotificationBlock block;
};

struct Workspace {
    std::vector<ActivationNotification> script;
    std::vector<Observer> observers;
    std::size_t delivered = 0;
};

Workspace& workspace() {
    static Workspace instance;
    return instance;
}

void resetWorkspace() {
    workspace() = Workspace{};
}

[[maybe_unused]] const bool resetRegistered = (detail::registerReset(&resetWorkspace), true);

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The path of a URL string: after the scheme and the authority, before the query and fragment.
std::string_view urlPath(std::string_view url) {
    std::size_t colon = url.find(':');
    if (colon != std::string_view::npos && url.find('/') > colon) {
        url.remove_prefix(colon + 1);
    }
    if (url.substr(0, 2) == "//") {
        std::size_t slash = url.find('/', 2);
        url.remove_prefix(slash == std::string_view::npos ? url.size() : slash);
    }
    return url.substr(0, url.find_first_of("?#"));
}

} // namespace

void scriptActivations(std::vector<ActivationNotification> notifications) {
    workspace().script = std::move(notifications);
}

const std::vector<ActivationNotification>& scriptedActivations() {
    return workspace().script;
}

std::size_t activationObserverCount() {
    std::size_t count = 0;
    for (const Observer& observer : workspace().observers) {
        count += observer.name == didActivateApplicationNotification ? 1 : 0;
    }
    return count;
}

std::size_t deliveredActivations() {
    return workspace().delivered;
}

void addWorkspaceObserver(std::string_view name, NotificationBlock block) {
    detail::logCall("addObserverForName", "workspaceCenter", std::string(name));
    workspace().observers.push_back({std::string(name), std::move(block)});
}

void runMainRunLoop() {
    detail::logCall("NSRunLoopRun", "main");
    // By index and by copy: an observer may register further observers or script anew.
    for (std::size_t i = 0; i < workspace().script.size(); ++i) {
        ActivationNotification notification = workspace().script[i];
        detail::logCall("postNotification", "workspaceCenter",
                        std::string(didActivateApplicationNotification));
        ++workspace().delivered;
        std::vector<Observer> observers = workspace().observers;
        for (const Observer& observer : observers) {
            if (observer.name == didActivateApplicationNotification) {
                observer.block(notification);
            }
        }
    }
}

std::optional<std::string> lastPathComponent(std::string_view url) {
    std::string_view path = urlPath(url);
    if (path.empty()) {
        return std::string();
    }
    std::size_t end = path.find_last_not_of('/');
    if (end == std::string_view::npos) {
        return std::string("/");
    }
    path = path.substr(0, end + 1);
    std::size_t slash = path.rfind('/');
    std::string_view component = slash == std::string_view::npos ? path : path.substr(slash + 1);

    std::string decoded;
    for (std::size_t i = 0; i < component.size(); ++i) {
        if (component[i] != '%') {
            decoded += component[i];
            continue;
        }
        if (i + 2 >= component.size()) {
            return std::nullopt;
        }
        int high = hexDigit(component[i + 1]);
        int low = hexDigit(component[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        if (high == 2 && low == 0xF) {
            decoded.append(component.substr(i, 3));
        } else {
            decoded += static_cast<char>(high * 16 + low);
        }
        i += 2;
    }
    if (!unicode::isUtf8(decoded)) {
        return std::nullopt;
    }
    return decoded;
}

} // namespace macsim
