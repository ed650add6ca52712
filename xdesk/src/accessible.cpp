#include "accessible.h"

#include <atspi/atspi.h>

#include <algorithm>
#include <map>
#include <string_view>

namespace xdesk {

namespace {

std::map<std::string, pid_t>& pidsByBusName() {
    static std::map<std::string, pid_t> known;
    return known;
}

// The interfaces of each accessible asked so far, by bus name and path.
std::map<std::pair<std::string, std::string>, std::vector<std::string>>& knownInterfaces() {
    static std::map<std::pair<std::string, std::string>, std::vector<std::string>> known;
    return known;
}

const char* interfaceName(Interface interface) {
    switch (interface) {
    case Interface::text:
        return "org.a11y.atspi.Text";
    case Interface::editableText:
        return "org.a11y.atspi.EditableText";
    case Interface::value:
        return "org.a11y.atspi.Value";
    case Interface::collection:
        return "org.a11y.atspi.Collection";
    }
    return "";
}

} // namespace

ElementObject* elementObject(AXUIElementRef ref, const char* function) {
    return lookupAs<ElementObject>(ref, cfcore::elementTypeId, function);
}

CFTypeRef newElement(Accessible accessible) {
    return toRef<CFTypeRef>(track(std::make_unique<ElementObject>(ElementObject::Kind::accessible,
                                                                  0, std::move(accessible))));
}

CFTypeRef newString(std::u16string text) {
    return toRef<CFTypeRef>(track(std::make_unique<cfcore::StringObject>(std::move(text))));
}

AXError roleOf(ElementObject& element, uint32_t* role) {
    if (!element.role) {
        uint32_t read = ATSPI_ROLE_INVALID;
        if (const AXError failed = getRole(element.accessible, &read); failed != kAXErrorSuccess) {
            return failed;
        }
        element.role = read;
    }
    *role = *element.role;
    return kAXErrorSuccess;
}

AXError statesOf(const Accessible& accessible, States* states) {
    States read;
    if (const AXError failed = getStates(accessible, &read); failed != kAXErrorSuccess) {
        return failed;
    }
    if (hasState(read, ATSPI_STATE_DEFUNCT)) {
        return kAXErrorInvalidUIElement;
    }
    *states = read;
    return kAXErrorSuccess;
}

AXError offers(const Accessible& accessible, Interface interface, bool* offered) {
    const auto key = std::make_pair(accessible.bus, accessible.path);
    auto known = knownInterfaces().find(key);
    if (known == knownInterfaces().end()) {
        std::vector<std::string> names;
        if (const AXError failed = getInterfaces(accessible, &names); failed != kAXErrorSuccess) {
            return failed;
        }
        known = knownInterfaces().emplace(key, std::move(names)).first;
    }
    const std::string_view wanted = interfaceName(interface);
    *offered = std::find(known->second.begin(), known->second.end(), wanted) != known->second.end();
    return kAXErrorSuccess;
}

AXError requireInterface(const Accessible& accessible, Interface interface) {
    bool offered = false;
    if (const AXError failed = offers(accessible, interface, &offered); failed != kAXErrorSuccess) {
        return failed;
    }
    return offered ? kAXErrorSuccess : kAXErrorAttributeUnsupported;
}

std::string roleName(uint32_t role) {
    gchar* name = atspi_role_get_name(static_cast<AtspiRole>(role));
    std::string result = name != nullptr ? name : "";
    g_free(name);
    return result;
}

AXError macRoleOf(ElementObject& element, bool withLines, MacRole* mac) {
    uint32_t role = ATSPI_ROLE_INVALID;
    if (const AXError failed = roleOf(element, &role); failed != kAXErrorSuccess) {
        return failed;
    }
    const std::string name = roleName(role);
    TextLines lines;
    if (withLines && (name == "text" || name == "entry")) {
        States states;
        if (const AXError failed = statesOf(element.accessible, &states);
            failed != kAXErrorSuccess) {
            return failed;
        }
        lines = {hasState(states, ATSPI_STATE_SINGLE_LINE),
                 hasState(states, ATSPI_STATE_MULTI_LINE)};
    }
    *mac = macRoleFor(name, lines);
    return kAXErrorSuccess;
}

AXError pidOf(const Accessible& accessible, pid_t* pid) {
    if (accessible.bus.empty()) {
        return kAXErrorInvalidUIElement;
    }
    auto known = pidsByBusName().find(accessible.bus);
    if (known == pidsByBusName().end()) {
        pid_t read = 0;
        if (const AXError failed = getConnectionPid(accessible.bus, &read);
            failed != kAXErrorSuccess) {
            return failed;
        }
        known = pidsByBusName().emplace(accessible.bus, read).first;
    }
    *pid = known->second;
    return kAXErrorSuccess;
}

void forgetApplication(const std::string& bus) {
    pidsByBusName().erase(bus);
    auto& interfaces = knownInterfaces();
    interfaces.erase(interfaces.lower_bound({bus, std::string()}),
                     interfaces.lower_bound({bus + '\0', std::string()}));
}

AXError childrenOf(const Accessible& accessible, std::vector<Accessible>* children) {
    return getChildren(accessible, children);
}

} // namespace xdesk
