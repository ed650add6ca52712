// The run loop on the Linux desktop, and the CoreFoundation file descriptors it serves.
//
// There is one run loop, the main thread's, which CFRunLoopGetCurrent and CFRunLoopGetMain both
// return; the tools run it on their main thread and nowhere else. Running it waits in poll(2) on
// the descriptors of its sources: an event tap's X connection, and the descriptors of
// CFFileDescriptor objects whose callbacks are enabled. With nothing ready it sleeps, so an idle
// tool uses no CPU. When descriptors are ready, their sources are served on the running thread
// one after the other, in the order given when each was made and then in the order in which
// they were added, each event or callback in turn; CFRunLoopStop ends the run after the callout
// that asked for it.
//
// As on a Mac:
// - The run loop retains each source added to it, once; a source retains its port or file
//   descriptor. A source added in kCFRunLoopCommonModes serves the default mode.
// - CFRunLoopRun runs the default mode until CFRunLoopStop. On the main thread it does not
//   return when it has no source: it waits. CFRunLoopStop outside a run does nothing.
// - A file descriptor's callbacks are one-shot: the read (write) callback fires once when the
//   descriptor becomes readable (writable) and is then disabled until it is enabled again. A
//   descriptor at its end or in error counts as ready for both. A descriptor that is closed
//   while it is watched never becomes ready (it drops out, as out of a kqueue on a Mac).
// - Invalidating a file descriptor releases its context's info, closes the descriptor when it
//   was made to, and takes its source out of the run loop; the last release invalidates it.
#include "runloop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace xdesk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr CFOptionFlags bothCallBacks =
    kCFFileDescriptorReadCallBack | kCFFileDescriptorWriteCallBack;

struct FileDescriptorObject : cfcore::Object {
    int fd;
    bool closeOnInvalidate;
    CFFileDescriptorCallBack callout;
    CFFileDescriptorContext context{};
    CFOptionFlags enabled = 0;
    bool valid = true;

    FileDescriptorObject(int descriptor, bool closeIt, CFFileDescriptorCallBack call)
        : Object(cfcore::fileDescriptorTypeId), fd(descriptor), closeOnInvalidate(closeIt),
          callout(call) {}
    std::string describe() const override {
        return Object::describe() + " fd " + std::to_string(fd);
    }
    void dropPayload() override;
};

void invalidate(FileDescriptorObject& file) {
    if (!file.valid) {
        return;
    }
    file.valid = false;
    file.enabled = 0;
    const CFFileDescriptorContext context = file.context;
    file.context = CFFileDescriptorContext{};
    if (context.release != nullptr) {
        context.release(context.info);
    }
    if (file.closeOnInvalidate) {
        close(file.fd);
    }
}

void FileDescriptorObject::dropPayload() {
    invalidate(*this);
}

// A run-loop source: of an event tap, or of a file descriptor. Holds one reference on it.
struct SourceObject : cfcore::Object {
    PortObject* port = nullptr;
    FileDescriptorObject* file = nullptr;
    CFIndex order = 0;

