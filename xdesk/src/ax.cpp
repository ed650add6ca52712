// Accessibility on the Linux desktop: AXUIElement and its attributes over AT-SPI (libatspi), and
// the application's activation over EWMH. docs/linux-desktop.md has the mapping as a table.
#include "objects.h"
#include "rules.h"
#include "session.h"
#include "session_type.h"
#include "x11.h"

#include <atspi/atspi.h>

#include <algorithm>
#include <climits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xdesk {

namespace {

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

ElementObject* elementObject(AXUIElementRef ref, const char* function) {
    return lookupAs<ElementObject>(ref, cfcore::elementTypeId, function);
}

// A new element that takes over `owned`.
CFTypeRef newElement(AccessiblePtr owned) {
    return toRef<CFTypeRef>(track(
        std::make_unique<ElementObject>(ElementObject::Kind::accessible, 0, owned.release())));
}

CFTypeRef newString(std::u16string text) {
    return toRef<CFTypeRef>(track(std::make_unique<cfcore::StringObject>(std::move(text))));
}

// Text from the bus, which carries only valid UTF-8.
std::optional<std::u16string> textFrom(const gchar* utf8) {
    return cfcore::decodeUtf8(utf8 != nullptr ? std::string_view(utf8) : std::string_view());
}

// One call to `accessible`'s application: `call` makes it, reporting into the GError slot it is
// given. kAXErrorCannotComplete without the call when the application has stopped answering;
// otherwise endCall's verdict, whatever `call` has stored meanwhile.
template <class Call> AXError callApplication(AtspiAccessible* accessible, Call&& call) {
    const std::optional<BusCall> started = beginCall(accessible);
    if (!started) {
        return kAXErrorCannotComplete;
    }
    GError* error = nullptr;
    std::forward<Call>(call)(&error);
    return endCall(*started, error);
}

// ---- One accessible ---------------------------------------------------------------------------

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

// The accessible's states, read afresh: focus and editability change while applications run.
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

enum class Interface { text, editableText, value, collection };

// Whether the accessible offers an interface; libatspi asks the application once and keeps the
// answer.
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

// For an attribute that needs `interface`: kAXErrorAttributeUnsupported when the accessible does
// not offer it, the call's error when the question failed.
AXError requireInterface(AtspiAccessible* accessible, Interface interface) {
    bool offered = false;
    if (const AXError failed = offers(accessible, interface, &offered); failed != kAXErrorSuccess) {
        return failed;
    }
    return offered ? kAXErrorSuccess : kAXErrorAttributeUnsupported;
}

// The Mac's role and subrole. Only the role depends on the line states, so reading the subrole
// costs no state query.
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

// The first `characters` characters of the accessible's text (all of it for -1).
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

// The text up to `characters` characters in, which is all that converting offsets up to there
// needs; for none it stays empty and nothing is asked.
AXError prefixOf(AtspiAccessible* accessible, long characters, std::u16string* prefix) {
    return characters > 0 ? textOf(accessible, characters, prefix) : kAXErrorSuccess;
}

AXError readValue(AtspiAccessible* accessible, CFTypeRef* value) {
    bool text = false;
    if (const AXError failed = offers(accessible, Interface::text, &text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (text) {
        std::u16string whole;
        if (const AXError failed = textOf(accessible, -1, &whole); failed != kAXErrorSuccess) {
            return failed;
        }
        *value = newString(std::move(whole));
        return kAXErrorSuccess;
    }
    bool numeric = false;
    if (const AXError failed = offers(accessible, Interface::value, &numeric);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (!numeric) {
        return kAXErrorNoValue;
    }
    gdouble current = 0;
    const AXError failed = callApplication(accessible, [&](GError** error) {
        current = atspi_value_get_current_value(ATSPI_VALUE(accessible), error);
    });
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    *value = toRef<CFTypeRef>(track(std::make_unique<cfcore::NumberObject>(current)));
    return kAXErrorSuccess;
}

// The first selection, or the caret, in characters.
AXError selectionOf(AtspiAccessible* accessible, CharacterRange* selection) {
    AtspiText* text = ATSPI_TEXT(accessible);
    gint count = 0;
    if (const AXError failed = callApplication(
            accessible, [&](GError** error) { count = atspi_text_get_n_selections(text, error); });
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (count > 0) {
        std::unique_ptr<AtspiRange, GFree> range;
        const AXError failed = callApplication(accessible, [&](GError** error) {
            range.reset(atspi_text_get_selection(text, 0, error));
        });
        if (failed != kAXErrorSuccess) {
            return failed;
        }
        if (range == nullptr) {
            return kAXErrorNoValue;
        }
        *selection = {std::min(range->start_offset, range->end_offset),
                      std::max(range->start_offset, range->end_offset)};
        return kAXErrorSuccess;
    }
    gint caret = -1;
    const AXError failed = callApplication(
        accessible, [&](GError** error) { caret = atspi_text_get_caret_offset(text, error); });
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    if (caret < 0) {
        return kAXErrorNoValue; // no caret at all
    }
    *selection = {caret, caret};
    return kAXErrorSuccess;
}

AXError readSelectedRange(AtspiAccessible* accessible, CFTypeRef* value) {
    if (const AXError failed = requireInterface(accessible, Interface::text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    CharacterRange selection;
    if (const AXError failed = selectionOf(accessible, &selection); failed != kAXErrorSuccess) {
        return failed;
    }
    std::u16string prefix;
    if (const AXError failed = prefixOf(accessible, selection.end, &prefix);
        failed != kAXErrorSuccess) {
        return failed;
    }
    const long start = unitsForCharacters(prefix, selection.start);
    const long end = unitsForCharacters(prefix, selection.end);
    const CFRange units = CFRangeMake(start, end - start);
    *value = toRef<CFTypeRef>(cfcore::createAxValue(kAXValueTypeCFRange, &units));
    return kAXErrorSuccess;
}

AXError writeValue(AtspiAccessible* accessible, CFTypeRef value) {
    if (cfcore::lookup(value, "AXUIElementSetAttributeValue")->type != cfcore::stringTypeId) {
        return kAXErrorIllegalArgument;
    }
    const std::u16string text =
        cfcore::stringText(static_cast<CFStringRef>(value), "AXUIElementSetAttributeValue");
    // The bus carries C strings: a text holding U+0000 would arrive cut short, so it is refused
    // rather than written in part.
    if (text.find(u'\0') != std::u16string::npos) {
        return kAXErrorIllegalArgument;
    }
    if (const AXError failed = requireInterface(accessible, Interface::editableText);
        failed != kAXErrorSuccess) {
        return failed;
    }
    const std::string utf8 = cfcore::encodeUtf8Lossy(text);
    gboolean written = FALSE;
    const AXError failed = callApplication(accessible, [&](GError** error) {
        written = atspi_editable_text_set_text_contents(ATSPI_EDITABLE_TEXT(accessible),
                                                        utf8.c_str(), error);
    });
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    return written ? kAXErrorSuccess : kAXErrorFailure; // FALSE: the application refused
}

AXError writeSelectedRange(AtspiAccessible* accessible, CFTypeRef value) {
    CFRange range = CFRangeMake(0, 0);
    if (cfcore::lookup(value, "AXUIElementSetAttributeValue")->type != cfcore::axValueTypeId ||
        !AXValueGetValue(static_cast<AXValueRef>(value), kAXValueTypeCFRange, &range)) {
        return kAXErrorIllegalArgument;
    }
    if (range.location < 0 || range.length < 0 || range.location > INT_MAX ||
        range.length > INT_MAX - range.location) {
        return kAXErrorIllegalArgument;
    }
    if (const AXError failed = requireInterface(accessible, Interface::text);
        failed != kAXErrorSuccess) {
        return failed;
    }
    // N units never hold more than N characters, so the first N characters cover them; a text
    // shorter than the range's end in units is shorter than the range.
    const long endUnits = range.location + range.length;
    std::u16string prefix;
    if (const AXError failed = prefixOf(accessible, endUnits, &prefix); failed != kAXErrorSuccess) {
        return failed;
    }
    if (static_cast<long>(prefix.size()) < endUnits) {
        return kAXErrorIllegalArgument;
    }
    const CharacterRange characters = charactersForRange(prefix, range);
    const auto start = static_cast<gint>(characters.start);
    const auto end = static_cast<gint>(characters.end);
    AtspiText* textInterface = ATSPI_TEXT(accessible);
    gboolean set = FALSE;
    const AXError failed = callApplication(accessible, [&](GError** error) {
        if (range.length == 0) {
            // Moving the caret also drops any selection, as setting an empty range does on a Mac.
            set = atspi_text_set_caret_offset(textInterface, start, error);
        } else {
            set = atspi_text_set_selection(textInterface, 0, start, end, error);
            if (!set && *error == nullptr) {
                set = atspi_text_add_selection(textInterface, start, end, error);
            }
        }
    });
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    return set ? kAXErrorSuccess : kAXErrorFailure;
}

// ---- Applications and the focus --------------------------------------------------------------

std::map<std::string, pid_t>& pidsByBusName() {
    static std::map<std::string, pid_t> known;
    return known;
}

// The process of the accessible's application; the bus daemon knows it, once per application.
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

// The accessible's children, in order. A child that cannot be had is left out.
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

// The AT-SPI applications of the desktop whose process is `pid`, or all of them.
AXError applications(std::optional<pid_t> pid, std::vector<AccessiblePtr>* found) {
    const AccessiblePtr desktop(atspi_get_desktop(0));
    if (desktop == nullptr) {
        return kAXErrorCannotComplete;
    }
    std::vector<AccessiblePtr> all;
    if (const AXError failed = childrenOf(desktop.get(), &all); failed != kAXErrorSuccess) {
        return failed;
    }
    for (AccessiblePtr& application : all) {
        pid_t owner = 0;
        if (!pid || (pidOf(application.get(), &owner) == kAXErrorSuccess && owner == *pid)) {
            found->push_back(std::move(application));
        }
    }
    return kAXErrorSuccess;
}

// For applications without the Collection interface: a depth-first search for the focused
// accessible through what is showing, bounded so that a huge tree costs a bounded time. Lists and
// tables that manage their own descendants are not entered.
constexpr int walkBudget = 400;

AXError walkForFocus(AtspiAccessible* root, AccessiblePtr* focused) {
    std::vector<AccessiblePtr> pending;
    if (const AXError failed = childrenOf(root, &pending); failed != kAXErrorSuccess) {
        return failed;
    }
    std::reverse(pending.begin(), pending.end());
    for (int visited = 0; !pending.empty() && visited < walkBudget; ++visited) {
        AccessiblePtr current = std::move(pending.back());
        pending.pop_back();
        StateSetPtr states;
        if (statesOf(current.get(), &states) != kAXErrorSuccess) {
            continue;
        }
        if (hasState(states, ATSPI_STATE_FOCUSED)) {
            *focused = std::move(current);
            return kAXErrorSuccess;
        }
        if (!hasState(states, ATSPI_STATE_SHOWING) ||
            hasState(states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
            continue;
        }
        std::vector<AccessiblePtr> children;
        if (childrenOf(current.get(), &children) == kAXErrorSuccess) {
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                pending.push_back(std::move(*it));
            }
        }
    }
    return kAXErrorNoValue;
}

// The focused accessible under `window`: one Collection query that the application runs itself,
// so the size of the tree costs this process nothing.
AXError focusUnder(AtspiAccessible* window, AccessiblePtr* focused) {
    bool collection = false;
    if (const AXError failed = offers(window, Interface::collection, &collection);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (!collection) {
        return walkForFocus(window, focused);
    }
    const StateSetPtr wanted(atspi_state_set_new(nullptr));
    atspi_state_set_add(wanted.get(), ATSPI_STATE_FOCUSED);
    const GObjectPtr<AtspiMatchRule> rule(atspi_match_rule_new(
        wanted.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
        ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE));
    GArray* matches = nullptr;
    const AXError failed = callApplication(window, [&](GError** error) {
        matches =
            atspi_collection_get_matches(ATSPI_COLLECTION(window), rule.get(),
                                         ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, error);
    });
    if (matches == nullptr) {
        return failed != kAXErrorSuccess ? failed : kAXErrorNoValue;
    }
    // Transfer full: the array and a reference to each accessible in it are ours.
    for (guint i = 0; i < matches->len; ++i) {
        AccessiblePtr match(g_array_index(matches, AtspiAccessible*, i));
        if (*focused == nullptr && failed == kAXErrorSuccess) {
            *focused = std::move(match);
        }
    }
    g_array_free(matches, TRUE);
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    return *focused != nullptr ? kAXErrorSuccess : kAXErrorNoValue;
}

// The focused accessible in the active window of one of `candidates`. The active window is
// looked for first: toolkits report the focus only there, and a search through inactive
// windows would be wasted.
AXError focusIn(const std::vector<AccessiblePtr>& candidates, AccessiblePtr* focused) {
    AXError outcome = kAXErrorNoValue;
    for (const AccessiblePtr& application : candidates) {
        std::vector<AccessiblePtr> windows;
        if (const AXError failed = childrenOf(application.get(), &windows);
            failed != kAXErrorSuccess) {
            outcome = failed;
            continue;
        }
        for (const AccessiblePtr& window : windows) {
            StateSetPtr states;
            if (const AXError failed = statesOf(window.get(), &states); failed != kAXErrorSuccess) {
                outcome = failed;
                continue;
            }
            if (!hasState(states, ATSPI_STATE_ACTIVE)) {
                continue;
            }
            if (hasState(states, ATSPI_STATE_FOCUSED)) {
                *focused = AccessiblePtr(static_cast<AtspiAccessible*>(g_object_ref(window.get())));
                return kAXErrorSuccess;
            }
            const AXError found = focusUnder(window.get(), focused);
            if (found == kAXErrorSuccess) {
                return found;
            }
            if (found != kAXErrorNoValue) {
                outcome = found;
            }
        }
    }
    return outcome;
}

// As focusIn, the focused accessible as a new element.
AXError copyFocusIn(const std::vector<AccessiblePtr>& candidates, CFTypeRef* value) {
    AccessiblePtr focused;
    if (const AXError failed = focusIn(candidates, &focused); failed != kAXErrorSuccess) {
        return failed;
    }
    *value = newElement(std::move(focused));
    return kAXErrorSuccess;
}

// The focus of the desktop, as a new element: in the application of the window that the window
// manager says is active. Without a window manager that says so, every application is asked.
AXError copySystemWideFocus(CFTypeRef* value) {
    const x11::ActiveWindow active = x11::activeWindow();
    if (active.managed && !active.pid) {
        return kAXErrorNoValue; // no active window, or one that no process owns
    }
    std::vector<AccessiblePtr> candidates;
    if (const AXError failed = applications(active.pid, &candidates); failed != kAXErrorSuccess) {
        return failed;
    }
    return copyFocusIn(candidates, value);
}

// ---- Attributes by element kind --------------------------------------------------------------

bool isApplicationRole(ElementObject& element) {
    AtspiRole role = ATSPI_ROLE_INVALID;
    return roleOf(element, &role) == kAXErrorSuccess && role == ATSPI_ROLE_APPLICATION;
}

AXError copyFromAccessible(ElementObject& element, std::string_view name, CFTypeRef* value) {
    AtspiAccessible* accessible = element.accessible;
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
        return readSelectedRange(accessible, value);
    }
    if (name == "AXParent") {
        if (isApplicationRole(element)) {
            return kAXErrorNoValue; // nothing above an application
        }
        AccessiblePtr parent;
        const AXError failed = callApplication(accessible, [&](GError** error) {
            parent.reset(atspi_accessible_get_parent(accessible, error));
        });
        if (failed != kAXErrorSuccess) {
            return failed;
        }
        const AccessiblePtr desktop(atspi_get_desktop(0));
        if (parent == nullptr || parent.get() == desktop.get()) {
            return kAXErrorNoValue;
        }
        *value = newElement(std::move(parent));
        return kAXErrorSuccess;
    }
    if (name == "AXFocusedUIElement" && isApplicationRole(element)) {
        std::vector<AccessiblePtr> candidates;
        candidates.emplace_back(static_cast<AtspiAccessible*>(g_object_ref(accessible)));
        return copyFocusIn(candidates, value);
    }
    return kAXErrorAttributeUnsupported;
}

AXError copyFromApplication(const ElementObject& element, std::string_view name, CFTypeRef* value) {
    std::vector<AccessiblePtr> found;
    if (const AXError failed = applications(element.pid, &found); failed != kAXErrorSuccess) {
        return failed;
    }
    if (found.empty()) {
        return kAXErrorCannotComplete; // no AT-SPI application for this process
    }
    if (name == "AXFocusedUIElement") {
        return copyFocusIn(found, value);
    }
    ElementObject first(ElementObject::Kind::accessible, 0, found.front().get());
    const AXError result = copyFromAccessible(first, name, value);
    first.accessible = nullptr; // still owned by `found`
    return result;
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
    return cfcore::encodeUtf8Lossy(cfcore::stringText(attribute, function));
}

} // namespace

} // namespace xdesk

using namespace xdesk;

namespace xdesk {
// Defined by the event tap over the kernel's input devices (device_tap.h), and so present in a
// process that can make event taps and in no other.
[[gnu::weak]] bool inputDevicesTrusted();
} // namespace xdesk

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
        track(std::make_unique<ElementObject>(ElementObject::Kind::systemWide, 0, nullptr)));
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
    return toRef<AXUIElementRef>(
        track(std::make_unique<ElementObject>(ElementObject::Kind::application, pid, nullptr)));
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
    StateSetPtr states;
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
        return x11::requestActivation(*pid) ? kAXErrorSuccess : kAXErrorCannotComplete;
    }
    if (object->kind != ElementObject::Kind::accessible) {
        return kAXErrorAttributeUnsupported;
    }
    if (!accessibilityReady()) {
        return kAXErrorAPIDisabled;
    }
    if (name == "AXValue") {
        return writeValue(object->accessible, value);
    }
    if (name == "AXSelectedTextRange") {
        return writeSelectedRange(object->accessible, value);
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
