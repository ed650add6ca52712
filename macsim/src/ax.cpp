// Accessibility of the simulation: the desktop of elements, attribute reads, settable tests,
// writes and pids, and the creation of boxed AXValues (cfcore holds the boxes themselves).
#include "objects.h"

#include <cmath>
#include <sstream>

namespace macsim {

using namespace detail;

namespace {

Desktop& desktopState() {
    static Desktop instance;
    return instance;
}

std::vector<Write>& writeLog() {
    static std::vector<Write> instance;
    return instance;
}

std::string numberText(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

} // namespace

void resetDesktop() {
    desktopState() = Desktop{};
    writeLog().clear();
}

Desktop& desktop() {
    return desktopState();
}

Element& element(const std::string& name) {
    return desktopState().elements[name];
}

const std::vector<Write>& writes() {
    return writeLog();
}

Value text(std::string_view utf8Text) {
    return utf16(utf8Text);
}

Value range(CFIndex location, CFIndex length) {
    return RangeValue{{location, length}, false};
}

bool operator==(const Value& a, const Value& b) {
    if (a.index() != b.index()) {
        return false;
    }
    return std::visit(
        [&b](const auto& left) -> bool {
            using T = std::decay_t<decltype(left)>;
            const T& right = std::get<T>(b);
            if constexpr (std::is_same_v<T, std::u16string> || std::is_same_v<T, bool>) {
                return left == right;
            } else if constexpr (std::is_same_v<T, Number>) {
                return left.value == right.value;
            } else if constexpr (std::is_same_v<T, ElementValue>) {
                return left.name == right.name;
            } else if constexpr (std::is_same_v<T, RangeValue>) {
                return left.range.location == right.range.location &&
                       left.range.length == right.range.length &&
                       left.unreadable == right.unreadable;
            } else if constexpr (std::is_same_v<T, PointValue>) {
                return left.x == right.x && left.y == right.y;
            } else if constexpr (std::is_same_v<T, SizeValue>) {
                return left.width == right.width && left.height == right.height;
            } else if constexpr (std::is_same_v<T, RectValue>) {
                return left.x == right.x && left.y == right.y && left.width == right.width &&
                       left.height == right.height;
            } else if constexpr (std::is_same_v<T, ErrorValue>) {
                return left.code == right.code;
            } else {
                return left.text == right.text;
            }
        },
        a);
}

std::string describe(const Value& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::u16string>) {
                return "\"" + utf8(v) + "\"";
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? "true" : "false";
            } else if constexpr (std::is_same_v<T, Number>) {
                return numberText(v.value);
            } else if constexpr (std::is_same_v<T, ElementValue>) {
                return "element " + v.name;
            } else if constexpr (std::is_same_v<T, RangeValue>) {
                return "range(" + std::to_string(v.range.location) + ", " +
                       std::to_string(v.range.length) + (v.unreadable ? ", unreadable)" : ")");
            } else if constexpr (std::is_same_v<T, PointValue>) {
                return "point(" + numberText(v.x) + ", " + numberText(v.y) + ")";
            } else if constexpr (std::is_same_v<T, SizeValue>) {
                return "size(" + numberText(v.width) + ", " + numberText(v.height) + ")";
            } else if constexpr (std::is_same_v<T, RectValue>) {
                return "rect(" + numberText(v.x) + ", " + numberText(v.y) + ", " +
                       numberText(v.width) + ", " + numberText(v.height) + ")";
            } else if constexpr (std::is_same_v<T, ErrorValue>) {
                return "axerror(" + std::to_string(v.code) + ")";
            } else {
                return "attributed \"" + utf8(v.text) + "\"";
            }
        },
        value);
}

