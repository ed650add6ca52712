// The run loop's bookkeeping, its sources and the CoreFoundation file descriptors, shared by the
// platforms; cfcore/runloop.h says which behaviour of a Mac each part keeps.
#include <cfcore/runloop.h>

#include "unicode/utf.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace cfcore {

namespace {

constexpr CFOptionFlags bothCallBacks =
    kCFFileDescriptorReadCallBack | kCFFileDescriptorWriteCallBack;

struct FileDescriptorObject : Object {
    int fd;
    bool closeOnInvalidate;
    CFFileDescriptorCallBack callout;
    CFFileDescriptorContext context{};
    CFOptionFlags enabled = 0; // callbacks that fire once the descriptor is ready for them
    bool valid = true;

    FileDescriptorObject(int descriptor, bool closeIt, CFFileDescriptorCallBack call)
        : Object(fileDescriptorTypeId), fd(descriptor), closeOnInvalidate(closeIt), callout(call) {}
    std::string describe() const override {
        return Object::describe() + " fd " + std::to_string(fd) + (valid ? "" : " (invalidated)");
    }
    // The last release of a descriptor that is still valid invalidates it; no source holds it
    // then, so the run loop has nothing to let go of.
    void dropPayload() override { endUse(); }

    // What invalidation does apart from taking the sources out of the run loop.
    void endUse() {
        if (!valid) {
            return;
        }
        valid = false;
        enabled = 0;
        const CFFileDescriptorContext ended = context;
        context = CFFileDescriptorContext{};
        if (ended.release != nullptr) {
            ended.release(ended.info);
        }
        if (closeOnInvalidate) {
            close(fd);
        }
    }
};

// A run-loop source: of a mach port, or of a file descriptor. Holds one reference on it.
struct SourceObject : Object {
    PortObject* port = nullptr;
    FileDescriptorObject* file = nullptr;
    CFIndex order = 0;

    SourceObject(PortObject* p, FileDescriptorObject* f, CFIndex o)
        : Object(runLoopSourceTypeId), port(p), file(f), order(o) {}
    bool valid() const { return port != nullptr || (file != nullptr && file->valid); }
    void dropPayload() override {
        if (port != nullptr) {
            CFRelease(toRef<CFMachPortRef>(port));
            port = nullptr;
        }
        if (file != nullptr) {
            CFRelease(toRef<CFFileDescriptorRef>(file));
            file = nullptr;
        }
    }
};

struct AddedSource {
    SourceObject* source;
    std::vector<std::u16string> modes;
};

struct RunLoopObject : Object {
    std::vector<AddedSource> sources; // each holds one reference, in the order added
    int runs = 0;                     // runs in progress: a callout may run the loop again
    bool stopRequested = false;
    RunLoopObject() : Object(runLoopTypeId) {}
};

RunLoopCallHooks& hooks() {
    static RunLoopCallHooks installed;
    return installed;
}

void called(const char* function, std::string target = {}, std::string detail = {}) {
    if (hooks().called != nullptr) {
        hooks().called(function, std::move(target), std::move(detail));
    }
}

bool refused(const char* function) {
    return hooks().refused != nullptr && hooks().refused(function);
}

RunLoopObject& theRunLoop() {
    static RunLoopObject* loop = [] {
        RunLoopObject* object = track(std::make_unique<RunLoopObject>());
        makeImmortal(object);
        return object;
    }();
    return *loop;
}

FileDescriptorObject* fileObject(CFFileDescriptorRef f, const char* function) {
    return lookupAs<FileDescriptorObject>(f, fileDescriptorTypeId, function);
}

std::string descriptorName(const FileDescriptorObject& file) {
    return "fd:" + std::to_string(file.fd);
}

std::string callBackNames(CFOptionFlags types) {
    std::string names;
    if ((types & kCFFileDescriptorReadCallBack) != 0) {
        names = "read";
    }
    if ((types & kCFFileDescriptorWriteCallBack) != 0) {
        names += names.empty() ? "write" : " write";
    }
    return names.empty() ? "none" : names;
}

const std::u16string commonModes = u"kCFRunLoopCommonModes";

bool servesMode(const AddedSource& added, const std::u16string& mode) {
    return std::any_of(added.modes.begin(), added.modes.end(), [&](const std::u16string& name) {
        return name == mode || (name == commonModes && mode == defaultModeName);
    });
}

// The sources that serve `mode`, in the order in which they are served.
std::vector<SourceObject*> sourcesServing(const std::u16string& mode) {
    std::vector<SourceObject*> serving;
    for (const AddedSource& added : theRunLoop().sources) {
        if (servesMode(added, mode)) {
            serving.push_back(added.source);
        }
    }
    std::stable_sort(
        serving.begin(), serving.end(),
        [](const SourceObject* a, const SourceObject* b) { return a->order < b->order; });
    return serving;
}

// Takes `file`'s sources out of the run loop, releasing the run loop's references.
void removeSourcesOf(const FileDescriptorObject* file) {
    std::vector<AddedSource>& sources = theRunLoop().sources;
    const auto kept =
        std::stable_partition(sources.begin(), sources.end(), [file](const AddedSource& added) {
            return added.source->file != file;
        });
    std::vector<AddedSource> removed(kept, sources.end());
    sources.erase(kept, sources.end());
    // Released once the list is consistent: a release may call back into the run loop.
    for (const AddedSource& added : removed) {
        CFRelease(toRef<CFRunLoopSourceRef>(added.source));
    }
}

short pollEvents(CFOptionFlags enabled) {
    short events = 0;
    if ((enabled & kCFFileDescriptorReadCallBack) != 0) {
        events |= POLLIN;
    }
    if ((enabled & kCFFileDescriptorWriteCallBack) != 0) {
        events |= POLLOUT;
    }
    return events;
}

// The callbacks that a descriptor's poll result makes ready.
CFOptionFlags readyCallBacks(short revents) {
    CFOptionFlags ready = 0;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        ready |= kCFFileDescriptorReadCallBack;
    }
    if ((revents & (POLLOUT | POLLHUP | POLLERR)) != 0) {
        ready |= kCFFileDescriptorWriteCallBack;
    }
    return ready;
}

