#include "BusNames.h"
#include "Paths.h"
#include "PendingFiles.h"
#include "PrintableText.h"
#include "tree/WebsiteInUse.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace folvane;

TEST(PrintableLine, ControlCharactersAreEscapedAndTheRestKept) {
    struct Case {
        QString text, line;
    };
    const Case cases[] = {
        {"Saved news/index.html", "Saved news/index.html"},
        {"x\nSaved forged.html", "x\\nSaved forged.html"},
        {"a\rb\tc", "a\\rb\\tc"},
        {QStringLiteral("bell\x07 esc\x1b[2J del\x7f"), "bell\\x07 esc\\x1b[2J del\\x7f"},
        {QStringLiteral("nel\u0085 ls\u2028 ps\u2029 rlo\u202e lri\u2066"),
         "nel\\x85 ls\\u2028 ps\\u2029 rlo\\u202e lri\\u2066"},
        {QStringLiteral("a") + QChar(0) + QStringLiteral("b"), "a\\x00b"},
        {QStringLiteral("back\\slash, café, <b>&amp;</b>"),
         QStringLiteral("back\\slash, café, <b>&amp;</b>")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(printableLine(c.text), c.line) << c.text.toStdString();
        EXPECT_EQ(printableLine(c.line), c.line) << "escaping twice changes nothing";
    }
}

// A title whose names on the bus would be another site's: "refresh-" + "done-X" is "refresh-done-" + "X".
TEST(BusNames, TitlesThatWouldShareAnotherSitesNamesAreFound) {
    EXPECT_EQ(bus::clashingTitleStart("done-X"), QStringLiteral("done-"));
    EXPECT_EQ(bus::clashingTitleStart("done-"), QStringLiteral("done-"));
    for (const char* fine : {"X", "done", "Done-X", " done-X", "X done-", "refresh-X", "pending-X"})
        EXPECT_FALSE(bus::clashingTitleStart(fine)) << fine;
    // Whatever the prefixes are, no two titles the check lets through share a name.
    const QStringList titles = {"X", "done-X", "done", "files-X", "uploads-X", "pending-X", "-X", "X-"};
    for (const QString& a : titles) {
        for (const QString& b : titles) {
            if (a == b || bus::clashingTitleStart(a) || bus::clashingTitleStart(b))
                continue;
            for (const QString& prefixA : bus::allPrefixes)
                for (const QString& prefixB : bus::allPrefixes)
                    EXPECT_NE(prefixA + a, prefixB + b) << a.toStdString() << " / " << b.toStdString();
        }
    }
}

// (Versions compare digit run by digit run, by value: the update feed's, the FUSE check's and the add-on
// check's cases.)

TEST(StableHash, SameTitleSameNameDifferentTitlesDiffer) {
    // The mirror folder name must not change between runs or releases: pinned values.
    EXPECT_EQ(stableHashText(""), "-3750763034362895579");
    EXPECT_EQ(stableHashText("My Site"), stableHashText("My Site"));
    EXPECT_NE(stableHashText("A"), stableHashText("AB"));
}

// (XDG_DATA_HOME and FOLVANE_MOUNT_ROOT, when set, are where every end-to-end session puts them.)
TEST(Paths, WithoutTheirVariablesTheSupportFolderAndMountRootAreBelowHome) {
    qputenv("HOME", "/home/u");
    qputenv("XDG_DATA_HOME", "");
    qputenv("FOLVANE_MOUNT_ROOT", "");
    EXPECT_EQ(paths::supportFolder(), "/home/u/.local/share/Folvane 3");
    EXPECT_EQ(paths::mountPointFor("My Site"), "/home/u/Folvane/My Site");
}

TEST(PendingFiles, TravelAsOneTextAndBadEntriesAreLeftOut) {
    const QList<PendingFile> files = {
        {QStringLiteral("/news/article.html"), PendingFile::State::refused,
         QStringLiteral("Template is locked.")},
        {QStringLiteral("/site/ünï cödé.html"),
         PendingFile::State::retrying,
         {},
         {},
         QDateTime(QDate(2026, 12, 7), QTime(21, 30, 5), Qt::UTC)},
    };
    EXPECT_EQ(pendingFilesFrom(pendingFilesText(files)), files);
    EXPECT_TRUE(pendingFilesFrom(QStringLiteral("{\"path\": \"/a\"}")).isEmpty());
    const QList<PendingFile> kept = pendingFilesFrom(QStringLiteral(
        R"([{"path": "/a", "state": "waiting"}, {"path": "", "state": "waiting"}, {"path": "/b", "state": "lost"},
            {"state": "waiting"}, 7])"));
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].path, QStringLiteral("/a"));
    EXPECT_EQ(kept[0].state, PendingFile::State::waiting);
}
