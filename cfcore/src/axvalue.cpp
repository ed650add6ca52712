// Boxed AXValues: the structures that Accessibility attributes carry (ranges, points, sizes,
// rectangles, errors). AXValueCreate itself belongs to each platform, which may log or refuse it.
#include <cfcore/objects.h>

#include <cstring>

namespace cfcore {

AxValueObject* createAxValue(AXValueType type, const void* valuePtr) {
    auto boxed = std::make_unique<AxValueObject>();
    boxed->valueType = type;
    switch (type) {
    case kAXValueTypeCFRange:
        std::memcpy(&boxed->range, valuePtr, sizeof boxed->range);
        break;
    case kAXValueTypeCGPoint:
        std::memcpy(&boxed->point, valuePtr, sizeof boxed->point);
        break;
    case kAXValueTypeCGSize:
        std::memcpy(&boxed->size, valuePtr, sizeof boxed->size);
        break;
    case kAXValueTypeCGRect:
        std::memcpy(&boxed->rect, valuePtr, sizeof boxed->rect);
        break;
    case kAXValueTypeAXError:
        std::memcpy(&boxed->error, valuePtr, sizeof boxed->error);
        break;
    default:
        return nullptr;
    }
    return track(std::move(boxed));
}

} // namespace cfcore

using namespace cfcore;

extern "C" {

CFTypeID AXValueGetTypeID(void) {
    return axValueTypeId;
}

AXValueType AXValueGetType(AXValueRef value) {
    return lookupAs<AxValueObject>(value, axValueTypeId, "AXValueGetType")->valueType;
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
    auto* boxed = lookupAs<AxValueObject>(value, axValueTypeId, "AXValueGetValue");
    if (valuePtr == nullptr) {
        abortWith("AXValueGetValue: NULL output");
    }
    if (boxed->valueType != theType || boxed->unreadable) {
        return 0;
    }
    switch (theType) {
    case kAXValueTypeCFRange:
        std::memcpy(valuePtr, &boxed->range, sizeof boxed->range);
        break;
    case kAXValueTypeCGPoint:
        std::memcpy(valuePtr, &boxed->point, sizeof boxed->point);
        break;
    case kAXValueTypeCGSize:
        std::memcpy(valuePtr, &boxed->size, sizeof boxed->size);
        break;
    case kAXValueTypeCGRect:
        std::memcpy(valuePtr, &boxed->rect, sizeof boxed->rect);
        break;
    case kAXValueTypeAXError:
        std::memcpy(valuePtr, &boxed->error, sizeof boxed->error);
        break;
    default:
        return 0;
    }
    return 1;
}

} // extern "C"
