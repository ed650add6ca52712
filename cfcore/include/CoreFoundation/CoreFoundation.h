// CoreFoundation off Apple, for the simulated (macsim) and the Linux desktop (xdesk) platforms: the
// subset of <CoreFoundation/CoreFoundation.h> that the tools call, with the SDK's names, typedef
// widths and constant values. Only C++ is supported.
//
// Behaviour chosen here where the real framework differs or says nothing:
// - CFRetain/CFRelease of NULL, of an unknown pointer, of a released object, and a release past
//   zero abort the process with a message naming the object (real CF crashes only on NULL).
// - Any use of a released object through these functions aborts the same way.
// - Objects never move; a released object keeps its header so that a late use can be named. A
//   platform may bound how many released headers are kept (the Linux desktop does, for its
//   long-running tools); the oldest of them are then freed, and a late use of one of those aborts
//   as a use of an unknown object.
// - CFSTR gives one immortal string per place where it is written: retain and release do not
//   change it. Equal literals written in two places are two objects, so that code comparing
//   strings by pointer rather than by content fails here (a Mac does not promise either way).
// - CFBooleanTrue/False are immortal as well.
// - The run loop, and CFFileDescriptor over the process's real descriptors: see <macsim/tap.h>.
#pragma once

#include <stdbool.h>
#include <stdint.h>
#include <sys/types.h>

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef unsigned short UInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef UInt16 UniChar;
typedef unsigned long UniCharCount;

typedef signed long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;
typedef UInt32 CFStringEncoding;
typedef double CFTimeInterval;

typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef struct __CFString* CFMutableStringRef;
typedef const struct __CFAttributedString* CFAttributedStringRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFNumber* CFNumberRef;
typedef struct __CFRunLoop* CFRunLoopRef;
typedef struct __CFRunLoopSource* CFRunLoopSourceRef;
typedef struct __CFMachPort* CFMachPortRef;
typedef CFStringRef CFRunLoopMode;
typedef int CFFileDescriptorNativeDescriptor;
typedef struct __CFFileDescriptor* CFFileDescriptorRef;

// Ownership annotations, as the SDK spells them, for the static analyzer.
#if defined(__clang__)
#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#define CF_RETURNS_NOT_RETAINED __attribute__((cf_returns_not_retained))
#define CF_CONSUMED __attribute__((cf_consumed))
#else
#define CF_RETURNS_RETAINED
#define CF_RETURNS_NOT_RETAINED
#define CF_CONSUMED
#endif

typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex loc, CFIndex len) {
    CFRange range;
    range.location = loc;
    range.length = len;
    return range;
}

static const CFIndex kCFNotFound = -1;

// typedef CF_ENUM(CFIndex, CFComparisonResult): a distinct enum with a fixed underlying type.
enum CFComparisonResult : CFIndex {
    kCFCompareLessThan = -1,
    kCFCompareEqualTo = 0,
    kCFCompareGreaterThan = 1
};

// typedef CF_ENUM(CFStringEncoding, CFStringBuiltInEncodings)
enum CFStringBuiltInEncodings : CFStringEncoding {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUnicode = 0x0100,
    kCFStringEncodingUTF8 = 0x08000100,
    kCFStringEncodingUTF16 = 0x0100,
    kCFStringEncodingUTF16LE = 0x14000100
};
static const CFStringEncoding kCFStringEncodingInvalidId = 0xffffffffU;

// typedef CF_ENUM(SInt32, CFRunLoopRunResult)
enum CFRunLoopRunResult : SInt32 {
    kCFRunLoopRunFinished = 1,
    kCFRunLoopRunStopped = 2,
    kCFRunLoopRunTimedOut = 3,
    kCFRunLoopRunHandledSource = 4
};

// CF_ENUM(CFOptionFlags) { ... }: callback reasons of a CFFileDescriptor.
enum : CFOptionFlags {
    kCFFileDescriptorReadCallBack = 1UL << 0,
    kCFFileDescriptorWriteCallBack = 1UL << 1
};

typedef void (*CFFileDescriptorCallBack)(CFFileDescriptorRef f, CFOptionFlags callBackTypes,
                                         void* info);

typedef struct {
    CFIndex version;
    void* info;
    void* (*retain)(void* info);
    void (*release)(void* info);
    CFStringRef (*copyDescription)(void* info);
} CFFileDescriptorContext;

extern "C" {

extern const CFAllocatorRef kCFAllocatorDefault; // NULL, as on macOS

CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);

CFTypeID CFStringGetTypeID(void);
CFIndex CFStringGetLength(CFStringRef theString);
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar* chars,
                                         CFIndex numChars) CF_RETURNS_RETAINED;
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding,
                                    Boolean isExternalRepresentation) CF_RETURNS_RETAINED;
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding) CF_RETURNS_RETAINED;
Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);

// A new immortal string with the text of a literal; the stand-in for the compiler's constant
// strings. CFSTR calls it once per place where it is written.
CFStringRef __CFStringMakeConstantString(const char* cStr) CF_RETURNS_NOT_RETAINED;

CFTypeID CFAttributedStringGetTypeID(void);

extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
CFTypeID CFBooleanGetTypeID(void);
Boolean CFBooleanGetValue(CFBooleanRef boolean);

CFTypeID CFNumberGetTypeID(void);

extern const CFRunLoopMode kCFRunLoopDefaultMode;
extern const CFRunLoopMode kCFRunLoopCommonModes;
CFRunLoopRef CFRunLoopGetCurrent(void) CF_RETURNS_NOT_RETAINED;
CFRunLoopRef CFRunLoopGetMain(void) CF_RETURNS_NOT_RETAINED;
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
void CFRunLoopRun(void);
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled);
void CFRunLoopStop(CFRunLoopRef rl);

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator, CFMachPortRef port,
                                                 CFIndex order) CF_RETURNS_RETAINED;

CFTypeID CFFileDescriptorGetTypeID(void);
CFFileDescriptorRef
CFFileDescriptorCreate(CFAllocatorRef allocator, CFFileDescriptorNativeDescriptor fd,
                       Boolean closeOnInvalidate, CFFileDescriptorCallBack callout,
                       const CFFileDescriptorContext* context) CF_RETURNS_RETAINED;
CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f);
void CFFileDescriptorGetContext(CFFileDescriptorRef f, CFFileDescriptorContext* context);
void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes);
void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes);
void CFFileDescriptorInvalidate(CFFileDescriptorRef f);
Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f);
CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef allocator,
                                                       CFFileDescriptorRef f,
                                                       CFIndex order) CF_RETURNS_RETAINED;

} // extern "C"

// Each expansion is its own lambda with its own constant, made on first use.
#define CFSTR(cStr)                                                                                \
    ([]() -> CFStringRef {                                                                         \
        static const CFStringRef constant = __CFStringMakeConstantString("" cStr "");              \
        return constant;                                                                           \
    }())
