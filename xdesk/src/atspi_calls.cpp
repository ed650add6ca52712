#include "atspi_calls.h"

#include "session.h"

#include <dbus/dbus.h>

#include <climits>
#include <memory>
#include <utility>

namespace xdesk {

namespace {

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* applicationInterface = "org.a11y.atspi.Application";
constexpr const char* collectionInterface = "org.a11y.atspi.Collection";
constexpr const char* textInterface = "org.a11y.atspi.Text";
constexpr const char* editableTextInterface = "org.a11y.atspi.EditableText";
constexpr const char* valueInterface = "org.a11y.atspi.Value";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* nullPath = "/org/a11y/atspi/null";
constexpr const char* registryBus = "org.a11y.atspi.Registry";
constexpr const char* windowEvents = "org.a11y.atspi.Event.Window";
constexpr const char* objectEvents = "org.a11y.atspi.Event.Object";

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

// One method call, answered within the call timeout. `append` adds the arguments through the
// iterator it is given and answers whether it could; `parse` reads the reply through an iterator
// at its first argument and answers whether it had the expected signature. `kind` says whether
// the call changes something in the application (session.h: a slow write is read back).
template <class Append, class Parse>
AXError call(const std::string& bus, const std::string& path, const char* interface,
             const char* method, Append&& append, Parse&& parse, CallKind kind = CallKind::read) {
    DBusConnection* connection = accessibilityBus();
    if (connection == nullptr) {
        return kAXErrorCannotComplete;
    }
    const std::optional<BusCall> started = beginCall(bus, kind);
    if (!started) {
        return kAXErrorCannotComplete;
    }
    MessagePtr message(dbus_message_new_method_call(bus.c_str(), path.c_str(), interface, method));
    if (message == nullptr) {
        return endCall(*started, true);
    }
    DBusMessageIter arguments;
    dbus_message_iter_init_append(message.get(), &arguments);
    if (!std::forward<Append>(append)(&arguments)) {
        return endCall(*started, true);
    }
    DBusError error;
    dbus_error_init(&error);
    const MessagePtr reply(dbus_connection_send_with_reply_and_block(connection, message.get(),
                                                                     callTimeoutMillis, &error));
    const bool failed = reply == nullptr || dbus_error_is_set(&error);
    dbus_error_free(&error);
    if (const AXError result = endCall(*started, failed); result != kAXErrorSuccess) {
        return result;
    }
    DBusMessageIter read;
    const bool hasArguments = dbus_message_iter_init(reply.get(), &read);
    if (!std::forward<Parse>(parse)(hasArguments ? &read : nullptr)) {
        return kAXErrorCannotComplete;
    }
    return kAXErrorSuccess;
}

bool noArguments(DBusMessageIter*) {
    return true;
}

bool appendInt(DBusMessageIter* iter, int32_t value) {
    const dbus_int32_t wire = value;
    return dbus_message_iter_append_basic(iter, DBUS_TYPE_INT32, &wire) != 0;
}

bool appendString(DBusMessageIter* iter, const std::string& value) {
    const char* text = value.c_str();
    return dbus_message_iter_append_basic(iter, DBUS_TYPE_STRING, &text) != 0;
}

template <class T> bool readBasic(DBusMessageIter* iter, int type, T* value) {
    if (iter == nullptr || dbus_message_iter_get_arg_type(iter) != type) {
        return false;
    }
    dbus_message_iter_get_basic(iter, value);
    return true;
}

bool readInt(DBusMessageIter* iter, int32_t* value) {
    dbus_int32_t wire = 0;
    if (!readBasic(iter, DBUS_TYPE_INT32, &wire)) {
        return false;
    }
    *value = wire;
    return true;
}

bool readBool(DBusMessageIter* iter, bool* value) {
    dbus_bool_t wire = FALSE;
    if (!readBasic(iter, DBUS_TYPE_BOOLEAN, &wire)) {
        return false;
    }
    *value = wire != FALSE;
    return true;
}

bool readString(DBusMessageIter* iter, std::string* value) {
    const char* text = nullptr;
    if (!readBasic(iter, DBUS_TYPE_STRING, &text) || text == nullptr) {
        return false;
    }
    *value = text;
    return true;
}

// An object reference, (so): the bus name and the path.
bool readReference(DBusMessageIter* iter, Accessible* accessible) {
    if (iter == nullptr || dbus_message_iter_get_arg_type(iter) != DBUS_TYPE_STRUCT) {
        return false;
    }
    DBusMessageIter fields;
    dbus_message_iter_recurse(iter, &fields);
    const char* bus = nullptr;
    const char* path = nullptr;
    if (!readBasic(&fields, DBUS_TYPE_STRING, &bus) || !dbus_message_iter_next(&fields) ||
        !readBasic(&fields, DBUS_TYPE_OBJECT_PATH, &path) || bus == nullptr || path == nullptr) {
        return false;
    }
    *accessible = {bus, path};
    return true;
}

// An array of object references, a(so).
bool readReferences(DBusMessageIter* iter, std::vector<Accessible>* accessibles) {
    if (iter == nullptr || dbus_message_iter_get_arg_type(iter) != DBUS_TYPE_ARRAY) {
        return false;
    }
    DBusMessageIter items;
    dbus_message_iter_recurse(iter, &items);
    std::vector<Accessible> read;
    while (dbus_message_iter_get_arg_type(&items) != DBUS_TYPE_INVALID) {
        Accessible accessible;
        if (!readReference(&items, &accessible)) {
            return false;
        }
        read.push_back(std::move(accessible));
        dbus_message_iter_next(&items);
    }
    *accessibles = std::move(read);
    return true;
}

// A property, read through org.freedesktop.DBus.Properties.Get: `parse` gets the variant's
// content.
template <class Parse>
AXError getProperty(const std::string& bus, const std::string& path, const char* interface,
                    const char* name, Parse&& parse) {
    return call(
        bus, path, propertiesInterface, "Get",
        [&](DBusMessageIter* iter) {
            return appendString(iter, interface) && appendString(iter, name);
        },
        [&](DBusMessageIter* iter) {
            if (iter == nullptr || dbus_message_iter_get_arg_type(iter) != DBUS_TYPE_VARIANT) {
                return false;
            }
            DBusMessageIter content;
            dbus_message_iter_recurse(iter, &content);
            return std::forward<Parse>(parse)(&content);
        });
}

// A call that changes something and answers whether it did.
AXError callReturningBool(const Accessible& accessible, const char* interface, const char* method,
                          const std::vector<int32_t>& numbers, bool* done) {
    return call(
        accessible.bus, accessible.path, interface, method,
        [&](DBusMessageIter* iter) {
            for (const int32_t number : numbers) {
                if (!appendInt(iter, number)) {
                    return false;
                }
            }
            return true;
        },
        [&](DBusMessageIter* iter) { return readBool(iter, done); }, CallKind::write);
}

} // namespace

Accessible desktopRoot() {
    return {registryBus, rootPath};
}

Accessible applicationRoot(const std::string& bus) {
    return {bus, rootPath};
}

AXError getRole(const Accessible& accessible, uint32_t* role) {
    return call(accessible.bus, accessible.path, accessibleInterface, "GetRole", noArguments,
                [&](DBusMessageIter* iter) {
                    dbus_uint32_t wire = 0;
                    if (!readBasic(iter, DBUS_TYPE_UINT32, &wire)) {
                        return false;
                    }
                    *role = wire;
                    return true;
                });
}

AXError getName(const Accessible& accessible, std::string* name) {
    return getProperty(accessible.bus, accessible.path, accessibleInterface, "Name",
                       [&](DBusMessageIter* iter) { return readString(iter, name); });
}

AXError getStates(const Accessible& accessible, States* states) {
    return call(accessible.bus, accessible.path, accessibleInterface, "GetState", noArguments,
                [&](DBusMessageIter* iter) {
                    if (iter == nullptr ||
                        dbus_message_iter_get_arg_type(iter) != DBUS_TYPE_ARRAY) {
                        return false;
                    }
                    DBusMessageIter words;
                    dbus_message_iter_recurse(iter, &words);
                    States read;
                    for (std::size_t word = 0; word < 2; ++word) {
                        dbus_uint32_t bits = 0;
                        if (!readBasic(&words, DBUS_TYPE_UINT32, &bits)) {
                            return false;
                        }
                        read |= States(bits) << (32 * word);
                        dbus_message_iter_next(&words);
                    }
                    *states = read;
                    return true;
                });
}

AXError getInterfaces(const Accessible& accessible, std::vector<std::string>* interfaces) {
    return call(accessible.bus, accessible.path, accessibleInterface, "GetInterfaces", noArguments,
                [&](DBusMessageIter* iter) {
                    if (iter == nullptr ||
                        dbus_message_iter_get_arg_type(iter) != DBUS_TYPE_ARRAY) {
                        return false;
                    }
                    DBusMessageIter names;
                    dbus_message_iter_recurse(iter, &names);
                    std::vector<std::string> read;
                    while (dbus_message_iter_get_arg_type(&names) != DBUS_TYPE_INVALID) {
                        std::string name;
                        if (!readString(&names, &name)) {
                            return false;
                        }
                        read.push_back(std::move(name));
                        dbus_message_iter_next(&names);
                    }
                    *interfaces = std::move(read);
                    return true;
                });
}

AXError getChildren(const Accessible& accessible, std::vector<Accessible>* children) {
    return call(accessible.bus, accessible.path, accessibleInterface, "GetChildren", noArguments,
                [&](DBusMessageIter* iter) { return readReferences(iter, children); });
}

AXError getParent(const Accessible& accessible, std::optional<Accessible>* parent) {
    return getProperty(accessible.bus, accessible.path, accessibleInterface, "Parent",
                       [&](DBusMessageIter* iter) {
                           Accessible read;
                           if (!readReference(iter, &read)) {
                               return false;
                           }
                           if (read.path == nullPath || read.bus.empty()) {
                               *parent = std::nullopt;
                           } else {
                               *parent = std::move(read);
                           }
                           return true;
                       });
}

AXError getConnectionPid(const std::string& bus, pid_t* pid) {
    return call(
        DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID",
        [&](DBusMessageIter* iter) { return appendString(iter, bus); },
        [&](DBusMessageIter* iter) {
            dbus_uint32_t wire = 0;
            if (!readBasic(iter, DBUS_TYPE_UINT32, &wire) || wire == 0 || wire > INT_MAX) {
                return false;
            }
            *pid = static_cast<pid_t>(wire);
            return true;
        });
}

AXError getToolkitName(const std::string& bus, std::string* name) {
    return getProperty(bus, rootPath, applicationInterface, "ToolkitName",
                       [&](DBusMessageIter* iter) { return readString(iter, name); });
}

AXError getMatchesWithStates(const Accessible& root, States wanted,
                             std::vector<Accessible>* matches) {
    // The match rule, (aiia{ss}iaiiasib): states and how they match, attributes, roles,
    // interfaces, and whether to invert. Only the states take part.
    constexpr int32_t matchAll = 1;
    constexpr int32_t matchNone = 3;
    constexpr uint32_t sortCanonical = 1;
    const auto append = [&](DBusMessageIter* iter) {
        DBusMessageIter rule;
        DBusMessageIter array;
        const auto low = static_cast<int32_t>(static_cast<uint32_t>(wanted.to_ullong()));
        const auto high = static_cast<int32_t>(static_cast<uint32_t>(wanted.to_ullong() >> 32U));
        bool ok = dbus_message_iter_open_container(iter, DBUS_TYPE_STRUCT, nullptr, &rule) != 0;
        ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array) != 0 &&
             appendInt(&array, low) && appendInt(&array, high) &&
             dbus_message_iter_close_container(&rule, &array) != 0 && appendInt(&rule, matchAll);
        ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "{ss}", &array) != 0 &&
             dbus_message_iter_close_container(&rule, &array) != 0 && appendInt(&rule, matchNone);
        ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array) != 0 &&
             appendInt(&array, 0) && appendInt(&array, 0) && appendInt(&array, 0) &&
             appendInt(&array, 0) && dbus_message_iter_close_container(&rule, &array) != 0 &&
             appendInt(&rule, matchNone);
        ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "s", &array) != 0 &&
             dbus_message_iter_close_container(&rule, &array) != 0 && appendInt(&rule, matchNone);
        const dbus_bool_t invert = FALSE;
        ok = ok && dbus_message_iter_append_basic(&rule, DBUS_TYPE_BOOLEAN, &invert) != 0 &&
             dbus_message_iter_close_container(iter, &rule) != 0;
        const dbus_uint32_t sort = sortCanonical;
        const dbus_bool_t traverse = TRUE;
        return ok && dbus_message_iter_append_basic(iter, DBUS_TYPE_UINT32, &sort) != 0 &&
               appendInt(iter, 0) && // no limit
               dbus_message_iter_append_basic(iter, DBUS_TYPE_BOOLEAN, &traverse) != 0;
    };
    return call(root.bus, root.path, collectionInterface, "GetMatches", append,
                [&](DBusMessageIter* iter) { return readReferences(iter, matches); });
}

