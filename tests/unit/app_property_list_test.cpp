// Property-list files as the stores read them: whatever the bytes, a list, preferences, or nothing.
#include "FileText.h"
#include "QtPrinters.h"
#include "core/BaseWebsite.h"
#include "core/PropertyListFile.h"
#include "core/SharedPreferences.h"
#include "core/SiteListCodec.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace folvane;

namespace {

QByteArray xmlOf(const Plist& root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    const QByteArray copy(xml, static_cast<qsizetype>(length));
    plist_to_xml_free(xml);
    return copy;
}

} // namespace

// libplist asserts (ending the program) when it hands out a text or key holding a NUL byte: a hand-edited or
// damaged file must be refused as unreadable instead, and kept aside.
TEST(PropertyLists, ATextOrKeyHoldingANulByteIsUnreadableNotACrash) {
    const std::vector<std::shared_ptr<BaseWebsite>> sites{
        std::make_shared<BaseWebsite>("http://www.example.com", "me", "", "Example", "example.com")};
    const QByteArray list = xmlOf(siteListCodec::archive(sites));
    ASSERT_EQ(siteListCodec::sitesFrom(PropertyListFile::parse(list).get())->size(), 1u);
    QByteArray nulInText = list;
    nulInText.replace("<string>Example</string>", QByteArray("<string>Exa\0mple</string>", 25));
    EXPECT_FALSE(siteListCodec::sitesFrom(PropertyListFile::parse(nulInText).get()));

    // A key with a character beyond ASCII is written as UTF-16; its last character becomes NUL.
    QByteArray nulInKey = PropertyListFile::encode(
        SharedPreferences::archive({{QStringLiteral("Enable caching\u00e9"), 1}}).get());
    ASSERT_EQ(nulInKey.count(QByteArray("\0\xe9", 2)), 1);
    nulInKey.replace(QByteArray("\0\xe9", 2), QByteArray(2, '\0'));
    EXPECT_FALSE(SharedPreferences::preferencesFrom(PropertyListFile::parse(nulInKey).get()));

    QTemporaryDir folder;
    ASSERT_TRUE(testsupport::writeAll(folder.filePath("preferences.plist"), nulInKey));
    SharedPreferences preferences(folder.path());
    EXPECT_TRUE(preferences.preferences().empty());
    EXPECT_EQ(testsupport::readAll(preferences.keptAsidePath()), nulInKey);
}
