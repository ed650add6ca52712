#include "mutter.h"

#include "bus.h"

#include <dbus/dbus.h>

#include <cstdint>
#include <optional>
#include <string>

namespace xdesk::mutter {

namespace {

constexpr const char* service = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* sessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
// Long enough for a loaded desktop, short enough that a service that never answers cannot stall
// the tool.
constexpr int callTimeoutMillis = 1000;

using bus::ConnectionPtr;
using bus::MessagePtr;

MessagePtr call(DBusConnection* connection, MessagePtr message) {
    return bus::call(connection, std::move(message), callTimeoutMillis);
}

// A private connection to the session bus; the session that mutter makes for us lives as long
// as it.
ConnectionPtr connectToSessionBus() {
    const std::optional<std::string> address = bus::sessionBusAddress();
    return address ? bus::connectAndGreet(*address, callTimeoutMillis) : nullptr;
}

struct Remote {
    ConnectionPtr connection;
    bool offered = false;
    std::optional<std::string> session; // its object path, once made and started
    bool sessionFailed = false;
};

Remote& remote() {
    static Remote state;
    static const bool asked = [] {
        state.connection = connectToSessionBus();
        MessagePtr question(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                         DBUS_INTERFACE_DBUS, "NameHasOwner"));
        const char* name = service;
        if (question != nullptr &&
            dbus_message_append_args(question.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
            MessagePtr answer = call(state.connection.get(), std::move(question));
            dbus_bool_t owned = FALSE;
            state.offered = answer != nullptr &&
                            dbus_message_get_args(answer.get(), nullptr, DBUS_TYPE_BOOLEAN, &owned,
                                                  DBUS_TYPE_INVALID) &&
                            owned != FALSE;
        }
        return true;
    }();
    static_cast<void>(asked);
    return state;
}

// The remote desktop session of this process, made and started on first use.
const std::optional<std::string>& session(Remote& state) {
    if (state.session || state.sessionFailed || !state.offered) {
        return state.session;
    }
    state.sessionFailed = true;
    MessagePtr created =
        call(state.connection.get(),
             MessagePtr(dbus_message_new_method_call(service, "/org/gnome/Mutter/RemoteDesktop",
                                                     service, "CreateSession")));
    const char* path = nullptr;
    if (created == nullptr ||
        !dbus_message_get_args(created.get(), nullptr, DBUS_TYPE_OBJECT_PATH, &path,
                               DBUS_TYPE_INVALID) ||
        path == nullptr) {
        return state.session;
    }
    const std::string sessionPath = path;
    MessagePtr started =
        call(state.connection.get(), MessagePtr(dbus_message_new_method_call(
                                         service, sessionPath.c_str(), sessionInterface, "Start")));
    if (started == nullptr) {
        return state.session;
    }
    state.sessionFailed = false;
    state.session = sessionPath;
    return state.session;
}

} // namespace

bool remoteDesktopOffered() {
    return remote().offered;
}

bool startSession() {
    return session(remote()).has_value();
}

bool notifyKeysym(unsigned long keysym, bool pressed) {
    Remote& state = remote();
    const std::optional<std::string>& path = session(state);
    if (!path) {
        return false;
    }
    MessagePtr message(dbus_message_new_method_call(service, path->c_str(), sessionInterface,
                                                    "NotifyKeyboardKeysym"));
    const auto symbol = static_cast<dbus_uint32_t>(keysym);
    const dbus_bool_t down = pressed ? TRUE : FALSE;
    if (message == nullptr ||
        !dbus_message_append_args(message.get(), DBUS_TYPE_UINT32, &symbol, DBUS_TYPE_BOOLEAN,
                                  &down, DBUS_TYPE_INVALID)) {
        return false;
    }
    return call(state.connection.get(), std::move(message)) != nullptr;
}

} // namespace xdesk::mutter
