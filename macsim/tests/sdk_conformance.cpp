// The platform's C declarations that the tools rely on, pinned to what the macOS SDK declares:
// the exact type of every function, the exact spelling, width and signedness of every type, and
// the value of every constant. The test build compiles this file against the simulated headers;
// tools/check-macos-sdk.sh compiles it against a real SDK for arm64 and for x86_64. Whichever
// side drifts from the other stops building. Nothing here runs.
//
// Types are spelled as on a Mac, where uint64_t is unsigned long long and int64_t is long long
// (on Linux both are long): code that mixes them with long in std::min, an overload or a format
// string builds on one platform only, so the simulation has to use the Mac's spelling.
#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

#include <cstddef>
#include <string_view>
#include <type_traits>

namespace {

template <class T, class U> constexpr bool same = std::is_same_v<T, U>;
template <class Enum, class Underlying>
constexpr bool enumOf = std::is_enum_v<Enum>&& same<std::underlying_type_t<Enum>, Underlying>;

// ---- Scalar types ----------------------------------------------------------------------------

static_assert(same<Boolean, unsigned char>, "Boolean is not C++ bool");
static_assert(same<UInt8, unsigned char>);
static_assert(same<UInt16, unsigned short>);
static_assert(same<UInt32, unsigned int>);
static_assert(same<SInt32, int>);
static_assert(same<UniChar, unsigned short>);
static_assert(sizeof(UniChar) == sizeof(char16_t));
static_assert(same<CFIndex, long>);
static_assert(same<CFTypeID, unsigned long>);
static_assert(same<CFOptionFlags, unsigned long>);
static_assert(same<CFStringEncoding, unsigned int>);
static_assert(same<pid_t, int>);
static_assert(same<CGKeyCode, unsigned short>);
static_assert(same<CGEventFlags, unsigned long long>);
static_assert(same<CGEventMask, unsigned long long>);
static_assert(same<CGEventTimestamp, unsigned long long>);

// ---- Object references -----------------------------------------------------------------------

// The Mac's const-ness: CF values and elements are const, run loops, ports and events are not.
static_assert(same<CFTypeRef, const void*>);
static_assert(same<CFStringRef, const struct __CFString*>);
static_assert(same<CFAllocatorRef, const struct __CFAllocator*>);
static_assert(same<CFBooleanRef, const struct __CFBoolean*>);
static_assert(same<CFRunLoopRef, struct __CFRunLoop*>);
static_assert(same<CFRunLoopSourceRef, struct __CFRunLoopSource*>);
static_assert(same<CFMachPortRef, struct __CFMachPort*>);
static_assert(same<CFFileDescriptorRef, struct __CFFileDescriptor*>);
static_assert(same<CFFileDescriptorNativeDescriptor, int>);
static_assert(same<CFRunLoopMode, CFStringRef>);
static_assert(same<AXUIElementRef, const struct __AXUIElement*>);
static_assert(same<AXValueRef, const struct __AXValue*>);
static_assert(same<CGEventRef, struct __CGEvent*>);
static_assert(same<CGEventSourceRef, struct __CGEventSource*>);
static_assert(same<CGEventTapProxy, struct __CGEventTapProxy*>);

// ---- CFRange ---------------------------------------------------------------------------------

static_assert(std::is_standard_layout_v<CFRange> && sizeof(CFRange) == 16);
static_assert(same<decltype(CFRange::location), CFIndex> && offsetof(CFRange, location) == 0);
static_assert(same<decltype(CFRange::length), CFIndex> && offsetof(CFRange, length) == 8);

// ---- Enumerations ----------------------------------------------------------------------------

// CF_ENUM types: an int converts to them only with a cast.
static_assert(enumOf<AXError, int> && !std::is_convertible_v<int, AXError>);
static_assert(enumOf<AXValueType, unsigned int> && !std::is_convertible_v<int, AXValueType>);
static_assert(enumOf<CGEventType, unsigned int>);
static_assert(enumOf<CGEventField, unsigned int>);
static_assert(enumOf<CGEventTapLocation, unsigned int>);
static_assert(enumOf<CGEventTapPlacement, unsigned int>);
static_assert(enumOf<CGEventTapOptions, unsigned int>);
static_assert(enumOf<CGEventSourceStateID, int>, "signed, unlike the other event enums");
static_assert(enumOf<CFStringBuiltInEncodings, CFStringEncoding> &&
              kCFStringEncodingUTF8 == 0x08000100);

// Every code, since the result line's labels are derived from their order.
static_assert(same<decltype(kAXErrorSuccess), AXError>);
static_assert(kAXErrorSuccess == 0);
static_assert(kAXErrorFailure == -25200);
static_assert(kAXErrorIllegalArgument == -25201);
static_assert(kAXErrorInvalidUIElement == -25202);
static_assert(kAXErrorInvalidUIElementObserver == -25203);
static_assert(kAXErrorCannotComplete == -25204);
static_assert(kAXErrorAttributeUnsupported == -25205);
static_assert(kAXErrorActionUnsupported == -25206);
static_assert(kAXErrorNotificationUnsupported == -25207);
static_assert(kAXErrorNotImplemented == -25208);
static_assert(kAXErrorNotificationAlreadyRegistered == -25209);
static_assert(kAXErrorNotificationNotRegistered == -25210);
static_assert(kAXErrorAPIDisabled == -25211);
static_assert(kAXErrorNoValue == -25212);
static_assert(kAXErrorParameterizedAttributeUnsupported == -25213);
static_assert(kAXErrorNotEnoughPrecision == -25214);

static_assert(same<decltype(kAXValueTypeCFRange), AXValueType> && kAXValueTypeCFRange == 4);
// The legacy name is a plain UInt32 that does not convert to the enum.
static_assert(same<decltype(kAXValueCFRangeType), const UInt32> && kAXValueCFRangeType == 4);
static_assert(!std::is_convertible_v<decltype(kAXValueCFRangeType), AXValueType>);

static_assert(same<decltype(kCGEventNull), CGEventType> && kCGEventNull == 0);
static_assert(kCGEventKeyDown == 10 && kCGEventKeyUp == 11 && kCGEventFlagsChanged == 12);
static_assert(kCGEventTapDisabledByTimeout == 0xFFFFFFFEu);
static_assert(kCGEventTapDisabledByUserInput == 0xFFFFFFFFu);

static_assert(same<decltype(kCGKeyboardEventKeycode), CGEventField>);
static_assert(kCGKeyboardEventAutorepeat == 8 && kCGKeyboardEventKeycode == 9);

static_assert(same<decltype(kCGHIDEventTap), CGEventTapLocation>);
static_assert(kCGHIDEventTap == 0 && kCGSessionEventTap == 1);
static_assert(same<decltype(kCGHeadInsertEventTap), CGEventTapPlacement>);
static_assert(kCGHeadInsertEventTap == 0);
static_assert(same<decltype(kCGEventTapOptionDefault), CGEventTapOptions>);
static_assert(kCGEventTapOptionDefault == 0);
static_assert(same<decltype(kCGEventSourceStateHIDSystemState), CGEventSourceStateID>);
static_assert(kCGEventSourceStateHIDSystemState == 1);

// The flag masks are enumerators of an anonymous enum whose underlying type is CGEventFlags.
static_assert(enumOf<decltype(kCGEventFlagMaskCommand), CGEventFlags>);
static_assert(!same<decltype(kCGEventFlagMaskCommand), CGEventFlags>);
static_assert(kCGEventFlagMaskShift == 0x00020000);
static_assert(kCGEventFlagMaskControl == 0x00040000);
static_assert(kCGEventFlagMaskAlternate == 0x00080000);
static_assert(kCGEventFlagMaskCommand == 0x00100000);
static_assert(kCGEventFlagMaskSecondaryFn == 0x00800000);

// CF_ENUM(CFOptionFlags) without a name: anonymous enumerators over CFOptionFlags.
static_assert(enumOf<decltype(kCFFileDescriptorWriteCallBack), CFOptionFlags>);
static_assert(kCFFileDescriptorReadCallBack == 1 && kCFFileDescriptorWriteCallBack == 2);

// ---- Callbacks and their context -------------------------------------------------------------

static_assert(same<CFFileDescriptorCallBack, void (*)(CFFileDescriptorRef, CFOptionFlags, void*)>);
static_assert(same<decltype(CFFileDescriptorContext::version), CFIndex>);
static_assert(same<decltype(CFFileDescriptorContext::info), void*>);
static_assert(same<decltype(CFFileDescriptorContext::retain), void* (*)(void*)>);
static_assert(same<decltype(CFFileDescriptorContext::release), void (*)(void*)>);
static_assert(same<decltype(CFFileDescriptorContext::copyDescription), CFStringRef (*)(void*)>);
static_assert(offsetof(CFFileDescriptorContext, version) == 0);
static_assert(offsetof(CFFileDescriptorContext, info) == sizeof(CFIndex));
static_assert(sizeof(CFFileDescriptorContext) == sizeof(CFIndex) + 4 * sizeof(void*));

// ---- Macros ----------------------------------------------------------------------------------

static_assert(same<decltype(CGEventMaskBit(kCGEventKeyDown)), CGEventMask>);
static_assert((CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventFlagsChanged)) == 0x1400);
static_assert(same<decltype(kCGEventMaskForAllEvents), CGEventMask>);
static_assert(kCGEventMaskForAllEvents == ~0ULL);

