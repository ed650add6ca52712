#include "bus.h"

#include <cstdlib>
#include <string_view>

namespace xdesk::bus {

MessagePtr call(DBusConnection* connection, MessagePtr message, int timeoutMillis) {
    if (connection == nullptr || message == nullptr) {
        return nullptr;
    }
    dbus_message_set_auto_start(message.get(), FALSE);
    DBusError error;
    dbus_error_init(&error);
    MessagePtr reply(dbus_connection_send_with_reply_and_block(connection, message.get(),
                                                               timeoutMillis, &error));
    dbus_error_free(&error);
    return reply;
}

ConnectionPtr connectAndGreet(const std::string& address, int timeoutMillis) {
    DBusError error;
    dbus_error_init(&error);
    ConnectionPtr connection(dbus_connection_open_private(address.c_str(), &error));
    dbus_error_free(&error);
    if (connection == nullptr) {
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
    MessagePtr hello(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                  DBUS_INTERFACE_DBUS, "Hello"));
    if (call(connection.get(), std::move(hello), timeoutMillis) == nullptr) {
        return nullptr;
    }
    return connection;
}

std::optional<std::string> sessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0' ||
        std::string_view(address).find("autolaunch:") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(address);
}

} // namespace xdesk::bus
