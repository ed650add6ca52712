// Accessibility elements on the Linux desktop: the AXUIElement object over an AT-SPI accessible,
// the owning pointers for what libatspi hands out, and the calls that read one accessible (its
// role, states, interfaces, text, process and children), each bounded by the session's call
// timeout.
#pragma once

#include "objects.h"
#include "roles.h"
#include "session.h"

#include <ApplicationServices/ApplicationServices.h>

#include <atspi/atspi.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xdesk {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using AccessiblePtr = GObjectPtr<AtspiAccessible>;
using StateSetPtr = GObjectPtr<AtspiStateSet>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GText = std::unique_ptr<gchar, GFree>;

// An AXUIElement: the system-wide element, an application made from a pid (its AT-SPI
// application is looked up when needed), or an AT-SPI accessible, whose reference it owns.
struct ElementObject : cfcore::Object {
    enum class Kind { systemWide, application, accessible };
    Kind kind;
    pid_t pid = 0;
    AtspiAccessible* accessible = nullptr;
    std::optional<AtspiRole> role; // an accessible's role, read once

    ElementObject(Kind k, pid_t p, AtspiAccessible* owned)
        : Object(cfcore::elementTypeId), kind(k), pid(p), accessible(owned) {}

    std::string describe() const override {
        switch (kind) {
        case Kind::systemWide:
            return Object::describe() + " system-wide";
        case Kind::application:
            return Object::describe() + " app:" + std::to_string(pid);
        case Kind::accessible:
            break;
        }
        const char* path = accessible != nullptr ? ATSPI_OBJECT(accessible)->path : nullptr;
        return Object::describe() + " " + (path != nullptr ? path : "accessible");
    }

    void dropPayload() override {
        if (accessible != nullptr) {
            g_object_unref(accessible);
            accessible = nullptr;
        }
    }
};

ElementObject* elementObject(AXUIElementRef ref, const char* function);

// A new element that takes over `owned`.
CFTypeRef newElement(AccessiblePtr owned);

// A new string (Create rule: the caller owns it).
CFTypeRef newString(std::u16string text);

// One call to `accessible`'s application: `call` makes it, reporting into the GError slot it is
// given. kAXErrorCannotComplete without the call when the application has stopped answering;
// otherwise endCall's verdict, whatever `call` has stored meanwhile. `call` makes one call on
// the bus, so that the timeout bounds each call and never two together.
template <class Call>
AXError callApplication(AtspiAccessible* accessible, Call&& call, CallKind kind = CallKind::read) {
    const std::optional<BusCall> started = beginCall(accessible, kind);
    if (!started) {
        return kAXErrorCannotComplete;
    }
    GError* error = nullptr;
    std::forward<Call>(call)(&error);
    return endCall(*started, error);
}

// The accessible's AT-SPI role, read from the application once and kept in the element.
AXError roleOf(ElementObject& element, AtspiRole* role);

// The accessible's states, read afresh: focus and editability change while applications run.
// kAXErrorInvalidUIElement for an accessible that is gone.
AXError statesOf(AtspiAccessible* accessible, StateSetPtr* states);

bool hasState(const StateSetPtr& states, AtspiStateType state);

enum class Interface { text, editableText, value, collection };

// Whether the accessible offers an interface; libatspi asks the application once and keeps the
// answer.
AXError offers(AtspiAccessible* accessible, Interface interface, bool* offered);

// For an attribute that needs `interface`: kAXErrorAttributeUnsupported when the accessible does
// not offer it, the call's error when the question failed.
AXError requireInterface(AtspiAccessible* accessible, Interface interface);

// The Mac's role and subrole. Only the role depends on the line states, so reading the subrole
// (`withLines` false) costs no state query.
AXError macRoleOf(ElementObject& element, bool withLines, MacRole* mac);

// The first `characters` characters of the accessible's text (all of it for -1).
AXError textOf(AtspiAccessible* accessible, long characters, std::u16string* text);

// The text up to `characters` characters in, which is all that converting offsets up to there
// needs; for none it stays empty and nothing is asked.
AXError prefixOf(AtspiAccessible* accessible, long characters, std::u16string* prefix);

// The process of the accessible's application; the bus daemon knows it, once per application.
AXError pidOf(AtspiAccessible* accessible, pid_t* pid);

// The accessible's children, in order. A child that cannot be had is left out.
AXError childrenOf(AtspiAccessible* accessible, std::vector<AccessiblePtr>* children);

} // namespace xdesk