    SourceObject() : Object(cfcore::runLoopSourceTypeId) {}
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

struct RunLoopObject : cfcore::Object {
    std::vector<AddedSource> sources; // each holds one reference, in the order added
    int runs = 0;                     // runs in progress: a callout may run the loop again
    bool stopRequested = false;
    RunLoopObject() : Object(cfcore::runLoopTypeId) {}
};

const std::u16string defaultMode = u"kCFRunLoopDefaultMode";
const std::u16string commonModes = u"kCFRunLoopCommonModes";

RunLoopObject& theRunLoop() {
    static RunLoopObject* loop = [] {
        RunLoopObject* object = track(std::make_unique<RunLoopObject>());
        cfcore::makeImmortal(object);
        return object;
    }();
    return *loop;
}

bool stopRequested() {
    return theRunLoop().stopRequested;
}

FileDescriptorObject* fileObject(CFFileDescriptorRef f, const char* function) {
    return lookupAs<FileDescriptorObject>(f, cfcore::fileDescriptorTypeId, function);
}

bool servesMode(const AddedSource& added, const std::u16string& mode) {
    for (const std::u16string& name : added.modes) {
        if (name == mode || (name == commonModes && mode == defaultMode)) {
            return true;
        }
    }
    return false;
}

// Sources whose file descriptor has been invalidated leave the run loop.
void dropInvalidSources(RunLoopObject& loop) {
    std::vector<SourceObject*> dropped;
    auto& sources = loop.sources;
    for (auto it = sources.begin(); it != sources.end();) {
        if (it->source->valid()) {
            ++it;
        } else {
            dropped.push_back(it->source);
            it = sources.erase(it);
        }
    }
    // Released once the list is consistent: a release may call back into the run loop.
    for (SourceObject* source : dropped) {
        CFRelease(toRef<CFRunLoopSourceRef>(source));
    }
}

std::vector<SourceObject*> sourcesServing(const RunLoopObject& loop, const std::u16string& mode) {
    std::vector<SourceObject*> serving;
    for (const AddedSource& added : loop.sources) {
        if (servesMode(added, mode)) {
            serving.push_back(added.source);
        }
    }
    std::stable_sort(
        serving.begin(), serving.end(),
        [](const SourceObject* a, const SourceObject* b) { return a->order < b->order; });
    return serving;
}

// Milliseconds that poll may wait: rounded up, so that a wait never ends before the deadline.
int pollTimeout(std::optional<Clock::time_point> deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left = *deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto millis = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return millis > INT_MAX ? INT_MAX : static_cast<int>(millis);
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
// callout ran.
bool serveFile(FileDescriptorObject& file, short revents) {
    if ((revents & POLLNVAL) != 0) {
        file.enabled = 0;
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

// One run of the run loop in `mode`, until it is stopped, or the deadline has passed, or (when
// asked) a source has been served.
CFRunLoopRunResult run(const std::u16string& mode, std::optional<Clock::time_point> deadline,
                       bool returnAfterSourceHandled) {
    RunLoopObject& loop = theRunLoop();
    // A process that runs a run loop runs for long, and may make an object per event.
    cfcore::keepReleasedObjects(releasedObjectsKept);
    ++loop.runs;
    CFRunLoopRunResult result = kCFRunLoopRunTimedOut;
    for (;;) {
        if (loop.stopRequested) {
            loop.stopRequested = false;
            result = kCFRunLoopRunStopped;
            break;
        }
        dropInvalidSources(loop);
        const std::vector<SourceObject*> serving = sourcesServing(loop, mode);
        if (serving.empty() && mode != defaultMode) {
            // The main thread's default mode is never empty (it stands for the main queue too);
            // another mode without sources is.
            result = kCFRunLoopRunFinished;
            break;
        }

        std::vector<pollfd> descriptors;
        std::vector<SourceObject*> watched; // the source of each descriptor, or a port read ahead
        bool readAhead = false;
        for (SourceObject* source : serving) {
            if (source->port != nullptr) {
                const bool ahead = source->port->hasReadAhead();
                readAhead = readAhead || ahead;
                const int fd = source->port->descriptor();
                if (fd >= 0 || ahead) {
                    descriptors.push_back({fd, POLLIN, 0}); // poll skips a negative descriptor
                    watched.push_back(source);
                }
            } else if (source->file->valid && (source->file->enabled & bothCallBacks) != 0) {
                const CFOptionFlags enabled = source->file->enabled;
                short events = 0;
                if ((enabled & kCFFileDescriptorReadCallBack) != 0) {
                    events |= POLLIN;
                }
                if ((enabled & kCFFileDescriptorWriteCallBack) != 0) {
                    events |= POLLOUT;
                }
                descriptors.push_back({source->file->fd, events, 0});
                watched.push_back(source);
            }
        }

        const int timeout = readAhead ? 0 : pollTimeout(deadline);
        // An interrupted or failed wait (no memory for the moment) is just a pass with nothing
        // ready; with these arguments poll has no other way to fail.
        const int ready = poll(descriptors.data(), descriptors.size(), timeout);
        bool handled = false;
        if (ready > 0 || readAhead) {
            for (std::size_t i = 0; i < watched.size() && !loop.stopRequested; ++i) {
                SourceObject* source = watched[i];
                if (source->port != nullptr) {
                    if (descriptors[i].revents != 0 || source->port->hasReadAhead()) {
                        source->port->serve(&stopRequested);
                        handled = true;
                    }
                } else if (descriptors[i].revents != 0) {
                    handled = serveFile(*source->file, descriptors[i].revents) || handled;
                }
            }
        }
        if (loop.stopRequested) {
            continue;
        }
        if (returnAfterSourceHandled && handled) {
            result = kCFRunLoopRunHandledSource;
            break;
        }
        if (deadline && Clock::now() >= *deadline) {
            result = kCFRunLoopRunTimedOut;
            break;
        }
    }
    --loop.runs;
    return result;
}

SourceObject* newSource(CFIndex order) {
    auto source = std::make_unique<SourceObject>();
    source->order = order;
    return track(std::move(source));
}

} // namespace
} // namespace xdesk

using namespace xdesk;

extern "C" {

CFRunLoopRef CFRunLoopGetCurrent(void) {
    return cfcore::toRef<CFRunLoopRef>(&theRunLoop());
}

CFRunLoopRef CFRunLoopGetMain(void) {
    return cfcore::toRef<CFRunLoopRef>(&theRunLoop());
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
    auto* loop = cfcore::lookupAs<RunLoopObject>(rl, cfcore::runLoopTypeId, "CFRunLoopAddSource");
    auto* added =
        cfcore::lookupAs<SourceObject>(source, cfcore::runLoopSourceTypeId, "CFRunLoopAddSource");
    std::u16string name = cfcore::stringText(mode, "CFRunLoopAddSource");
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

void CFRunLoopRun(void) {
    CFRunLoopRunResult result;
    do {
        result = run(defaultMode, std::nullopt, false);
    } while (result != kCFRunLoopRunStopped && result != kCFRunLoopRunFinished);
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
    const std::u16string name = cfcore::stringText(mode, "CFRunLoopRunInMode");
    std::optional<Clock::time_point> deadline = Clock::now();
    constexpr CFTimeInterval forever = 1e9; // seconds: some thirty years, as good as no deadline
    if (seconds >= forever) {
        deadline.reset();
    } else if (seconds > 0) {
        *deadline +=
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }
    return run(name, deadline, returnAfterSourceHandled != 0);
}

void CFRunLoopStop(CFRunLoopRef rl) {
    auto* loop = cfcore::lookupAs<RunLoopObject>(rl, cfcore::runLoopTypeId, "CFRunLoopStop");
    if (loop->runs > 0) {
        loop->stopRequested = true;
    }
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, CFMachPortRef port,
                                                 CFIndex order) {
    auto* tap =
        cfcore::lookupAs<PortObject>(port, cfcore::machPortTypeId, "CFMachPortCreateRunLoopSource");
    CFRetain(port);
    SourceObject* source = newSource(order);
    source->port = tap;
    return cfcore::toRef<CFRunLoopSourceRef>(source);
}

CFTypeID CFFileDescriptorGetTypeID(void) {
    return cfcore::fileDescriptorTypeId;
}

CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate,
                                           CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context) {
    if (fd < 0) {
        return nullptr;
    }
    auto file = std::make_unique<FileDescriptorObject>(fd, closeOnInvalidate != 0, callout);
    if (context != nullptr) {
        file->context = *context;
        if (context->retain != nullptr) {
            file->context.info = context->retain(context->info);
        }
    }
    return cfcore::toRef<CFFileDescriptorRef>(track(std::move(file)));
}

CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f) {
    return fileObject(f, "CFFileDescriptorGetNativeDescriptor")->fd;
}

void CFFileDescriptorGetContext(CFFileDescriptorRef f, CFFileDescriptorContext* context) {
    const FileDescriptorObject* file = fileObject(f, "CFFileDescriptorGetContext");
    if (context == nullptr) {
        cfcore::abortWith("CFFileDescriptorGetContext called with a NULL context");
    }
    *context = file->context;
}

void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
    FileDescriptorObject* file = fileObject(f, "CFFileDescriptorEnableCallBacks");
    if (file->valid) {
        file->enabled |= callBackTypes & bothCallBacks;
    }
}

void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
    fileObject(f, "CFFileDescriptorDisableCallBacks")->enabled &= ~callBackTypes;
}

void CFFileDescriptorInvalidate(CFFileDescriptorRef f) {
    invalidate(*fileObject(f, "CFFileDescriptorInvalidate"));
}

Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f) {
    return fileObject(f, "CFFileDescriptorIsValid")->valid ? 1 : 0;
}

CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef, CFFileDescriptorRef f,
                                                       CFIndex order) {
    FileDescriptorObject* file = fileObject(f, "CFFileDescriptorCreateRunLoopSource");
    if (!file->valid) {
        return nullptr;
    }
    CFRetain(f);
    SourceObject* source = newSource(order);
    source->file = file;
    return cfcore::toRef<CFRunLoopSourceRef>(source);
}

} // extern "C"
