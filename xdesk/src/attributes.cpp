// Accessibility on the Linux desktop: AXUIElement and its attributes over AT-SPI, and
// the application's activation over EWMH. docs/linux-desktop.md has the mapping as a table. Each
// attribute is answered by the kind of element asked: the system-wide element, an application
// made from a pid, or an accessible.
#include "accessible.h"
#include "focus.h"
#include "session.h"
#include "session_type.h"
#include "value_selection.h"
#include "wayland_session.h"
#include "x11.h"

#include "unicode/utf.h"

#include <string>
#include <string_view>
#include <vector>

namespace xdesk {

namespace {

bool isApplicationRole(ElementObject& element) {
    uint32_t role = ATSPI_ROLE_INVALID;
    return roleOf(element, &role) == kAXErrorSuccess && role == ATSPI_ROLE_APPLICATION;
}

AXError copyFromAccessible(ElementObject& element, std::string_view name, CFTypeRef* value) {
    const Accessible& accessible = element.accessible;
    if (name == "AXRole" || name == "AXSubrole") {
        MacRole mac;
        if (const AXError failed = macRoleOf(element, name == "AXRole", &mac);
            failed != kAXErrorSuccess) {
            return failed;
        }
        const std::optional<std::string_view> text = name == "AXRole" ? mac.role : mac.subrole;
        if (!text) {
            return kAXErrorNoValue;
        }
        *value = newString(std::u16string(text->begin(), text->end())); // ASCII names
        return kAXErrorSuccess;
    }
    if (name == "AXValue") {
        return readValue(accessible, value);
    }
    if (name == "AXSelectedTextRange") {
        return readSelectedRange(element, value);
    }
    if (name == "AXParent") {
        if (isApplicationRole(element)) {
            return kAXErrorNoValue; // nothing above an application
        }
        std::optional<Accessible> parent;
        if (const AXError failed = getParent(accessible, &parent); failed != kAXErrorSuccess) {
            return failed;
        }
        // The desktop (the registry's root) is above every application, and is none here.
        if (!parent || (parent->path == desktopRoot().path && parent->bus != accessible.bus)) {
            return kAXErrorNoValue;
        }
        *value = newElement(std::move(*parent));
        return kAXErrorSuccess;
    }
    if (name == "AXFocusedUIElement" && isApplicationRole(element)) {
        return copyFocusIn({accessible}, value);
    }
    return kAXErrorAttributeUnsupported;
}

AXError copyFromApplication(const ElementObject& element, std::string_view name, CFTypeRef* value) {
    std::vector<Accessible> found;
    if (const AXError failed = applications(element.pid, &found); failed != kAXErrorSuccess) {
        return failed;
    }
    if (found.empty()) {
        return kAXErrorCannotComplete; // no AT-SPI application for this process
    }
    if (name == "AXFocusedUIElement") {
        return copyFocusIn(found, value);
    }
    ElementObject first(ElementObject::Kind::accessible, 0, found.front());
    return copyFromAccessible(first, name, value);
}

AXError copyFromSystemWide(std::string_view name, CFTypeRef* value) {
    if (name == "AXRole") {
        *value = newString(u"AXSystemWide");
        return kAXErrorSuccess;
    }
    if (name != "AXFocusedUIElement") {
        return kAXErrorAttributeUnsupported;
    }
    return copySystemWideFocus(value);
}

// The process that an activation request is for: an application element's, or that of an
// accessible which is an application.
std::optional<pid_t> applicationPid(ElementObject& element) {
    if (element.kind == ElementObject::Kind::application) {
        return element.pid;
    }
    pid_t pid = 0;
    if (element.kind == ElementObject::Kind::accessible && accessibilityReady() &&
        isApplicationRole(element) && pidOf(element.accessible, &pid) == kAXErrorSuccess) {
        return pid;
    }
    return std::nullopt;
}

std::string attributeName(CFStringRef attribute, const char* function) {
    return unicode::utf8FromUtf16(cfcore::stringText(attribute, function));
}

} // namespace

} // namespace xdesk

namespace xdesk {
// The trust test of a process that taps keys on a Wayland session (device_tap.h). It is defined in
// device_tap.cpp, which the linker takes out of the xdesk library only into a process that makes
// event taps (CGEventTapCreate reaches the device tap): a weak reference does not pull a library
// member in on its own. So in gripwell it is there, and in scribbet and vantor, which make no
// taps and whose trust is the accessibility bus, it is null. The desktop tests hold both sides:
// gripwell on a Wayland session with stand-in keyboards and no bus starts (gripwell_devices_test),
// scribbet on a Wayland session with no keyboard it may read inserts (wayland_test).
[[gnu::weak]] bool inputDevicesTrusted();
} // namespace xdesk

using namespace xdesk;

