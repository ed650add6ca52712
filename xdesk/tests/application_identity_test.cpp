// What an active window says of its application.
#include "application_identity.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

// A GTK application's id, a class for the identifier and a line break in a class are the desktop
// tests' to show; these are the windows a test application does not make.
TEST(Applications, WhatAnActiveWindowSaysOfItsApplication) {
    using std::nullopt;
    using Text = std::optional<std::string>;
    struct Row {
        const char* what;
        xdesk::WindowFacts window;
        Text bundleIdentifier;
        Text localizedName;
        Text executableName;
    };
    const std::string notes("notes\0Notes\0", 12);
    const Row rows[] = {
        {"empty application id", {41, notes, "", "/usr/bin/notes"}, "Notes", "Notes", "notes"},
        {"no WM_CLASS", {41, nullopt, nullopt, "/opt/x/bin/x-app"}, nullopt, nullopt, "x-app"},
        {"empty class", {41, std::string("x\0\0", 3), nullopt, nullopt}, nullopt, nullopt, nullopt},
        {"class without NULs",
         {41, std::string("lonely"), nullopt, nullopt},
         nullopt,
         nullopt,
         nullopt},
        {"class without its NUL",
         {41, std::string("i\0Klass", 7), nullopt, nullopt},
         "Klass",
         "Klass",
         nullopt},
        {"replaced executable",
         {41, nullopt, nullopt, "/usr/bin/notes (deleted)"},
         nullopt,
         nullopt,
         "notes"},
        {"Latin-1 class",
         {41, std::string("i\0Caf\xe9\0", 7), nullopt, nullopt},
         "Caf\xc3\xa9",
         "Caf\xc3\xa9",
         nullopt},
    };
    for (const Row& row : rows) {
        const xdesk::RunningApplication application = xdesk::applicationFor(row.window);
        EXPECT_EQ(application.bundleIdentifier, row.bundleIdentifier) << row.what;
        EXPECT_EQ(application.localizedName, row.localizedName) << row.what;
        EXPECT_EQ(application.executableName, row.executableName) << row.what;
        EXPECT_EQ(application.processIdentifier, 41) << row.what;
    }
}

TEST(Applications, TextPropertiesBecomeUtf8) {
    EXPECT_EQ(xdesk::textPropertyUtf8("plain"), "plain");
    EXPECT_EQ(xdesk::textPropertyUtf8("\xc3\xa9\xf0\x9f\x98\x80"), "\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(xdesk::textPropertyUtf8("\xe9t\xe9"), "\xc3\xa9t\xc3\xa9");
    // Overlong forms and encoded surrogates are not UTF-8: each byte is a Latin-1 character.
    EXPECT_EQ(xdesk::textPropertyUtf8("\xc0\xaf"), "\xc3\x80\xc2\xaf");
    EXPECT_EQ(xdesk::textPropertyUtf8("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");
}

} // namespace