// A literal string is a CFStringRef that nobody owns.
[[maybe_unused]] CFStringRef literal() {
    return CFSTR("AXRole");
}
static_assert(same<decltype(literal()), CFStringRef>);

// The attribute names are CFSTR of these very literals: read them with CFSTR taken away.
#pragma push_macro("CFSTR")
#undef CFSTR
#define CFSTR(cStr) std::string_view(cStr)
static_assert(kAXRoleAttribute == "AXRole");
static_assert(kAXSubroleAttribute == "AXSubrole");
static_assert(kAXValueAttribute == "AXValue");
static_assert(kAXParentAttribute == "AXParent");
static_assert(kAXSelectedTextRangeAttribute == "AXSelectedTextRange");
static_assert(kAXFocusedUIElementAttribute == "AXFocusedUIElement");
static_assert(kAXFrontmostAttribute == "AXFrontmost");
// Roles and subroles that the tools spell out as text.
static_assert(kAXComboBoxRole == "AXComboBox");
static_assert(kAXTextAreaRole == "AXTextArea");
static_assert(kAXTextFieldRole == "AXTextField");
static_assert(kAXSearchFieldSubrole == "AXSearchField");
static_assert(kAXSecureTextFieldSubrole == "AXSecureTextField");
#pragma pop_macro("CFSTR")

