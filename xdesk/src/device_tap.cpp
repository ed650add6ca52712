#include "device_tap.h"

#include "device_keys.h"
#include "tap_port.h"

#include <libevdev/libevdev.h>
#include <xkbcommon/xkbcommon.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xdesk {
namespace {

// The kernel key codes that have an X key code.
constexpr unsigned kernelKeyCount = 256 - xKeycodeOffset;

// At most this many events are delivered in one pass of the run loop, so that keyboards that never
// pause cannot keep the run loop's other sources (lines waiting for standard output) waiting.
constexpr int eventsPerPass = 256;

// At most this many records are read from one device at a time, so that one that never pauses
// cannot keep the tap reading it (a keyboard's buffer in the kernel holds far fewer).
constexpr int recordsPerRead = 4096;

// The epoll tag of the folder's watch; each device has a serial number above it.
constexpr uint64_t folderWatchTag = 0;

// ---- Files --------------------------------------------------------------------------------------

// A descriptor that is closed with its owner.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int owned) : fd(owned) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd = other.fd;
            other.fd = -1;
        }
        return *this;
    }
    ~Descriptor() { reset(); }

    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }
    void reset() {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }

private:
    int fd = -1;
};

// The kernel names its event devices "event" and a number; nothing else in the folder is one.
bool isDeviceName(std::string_view name) {
    constexpr std::string_view prefix = "event";
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
        return false;
    }
    return std::all_of(name.begin() + prefix.size(), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The device names in the open folder, by their number.
std::vector<std::string> deviceNames(int folder) {
    std::vector<std::string> names;
    // A description of its own: reading the folder must not move the offset of `folder`.
    const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) {
        return names;
    }
    DIR* dir = fdopendir(listing);
    if (dir == nullptr) {
        close(listing);
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        if (isDeviceName(entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

// ---- Devices ------------------------------------------------------------------------------------

// libevdev writes what goes wrong to standard error unless told otherwise; a tool never does.
void discardDeviceLog(const libevdev*, libevdev_log_priority, void*, const char*, int, const char*,
                      const char*, va_list) {}

struct EvdevDeleter {
    void operator()(libevdev* device) const { libevdev_free(device); }
};
using EvdevPtr = std::unique_ptr<libevdev, EvdevDeleter>;

// An open keyboard.
struct Device {
    uint64_t tag = 0; // its epoll tag
    std::string name; // in the folder
    dev_t node = 0;   // the file opened, to tell it from a new one of the same name
    ino_t inode = 0;
    Descriptor fd;
    EvdevPtr evdev;
    DeviceHeldKeys held;    // by X key code
    bool pending = false;   // more has arrived than the last pass read
    bool vanished = false;  // gone from the folder: dropped after its last events
    bool takenBack = false; // no longer this process's to read: what it has sent is not heard
    bool ending = false;    // its end is marked in the queue
};

bool isKeyboard(const libevdev* evdev) {
    if (libevdev_has_event_type(evdev, EV_KEY) == 0) {
        return false;
    }
    for (unsigned code = 0; code < kernelKeyCount; ++code) {
        if (isKeyboardKey(code) && libevdev_has_event_code(evdev, EV_KEY, code) != 0) {
            return true;
        }
    }
    return false;
}

// Opens the named device of the folder for reading when it is a keyboard that this process may
// read; nothing otherwise. Only reads: the device is never grabbed.
std::unique_ptr<Device> openKeyboard(int folder, const std::string& name) {
    Descriptor fd(openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat file {};
    if (!fd || fstat(fd.get(), &file) != 0) {
        return nullptr;
    }
    EvdevPtr evdev(libevdev_new());
    if (!evdev) {
        return nullptr;
    }
    libevdev_set_device_log_function(evdev.get(), &discardDeviceLog, LIBEVDEV_LOG_ERROR, nullptr);
    // Fails on anything that is not an event device.
    if (libevdev_set_fd(evdev.get(), fd.get()) != 0 || !isKeyboard(evdev.get())) {
        return nullptr;
    }
    // The times of events, by which those of several keyboards are put in order, on a clock that
    // a change of the time of day does not move. Without it, the kernel's default clock serves.
    static_cast<void>(libevdev_set_clock_id(evdev.get(), CLOCK_MONOTONIC));
    auto device = std::make_unique<Device>();
    device->name = name;
    device->node = file.st_dev;
    device->inode = file.st_ino;
    device->fd = std::move(fd);
    device->evdev = std::move(evdev);
    return device;
}

// The keys that the device holds now, as the kernel told libevdev when it was opened.
DeviceHeldKeys heldKeys(const libevdev* evdev) {
    DeviceHeldKeys held;
    for (unsigned code = 0; code < kernelKeyCount; ++code) {
        if (libevdev_get_event_value(evdev, EV_KEY, code) != 0) {
            held[code + xKeycodeOffset] = true;
        }
    }
    return held;
}

// ---- Keymap -------------------------------------------------------------------------------------

void discardKeymapLog(xkb_context*, xkb_log_level, const char*, va_list) {}

struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct ContextDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};

std::unique_ptr<xkb_keymap, KeymapDeleter> compileDefaultKeymap(xkb_context_flags flags) {
    // Without the default include path at first: adding it may fail, and the failure would be
    // written to standard error before a log function could be set.
    std::unique_ptr<xkb_context, ContextDeleter> context(
        xkb_context_new(static_cast<xkb_context_flags>(flags | XKB_CONTEXT_NO_DEFAULT_INCLUDES)));
    if (!context) {
        return nullptr;
    }
    xkb_context_set_log_fn(context.get(), &discardKeymapLog);
    if (xkb_context_include_path_append_default(context.get()) == 0) {
        return nullptr;
    }
    return std::unique_ptr<xkb_keymap, KeymapDeleter>(
        xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

// The Mac modifier key of each X key code in the session's default keymap, by the keysym that the
// key types without modifiers in the first layout. The keymap that the compositor gives its
// keyboards is its own configuration, which a client cannot read: the keymap a client is sent is
// that of whichever keyboard typed last, an on-screen or virtual keyboard's (with a key or two)
// as well. The default keymap stands for it, as compositors start from it too.
std::optional<std::array<MacModifierKey, 256>> defaultKeymapModifiers() {
    auto keymap = compileDefaultKeymap(XKB_CONTEXT_NO_FLAGS);
    if (!keymap) {
        // XKB_DEFAULT_* variables that name no keymap: the built-in default.
        keymap = compileDefaultKeymap(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    }
    if (!keymap) {
        return std::nullopt;
    }
    std::array<MacModifierKey, 256> modifiers{};
    modifiers.fill(MacModifierKey::none);
    const xkb_keycode_t last =
        std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap.get()), modifiers.size() - 1);
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap.get()); key <= last; ++key) {
        const xkb_keysym_t* keysyms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap.get(), key, 0, 0, &keysyms) > 0) {
            modifiers[key] = macModifierFor(keysyms[0]);
        }
    }
    return modifiers;
}

// ---- The tap ------------------------------------------------------------------------------------

// A key event read from a device and not yet taken, or the mark after a device's last event.
struct Queued {
    uint64_t tag = 0; // the device's
    input_event event{};
    bool end = false;
};

bool earlier(const Queued& a, const Queued& b) {
    return a.event.input_event_sec != b.event.input_event_sec
               ? a.event.input_event_sec < b.event.input_event_sec
               : a.event.input_event_usec < b.event.input_event_usec;
}

struct DeviceTap : TapPort {
    Descriptor folder; // the device folder, which names are opened in
    Descriptor epoll;  // over the watch and every device: the run loop's one descriptor
    Descriptor watch;  // inotify on the folder; none when it could not be had
    KeyHolders holders{};
    std::vector<std::unique_ptr<Device>> devices;
    std::deque<Queued> queue; // read and not yet taken, in the order of their time
    uint64_t nextTag = folderWatchTag + 1;

    int descriptor() const override { return epoll.get(); }
    bool hasReadAhead() override;
    void serve(bool (*stopRequested)()) override;
    void dropPayload() override {
        queue.clear();
        devices.clear();
        watch.reset();
        epoll.reset();
        folder.reset();
    }

    void scan();
    void openNamed(const std::string& name);
    Device* deviceTagged(uint64_t tag);
    Device* deviceNamed(std::string_view name);
    void readDevice(Device& device, uint32_t readiness, std::vector<Queued>& batch);
    bool take(Device& device, const input_event& event);
    void drop(Device& device);
    void readFolderChanges();
    void readArrived();
};

bool DeviceTap::hasReadAhead() {
    return !queue.empty() || std::any_of(devices.begin(), devices.end(),
                                         [](const auto& device) { return device->pending; });
}

Device* DeviceTap::deviceTagged(uint64_t tag) {
    for (const auto& device : devices) {
        if (device->tag == tag) {
            return device.get();
        }
    }
    return nullptr;
}

Device* DeviceTap::deviceNamed(std::string_view name) {
    for (const auto& device : devices) {
        if (device->name == name && !device->vanished) {
            return device.get();
        }
    }
    return nullptr;
}

// Starts to read the named device when it is a keyboard this process may read and is not read
// already. The keys it holds count from now on, without an event. A device read already is
// dropped when the process may no longer read it: the kernel leaves an open device readable, but
// a udev rule that gives the keyboards to whoever is logged in at the machine takes them back
// when another user's session comes to the front, and the keys typed there are not this
// process's to hear.
void DeviceTap::openNamed(const std::string& name) {
    if (Device* known = deviceNamed(name)) {
        struct stat file {};
        const bool same = fstatat(folder.get(), name.c_str(), &file, 0) == 0 &&
                          file.st_dev == known->node && file.st_ino == known->inode;
        if (same && faccessat(folder.get(), name.c_str(), R_OK, AT_EACCESS) == 0) {
            return; // listed again, or its attributes changed and it is still readable
        }
        known->vanished = true; // taken back, or another device now has its name
        if (same) {
            known->takenBack = true;
            return;
        }
    }
    std::unique_ptr<Device> device = openKeyboard(folder.get(), name);
    if (!device) {
        return; // not a keyboard, or not readable (yet: a change of its permissions comes back)
    }
    device->tag = nextTag++;
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.u64 = device->tag;
    if (epoll_ctl(epoll.get(), EPOLL_CTL_ADD, device->fd.get(), &interest) != 0) {
        return;
    }
    addHeldKeys(keyboard, holders, device->held, heldKeys(device->evdev.get()));
    devices.push_back(std::move(device));
}

void DeviceTap::scan() {
    for (const std::string& name : deviceNames(folder.get())) {
        openNamed(name);
    }
}

// Reads the key events of one device that have arrived, up to recordsPerRead records, into
// `batch`, and once the device has ended, the mark after its last event.
void DeviceTap::readDevice(Device& device, uint32_t readiness, std::vector<Queued>& batch) {
    device.pending = false;
    bool ended = device.vanished || (readiness & (EPOLLHUP | EPOLLERR)) != 0;
    const auto keep = [&](const input_event& event) {
        if (event.type == EV_KEY && !device.takenBack) {
            batch.push_back({device.tag, event, false});
        }
    };
    for (int read = 0;; ++read) {
        if (read == recordsPerRead) {
            device.pending = true; // the rest, and its end, in the next read
            return;
        }
        input_event event{};
        const int status =
            libevdev_next_event(device.evdev.get(), LIBEVDEV_READ_FLAG_NORMAL, &event);
        if (status == LIBEVDEV_READ_STATUS_SYNC) {
            // SYN_DROPPED: the kernel's buffer overflowed and events were lost. libevdev drops
            // what is left of them, reads the device's keys again and reports the difference as
            // events.
            while (libevdev_next_event(device.evdev.get(), LIBEVDEV_READ_FLAG_SYNC, &event) ==
                   LIBEVDEV_READ_STATUS_SYNC) {
                keep(event);
            }
        } else if (status == LIBEVDEV_READ_STATUS_SUCCESS) {
            keep(event);
        } else {
            // -EAGAIN: nothing more for now (and all there is, when a pipe standing for a device
            // has ended). Anything else: the device has gone (ENODEV) or cannot be read.
            ended = ended || status != -EAGAIN;
            break;
        }
    }
    if (ended && !device.ending) {
        device.ending = true;
        Queued mark{device.tag, {}, true};
        if (!batch.empty() && batch.back().tag == device.tag) {
            mark.event = batch.back().event; // its time: the mark sorts after the last event
        }
        batch.push_back(mark);
    }
}

// Takes one key event of the device into the keys, and delivers the event it makes if the
// callback wants it. True when the callback ran.
bool DeviceTap::take(Device& device, const input_event& event) {
    // The keys follow every event, also while the tap is disabled.
    const std::optional<TapEvent> tapped =
        deviceKeyEvent(keyboard, holders, device.held, event.code, event.value);
    if (!tapped || !enabled || !interested(*this, tapped->type)) {
        return false;
    }
    deliver(*this, *tapped);
    return true;
}

// Stops reading the device. Keys it still holds are released, as the kernel releases the keys of
// a keyboard that is unplugged: a modifier held on it is no longer held.
void DeviceTap::drop(Device& device) {
    epoll_ctl(epoll.get(), EPOLL_CTL_DEL, device.fd.get(), nullptr);
    for (unsigned xKeycode = xKeycodeOffset; xKeycode < device.held.size(); ++xKeycode) {
        if (device.held[xKeycode]) {
            input_event release{};
            release.type = EV_KEY;
            release.code = static_cast<uint16_t>(xKeycode - xKeycodeOffset);
            release.value = 0;
            take(device, release);
        }
    }
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&device](const auto& held) { return held.get() == &device; });
    if (found != devices.end()) {
        devices.erase(found);
    }
}