AXError getCharacterCount(const Accessible& accessible, int32_t* count) {
    return getProperty(accessible.bus, accessible.path, textInterface, "CharacterCount",
                       [&](DBusMessageIter* iter) { return readInt(iter, count); });
}

AXError getText(const Accessible& accessible, int32_t start, int32_t end, std::string* utf8) {
    return call(
        accessible.bus, accessible.path, textInterface, "GetText",
        [&](DBusMessageIter* iter) { return appendInt(iter, start) && appendInt(iter, end); },
        [&](DBusMessageIter* iter) { return readString(iter, utf8); });
}

AXError getCaretOffset(const Accessible& accessible, int32_t* offset) {
    return getProperty(accessible.bus, accessible.path, textInterface, "CaretOffset",
                       [&](DBusMessageIter* iter) { return readInt(iter, offset); });
}

AXError getSelectionCount(const Accessible& accessible, int32_t* count) {
    return call(accessible.bus, accessible.path, textInterface, "GetNSelections", noArguments,
                [&](DBusMessageIter* iter) { return readInt(iter, count); });
}

AXError getSelection(const Accessible& accessible, int32_t index, int32_t* start, int32_t* end) {
    return call(
        accessible.bus, accessible.path, textInterface, "GetSelection",
        [&](DBusMessageIter* iter) { return appendInt(iter, index); },
        [&](DBusMessageIter* iter) {
            int32_t first = 0;
            int32_t last = 0;
            if (!readInt(iter, &first) || !dbus_message_iter_next(iter) || !readInt(iter, &last)) {
                return false;
            }
            *start = first;
            *end = last;
            return true;
        });
}