// ---- Global constants ------------------------------------------------------------------------

static_assert(same<decltype(kCFAllocatorDefault), const CFAllocatorRef>);
static_assert(same<decltype(kCFBooleanTrue), const CFBooleanRef>);
static_assert(same<decltype(kCFRunLoopCommonModes), const CFRunLoopMode>);

// ---- Functions -------------------------------------------------------------------------------

// CoreFoundation
static_assert(same<decltype(&CFGetTypeID), CFTypeID (*)(CFTypeRef)>);
static_assert(same<decltype(&CFRetain), CFTypeRef (*)(CFTypeRef)>);
static_assert(same<decltype(&CFRelease), void (*)(CFTypeRef)>);
static_assert(same<decltype(&CFRangeMake), CFRange (*)(CFIndex, CFIndex)>);
static_assert(same<decltype(&CFStringGetTypeID), CFTypeID (*)()>);
static_assert(same<decltype(&CFStringGetLength), CFIndex (*)(CFStringRef)>);
static_assert(same<decltype(&CFStringGetCharacters), void (*)(CFStringRef, CFRange, UniChar*)>);
static_assert(same<decltype(&CFStringCreateWithCharacters),
                   CFStringRef (*)(CFAllocatorRef, const UniChar*, CFIndex)>);
static_assert(same<decltype(&CFRunLoopGetCurrent), CFRunLoopRef (*)()>);
static_assert(
    same<decltype(&CFRunLoopAddSource), void (*)(CFRunLoopRef, CFRunLoopSourceRef, CFRunLoopMode)>);
