#include "fs/VolumeControl.h"
#include "sync/MirrorRefresh.h"
#include "tree/MirrorBuilder.h"
#include "tree/WebsiteInUse.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace folvane;

namespace {

struct NoVolume : VolumeControl {
    void holdChanges() override {}
    void resumeChanges() override {}
    void invalidateAll() override {}
    void invalidate(const QString&) override {}
    std::uint64_t openMark() override { return 0; }
    void fileCurrent(const QString&, std::uint64_t) override {}
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

// The user can put a link anywhere in the mirror through the volume, also in place of a file whose site
// text is being fetched: the helper's write must neither follow it nor leave the mirror through a linked
// folder.
TEST(MirrorRefresh, TheSitesTextNeverGoesThroughALink) {
    QTemporaryDir base, outside;
    WebsiteInUse site;
    site.cachedFolderName = QStringLiteral("-1");
    MirrorBuilder parser(base.path(), site);
    NoVolume volume;
    const QString mirror = parser.mirrorFolder();
    MirrorRefresh refresh(site, parser, volume, mirror);
    const QString victim = outside.filePath(QStringLiteral("index.html"));
    QFile mine(victim);
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
    mine.close();
    ASSERT_TRUE(QDir().mkpath(mirror + QStringLiteral("/news")));
    ASSERT_TRUE(QFile::link(victim, mirror + QStringLiteral("/news/index.html")));
    ASSERT_TRUE(QFile::link(outside.path(), mirror + QStringLiteral("/linked")));

    const auto site_text = [](const char* name) {
        return MirrorRefresh::SiteVersion{QString::fromLatin1(name), "c2l0ZQ==", "site"};
    };
    refresh.write(site_text("index.html"), mirror + QStringLiteral("/news/index.html"));
    refresh.write(site_text("index.html"), mirror + QStringLiteral("/linked/index.html"));
    refresh.write(site_text("plain.html"), mirror + QStringLiteral("/news/plain.html"));

    EXPECT_EQ(contents(victim), "mine");
    EXPECT_TRUE(QFileInfo(mirror + QStringLiteral("/news/index.html")).isSymLink());
    EXPECT_EQ(contents(mirror + QStringLiteral("/news/plain.html")), "site");
}