AXError setCaretOffset(const Accessible& accessible, int32_t offset, bool* done) {
    return callReturningBool(accessible, textInterface, "SetCaretOffset", {offset}, done);
}

AXError setSelection(const Accessible& accessible, int32_t index, int32_t start, int32_t end,
                     bool* done) {
    return callReturningBool(accessible, textInterface, "SetSelection", {index, start, end}, done);
}

AXError addSelection(const Accessible& accessible, int32_t start, int32_t end, bool* done) {
    return callReturningBool(accessible, textInterface, "AddSelection", {start, end}, done);
}

AXError removeSelection(const Accessible& accessible, int32_t index, bool* done) {
    return callReturningBool(accessible, textInterface, "RemoveSelection", {index}, done);
}

AXError setTextContents(const Accessible& accessible, const std::string& utf8, bool* done) {
    return call(
        accessible.bus, accessible.path, editableTextInterface, "SetTextContents",
        [&](DBusMessageIter* iter) { return appendString(iter, utf8); },
        [&](DBusMessageIter* iter) { return readBool(iter, done); }, CallKind::write);
}

AXError insertText(const Accessible& accessible, int32_t position, const std::string& utf8,
                   int32_t length, bool* done) {
    return call(
        accessible.bus, accessible.path, editableTextInterface, "InsertText",
        [&](DBusMessageIter* iter) {
            return appendInt(iter, position) && appendString(iter, utf8) && appendInt(iter, length);
        },
        [&](DBusMessageIter* iter) { return readBool(iter, done); }, CallKind::write);
}

