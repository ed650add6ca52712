// The object model behind the CoreFoundation headers off Apple, shared by the platforms that
// implement them (macsim, xdesk). Platform code only: the tools include nothing but the SDK's
// header names.
//
// Every object handed out is registered here with a reference count. CFRetain and CFRelease check
// each reference against the registry, so NULL, an unknown pointer, a released object and a
// release past zero abort with a message naming the object instead of corrupting memory. A
// released object gives up its payload but keeps its header, so that a late use can be named; by
// default every such header is kept, and a platform whose tools run for long bounds them with
// keepReleasedObjects.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cfcore {

// Type identifiers. The values are arbitrary but fixed, and distinct per kind; both platforms use
// the same ones, also for the kinds that each implements itself (elements, events, run loops).
enum : CFTypeID {
    stringTypeId = 7,
    booleanTypeId = 21,
    numberTypeId = 22,
    attributedStringTypeId = 62,
    elementTypeId = 0x4101,
    axValueTypeId = 0x4102,
    machPortTypeId = 0x4103,
    runLoopSourceTypeId = 0x4104,
    runLoopTypeId = 0x4105,
    eventTypeId = 0x4106,
    eventSourceTypeId = 0x4107,
    fileDescriptorTypeId = 0x4108,
};

struct Object {
    CFTypeID type = 0;
    long refs = 1;
    bool immortal = false;
    bool dead = false;
    uint64_t serial = 0;

    explicit Object(CFTypeID t) : type(t) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    virtual std::string describe() const;
    // Frees bulky contents, and whatever the object holds of the platform, once the last
    // reference is gone; the header stays for diagnostics.
    virtual void dropPayload() {}
};

struct StringObject : Object {
    std::u16string text;
    explicit StringObject(std::u16string t) : Object(stringTypeId), text(std::move(t)) {}
    std::string describe() const override;
    void dropPayload() override { std::u16string().swap(text); }
};

struct AttributedStringObject : Object {
    std::u16string text;
    explicit AttributedStringObject(std::u16string t)
        : Object(attributedStringTypeId), text(std::move(t)) {}
    std::string describe() const override;
};

struct BooleanObject : Object {
    bool value;
    explicit BooleanObject(bool v) : Object(booleanTypeId), value(v) {}
    std::string describe() const override;
};

struct NumberObject : Object {
    double value;
    explicit NumberObject(double v) : Object(numberTypeId), value(v) {}
    std::string describe() const override;
};

// A boxed AXValue. `unreadable` makes AXValueGetValue refuse to copy it out, which only a
// simulated desktop ever asks for.
struct AxValueObject : Object {
    AXValueType valueType = kAXValueTypeIllegal;
    CFRange range{0, 0};
    CGPoint point{0, 0};
    CGSize size{0, 0};
    CGRect rect{{0, 0}, {0, 0}};
    AXError error = kAXErrorSuccess;
    bool unreadable = false;
    AxValueObject() : Object(axValueTypeId) {}
    std::string describe() const override;
};

// A CGEvent: the fields of a keyboard or flags event, which CGEventGetType and the other
// accessors read and write alike on every platform. A platform makes its events (posted by a tool,
// or delivered to a tap callback) as this type or as one derived from it, and adds what it needs
// to post them.
struct EventObject : Object {
    CGEventType eventType = kCGEventNull;
    CGEventFlags flags = 0;
    int64_t keycode = 0;
    int64_t autorepeat = 0;
    EventObject() : Object(eventTypeId) {}
    std::string describe() const override;
};

// Constants with fixed addresses (kCFBooleanTrue, kCFBooleanFalse and the run-loop mode names);
// the registry knows them but does not own them.
extern BooleanObject trueObject;
extern BooleanObject falseObject;
extern StringObject defaultModeObject;
extern StringObject commonModesObject;

// Writes "cfcore: MESSAGE" to standard error and aborts: for faults that real CoreFoundation would
// crash on, or that the tools must never commit.
[[noreturn]] void abortWith(const std::string& message);

// Registers a new object (reference count 1). The registry owns the memory for good.
void adoptObject(std::unique_ptr<Object> object);
void makeImmortal(Object* object);
[[noreturn]] void typeMismatch(const Object* object, CFTypeID type, const char* function);

template <class T> T* track(std::unique_ptr<T> object) {
    T* raw = object.get();
    adoptObject(std::move(object));
    return raw;
}

// Checks that `ref` is a live registered object; aborts naming `function` otherwise.
Object* lookup(CFTypeRef ref, const char* function);
// As lookup, and also checks the type; aborts on a mismatch.
template <class T> T* lookupAs(CFTypeRef ref, CFTypeID type, const char* function) {
    Object* object = lookup(ref, function);
    if (object->type != type) {
        typeMismatch(object, type, function);
    }
    return static_cast<T*>(object);
}

template <class Ref> Ref toRef(Object* object) {
    return reinterpret_cast<Ref>(object);
}

// A new immortal string for a literal: CFSTR makes one per place where it is written, so that
// equal literals are not the same object.
StringObject* constantString(std::string_view utf8);
std::u16string stringText(CFStringRef ref, const char* function);

// A boxed value of `type` holding a copy of *valuePtr; nothing for a type that AXValue does not
// know. The platform's AXValueCreate calls it.
AxValueObject* createAxValue(AXValueType type, const void* valuePtr);

// Called by CFRelease once an object's last reference is gone and its payload dropped: the header
// joins the released ones that are kept for diagnostics.
void noteReleased(Object* object);

// Keeps the headers of at most the `limit` most recently released objects and frees the older
// ones; a late use of a freed one aborts as a use of an unknown object. Without a call, every
// header is kept, which is what a short run or a test of the tools' strictness wants.
void keepReleasedObjects(std::size_t limit);

// Every object the registry holds that is not immortal: the live ones and the released headers.
std::size_t registeredObjects();

// Objects that are alive and not immortal, and their descriptions with their counts.
std::size_t liveObjects();
std::vector<std::string> liveObjectDescriptions();
// Forgets every object that is not immortal (a simulated desktop's reset).
void forgetMortalObjects();

} // namespace cfcore
