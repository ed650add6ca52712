// The registry of CoreFoundation objects: registration, lookup with its checks, constant
// literals, the live-object count, and the abort that reports a misuse.
#include <cfcore/objects.h>

#include "unicode/utf.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <limits>
#include <unordered_map>

namespace cfcore {

// Defined here, before the registry that lists them, so that they exist whenever it does.
BooleanObject trueObject(true);
BooleanObject falseObject(false);
StringObject defaultModeObject(u"kCFRunLoopDefaultMode");
StringObject commonModesObject(u"kCFRunLoopCommonModes");

namespace {

struct Registry {
    Registry() {
        for (Object* object :
             {static_cast<Object*>(&trueObject), static_cast<Object*>(&falseObject),
              static_cast<Object*>(&defaultModeObject), static_cast<Object*>(&commonModesObject)}) {
            object->immortal = true;
            statics.emplace(object, object);
        }
    }
    std::unordered_map<const void*, Object*> statics;
    std::unordered_map<const void*, std::unique_ptr<Object>> objects;
    // Released objects whose headers are still kept, oldest first.
    std::deque<const void*> released;
    std::size_t releasedLimit = std::numeric_limits<std::size_t>::max();
    uint64_t nextSerial = 1;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

const char* typeName(CFTypeID type) {
    switch (type) {
    case stringTypeId:
        return "CFString";
    case booleanTypeId:
        return "CFBoolean";
    case numberTypeId:
        return "CFNumber";
    case attributedStringTypeId:
        return "CFAttributedString";
    case elementTypeId:
        return "AXUIElement";
    case axValueTypeId:
        return "AXValue";
    case machPortTypeId:
        return "CFMachPort";
    case runLoopSourceTypeId:
        return "CFRunLoopSource";
    case runLoopTypeId:
        return "CFRunLoop";
    case eventTypeId:
        return "CGEvent";
    case eventSourceTypeId:
        return "CGEventSource";
    case fileDescriptorTypeId:
        return "CFFileDescriptor";
    default:
        return "CFType";
    }
}

void trimReleased(Registry& state) {
    while (state.released.size() > state.releasedLimit) {
        state.objects.erase(state.released.front());
        state.released.pop_front();
    }
}

} // namespace

std::string Object::describe() const {
    return std::string(typeName(type)) + " #" + std::to_string(serial);
}

std::string StringObject::describe() const {
    std::string shown = unicode::utf8FromUtf16(text.size() > 40 ? text.substr(0, 40) : text);
    return Object::describe() + " \"" + shown + (text.size() > 40 ? "...\"" : "\"");
}

std::string AttributedStringObject::describe() const {
    return Object::describe() + " \"" + unicode::utf8FromUtf16(text) + "\"";
}

std::string BooleanObject::describe() const {
    return Object::describe() + (value ? " true" : " false");
}

std::string NumberObject::describe() const {
    char shown[32];
    std::snprintf(shown, sizeof shown, " %g", value);
    return Object::describe() + shown;
}

std::string AxValueObject::describe() const {
    if (valueType == kAXValueTypeCFRange) {
        return Object::describe() + " range(" + std::to_string(range.location) + ", " +
               std::to_string(range.length) + ")";
    }
    return Object::describe() + " type " + std::to_string(valueType);
}

void abortWith(const std::string& message) {
    std::fprintf(stderr, "cfcore: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

void adoptObject(std::unique_ptr<Object> object) {
    object->serial = registry().nextSerial++;
    registry().objects.emplace(object.get(), std::move(object));
}

void noteReleased(Object* object) {
    Registry& state = registry();
    state.released.push_back(object);
    trimReleased(state);
}

void keepReleasedObjects(std::size_t limit) {
    Registry& state = registry();
    state.releasedLimit = limit;
    trimReleased(state);
}

std::size_t registeredObjects() {
    std::size_t count = 0;
    for (const auto& entry : registry().objects) {
        if (!entry.second->immortal) {
            ++count;
        }
    }
    return count;
}

void makeImmortal(Object* object) {
    object->immortal = true;
}

Object* lookup(CFTypeRef ref, const char* function) {
    if (ref == nullptr) {
        abortWith(std::string(function) + " called with NULL");
    }
    auto constant = registry().statics.find(ref);
    if (constant != registry().statics.end()) {
        return constant->second;
    }
    auto found = registry().objects.find(ref);
    if (found == registry().objects.end()) {
        char address[32];
        std::snprintf(address, sizeof address, "%p", ref);
        abortWith(std::string(function) + " called with an unknown object " + address);
    }
    Object* object = found->second.get();
    if (object->dead) {
        abortWith(std::string(function) + " called with released " + object->describe());
    }
    return object;
}

void typeMismatch(const Object* object, CFTypeID type, const char* function) {
    abortWith(std::string(function) + " expects a " + typeName(type) + ", got " +
              object->describe());
}

StringObject* constantString(std::string_view utf8Text) {
    std::optional<std::u16string> text = unicode::utf16FromUtf8(utf8Text);
    if (!text) {
        abortWith("CFSTR given text that is not UTF-8");
    }
    // Registered without a serial number: literals are not counted among the objects made.
    auto owned = std::make_unique<StringObject>(std::move(*text));
    StringObject* object = owned.get();
    object->immortal = true;
    registry().objects.emplace(object, std::move(owned));
    return object;
}

std::u16string stringText(CFStringRef ref, const char* function) {
    return lookupAs<StringObject>(ref, stringTypeId, function)->text;
}

std::size_t liveObjects() {
    std::size_t count = 0;
    for (const auto& entry : registry().objects) {
        if (!entry.second->immortal && !entry.second->dead) {
            ++count;
        }
    }
    return count;
}

std::vector<std::string> liveObjectDescriptions() {
    std::vector<std::string> out;
    for (const auto& entry : registry().objects) {
        const Object& object = *entry.second;
        if (!object.immortal && !object.dead) {
            out.push_back(object.describe() + " (count " + std::to_string(object.refs) + ")");
        }
    }
    return out;
}

void forgetMortalObjects() {
    registry().released.clear();
    auto& objects = registry().objects;
    for (auto it = objects.begin(); it != objects.end();) {
        if (it->second->immortal) {
            ++it;
        } else {
            it = objects.erase(it);
        }
    }
}

} // namespace cfcore