AXError deleteText(const Accessible& accessible, int32_t start, int32_t end, bool* done) {
    return callReturningBool(accessible, editableTextInterface, "DeleteText", {start, end}, done);
}

AXError getCurrentValue(const Accessible& accessible, double* value) {
    return getProperty(
        accessible.bus, accessible.path, valueInterface, "CurrentValue",
        [&](DBusMessageIter* iter) { return readBasic(iter, DBUS_TYPE_DOUBLE, value); });
}

namespace {

AXError addMatch(const std::string& rule) {
    return call(
        DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "AddMatch",
        [&](DBusMessageIter* iter) { return appendString(iter, rule); },
        [](DBusMessageIter*) { return true; });
}

// The registry's RegisterEvent(event, properties to send along, application): none of the
// properties, from every application.
AXError registerEvent(const std::string& event) {
    return call(
        registryBus, "/org/a11y/atspi/registry", "org.a11y.atspi.Registry", "RegisterEvent",
        [&](DBusMessageIter* iter) {
            DBusMessageIter properties;
            return appendString(iter, event) &&
                   dbus_message_iter_open_container(iter, DBUS_TYPE_ARRAY, "s", &properties) != 0 &&
                   dbus_message_iter_close_container(iter, &properties) != 0 &&
                   appendString(iter, "");
        },
        [](DBusMessageIter*) { return true; });
}

// An application that a ChildrenChanged signal of the desktop announces as joining or leaving:
// its arguments are (kind, index, 0, the child as a variant of (so)); the kind starts with "add"
// or "remove", and the child is an application's root. Nothing for any other signal, or another
// child: the applications' own windows coming and going say the same of other paths.
std::optional<Event> desktopChange(DBusMessage* message) {
    if (!dbus_message_is_signal(message, objectEvents, "ChildrenChanged")) {
        return std::nullopt;
    }
    DBusMessageIter arguments;
    std::string kind;
    if (!dbus_message_iter_init(message, &arguments) || !readString(&arguments, &kind)) {
        return std::nullopt;
    }
    const bool added = kind.rfind("add", 0) == 0;
    if (!added && kind.rfind("remove", 0) != 0) {
        return std::nullopt;
    }
    for (int skipped = 0; skipped < 3; ++skipped) { // to the variant, past the two integers
        if (!dbus_message_iter_next(&arguments)) {
            return std::nullopt;
        }
    }
    if (dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_VARIANT) {
        return std::nullopt;
    }
    DBusMessageIter variant;
    dbus_message_iter_recurse(&arguments, &variant);
    Accessible child;
    if (!readReference(&variant, &child) || child.path != rootPath) {
        return std::nullopt;
    }
    return Event{added ? EventKind::applicationJoined : EventKind::applicationLeft,
                 std::move(child)};
}

} // namespace

