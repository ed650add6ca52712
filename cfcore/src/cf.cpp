// The CoreFoundation functions off Apple: retain and release with the registry's checks, strings,
// booleans and numbers.
#include <cfcore/objects.h>

#include "unicode/utf.h"

#include <cstring>
#include <limits>

using namespace cfcore;

namespace {

StringObject* stringObject(CFStringRef ref, const char* function) {
    return lookupAs<StringObject>(ref, stringTypeId, function);
}

} // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = reinterpret_cast<CFBooleanRef>(&trueObject);
const CFBooleanRef kCFBooleanFalse = reinterpret_cast<CFBooleanRef>(&falseObject);
const CFRunLoopMode kCFRunLoopDefaultMode = reinterpret_cast<CFStringRef>(&defaultModeObject);
const CFRunLoopMode kCFRunLoopCommonModes = reinterpret_cast<CFStringRef>(&commonModesObject);

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return lookup(cf, "CFGetTypeID")->type;
}

CFTypeRef CFRetain(CFTypeRef cf) {
    Object* object = lookup(cf, "CFRetain");
    if (!object->immortal) {
        ++object->refs;
    }
    return cf;
}

void CFRelease(CFTypeRef cf) {
    Object* object = lookup(cf, "CFRelease");
    if (object->immortal) {
        return;
    }
    if (--object->refs == 0) {
        object->dead = true;
        object->dropPayload();
        noteReleased(object);
    }
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    Object* object = lookup(cf, "CFGetRetainCount");
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
    return lookupAs<BooleanObject>(boolean, booleanTypeId, "CFBooleanGetValue")->value ? 1 : 0;
}

CFIndex CFStringGetLength(CFStringRef theString) {
    return static_cast<CFIndex>(stringObject(theString, "CFStringGetLength")->text.size());
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
    const std::u16string& text = stringObject(theString, "CFStringGetCharacters")->text;
    auto size = static_cast<CFIndex>(text.size());
    if (range.location < 0 || range.length < 0 || range.location > size ||
        range.length > size - range.location) {
        abortWith("CFStringGetCharacters: range out of bounds");
    }
    if (range.length > 0 && buffer == nullptr) {
        abortWith("CFStringGetCharacters: NULL buffer");
    }
    for (CFIndex i = 0; i < range.length; ++i) {
        buffer[i] = text[static_cast<std::size_t>(range.location + i)];
    }
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
    if (numChars < 0 || (numChars > 0 && chars == nullptr)) {
        abortWith("CFStringCreateWithCharacters: bad buffer");
    }
    std::u16string text(reinterpret_cast<const char16_t*>(chars),
                        reinterpret_cast<const char16_t*>(chars) + numChars);
    return toRef<CFStringRef>(track(std::make_unique<StringObject>(std::move(text))));
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
    if (numBytes < 0 || (numBytes > 0 && bytes == nullptr)) {
        abortWith("CFStringCreateWithBytes: bad buffer");
    }
    if (encoding != kCFStringEncodingUTF8 && encoding != kCFStringEncodingASCII) {
        return nullptr;
    }
    auto decoded = unicode::utf16FromUtf8(
        std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(numBytes)));
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
        abortWith("CFStringCreateWithCString called with NULL");
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
    const std::optional<std::string> encoded = unicode::utf8FromWellFormedUtf16(text);
    if (!encoded || static_cast<CFIndex>(encoded->size()) + 1 > bufferSize) {
        return 0;
    }
    const std::string& bytes = *encoded;
    std::memcpy(buffer, bytes.data(), bytes.size());
    buffer[bytes.size()] = '\0';
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
    return toRef<CFStringRef>(constantString(cStr));
}

} // extern "C"
