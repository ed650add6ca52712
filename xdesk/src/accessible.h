// Accessibility elements on the Linux desktop: the AXUIElement object over an AT-SPI accessible,
// and the reads of one accessible (its role, states, interfaces, text, process and children),
// each one call through atspi_calls.h.
#pragma once

#include "atspi_calls.h"
#include "objects.h"
#include "roles.h"

#include <ApplicationServices/ApplicationServices.h>

#include <atspi/atspi-constants.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xdesk {

// An AXUIElement: the system-wide element, an application made from a pid (its AT-SPI
// application is looked up when needed), or an AT-SPI accessible.
struct ElementObject : cfcore::Object {
    enum class Kind { systemWide, application, accessible };
    Kind kind;
    pid_t pid = 0;
    Accessible accessible;        // for Kind::accessible
    std::optional<uint32_t> role; // an accessible's role, read once
    // The text last written whole to a password text through this element, as the application
    // holds it: the accessible itself reads only as a mask (value_selection.h).
    std::optional<std::u16string> passwordText;

    ElementObject(Kind k, pid_t p, Accessible a)
        : Object(cfcore::elementTypeId), kind(k), pid(p), accessible(std::move(a)) {}

    std::string describe() const override {
        switch (kind) {
        case Kind::systemWide:
            return Object::describe() + " system-wide";
        case Kind::application:
            return Object::describe() + " app:" + std::to_string(pid);
        case Kind::accessible:
            break;
        }
        return Object::describe() + " " + accessible.bus + accessible.path;
    }
};

ElementObject* elementObject(AXUIElementRef ref, const char* function);

// A new element for `accessible`.
CFTypeRef newElement(Accessible accessible);

// A new string (Create rule: the caller owns it).
CFTypeRef newString(std::u16string text);

// The accessible's AT-SPI role, read from the application once and kept in the element.
AXError roleOf(ElementObject& element, uint32_t* role);

// The accessible's states, read afresh: focus and editability change while applications run.
// kAXErrorInvalidUIElement for an accessible that is gone (DEFUNCT).
AXError statesOf(const Accessible& accessible, States* states);

inline bool hasState(const States& states, AtspiStateType state) {
    return static_cast<std::size_t>(state) < states.size() && states.test(state);
}

enum class Interface { text, editableText, value, collection };

// Whether the accessible offers an interface; asked once per accessible in this process.
AXError offers(const Accessible& accessible, Interface interface, bool* offered);

// For an attribute that needs `interface`: kAXErrorAttributeUnsupported when the accessible does
// not offer it, the call's error when the question failed.
AXError requireInterface(const Accessible& accessible, Interface interface);

// The AT-SPI name of a role ("text", "push button", ...), from libatspi's table (no call).
std::string roleName(uint32_t role);

// The Mac's role and subrole. Only the role depends on the line states, so reading the subrole
// (`withLines` false) costs no state query.
AXError macRoleOf(ElementObject& element, bool withLines, MacRole* mac);

// The process of the accessible's application; the bus daemon knows it, once per application.
AXError pidOf(const Accessible& accessible, pid_t* pid);

// Forgets what was kept of an application that has left the bus (its process, the interfaces of
// its accessibles): a long-running watch meets many.
void forgetApplication(const std::string& bus);

// The accessible's children, in order.
AXError childrenOf(const Accessible& accessible, std::vector<Accessible>* children);

} // namespace xdesk