CFTypeRef createObject(const Value& value) {
    return std::visit(
        [](const auto& v) -> CFTypeRef {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::u16string>) {
                return track(std::make_unique<StringObject>(v));
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? kCFBooleanTrue : kCFBooleanFalse;
            } else if constexpr (std::is_same_v<T, Number>) {
                return track(std::make_unique<NumberObject>(v.value));
            } else if constexpr (std::is_same_v<T, ElementValue>) {
                return track(
                    std::make_unique<ElementObject>(ElementObject::Kind::named, 0, v.name));
            } else if constexpr (std::is_same_v<T, AttributedText>) {
                return track(std::make_unique<AttributedStringObject>(v.text));
            } else {
                auto boxed = std::make_unique<AxValueObject>();
                if constexpr (std::is_same_v<T, RangeValue>) {
                    boxed->valueType = kAXValueTypeCFRange;
                    boxed->range = v.range;
                    boxed->unreadable = v.unreadable;
                } else if constexpr (std::is_same_v<T, PointValue>) {
                    boxed->valueType = kAXValueTypeCGPoint;
                    boxed->point = {v.x, v.y};
                } else if constexpr (std::is_same_v<T, SizeValue>) {
                    boxed->valueType = kAXValueTypeCGSize;
                    boxed->size = {v.width, v.height};
                } else if constexpr (std::is_same_v<T, RectValue>) {
                    boxed->valueType = kAXValueTypeCGRect;
                    boxed->rect = {{v.x, v.y}, {v.width, v.height}};
                } else {
                    boxed->valueType = kAXValueTypeAXError;
                    boxed->error = static_cast<AXError>(v.code);
                }
                return track(std::move(boxed));
            }
        },
        value);
}

std::optional<Value> valueOf(CFTypeRef ref) {
    Object* object = lookup(ref, "valueOf");
    switch (object->type) {
    case stringTypeId:
        return Value{static_cast<StringObject*>(object)->text};
    case attributedStringTypeId:
        return Value{AttributedText{static_cast<AttributedStringObject*>(object)->text}};
    case booleanTypeId:
        return Value{static_cast<BooleanObject*>(object)->value};
    case numberTypeId:
        return Value{Number{static_cast<NumberObject*>(object)->value}};
    case elementTypeId:
        return Value{ElementValue{static_cast<ElementObject*>(object)->target()}};
    case axValueTypeId: {
        auto* boxed = static_cast<AxValueObject*>(object);
        switch (boxed->valueType) {
        case kAXValueTypeCFRange:
            return Value{RangeValue{boxed->range, boxed->unreadable}};
        case kAXValueTypeCGPoint:
            return Value{PointValue{boxed->point.x, boxed->point.y}};
        case kAXValueTypeCGSize:
            return Value{SizeValue{boxed->size.width, boxed->size.height}};
        case kAXValueTypeCGRect:
            return Value{RectValue{boxed->rect.origin.x, boxed->rect.origin.y,
                                   boxed->rect.size.width, boxed->rect.size.height}};
        case kAXValueTypeAXError:
            return Value{ErrorValue{boxed->error}};
        default:
            return std::nullopt;
        }
    }
    default:
        return std::nullopt;
    }
}

namespace detail {

std::string ElementObject::target() const {
    switch (kind) {
    case Kind::systemWide:
        return "system-wide";
    case Kind::application:
        return "app:" + std::to_string(pid);
    case Kind::named:
        break;
    }
    return name;
}

std::string ElementObject::describe() const {
    return Object::describe() + " " + target();
}

} // namespace detail

namespace {

ElementObject* elementObject(AXUIElementRef ref, const char* function) {
    return lookupAs<ElementObject>(ref, elementTypeId, function);
}

// The desktop record behind an element reference, or nothing when the pid has no application
// entry (kAXErrorCannotComplete) or the named element no longer exists (invalid element).
struct Record {
    Element* element = nullptr;
    AXError missing = kAXErrorSuccess;
};

Record recordFor(const ElementObject& object) {
    Desktop& state = desktopState();
    switch (object.kind) {
    case ElementObject::Kind::systemWide:
        return {&state.systemWide, kAXErrorSuccess};
    case ElementObject::Kind::application: {
        auto found = state.apps.find(object.pid);
        if (found == state.apps.end()) {
            return {nullptr, kAXErrorCannotComplete};
        }
        return {&found->second, kAXErrorSuccess};
    }
    case ElementObject::Kind::named: {
        auto found = state.elements.find(object.name);
        if (found == state.elements.end()) {
            return {nullptr, kAXErrorInvalidUIElement};
        }
        return {&found->second, kAXErrorSuccess};
    }
    }
    return {nullptr, kAXErrorFailure};
}

std::string attributeName(CFStringRef attribute, const char* function) {
    return utf8(stringText(attribute, function));
}

} // namespace

} // namespace macsim

using namespace macsim;
using namespace macsim::detail;