extern "C" {

// On a Wayland session a process that taps keys reads them from the input devices, and a Mac's
// one permission, which covers both its taps and its Accessibility calls, stands there for the
// permission to read a keyboard; such a process makes no Accessibility call. Anywhere else the
// permission is the accessibility bus.
Boolean AXIsProcessTrusted(void) {
    if (inputDevicesTrusted != nullptr && sessionType() == SessionType::wayland) {
        return inputDevicesTrusted() ? 1 : 0;
    }
    return accessibilityBusAnswers() ? 1 : 0;
}

CFTypeID AXUIElementGetTypeID(void) {
    return cfcore::elementTypeId;
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
    return toRef<AXUIElementRef>(
        track(std::make_unique<ElementObject>(ElementObject::Kind::systemWide, 0, Accessible{})));
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
    return toRef<AXUIElementRef>(track(
        std::make_unique<ElementObject>(ElementObject::Kind::application, pid, Accessible{})));
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
    const char* function = "AXUIElementCopyAttributeValue";
    ElementObject* object = elementObject(element, function);
    const std::string name = attributeName(attribute, function);
    if (value == nullptr) {
        cfcore::abortWith(std::string(function) + ": NULL output slot");
    }
    if (!accessibilityReady()) {
        return kAXErrorAPIDisabled;
    }
    CFTypeRef read = nullptr;
    AXError result = kAXErrorFailure;
    switch (object->kind) {
    case ElementObject::Kind::systemWide:
        result = copyFromSystemWide(name, &read);
        break;
    case ElementObject::Kind::application:
        result = copyFromApplication(*object, name, &read);
        break;
    case ElementObject::Kind::accessible:
        result = copyFromAccessible(*object, name, &read);
        break;
    }
    if (result == kAXErrorSuccess) {
        *value = read; // an error leaves the slot as it was
    }
    return result;
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable) {
    const char* function = "AXUIElementIsAttributeSettable";
    ElementObject* object = elementObject(element, function);
    const std::string name = attributeName(attribute, function);
    if (settable == nullptr) {
        cfcore::abortWith(std::string(function) + ": NULL output flag");
    }
    *settable = 0;
    if (name == "AXFrontmost") {
        *settable = applicationPid(*object) ? 1 : 0;
        return kAXErrorSuccess;
    }
    if (object->kind != ElementObject::Kind::accessible ||
        (name != "AXValue" && name != "AXSelectedTextRange")) {
        return kAXErrorSuccess;
    }
    if (!accessibilityReady()) {
        return kAXErrorAPIDisabled;
    }
    // The value takes text when the application offers editing; the selection when it offers
    // text; either only while the text is editable.
    bool offered = false;
    const Interface needed = name == "AXValue" ? Interface::editableText : Interface::text;
    if (const AXError failed = offers(object->accessible, needed, &offered);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (!offered) {
        return kAXErrorSuccess;
    }
    States states;
    if (const AXError failed = statesOf(object->accessible, &states); failed != kAXErrorSuccess) {
        return failed;
    }
    *settable = hasState(states, ATSPI_STATE_EDITABLE) ? 1 : 0;
    return kAXErrorSuccess;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
    const char* function = "AXUIElementSetAttributeValue";
    ElementObject* object = elementObject(element, function);
    const std::string name = attributeName(attribute, function);
    lookup(value, function);
    if (name == "AXFrontmost") {
        const std::optional<pid_t> pid = applicationPid(*object);
        if (!pid) {
            return kAXErrorAttributeUnsupported;
        }
        if (value != kCFBooleanTrue) {
            return kAXErrorIllegalArgument; // a window manager can raise, not lower to order
        }
        const bool requested = sessionType() == SessionType::wayland
                                   ? wayland::requestActivation(*pid)
                                   : x11::requestActivation(*pid);
        return requested ? kAXErrorSuccess : kAXErrorCannotComplete;
    }
    if (object->kind != ElementObject::Kind::accessible) {
        return kAXErrorAttributeUnsupported;
    }
    if (!accessibilityReady()) {
        return kAXErrorAPIDisabled;
    }
    if (name == "AXValue") {
        return writeValue(*object, value);
    }
    if (name == "AXSelectedTextRange") {
        return writeSelectedRange(*object, value);
    }
    return kAXErrorAttributeUnsupported;
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
    const char* function = "AXUIElementGetPid";
    ElementObject* object = elementObject(element, function);
    if (pid == nullptr) {
        cfcore::abortWith(std::string(function) + ": NULL output pid");
    }
    switch (object->kind) {
    case ElementObject::Kind::systemWide:
        return kAXErrorIllegalArgument;
    case ElementObject::Kind::application:
        *pid = object->pid;
        return kAXErrorSuccess;
    case ElementObject::Kind::accessible:
        break;
    }
    if (!accessibilityReady()) {
        return kAXErrorAPIDisabled;
    }
    return pidOf(object->accessible, pid);
}

AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr) {
    if (valuePtr == nullptr) {
        cfcore::abortWith("AXValueCreate: NULL value pointer");
    }
    return toRef<AXValueRef>(cfcore::createAxValue(theType, valuePtr));
}

} // extern "C"
