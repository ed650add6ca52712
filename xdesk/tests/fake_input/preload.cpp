// Preloaded into a real tool by the process tests (with kernel.cpp), this puts a folder of
// stand-in devices where the kernel's input devices are: the paths /dev/input and below, as
// given to open(2) and inotify_add_watch(2), lead to $FAKE_INPUT_ROOT/input instead. Nothing else
// changes, so the tool runs as it would on a machine with those devices.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/inotify.h>

#include <cstdarg>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// The path to use instead of `path`, kept in `storage`.
const char* redirected(const char* path, std::string& storage) {
    constexpr std::string_view devices = "/dev/input";
    const char* root = std::getenv("FAKE_INPUT_ROOT");
    if (path == nullptr || root == nullptr) {
        return path;
    }
    const std::string_view given(path);
    if (given.substr(0, devices.size()) != devices ||
        (given.size() > devices.size() && given[devices.size()] != '/')) {
        return path;
    }
    storage = std::string(root) + "/input" + std::string(given.substr(devices.size()));
    return storage.c_str();
}

template <class Function> Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

mode_t modeArgument(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    std::string storage;
    static const auto real = next<int (*)(const char*, int, ...)>("open");
    return real(redirected(path, storage), flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    std::string storage;
    static const auto real = next<int (*)(const char*, int, ...)>("open64");
    return real(redirected(path, storage), flags, mode);
}

int inotify_add_watch(int fd, const char* path, uint32_t mask) noexcept {
    std::string storage;
    static const auto real = next<int (*)(int, const char*, uint32_t)>("inotify_add_watch");
    return real(fd, redirected(path, storage), mask);
}

} // extern "C"