// Takes the folder's changes: a device that appears, or whose permissions change, is opened when
// it is a keyboard this process may read; one that disappears is dropped after its last events.
void DeviceTap::readFolderChanges() {
    alignas(inotify_event) char buffer[4096];
    bool rescan = false;
    bool watchGone = false;
    for (;;) {
        const ssize_t length = read(watch.get(), buffer, sizeof buffer);
        if (length <= 0) {
            break;
        }
        for (ssize_t at = 0; at < length;) {
            const auto* change = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + change->len);
            rescan = rescan || (change->mask & IN_Q_OVERFLOW) != 0;
            watchGone =
                watchGone || (change->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
            if (change->len == 0 || !isDeviceName(change->name)) {
                continue;
            }
            const std::string name(change->name);
            if ((change->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                if (Device* gone = deviceNamed(name)) {
                    gone->vanished = true;
                }
            }
            if ((change->mask & (IN_CREATE | IN_ATTRIB | IN_MOVED_TO)) != 0) {
                openNamed(name);
            }
        }
    }
    if (rescan) {
        scan();
    }
    if (watchGone) {
        // The folder itself has gone: the devices read so far go on until they end.
        epoll_ctl(epoll.get(), EPOLL_CTL_DEL, watch.get(), nullptr);
        watch.reset();
    }
}

// Reads what has arrived from every device that has something, in one go: the folder's changes
// first, then the key events of the devices, put in the order of their time. Devices are read one
// after the other, and a key held on one keyboard must come before the space bar pressed on
// another after it.
void DeviceTap::readArrived() {
    std::array<epoll_event, 32> arrived{};
    const int count = epoll_wait(epoll.get(), arrived.data(), arrived.size(), 0);
    std::vector<std::pair<uint64_t, uint32_t>> ready;
    for (int i = 0; i < count; ++i) {
        // epoll_event is packed: its fields are copied out, never bound to references.
        const uint64_t tag = arrived[static_cast<std::size_t>(i)].data.u64;
        const uint32_t readiness = arrived[static_cast<std::size_t>(i)].events;
        if (tag == folderWatchTag) {
            readFolderChanges();
        } else {
            ready.emplace_back(tag, readiness);
        }
    }
    // Devices with more than the last read took, and those that have left the folder.
    for (const auto& device : devices) {
        if ((device->pending || (device->vanished && !device->ending)) &&
            std::none_of(ready.begin(), ready.end(),
                         [&device](const auto& entry) { return entry.first == device->tag; })) {
            ready.emplace_back(device->tag, 0);
        }
    }
    std::vector<Queued> batch;
    for (const auto& [tag, readiness] : ready) {
        if (Device* device = deviceTagged(tag)) {
            readDevice(*device, readiness, batch);
        }
    }
    std::stable_sort(batch.begin(), batch.end(), &earlier);
    queue.insert(queue.end(), batch.begin(), batch.end());
}

// Delivers what has been read, reading first when nothing is left from the last pass, up to
// eventsPerPass events. Between two deliveries it asks `stopRequested`; the rest waits for the
// next pass, which comes at once.
void DeviceTap::serve(bool (*stopRequested)()) {
    if (queue.empty()) {
        readArrived();
    }
    for (int delivered = 0; !queue.empty() && delivered < eventsPerPass;) {
        const Queued next = queue.front();
        queue.pop_front();
        Device* device = deviceTagged(next.tag);
        if (device == nullptr) {
            continue;
        }
        if (next.end) {
            drop(*device);
        } else if (take(*device, next.event)) {
            ++delivered;
            if (stopRequested()) {
                return;
            }
        }
    }
}

} // namespace

