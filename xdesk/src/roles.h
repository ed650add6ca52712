// The table from AT-SPI roles to the Mac's. Pure: unit-tested without a desktop.
#pragma once

#include <optional>
#include <string_view>

namespace xdesk {

struct MacRole {
    std::string_view role;
    std::optional<std::string_view> subrole;
};

// The AT-SPI states that tell a single-line text from a multi-line one (GTK 3 reports both its
// entry and its text view with the role "text").
struct TextLines {
    bool singleLine = false;
    bool multiLine = false;
};

// The Mac's role (and subrole) for an AT-SPI role, by the name that AT-SPI gives the role
// ("text", "password text", "push button", ...). Roles outside the table are "AXUnknown".
MacRole macRoleFor(std::string_view atspiRole, TextLines lines);

} // namespace xdesk
