#include "roles.h"

#include <array>

namespace xdesk {

namespace {

struct RoleEntry {
    std::string_view atspi;
    std::string_view mac;
};

// Roles that map one to one. "text", "entry" and "password text" depend on more than the name
// and are decided in macRoleFor.
constexpr std::array<RoleEntry, 27> plainRoles = {{
    {"application", "AXApplication"},
    {"frame", "AXWindow"},
    {"window", "AXWindow"},
    {"dialog", "AXWindow"},
    {"document text", "AXTextArea"},
    {"terminal", "AXTextArea"},
    {"document web", "AXWebArea"},
    {"combo box", "AXComboBox"},
    {"push button", "AXButton"},
    {"toggle button", "AXCheckBox"},
    {"check box", "AXCheckBox"},
    {"radio button", "AXRadioButton"},
    {"spin button", "AXIncrementor"},
    {"slider", "AXSlider"},
    {"label", "AXStaticText"},
    {"static", "AXStaticText"},
    {"panel", "AXGroup"},
    {"filler", "AXGroup"},
    {"paragraph", "AXGroup"},
    {"scroll pane", "AXScrollArea"},
    {"list", "AXList"},
    {"table", "AXTable"},
    {"menu bar", "AXMenuBar"},
    {"menu", "AXMenu"},
    {"menu item", "AXMenuItem"},
    {"tool bar", "AXToolbar"},
    {"link", "AXLink"},
}};

} // namespace

MacRole macRoleFor(std::string_view atspiRole, TextLines lines) {
    if (atspiRole == "password text") {
        return {"AXTextField", "AXSecureTextField"};
    }
    // GTK 3's entry and text view are both "text"; other toolkits call an entry "entry" and mark
    // a multi-line one. A text that says neither is taken as multi-line, an entry as single-line.
    if (atspiRole == "text") {
        return {lines.singleLine ? "AXTextField" : "AXTextArea", std::nullopt};
    }
    if (atspiRole == "entry") {
        return {lines.multiLine ? "AXTextArea" : "AXTextField", std::nullopt};
    }
    for (const RoleEntry& entry : plainRoles) {
        if (entry.atspi == atspiRole) {
            return {entry.mac, std::nullopt};
        }
    }
    return {"AXUnknown", std::nullopt};
}

} // namespace xdesk
