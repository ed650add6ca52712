#include "tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fakeinput {

input_event record(unsigned type, unsigned code, int value) {
    input_event event{};
    event.type = static_cast<__u16>(type);
    event.code = static_cast<__u16>(code);
    event.value = value;
    return event;
}

std::vector<input_event> key(unsigned code, int value) {
    return {record(EV_KEY, code, value), record(EV_SYN, SYN_REPORT, 0)};
}

std::set<unsigned> keyboardKeys() {
    std::set<unsigned> keys;
    for (unsigned code = KEY_ESC; code <= KEY_KPDOT; ++code) {
        keys.insert(code); // the main block, the modifiers on the left, the keypad
    }
    for (unsigned code : {KEY_RIGHTCTRL, KEY_RIGHTALT, KEY_LEFTMETA, KEY_RIGHTMETA}) {
        keys.insert(code);
    }
    return keys;
}

namespace {

void check(bool done, const std::string& what) {
    if (!done) {
        throw std::runtime_error("fake input: " + what);
    }
}

std::string joined(const std::set<unsigned>& codes) {
    std::string out;
    for (unsigned code : codes) {
        out += " " + std::to_string(code);
    }
    return out;
}

} // namespace

Tree::Tree() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/fake-input-XXXXXX";
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    root_ = pattern;
    for (const std::string& folder : {root_, root_ + "/input", root_ + "/kernel"}) {
        check(::mkdir(folder.c_str(), 0755) == 0 || folder == root_, "mkdir " + folder);
        check(::chmod(folder.c_str(), 0755) == 0, "chmod " + folder);
    }
}

Tree::~Tree() {
    endAll();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void Tree::add(const std::string& name, const std::set<unsigned>& keys,
               const std::set<unsigned>& held, mode_t mode) {
    std::ofstream description(root_ + "/kernel/" + name);
    description << "name Fake " << name << "\nkeys" << joined(keys) << "\nheld" << joined(held)
                << "\n";
    check(description.good(), "describe " + name);
    const std::string node = folder() + "/" + name;
    check(mkfifo(node.c_str(), 0600) == 0, "mkfifo " + node);
    // Read and write: the pipe then has a writer before anyone reads it, and never blocks here.
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    check(fd >= 0, "open " + node);
    writers_[name] = fd;
    chmod(name, mode);
}

void Tree::addFile(const std::string& name) {
    std::ofstream(folder() + "/" + name) << "not a device\n";
}

void Tree::send(const std::string& name, std::vector<input_event> records) {
    // Stamped as the kernel stamps them, on the clock the tap asks for.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    for (input_event& stamped : records) {
        stamped.input_event_sec = now.tv_sec;
        stamped.input_event_usec = now.tv_nsec / 1000;
    }
    const std::size_t size = records.size() * sizeof(input_event);
    check(write(writers_.at(name), records.data(), size) == static_cast<ssize_t>(size),
          "write " + name);
}

void Tree::endAll() {
    for (const auto& [name, fd] : writers_) {
        close(fd);
    }
    writers_.clear();
}

void Tree::remove(const std::string& name) {
    check(unlink((folder() + "/" + name).c_str()) == 0, "unlink " + name);
}

void Tree::chmod(const std::string& name, mode_t mode) {
    check(::chmod((folder() + "/" + name).c_str(), mode) == 0, "chmod " + name);
}

bool Tree::grabbed() const {
    return std::filesystem::exists(root_ + "/kernel/log");
}

} // namespace fakeinput
