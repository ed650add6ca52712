// Internal object model of the simulated platform, shared by its areas (CoreFoundation,
// Accessibility, events, run loops, workspace). Not part of the control API.
#pragma once

#include <macsim/control.h>

#include <cstdint>
#include <memory>
#include <string>

namespace macsim::detail {

// Type identifiers. The values are arbitrary but fixed, and distinct per kind.
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
    // Frees bulky contents once the last reference is gone; the header stays for diagnostics.
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

struct ElementObject : Object {
    enum class Kind { systemWide, application, named };
    Kind kind;
    pid_t pid = 0;
    std::string name;
    ElementObject(Kind k, pid_t p, std::string n)
        : Object(elementTypeId), kind(k), pid(p), name(std::move(n)) {}
    std::string target() const; // "system-wide", "app:PID" or the element's name
    std::string describe() const override;
};

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

void adoptObject(std::unique_ptr<Object> object);
void makeImmortal(Object* object);
[[noreturn]] void typeMismatch(const Object* object, CFTypeID type, const char* function);

// A keyboard or flags event: posted by a tool, or delivered to a tap callback.
struct EventObject : Object {
    CGEventType eventType = kCGEventNull;
    CGEventFlags flags = 0;
    int64_t keycode = 0;
    int64_t autorepeat = 0;
    EventObject() : Object(eventTypeId) {}
    std::string describe() const override;
};

// Registers a new object (reference count 1) and returns it. The registry owns the memory.
template <class T> T* track(std::unique_ptr<T> object) {
    T* raw = object.get();
    adoptObject(std::move(object));
    return raw;
}

// Checks that `ref` is a live object of the simulation; aborts naming `function` otherwise.
Object* lookup(CFTypeRef ref, const char* function);
// As lookup, and also checks the type; aborts on a mismatch.
template <class T> T* lookupAs(CFTypeRef ref, CFTypeID type, const char* function) {
    Object* object = lookup(ref, function);
    if (object->type != type) {
        typeMismatch(object, type, function);
    }
    return static_cast<T*>(object);
}

[[noreturn]] void fail(const std::string& message);

template <class Ref> Ref toRef(Object* object) {
    return reinterpret_cast<Ref>(object);
}

// Appends to the call log and runs the hooks registered for this call.
void logCall(const char* function, std::string target = {}, std::string attribute = {});

StringObject* internString(std::string_view utf8);
std::u16string stringText(CFStringRef ref, const char* function);

} // namespace macsim::detail
