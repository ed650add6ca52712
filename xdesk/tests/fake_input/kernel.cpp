// A stand-in for the kernel's event devices, for tests: named pipes whose answers to the evdev
// ioctls come from a description file. This file defines ioctl(2) itself, so linking it into a
// test program (or preloading it into a process) puts it in front of the C library's for every
// caller, libevdev included. Any other descriptor goes on to the real ioctl.
//
// A pipe at DIR/input/NAME is a device when DIR/kernel/NAME describes it, one line each:
//   name TEXT          the device's name
//   keys CODE ...      the kernel key codes it can send (EV_KEY); any code makes it send EV_MSC
//   held CODE ...      the keys held now, as EVIOCGKEY tells them (rewrite it to change them)
// Records written into the pipe are what the device sends. A grab (EVIOCGRAB) is answered and
// noted by a line "grab NAME" appended to DIR/kernel/log, so that a test can tell that nothing
// ever grabbed a device.
#include <dlfcn.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>

namespace {

struct Description {
    std::string kernelFolder; // DIR/kernel
    std::string node;         // NAME
    std::string name;
    std::set<unsigned> keys;
    std::set<unsigned> held;
};

std::optional<Description> describedDevice(int fd) {
    struct stat file {};
    if (fstat(fd, &file) != 0 || !S_ISFIFO(file.st_mode)) {
        return std::nullopt;
    }
    char path[4096];
    const ssize_t length =
        readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
    if (length <= 0) {
        return std::nullopt;
    }
    const std::string device(path, static_cast<std::size_t>(length));
    const std::size_t slash = device.rfind('/');
    const std::size_t parent = slash == std::string::npos ? slash : device.rfind('/', slash - 1);
    if (parent == std::string::npos) {
        return std::nullopt;
    }
    Description description;
    description.kernelFolder = device.substr(0, parent) + "/kernel";
    description.node = device.substr(slash + 1);
    std::ifstream in(description.kernelFolder + "/" + description.node);
    if (!in) {
        return std::nullopt;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string what;
        words >> what;
        if (what == "name") {
            std::getline(words >> std::ws, description.name);
        }
        std::set<unsigned>* codes = what == "keys"   ? &description.keys
                                    : what == "held" ? &description.held
                                                     : nullptr;
        for (unsigned code = 0; codes != nullptr && words >> code;) {
            codes->insert(code);
        }
    }
    return description;
}

// Fills a bit mask of `size` bytes as the kernel does (bit N in byte N / 8).
int bits(void* argument, unsigned size, const std::set<unsigned>& set) {
    auto* bytes = static_cast<unsigned char*>(argument);
    std::memset(bytes, 0, size);
    for (unsigned bit : set) {
        if (bit / 8 < size) {
            bytes[bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
        }
    }
    return static_cast<int>(size);
}

int fail(int error) {
    errno = error;
    return -1;
}

int answer(const Description& device, unsigned long request, void* argument) {
    const unsigned number = _IOC_NR(request);
    const unsigned size = _IOC_SIZE(request);
    if (request == EVIOCGVERSION) {
        *static_cast<int*>(argument) = EV_VERSION;
        return 0;
    }
    if (request == EVIOCGID) {
        std::memset(argument, 0, sizeof(input_id));
        return 0;
    }
    if (request == EVIOCGREP) {
        auto* repeat = static_cast<unsigned*>(argument);
        repeat[0] = 250;
        repeat[1] = 33;
        return 0;
    }
    if (request == EVIOCGRAB) {
        std::ofstream(device.kernelFolder + "/log", std::ios::app)
            << "grab " << device.node << "\n";
        return 0;
    }
    if (request == EVIOCSCLOCKID) {
        return 0;
    }
    if (_IOC_DIR(request) != _IOC_READ) {
        return fail(EINVAL);
    }
    if (number == _IOC_NR(EVIOCGNAME(0))) {
        const std::size_t copied = std::min<std::size_t>(size, device.name.size() + 1);
        std::memcpy(argument, device.name.c_str(), copied);
        return static_cast<int>(copied);
    }
    if (number == _IOC_NR(EVIOCGPHYS(0)) || number == _IOC_NR(EVIOCGUNIQ(0))) {
        return fail(ENOENT); // as for a device that uinput made
    }
    if (number == _IOC_NR(EVIOCGKEY(0))) {
        return bits(argument, size, device.held);
    }
    if (number == _IOC_NR(EVIOCGPROP(0)) || number == _IOC_NR(EVIOCGLED(0)) ||
        number == _IOC_NR(EVIOCGSND(0)) || number == _IOC_NR(EVIOCGSW(0))) {
        return bits(argument, size, {});
    }
    if (number >= _IOC_NR(EVIOCGBIT(0, 0)) && number < _IOC_NR(EVIOCGBIT(0, 0)) + EV_CNT) {
        const unsigned type = number - _IOC_NR(EVIOCGBIT(0, 0));
        const bool sendsKeys = !device.keys.empty();
        switch (type) {
        case 0:
            return bits(argument, size,
                        sendsKeys ? std::set<unsigned>{EV_SYN, EV_KEY, EV_MSC, EV_REP}
                                  : std::set<unsigned>{EV_SYN});
        case EV_KEY:
            return bits(argument, size, device.keys);
        case EV_MSC:
            return bits(argument, size,
                        sendsKeys ? std::set<unsigned>{MSC_SCAN} : std::set<unsigned>{});
        default:
            return bits(argument, size, {});
        }
    }
    return fail(EINVAL);
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (_IOC_TYPE(request) == 'E') {
        if (const std::optional<Description> device = describedDevice(fd)) {
            return answer(*device, request, argument);
        }
    }
    using Ioctl = int (*)(int, unsigned long, ...);
    static const auto real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, argument);
}