extern "C" {

Boolean AXIsProcessTrusted(void) {
    logCall("AXIsProcessTrusted");
    return desktopState().trusted ? 1 : 0;
}

CFTypeID AXUIElementGetTypeID(void) {
    return elementTypeId;
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
    logCall("AXUIElementCreateSystemWide");
    return toRef<AXUIElementRef>(
        track(std::make_unique<ElementObject>(ElementObject::Kind::systemWide, 0, "")));
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
    logCall("AXUIElementCreateApplication", "app:" + std::to_string(pid));
    return toRef<AXUIElementRef>(
        track(std::make_unique<ElementObject>(ElementObject::Kind::application, pid, "")));
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
    const char* function = "AXUIElementCopyAttributeValue";
    ElementObject* object = elementObject(element, function);
    std::string name = attributeName(attribute, function);
    if (value == nullptr) {
        fail(std::string(function) + ": NULL output slot");
    }
    logCall(function, object->target(), name);
    Record record = recordFor(*object);
    if (record.element == nullptr) {
        return record.missing;
    }
    auto found = record.element->attributes.find(name);
    if (found == record.element->attributes.end()) {
        return kAXErrorAttributeUnsupported;
    }
    const Read& read = found->second;
    if (read.value) {
        *value = createObject(*read.value);
    } else if (read.code == kAXErrorSuccess) {
        *value = nullptr;
    }
    return read.code;
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable) {
    const char* function = "AXUIElementIsAttributeSettable";
    ElementObject* object = elementObject(element, function);
    std::string name = attributeName(attribute, function);
    if (settable == nullptr) {
        fail(std::string(function) + ": NULL output flag");
    }
    logCall(function, object->target(), name);
    Record record = recordFor(*object);
    if (record.element == nullptr) {
        return record.missing;
    }
    auto found = record.element->settable.find(name);
    Settable outcome = found == record.element->settable.end() ? Settable{} : found->second;
    *settable = outcome.flag ? 1 : 0;
    return outcome.code;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
    const char* function = "AXUIElementSetAttributeValue";
    ElementObject* object = elementObject(element, function);
    std::string name = attributeName(attribute, function);
    lookup(value, function);
    logCall(function, object->target(), name);
    std::optional<Value> written = valueOf(value);
    if (!written) {
        fail(std::string(function) + ": cannot write " + lookup(value, function)->describe());
    }
    Record record = recordFor(*object);
    AXError result = kAXErrorSuccess;
    if (record.element == nullptr) {
        result =
            object->kind == ElementObject::Kind::application ? kAXErrorSuccess : record.missing;
    } else {
        WriteOutcome outcome;
        if (auto found = record.element->writeOutcomes.find(name);
            found != record.element->writeOutcomes.end()) {
            outcome = found->second;
        } else if (auto refused = record.element->writeErrors.find(name);
                   refused != record.element->writeErrors.end()) {
            outcome = WriteOutcome::keepingOld(refused->second);
        }
        result = outcome.code;
        if (outcome.effect != WriteOutcome::Effect::keepsOld) {
            // The old value goes before the new one is stored, so that the element never holds
            // a big text twice.
            Read& stored = record.element->attributes[name];
            stored = Read::none();
            stored = Read::of(outcome.effect == WriteOutcome::Effect::storesOther ? outcome.other
                                                                                  : *written);
        }
    }
    // The log takes the converted value itself: a big text is not copied once more.
    writeLog().push_back({object->target(), name, std::move(*written), result});
    return result;
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
    const char* function = "AXUIElementGetPid";
    ElementObject* object = elementObject(element, function);
    if (pid == nullptr) {
        fail(std::string(function) + ": NULL output pid");
    }
    logCall(function, object->target());
    switch (object->kind) {
    case ElementObject::Kind::systemWide:
        return kAXErrorIllegalArgument;
    case ElementObject::Kind::application:
        *pid = object->pid;
        return kAXErrorSuccess;
    case ElementObject::Kind::named:
        break;
    }
    Record record = recordFor(*object);
    if (record.element == nullptr) {
        return record.missing;
    }
    const PidOutcome& outcome = record.element->pid;
    if (outcome.written) {
        *pid = *outcome.written;
    }
    return outcome.code;
}

AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr) {
    logCall("AXValueCreate");
    if (valuePtr == nullptr) {
        fail("AXValueCreate: NULL value pointer");
    }
    if (failures().axValueCreate) {
        return nullptr;
    }
    return toRef<AXValueRef>(createAxValue(theType, valuePtr));
}

} // extern "C"