static_assert(same<decltype(&CFRunLoopRun), void (*)()>);
static_assert(same<decltype(&CFMachPortCreateRunLoopSource),
                   CFRunLoopSourceRef (*)(CFAllocatorRef, CFMachPortRef, CFIndex)>);
static_assert(
    same<decltype(&CFFileDescriptorCreate),
         CFFileDescriptorRef (*)(CFAllocatorRef, CFFileDescriptorNativeDescriptor, Boolean,
                                 CFFileDescriptorCallBack, const CFFileDescriptorContext*)>);
static_assert(
    same<decltype(&CFFileDescriptorEnableCallBacks), void (*)(CFFileDescriptorRef, CFOptionFlags)>);
static_assert(same<decltype(&CFFileDescriptorInvalidate), void (*)(CFFileDescriptorRef)>);
static_assert(same<decltype(&CFFileDescriptorCreateRunLoopSource),
                   CFRunLoopSourceRef (*)(CFAllocatorRef, CFFileDescriptorRef, CFIndex)>);

// Accessibility
static_assert(same<decltype(&AXIsProcessTrusted), Boolean (*)()>);
static_assert(same<decltype(&AXUIElementGetTypeID), CFTypeID (*)()>);
static_assert(same<decltype(&AXUIElementCreateSystemWide), AXUIElementRef (*)()>);
static_assert(same<decltype(&AXUIElementCreateApplication), AXUIElementRef (*)(pid_t)>);
static_assert(same<decltype(&AXUIElementCopyAttributeValue),
                   AXError (*)(AXUIElementRef, CFStringRef, CFTypeRef*)>);
static_assert(same<decltype(&AXUIElementIsAttributeSettable),
                   AXError (*)(AXUIElementRef, CFStringRef, Boolean*)>);
static_assert(same<decltype(&AXUIElementSetAttributeValue),
                   AXError (*)(AXUIElementRef, CFStringRef, CFTypeRef)>);
static_assert(same<decltype(&AXUIElementGetPid), AXError (*)(AXUIElementRef, pid_t*)>);
static_assert(same<decltype(&AXValueGetTypeID), CFTypeID (*)()>);
static_assert(same<decltype(&AXValueCreate), AXValueRef (*)(AXValueType, const void*)>);
static_assert(same<decltype(&AXValueGetType), AXValueType (*)(AXValueRef)>);
static_assert(same<decltype(&AXValueGetValue), Boolean (*)(AXValueRef, AXValueType, void*)>);

// Events: C bool where CoreGraphics says bool, 64-bit flags and fields as on a Mac.
static_assert(
    same<CGEventTapCallBack, CGEventRef (*)(CGEventTapProxy, CGEventType, CGEventRef, void*)>);
static_assert(same<decltype(&CGEventTapCreate),
                   CFMachPortRef (*)(CGEventTapLocation, CGEventTapPlacement, CGEventTapOptions,
                                     CGEventMask, CGEventTapCallBack, void*)>);
static_assert(same<decltype(&CGEventTapEnable), void (*)(CFMachPortRef, bool)>);
static_assert(same<decltype(&CGEventGetFlags), unsigned long long (*)(CGEventRef)>);
static_assert(same<decltype(&CGEventSetFlags), void (*)(CGEventRef, unsigned long long)>);
static_assert(
    same<decltype(&CGEventGetIntegerValueField), long long (*)(CGEventRef, CGEventField)>);
static_assert(same<decltype(&CGEventSourceCreate), CGEventSourceRef (*)(CGEventSourceStateID)>);
static_assert(
    same<decltype(&CGEventCreateKeyboardEvent), CGEventRef (*)(CGEventSourceRef, CGKeyCode, bool)>);
static_assert(same<decltype(&CGEventPost), void (*)(CGEventTapLocation, CGEventRef)>);

} // namespace
