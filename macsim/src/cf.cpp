// CoreFoundation objects of the simulation: registry, reference counts, strings, booleans,
// numbers; plus the state shared by every area (call log, hooks, failures, clock, reset).
#include "objects.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <unordered_map>

namespace macsim {
void resetDesktop(); // ax.cpp

namespace detail {
namespace {

// Constants with fixed addresses; the registry knows them but does not own them.
BooleanObject trueObject(true);
BooleanObject falseObject(false);
StringObject defaultModeObject(u"kCFRunLoopDefaultMode");
StringObject commonModesObject(u"kCFRunLoopCommonModes");

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
    std::unordered_map<std::string, StringObject*> interned;
    uint64_t nextSerial = 1;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

struct Hook {
    std::string function;
    int nth;
    std::function<void()> action;
};

struct Shared {
    std::vector<Call> calls;
    std::unordered_map<std::string, int> callCounts;
    std::vector<Hook> hooks;
    Failures failures;
    int64_t clock = 0;
    std::vector<void (*)()> areaResets;
};

Shared& shared() {
    static Shared instance;
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

Object* immortalObject(std::unique_ptr<Object> object) {
    Object* raw = object.get();
    raw->immortal = true;
    registry().objects.emplace(raw, std::move(object));
    return raw;
}

} // namespace

std::string Object::describe() const {
    return std::string(typeName(type)) + " #" + std::to_string(serial);
}

std::string StringObject::describe() const {
    std::string shown = utf8(text.size() > 40 ? text.substr(0, 40) : text);
    return Object::describe() + " \"" + shown + (text.size() > 40 ? "...\"" : "\"");
}

std::string AttributedStringObject::describe() const {
    return Object::describe() + " \"" + utf8(text) + "\"";
}

std::string BooleanObject::describe() const {
    return Object::describe() + (value ? " true" : " false");
}

std::string NumberObject::describe() const {
    std::ostringstream out;
    out << Object::describe() << ' ' << value;
    return out.str();
}

void fail(const std::string& message) {
    std::fprintf(stderr, "macsim: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

void adoptObject(std::unique_ptr<Object> object) {
    object->serial = registry().nextSerial++;
    registry().objects.emplace(object.get(), std::move(object));
}

void makeImmortal(Object* object) {
    object->immortal = true;
}

Object* lookup(CFTypeRef ref, const char* function) {
    if (ref == nullptr) {
        fail(std::string(function) + " called with NULL");
    }
    auto constant = registry().statics.find(ref);
    if (constant != registry().statics.end()) {
        return constant->second;
    }
    auto found = registry().objects.find(ref);
    if (found == registry().objects.end()) {
        std::ostringstream out;
        out << function << " called with an unknown object " << ref;
        fail(out.str());
    }
    Object* object = found->second.get();
    if (object->dead) {
        fail(std::string(function) + " called with released " + object->describe());
    }
    return object;
}

void typeMismatch(const Object* object, CFTypeID type, const char* function) {
    fail(std::string(function) + " expects a " + typeName(type) + ", got " + object->describe());
}

void logCall(const char* function, std::string target, std::string attribute) {
    Shared& state = shared();
    state.calls.push_back({function, std::move(target), std::move(attribute)});
    int count = ++state.callCounts[function];
    // Copy the matching actions first: an action may register further hooks.
    std::vector<std::function<void()>> due;
    for (const Hook& hook : state.hooks) {
        if (hook.function == function && hook.nth == count) {
            due.push_back(hook.action);
        }
    }
    for (auto& action : due) {
        action();
    }
}

StringObject* internString(std::string_view utf8Text) {
    std::string key(utf8Text);
    auto& interned = registry().interned;
    auto found = interned.find(key);
    if (found != interned.end()) {
        return found->second;
    }
    auto* object =
        static_cast<StringObject*>(immortalObject(std::make_unique<StringObject>(utf16(key))));
    interned.emplace(key, object);
    return object;
}

std::u16string stringText(CFStringRef ref, const char* function) {
    return lookupAs<StringObject>(ref, stringTypeId, function)->text;
}

void registerReset(void (*resetArea)()) {
    shared().areaResets.push_back(resetArea);
}

} // namespace detail

using namespace detail;

// ---- UTF-8 and UTF-16 ------------------------------------------------------------------------

namespace {

// Strict UTF-8 decoding: no overlong forms, no surrogates, nothing above U+10FFFF.
std::optional<std::u16string> decodeUtf8(const unsigned char* bytes, std::size_t size) {
    std::u16string out;
    out.reserve(size);
    std::size_t i = 0;
    while (i < size) {
        unsigned char lead = bytes[i];
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        int extra = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1, code = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, code = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, code = lead & 0x07, minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (size - i <= static_cast<std::size_t>(extra)) {
            return std::nullopt;
        }
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = bytes[i + static_cast<std::size_t>(k)];
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return std::nullopt;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

// UTF-8 of well-formed UTF-16; nothing when a surrogate is unpaired.
std::optional<std::string> encodeUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            return std::nullopt;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

} // namespace

std::u16string utf16(std::string_view text) {
    auto decoded = decodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    if (!decoded) {
        fail("control API given text that is not UTF-8");
    }
    return *decoded;
}

std::string utf8(const std::u16string& text) {
    if (auto encoded = encodeUtf8(text)) {
        return *encoded;
    }
    std::u16string repaired = text;
    for (std::size_t i = 0; i < repaired.size(); ++i) {
        char16_t unit = repaired[i];
        bool high = unit >= 0xD800 && unit <= 0xDBFF;
        bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < repaired.size() && repaired[i + 1] >= 0xDC00 &&
            repaired[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            repaired[i] = 0xFFFD;
        }
    }
    return *encodeUtf8(repaired);
}

// ---- Shared state ----------------------------------------------------------------------------

const std::vector<Call>& calls() {
    return shared().calls;
}

std::vector<std::string> callStrings() {
    std::vector<std::string> out;
    for (const Call& call : shared().calls) {
        std::string line = call.function;
        if (!call.target.empty()) {
            line += " " + call.target;
        }
        if (!call.attribute.empty()) {
            line += " " + call.attribute;
        }
        out.push_back(line);
    }
    return out;
}

void clearCalls() {
    shared().calls.clear();
    shared().callCounts.clear();
}

void onCall(const std::string& function, int nth, std::function<void()> action) {
    shared().hooks.push_back({function, nth, std::move(action)});
}

Failures& failures() {
    return shared().failures;
}

int64_t nowNanos() {
    return shared().clock;
}

void advanceNanos(int64_t nanos) {
    if (nanos > 0) {
        shared().clock += nanos;
    }
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

void resetObjectsAndSharedState() {
    auto& objects = registry().objects;
    for (auto it = objects.begin(); it != objects.end();) {
        if (it->second->immortal) {
            ++it;
        } else {
            it = objects.erase(it);
        }
    }
    Shared& state = shared();
    state.calls.clear();
    state.callCounts.clear();
    state.hooks.clear();
    state.failures = Failures{};
    state.clock = 0;
}

void reset() {
    resetObjectsAndSharedState();
    resetDesktop();
    for (auto resetArea : shared().areaResets) {
        resetArea();
    }
}

} // namespace macsim

// ---- CoreFoundation functions ----------------------------------------------------------------

using namespace macsim;
using namespace macsim::detail;

namespace {
Object* lookupAny(CFTypeRef ref, const char* function) {
    return lookup(ref, function);
}
} // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = reinterpret_cast<CFBooleanRef>(&trueObject);
const CFBooleanRef kCFBooleanFalse = reinterpret_cast<CFBooleanRef>(&falseObject);
const CFRunLoopMode kCFRunLoopDefaultMode = reinterpret_cast<CFStringRef>(&defaultModeObject);
const CFRunLoopMode kCFRunLoopCommonModes = reinterpret_cast<CFStringRef>(&commonModesObject);

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return lookupAny(cf, "CFGetTypeID")->type;
}

CFTypeRef CFRetain(CFTypeRef cf) {
    Object* object = lookupAny(cf, "CFRetain");
    if (!object->immortal) {
        ++object->refs;
    }
    return cf;
}

void CFRelease(CFTypeRef cf) {
    Object* object = lookupAny(cf, "CFRelease");
    if (object->immortal) {
        return;
    }
    if (--object->refs == 0) {
        object->dead = true;
        object->dropPayload();
    }
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    Object* object = lookupAny(cf, "CFGetRetainCount");
    return object->immortal ? std::numeric_limits<CFIndex>::max() : object->refs;
}

CFTypeID CFStringGetTypeID(void) {
    return stringTypeId;
}
CFTypeID CFAttributedStringGetTypeID(void) {
    return attributedStringTypeId;
}
CFTypeID CFBooleanGetTypeID(void) {
    return booleanTypeId;
}
CFTypeID CFNumberGetTypeID(void) {
    return numberTypeId;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    Object* object = lookupAny(boolean, "CFBooleanGetValue");
    if (object->type != booleanTypeId) {
        typeMismatch(object, booleanTypeId, "CFBooleanGetValue");
    }
    return static_cast<BooleanObject*>(object)->value ? 1 : 0;
}

static StringObject* stringObject(CFStringRef ref, const char* function) {
    Object* object = lookupAny(ref, function);
    if (object->type != stringTypeId) {
        typeMismatch(object, stringTypeId, function);
    }
    return static_cast<StringObject*>(object);
}

CFIndex CFStringGetLength(CFStringRef theString) {
    return static_cast<CFIndex>(stringObject(theString, "CFStringGetLength")->text.size());
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
    const std::u16string& text = stringObject(theString, "CFStringGetCharacters")->text;
    auto size = static_cast<CFIndex>(text.size());
    if (range.location < 0 || range.length < 0 || range.location > size ||
        range.length > size - range.location) {
        fail("CFStringGetCharacters: range out of bounds");
    }
    if (range.length > 0 && buffer == nullptr) {
        fail("CFStringGetCharacters: NULL buffer");
    }
    for (CFIndex i = 0; i < range.length; ++i) {
        buffer[i] = text[static_cast<std::size_t>(range.location + i)];
    }
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
    if (numChars < 0 || (numChars > 0 && chars == nullptr)) {
        fail("CFStringCreateWithCharacters: bad buffer");
    }
    std::u16string text(reinterpret_cast<const char16_t*>(chars),
                        reinterpret_cast<const char16_t*>(chars) + numChars);
    return toRef<CFStringRef>(track(std::make_unique<StringObject>(std::move(text))));
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
    if (numBytes < 0 || (numBytes > 0 && bytes == nullptr)) {
        fail("CFStringCreateWithBytes: bad buffer");
    }
    if (encoding != kCFStringEncodingUTF8 && encoding != kCFStringEncodingASCII) {
        return nullptr;
    }
    auto decoded = decodeUtf8(bytes, static_cast<std::size_t>(numBytes));
    if (!decoded) {
        return nullptr;
    }
    if (encoding == kCFStringEncodingASCII) {
        for (char16_t unit : *decoded) {
            if (unit >= 0x80) {
                return nullptr;
            }
        }
    }
    return toRef<CFStringRef>(track(std::make_unique<StringObject>(std::move(*decoded))));
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding) {
    if (cStr == nullptr) {
        fail("CFStringCreateWithCString called with NULL");
    }
    return CFStringCreateWithBytes(alloc, reinterpret_cast<const UInt8*>(cStr),
                                   static_cast<CFIndex>(std::strlen(cStr)), encoding, 0);
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    const std::u16string& text = stringObject(theString, "CFStringGetCString")->text;
    if (bufferSize < 1 || encoding != kCFStringEncodingUTF8) {
        return 0;
    }
    auto encoded = encodeUtf8(text);
    if (!encoded || static_cast<CFIndex>(encoded->size()) + 1 > bufferSize) {
        return 0;
    }
    std::memcpy(buffer, encoded->data(), encoded->size());
    buffer[encoded->size()] = '\0';
    return 1;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    if (encoding != kCFStringEncodingUTF8) {
        return length;
    }
    if (length > std::numeric_limits<CFIndex>::max() / 3) {
        return kCFNotFound;
    }
    return length * 3;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
    return toRef<CFStringRef>(internString(cStr));
}

} // extern "C"
