// The helper reads "Check the site before each save" from the preferences file the application writes (a
// switch turned off by the command line reaches the helper: end to end).
#include "FileText.h"
#include "PreferenceKeys.h"
#include "app/PreferenceSwitch.h"
#include "core/SharedPreferences.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace folvane;

TEST(PreferenceSwitch, ReadsWhatTheApplicationStoredAndTheDefaultWhenItCannot) {
    const auto write = [](const QString& folder, const QByteArray& bytes) {
        ASSERT_TRUE(testsupport::writeAll(folder + "/preferences.plist", bytes));
    };
    const struct {
        const char* what;
        std::function<void(const QString& folder)> prepare;
        bool expected;
    } cases[] = {
        {"no file", [](const QString&) {}, true},
        {"the application's first start", [](const QString& folder) { SharedPreferences{folder}; }, true},
        {"a file of an older version without the key",
         [&](const QString& folder) {
             write(folder, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>Enable caching</key><integer>0</integer></dict></plist>)");
         },
         true},
        {"not a property list", [&](const QString& folder) { write(folder, "garbage"); }, true},
    };
    for (const auto& c : cases) {
        QTemporaryDir folder;
        c.prepare(folder.path());
        EXPECT_EQ(preferenceSwitch(folder.path(), prefkeys::checkSiteBeforeSave, true), c.expected) << c.what;
    }
}
