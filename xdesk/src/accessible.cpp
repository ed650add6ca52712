#include "accessible.h"

#include <climits>
#include <map>
#include <string_view>

namespace xdesk {

namespace {

// Text from the bus, which carries only valid UTF-8.
std::optional<std::u16string> textFrom(const gchar* utf8) {
    return cfcore::decodeUtf8(utf8 != nullptr ? std::string_view(utf8) : std::string_view());
}

std::map<std::string, pid_t>& pidsByBusName() {
    static std::map<std::string, pid_t> known;
    return known;
}

} // namespace

ElementObject* elementObject(AXUIElementRef ref, const char* function) {
    return lookupAs<ElementObject>(ref, cfcore::elementTypeId, function);
}

CFTypeRef newElement(AccessiblePtr owned) {
    return toRef<CFTypeRef>(track(
        std::make_unique<ElementObject>(ElementObject::Kind::accessible, 0, owned.release())));
}

CFTypeRef newString(std::u16string text) {
    return toRef<CFTypeRef>(track(std::make_unique<cfcore::StringObject>(std::move(text))));
}

AXError roleOf(ElementObject& element, AtspiRole* role) {
    if (!element.role) {
        AtspiRole read = ATSPI_ROLE_INVALID;
        const AXError failed = callApplication(element.accessible, [&](GError** error) {
            read = atspi_accessible_get_role(element.accessible, error);
        });
        if (failed != kAXErrorSuccess) {
            return failed;
        }
        element.role = read;
    }
    *role = *element.role;
    return kAXErrorSuccess;
}

AXError statesOf(AtspiAccessible* accessible, StateSetPtr* states) {
    StateSetPtr read;
    const AXError failed = callApplication(
        accessible, [&](GError**) { read.reset(atspi_accessible_get_state_set(accessible)); });
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    // libatspi answers a failed read with a set that says DEFUNCT.
    if (read == nullptr || atspi_state_set_contains(read.get(), ATSPI_STATE_DEFUNCT)) {
        return kAXErrorInvalidUIElement;
    }
    *states = std::move(read);
    return kAXErrorSuccess;
}

bool hasState(const StateSetPtr& states, AtspiStateType state) {
    return states != nullptr && atspi_state_set_contains(states.get(), state);
}

AXError offers(AtspiAccessible* accessible, Interface interface, bool* offered) {
    return callApplication(accessible, [&](GError**) {
        // Each getter hands out the accessible itself, with a reference, when it offers the
        // interface.
        gpointer found = nullptr;
        switch (interface) {
        case Interface::text:
            found = atspi_accessible_get_text_iface(accessible);
            break;
        case Interface::editableText:
            found = atspi_accessible_get_editable_text_iface(accessible);
            break;
        case Interface::value:
            found = atspi_accessible_get_value_iface(accessible);
            break;
        case Interface::collection:
            found = atspi_accessible_get_collection_iface(accessible);
            break;
        }
        *offered = found != nullptr;
        if (found != nullptr) {
            g_object_unref(found);
        }
    });
}

AXError requireInterface(AtspiAccessible* accessible, Interface interface) {
    bool offered = false;
    if (const AXError failed = offers(accessible, interface, &offered); failed != kAXErrorSuccess) {
        return failed;
    }
    return offered ? kAXErrorSuccess : kAXErrorAttributeUnsupported;
}

AXError macRoleOf(ElementObject& element, bool withLines, MacRole* mac) {
    AtspiRole role = ATSPI_ROLE_INVALID;
    if (const AXError failed = roleOf(element, &role); failed != kAXErrorSuccess) {
        return failed;
    }
    const GText name(atspi_role_get_name(role)); // local: the role's name in libatspi's table
    const std::string_view roleName = name != nullptr ? name.get() : "";
    TextLines lines;
    if (withLines && (roleName == "text" || roleName == "entry")) {
        StateSetPtr states;
        if (const AXError failed = statesOf(element.accessible, &states);
            failed != kAXErrorSuccess) {
            return failed;
        }
        lines = {hasState(states, ATSPI_STATE_SINGLE_LINE),
                 hasState(states, ATSPI_STATE_MULTI_LINE)};
    }
    *mac = macRoleFor(roleName, lines);
    return kAXErrorSuccess;
}

AXError textOf(AtspiAccessible* accessible, long characters, std::u16string* text) {
    const gint end = characters < 0 ? -1 : static_cast<gint>(std::min<long>(characters, INT_MAX));
    GText read;
    const AXError failed = callApplication(accessible, [&](GError** error) {
        read.reset(atspi_text_get_text(ATSPI_TEXT(accessible), 0, end, error));
    });
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    std::optional<std::u16string> decoded = textFrom(read.get());
    if (!decoded) {
        return kAXErrorFailure;
    }
    *text = std::move(*decoded);
    return kAXErrorSuccess;
}

AXError prefixOf(AtspiAccessible* accessible, long characters, std::u16string* prefix) {
    return characters > 0 ? textOf(accessible, characters, prefix) : kAXErrorSuccess;
}

AXError pidOf(AtspiAccessible* accessible, pid_t* pid) {
    const AtspiObject* object = ATSPI_OBJECT(accessible);
    if (object->app == nullptr || object->app->bus_name == nullptr) {
        return kAXErrorInvalidUIElement;
    }
    const std::string busName = object->app->bus_name;
    auto known = pidsByBusName().find(busName);
    if (known == pidsByBusName().end()) {
        guint read = 0;
        const AXError failed = callApplication(accessible, [&](GError** error) {
            read = atspi_accessible_get_process_id(accessible, error);
        });
        if (failed != kAXErrorSuccess) {
            return failed;
        }
        if (read == 0 || read > INT_MAX) {
            return kAXErrorCannotComplete;
        }
        known = pidsByBusName().emplace(busName, static_cast<pid_t>(read)).first;
    }
    *pid = known->second;
    return kAXErrorSuccess;
}

AXError childrenOf(AtspiAccessible* accessible, std::vector<AccessiblePtr>* children) {
    gint count = 0;
    if (const AXError failed = callApplication(
            accessible,
            [&](GError** error) { count = atspi_accessible_get_child_count(accessible, error); });
        failed != kAXErrorSuccess) {
        return failed;
    }
    for (gint index = 0; index < count; ++index) {
        AccessiblePtr child;
        const AXError failed = callApplication(accessible, [&](GError** error) {
            child.reset(atspi_accessible_get_child_at_index(accessible, index, error));
        });
        if (failed != kAXErrorSuccess) {
            return failed;
        }
        if (child != nullptr) {
            children->push_back(std::move(child));
        }
    }
    return kAXErrorSuccess;
}

} // namespace xdesk