bool keyboardReadable(const char* folder) {
    const Descriptor dir(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        return false;
    }
    const std::vector<std::string> names = deviceNames(dir.get());
    return std::any_of(names.begin(), names.end(), [&dir](const std::string& name) {
        return openKeyboard(dir.get(), name) != nullptr;
    });
}

bool inputDevicesTrusted() {
    return keyboardReadable(inputDeviceFolder);
}

CFMachPortRef createDeviceTap(const char* folder, CGEventMask eventsOfInterest,
                              CGEventTapCallBack callback, void* userInfo) {
    auto made = std::make_unique<DeviceTap>();
    made->eventsOfInterest = eventsOfInterest;
    made->callback = callback;
    made->userInfo = userInfo;
    made->folder = Descriptor(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    made->epoll = Descriptor(epoll_create1(EPOLL_CLOEXEC));
    const std::optional<std::array<MacModifierKey, 256>> modifiers = defaultKeymapModifiers();
    if (!made->folder || !made->epoll || !modifiers) {
        return nullptr;
    }
    made->keyboard.modifiers = *modifiers;
    // Watched before the folder is read, so that a keyboard appearing meanwhile is not missed.
    // Without a watch (no inotify instance left to the user) the keyboards present are read.
    made->watch = Descriptor(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    constexpr uint32_t changes = IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.u64 = folderWatchTag;
    if (made->watch &&
        (inotify_add_watch(made->watch.get(), folder, changes) < 0 ||
         epoll_ctl(made->epoll.get(), EPOLL_CTL_ADD, made->watch.get(), &interest) != 0)) {
        made->watch.reset();
    }
    made->scan();
    return toRef<CFMachPortRef>(track(std::move(made)));
}

} // namespace xdesk
