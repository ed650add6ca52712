// A folder of stand-in input devices for tests (kernel.cpp answers their ioctls): the folder that
// the tests give the device tap in place of /dev/input, and the pipes whose writing ends stand for
// what each device sends.
#pragma once

#include <linux/input.h>
#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace fakeinput {

// One record as a device sends it.
input_event record(unsigned type, unsigned code, int value);

// A key event as a keyboard sends it: the key and the report that ends its frame.
std::vector<input_event> key(unsigned code, int value);

// The keys of a full keyboard: letters, digits, the space bar and the modifiers among them.
std::set<unsigned> keyboardKeys();

class Tree {
public:
    // A fresh folder under the temporary folder, readable by every user.
    Tree();
    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    // What stands for /dev/input.
    std::string folder() const { return root_ + "/input"; }

    // A device in the folder that can send `keys` and holds `held`. The tree keeps its writing
    // end open until endAll(); `mode` is the node's permissions.
    void add(const std::string& name, const std::set<unsigned>& keys,
             const std::set<unsigned>& held = {}, mode_t mode = 0644);
    // A file in the folder that is no device at all.
    void addFile(const std::string& name);
    // Records that the device sends, in one write, stamped with the time of sending.
    void send(const std::string& name, std::vector<input_event> records);
    // Every device stops sending.
    void endAll();
    // The device's node leaves the folder.
    void remove(const std::string& name);
    void chmod(const std::string& name, mode_t mode);
    // Whether anything grabbed a device.
    bool grabbed() const;

private:
    std::string root_;
    std::map<std::string, int> writers_;
};

} // namespace fakeinput
