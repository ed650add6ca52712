#include "base/utf.h"

namespace base {

std::u16string stringUnits(CFStringRef string) {
    const CFIndex length = CFStringGetLength(string);
    std::u16string units(static_cast<std::size_t>(length), u'\0');
    static_assert(sizeof(UniChar) == sizeof(char16_t));
    if (length > 0) {
        CFStringGetCharacters(string, CFRangeMake(0, length),
                              reinterpret_cast<UniChar*>(units.data()));
    }
    return units;
}

std::optional<std::u16string> stringContents(CFTypeRef object) {
    if (object == nullptr || CFGetTypeID(object) != CFStringGetTypeID()) {
        return std::nullopt;
    }
    return stringUnits(static_cast<CFStringRef>(object));
}

} // namespace base
