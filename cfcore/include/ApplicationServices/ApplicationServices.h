// ApplicationServices (HIServices Accessibility) off Apple: the AXUIElement and AXValue subset
// that the tools call, with the SDK's names, widths and values. As in the SDK, this header also
// brings in CoreFoundation and CoreGraphics.
//
// Behaviour chosen by the simulation where the real framework says nothing (the Linux desktop's
// is in docs/linux-desktop.md):
// - AXUIElementCopyAttributeValue: on success the slot receives an owned value or NULL; on an
//   error it is left untouched unless the desktop says the error leaves a value behind, in which
//   case it receives an owned value that the caller must release.
// - Every read of an element-valued attribute hands out a new element reference (+1), so that a
//   leaked or over-released element shows up in the live-object count.
// - AXUIElementGetPid on the system-wide element fails with kAXErrorIllegalArgument; on an
//   application element it succeeds with that application's pid.
// - AXUIElementIsAttributeSettable writes the outcome's flag even when it returns an error.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

typedef const struct __AXUIElement* AXUIElementRef;
typedef const struct __AXValue* AXValueRef;

// typedef CF_ENUM(SInt32, AXError)
enum AXError : SInt32 {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorInvalidUIElementObserver = -25203,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorActionUnsupported = -25206,
    kAXErrorNotificationUnsupported = -25207,
    kAXErrorNotImplemented = -25208,
    kAXErrorNotificationAlreadyRegistered = -25209,
    kAXErrorNotificationNotRegistered = -25210,
    kAXErrorAPIDisabled = -25211,
    kAXErrorNoValue = -25212,
    kAXErrorParameterizedAttributeUnsupported = -25213,
    kAXErrorNotEnoughPrecision = -25214
};

// typedef CF_ENUM(UInt32, AXValueType)
enum AXValueType : UInt32 {
    kAXValueTypeIllegal = 0,
    kAXValueTypeCGPoint = 1,
    kAXValueTypeCGSize = 2,
    kAXValueTypeCGRect = 3,
    kAXValueTypeCFRange = 4,
    kAXValueTypeAXError = 5
};

// Legacy names: plain UInt32 constants that do not convert to AXValueType in C++.
static const UInt32 kAXValueIllegalType = 0;
static const UInt32 kAXValueCGPointType = 1;
static const UInt32 kAXValueCGSizeType = 2;
static const UInt32 kAXValueCGRectType = 3;
static const UInt32 kAXValueCFRangeType = 4;
static const UInt32 kAXValueAXErrorType = 5;

#define kAXRoleAttribute CFSTR("AXRole")
#define kAXSubroleAttribute CFSTR("AXSubrole")
#define kAXValueAttribute CFSTR("AXValue")
#define kAXParentAttribute CFSTR("AXParent")
#define kAXSelectedTextRangeAttribute CFSTR("AXSelectedTextRange")
#define kAXFrontmostAttribute CFSTR("AXFrontmost")
#define kAXFocusedUIElementAttribute CFSTR("AXFocusedUIElement")

#define kAXComboBoxRole CFSTR("AXComboBox")
#define kAXTextFieldRole CFSTR("AXTextField")
#define kAXTextAreaRole CFSTR("AXTextArea")
// Secure and search fields are subroles of AXTextField; the SDK has no role constant for them.
#define kAXSecureTextFieldSubrole CFSTR("AXSecureTextField")
#define kAXSearchFieldSubrole CFSTR("AXSearchField")

extern "C" {

Boolean AXIsProcessTrusted(void);

CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateSystemWide(void) CF_RETURNS_RETAINED;
AXUIElementRef AXUIElementCreateApplication(pid_t pid) CF_RETURNS_RETAINED;
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* CF_RETURNS_RETAINED value);
AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value);
AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);

CFTypeID AXValueGetTypeID(void);
AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr) CF_RETURNS_RETAINED;
AXValueType AXValueGetType(AXValueRef value);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

} // extern "C"