// Calls a file descriptor's callout for the callbacks that are ready and still enabled (an
// earlier callout of the same pass may have changed them), disabling them first. True when the
// callbacks fired.
bool serveFile(FileDescriptorObject& file, short revents) {
    if ((revents & POLLNVAL) != 0) {
        file.enabled = 0; // closed under us: it drops out
        return false;
    }
    const CFOptionFlags ready = readyCallBacks(revents) & file.enabled;
    if (!file.valid || ready == 0) {
        return false;
    }
    file.enabled &= ~ready;
    if (file.callout != nullptr) {
        file.callout(toRef<CFFileDescriptorRef>(&file), ready, file.context.info);
    }
    return true;
}

} // namespace

void setRunLoopCallHooks(RunLoopCallHooks installed) {
    hooks() = installed;
}

std::vector<PortObject*> portsServingDefaultMode() {
    std::vector<PortObject*> ports;
    for (SourceObject* source : sourcesServing(defaultModeName)) {
        if (source->port != nullptr) {
            ports.push_back(source->port);
        }
    }
    return ports;
}

void beginRun() {
    ++theRunLoop().runs;
}

void endRun() {
    RunLoopObject& loop = theRunLoop();
    --loop.runs;
    loop.stopRequested = false;
}

bool runInProgress() {
    return theRunLoop().runs > 0;
}

bool stopRequested() {
    return theRunLoop().stopRequested;
}

bool takeStopRequest() {
    const bool requested = theRunLoop().stopRequested;
    theRunLoop().stopRequested = false;
    return requested;
}

bool modeHasSources(const std::u16string& mode) {
    return !sourcesServing(mode).empty();
}

Pass serveSources(const std::u16string& mode, int timeoutMillis) {
    std::vector<pollfd> descriptors;
    std::vector<SourceObject*> watched; // the source of each descriptor
    bool readAhead = false;
    for (SourceObject* source : sourcesServing(mode)) {
        if (source->port != nullptr) {
            const bool ahead = source->port->hasReadAhead();
            const int fd = source->port->descriptor();
            if (fd >= 0 || ahead) {
                readAhead = readAhead || ahead;
                descriptors.push_back({fd, POLLIN, 0}); // poll skips a negative descriptor
                watched.push_back(source);
            }
        } else if (source->file->valid && (source->file->enabled & bothCallBacks) != 0) {
            descriptors.push_back({source->file->fd, pollEvents(source->file->enabled), 0});
            watched.push_back(source);
        }
    }
    Pass pass;
    if (watched.empty()) {
        return pass;
    }
    pass.watched = true;
    // Held for the pass: a callout may take any of them out of the run loop.
    for (SourceObject* source : watched) {
        CFRetain(toRef<CFRunLoopSourceRef>(source));
    }
    // An interrupted or failed wait (no memory for the moment) is just a pass with nothing ready;
    // with these arguments poll has no other way to fail.
    const int ready = poll(descriptors.data(), descriptors.size(), readAhead ? 0 : timeoutMillis);
    if (ready > 0 || readAhead) {
        for (std::size_t i = 0; i < watched.size() && !stopRequested(); ++i) {
            SourceObject* source = watched[i];
            if (source->port != nullptr) {
                if (descriptors[i].revents != 0 || source->port->hasReadAhead()) {
                    source->port->serve(&stopRequested);
                    pass.handled = true;
                }
            } else if (descriptors[i].revents != 0 && source->file != nullptr) {
                pass.handled = serveFile(*source->file, descriptors[i].revents) || pass.handled;
            }
        }
    }
    for (SourceObject* source : watched) {
        CFRelease(toRef<CFRunLoopSourceRef>(source));
    }
    return pass;
}

void releaseRunLoopSources() {
    std::vector<AddedSource> held;
    held.swap(theRunLoop().sources);
    for (const AddedSource& added : held) {
        CFRelease(toRef<CFRunLoopSourceRef>(added.source));
    }
}

