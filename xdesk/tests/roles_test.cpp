// The table from AT-SPI roles to the Mac's.
#include "roles.h"

#include <gtest/gtest.h>

namespace {

struct RoleRow {
    const char* atspi;
    xdesk::TextLines lines;
    const char* role;
    const char* subrole; // nullptr: none
};

// Each role ends up in scribbet's result line. GTK's entry, text view, password entry and button
// are what the desktop tests show; these are the others.
TEST(Roles, TableOfAtspiRoles) {
    const RoleRow rows[] = {
        {"text", {false, false}, "AXTextArea", nullptr},   // says neither
        {"entry", {false, false}, "AXTextField", nullptr}, // browsers' input
        {"entry", {false, true}, "AXTextArea", nullptr},   // browsers' textarea
        {"document text", {false, true}, "AXTextArea", nullptr},
        {"terminal", {}, "AXTextArea", nullptr},
        {"document web", {}, "AXWebArea", nullptr},
        {"combo box", {}, "AXComboBox", nullptr},
        {"frame", {}, "AXWindow", nullptr},
        {"application", {}, "AXApplication", nullptr},
        {"spin button", {true, false}, "AXIncrementor", nullptr},
        {"filler", {}, "AXGroup", nullptr},
        {"Text", {true, false}, "AXUnknown", nullptr}, // names compare exactly
        {"unknown", {}, "AXUnknown", nullptr},
        {"", {}, "AXUnknown", nullptr},
    };
    for (const RoleRow& row : rows) {
        const xdesk::MacRole mac = xdesk::macRoleFor(row.atspi, row.lines);
        EXPECT_EQ(mac.role, row.role) << row.atspi;
        EXPECT_EQ(mac.subrole.has_value(), row.subrole != nullptr) << row.atspi;
        if (mac.subrole && row.subrole != nullptr) {
            EXPECT_EQ(*mac.subrole, row.subrole) << row.atspi;
        }
    }
}

} // namespace