AXError listenForWindowEvents() {
    const std::string window = std::string("type='signal',interface='") + windowEvents + "',";
    for (const std::string& rule : {window + "member='Activate'", window + "member='Deactivate'",
                                    std::string("type='signal',interface='") + objectEvents +
                                        "',member='ChildrenChanged',path='" + rootPath + "'"}) {
        if (const AXError failed = addMatch(rule); failed != kAXErrorSuccess) {
            return failed;
        }
    }
    for (const char* event : {"window:activate", "window:deactivate"}) {
        if (const AXError failed = registerEvent(event); failed != kAXErrorSuccess) {
            return failed;
        }
    }
    return kAXErrorSuccess;
}

std::vector<Event> takeEvents() {
    std::vector<Event> events;
    DBusConnection* connection = accessibilityBus();
    if (connection == nullptr) {
        return events;
    }
    while (dbus_connection_read_write(connection, 0)) {
        const MessagePtr message(dbus_connection_pop_message(connection));
        if (message == nullptr) {
            break;
        }
        if (std::optional<Event> change = desktopChange(message.get())) {
            events.push_back(std::move(*change));
            continue;
        }
        const bool activated = dbus_message_is_signal(message.get(), windowEvents, "Activate");
        const bool deactivated = dbus_message_is_signal(message.get(), windowEvents, "Deactivate");
        const char* sender = dbus_message_get_sender(message.get());
        const char* path = dbus_message_get_path(message.get());
        if ((activated || deactivated) && sender != nullptr && path != nullptr) {
            events.push_back({activated ? EventKind::windowActivated : EventKind::windowDeactivated,
                              {sender, path}});
        }
    }
    return events;
}

} // namespace xdesk