void forgetRunLoopSources() {
    RunLoopObject& loop = theRunLoop();
    loop.sources.clear();
    loop.runs = 0;
    loop.stopRequested = false;
}

} // namespace cfcore

using namespace cfcore;

extern "C" {

CFRunLoopRef CFRunLoopGetCurrent(void) {
    called("CFRunLoopGetCurrent");
    return toRef<CFRunLoopRef>(&theRunLoop());
}

CFRunLoopRef CFRunLoopGetMain(void) {
    called("CFRunLoopGetMain");
    return toRef<CFRunLoopRef>(&theRunLoop());
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
    auto* loop = lookupAs<RunLoopObject>(rl, runLoopTypeId, "CFRunLoopAddSource");
    auto* added = lookupAs<SourceObject>(source, runLoopSourceTypeId, "CFRunLoopAddSource");
    std::u16string name = stringText(mode, "CFRunLoopAddSource");
    called("CFRunLoopAddSource", "run-loop", unicode::utf8FromUtf16(name));
    if (!added->valid()) {
        return; // an invalidated source is never added
    }
    auto& sources = loop->sources;
    auto found = std::find_if(sources.begin(), sources.end(),
                              [added](const AddedSource& entry) { return entry.source == added; });
    if (found == sources.end()) {
        CFRetain(source);
        sources.push_back({added, {std::move(name)}});
    } else if (std::find(found->modes.begin(), found->modes.end(), name) == found->modes.end()) {
        found->modes.push_back(std::move(name));
    }
}

void CFRunLoopStop(CFRunLoopRef rl) {
    auto* loop = lookupAs<RunLoopObject>(rl, runLoopTypeId, "CFRunLoopStop");
    called("CFRunLoopStop", "run-loop");
    if (loop->runs > 0) {
        loop->stopRequested = true;
    }
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, CFMachPortRef port,
                                                 CFIndex order) {
    auto* served = lookupAs<PortObject>(port, machPortTypeId, "CFMachPortCreateRunLoopSource");
    called("CFMachPortCreateRunLoopSource", "tap", "order " + std::to_string(order));
    if (refused("CFMachPortCreateRunLoopSource")) {
        return nullptr;
    }
    CFRetain(port);
    return toRef<CFRunLoopSourceRef>(track(std::make_unique<SourceObject>(served, nullptr, order)));
}

CFTypeID CFFileDescriptorGetTypeID(void) {
    return fileDescriptorTypeId;
}

CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate,
                                           CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context) {
    called("CFFileDescriptorCreate", "fd:" + std::to_string(fd));
    if (fd < 0 || refused("CFFileDescriptorCreate")) {
        return nullptr;
    }
    auto file = std::make_unique<FileDescriptorObject>(fd, closeOnInvalidate != 0, callout);
    if (context != nullptr) {
        file->context = *context;
        if (context->retain != nullptr) {
            file->context.info = context->retain(context->info);
        }
    }
    return toRef<CFFileDescriptorRef>(track(std::move(file)));
}

CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f) {
    return fileObject(f, "CFFileDescriptorGetNativeDescriptor")->fd;
}

void CFFileDescriptorGetContext(CFFileDescriptorRef f, CFFileDescriptorContext* context) {
    const FileDescriptorObject* file = fileObject(f, "CFFileDescriptorGetContext");
    if (context == nullptr || context->version != 0) {
        abortWith("CFFileDescriptorGetContext needs a context of version 0");
    }
    *context = file->context;
}

void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
    FileDescriptorObject* file = fileObject(f, "CFFileDescriptorEnableCallBacks");
    called("CFFileDescriptorEnableCallBacks", descriptorName(*file), callBackNames(callBackTypes));
    if (file->valid) {
        file->enabled |= callBackTypes & bothCallBacks;
    }
}

void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
    FileDescriptorObject* file = fileObject(f, "CFFileDescriptorDisableCallBacks");
    called("CFFileDescriptorDisableCallBacks", descriptorName(*file), callBackNames(callBackTypes));
    file->enabled &= ~callBackTypes;
}

void CFFileDescriptorInvalidate(CFFileDescriptorRef f) {
    FileDescriptorObject* file = fileObject(f, "CFFileDescriptorInvalidate");
    called("CFFileDescriptorInvalidate", descriptorName(*file));
    if (!file->valid) {
        return;
    }
    // First, while the caller's reference is sure to hold: releasing the sources may drop the
    // last other one.
    file->endUse();
    removeSourcesOf(file);
}

Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f) {
    return fileObject(f, "CFFileDescriptorIsValid")->valid ? 1 : 0;
}

CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef, CFFileDescriptorRef f,
                                                       CFIndex order) {
    FileDescriptorObject* file = fileObject(f, "CFFileDescriptorCreateRunLoopSource");
    called("CFFileDescriptorCreateRunLoopSource", descriptorName(*file),
           "order " + std::to_string(order));
    if (!file->valid) {
        return nullptr;
    }
    CFRetain(f);
    return toRef<CFRunLoopSourceRef>(track(std::make_unique<SourceObject>(nullptr, file, order)));
}

} // extern "C"
