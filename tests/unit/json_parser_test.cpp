#include "tree/JSONParser.h"

#include "QtPrinters.h"
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace folvane;

namespace {

QString b64(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

// Builds the mirror for one answer in a fresh base folder.
struct Build {
    Build(CMS cms, const std::string& answer) {
        site.cms = cms;
        site.cachedFolderName = QStringLiteral("-42");
        parser = std::make_unique<JSONParser>(std::make_shared<Json>(Json::parse(answer)), base.path(), site);
        parser->startParser();
    }
    QString mirror() const { return parser->mirrorFolder(); }
    QByteArray read(const QString& relative) const {
        QFile file(mirror() + relative);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    PathDictionaries dictionaries() {
        return site.withDictionaries([](const PathDictionaries& d) { return d; });
    }
    // Every entry below the base folder, relative to it.
    QStringList everything() const {
        QStringList found;
        QDirIterator it(base.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next().mid(base.path().size());
        found.sort();
        return found;
    }

    QTemporaryDir base;
    WebsiteInUse site;
    std::unique_ptr<JSONParser> parser;
};

const std::string eeAnswer = R"({"folders":[
  {"id":1,"name":"site","is_special":true,"files":[{"id":3,"name":"index.html","data":")" +
                             b64("<h1>Hi</h1>\n").toStdString() + R"("}],"subfolders":[]},
  {"id":2,"name":"news","is_special":false,"files":[{"id":4,"name":"a.html","data":""}],"subfolders":[]},
  {"id":"snippets","name":"snippets","is_special":true,"files":[{"id":5,"name":"header.html","data":"SGk="}]},
  {"id":"variables","name":"Global Vars","is_special":true,"files":[{"id":6,"name":"site_name","data":"eA=="}]}
]})";

} // namespace

TEST(JSONParser, ExpressionEngineGroupsBecomeFoldersAndTemplatesFiles) {
    Build b(CMS::expressionEngine, eeAnswer);
    EXPECT_EQ(b.read("/site/index.html"), "<h1>Hi</h1>\n");
    EXPECT_EQ(b.read("/news/a.html"), "");
    EXPECT_EQ(b.read("/Partials/header.html"), "Hi");
    EXPECT_EQ(b.read("/Global Vars/site_name"), "x");

    const PathDictionaries d = b.dictionaries();
    const QString m = b.mirror();
    EXPECT_EQ(m, b.base.path() + "/.cache/-42");
    const FileRecord& index = d.fileDictionary.at(m + "/site/index.html");
    EXPECT_EQ(index.name, "index.html");
    EXPECT_EQ(index.templateGroupID, "1");
    EXPECT_EQ(index.templateID, "3");
    EXPECT_EQ(index.encodedData, b64("<h1>Hi</h1>\n").toLatin1());
    EXPECT_EQ(d.fileDictionary.at(m + "/Partials/header.html").templateGroupID, "snippets");

    const FolderRecord& site = d.folderDictionary.at(m + "/site");
    EXPECT_EQ(site.name, "/site");
    EXPECT_EQ(site.templateGroupID, "1");
    EXPECT_EQ(site.isSpecial, true);
    EXPECT_EQ(site.paths, QStringList{m + "/site/index.html"});
    EXPECT_EQ(d.folderDictionary.at(m + "/Partials").templateGroupID, "snippets");
    EXPECT_EQ(d.folderDictionary.at(m + "/Global Vars").templateGroupID, "variables");
    for (const auto& [key, record] : d.fileDictionary)
        EXPECT_FALSE(key.contains("//")) << key.toStdString();
}

TEST(JSONParser, WordPressGroupsNestAndKeepTextIds) {
    Build b(CMS::wordPress, R"({"folders":[{"id":"theme","name":"theme","is_special":false,
        "files":[{"id":"17","name":"index.php","data":"PD9waHA="}],
        "subfolders":[{"id":"theme/parts","name":"parts","files":[{"id":"18","name":"h.php","data":""},
                                                               {"id":19,"name":"int-id.php","data":""}],
                       "subfolders":[]}]}]})");
    const QString m = b.mirror();
    EXPECT_EQ(b.read("/theme/index.php"), "<?php");
    const PathDictionaries d = b.dictionaries();
    EXPECT_EQ(d.fileDictionary.at(m + "/theme/parts/h.php").templateGroupID, "theme/parts");
    EXPECT_EQ(d.fileDictionary.at(m + "/theme/parts/h.php").templateID, "18");
    EXPECT_FALSE(d.fileDictionary.count(m + "/theme/parts/int-id.php")) << "WordPress ids are texts";
    EXPECT_EQ(d.folderDictionary.at(m + "/theme").isSpecial, false);
    EXPECT_EQ(d.folderDictionary.at(m + "/theme").paths,
              (QStringList{m + "/theme/index.php", m + "/theme/parts"}));
}

TEST(JSONParser, UnknownCmsBuildsNothingAndEmptyAnswerLeavesAnEmptyMirror) {
    Build unknown(CMS::default_, eeAnswer);
    EXPECT_EQ(unknown.everything(), (QStringList{"/.cache", "/.cache/-42"}));
    EXPECT_TRUE(unknown.dictionaries().fileDictionary.empty());

    Build empty(CMS::expressionEngine, "{}");
    EXPECT_EQ(empty.everything(), (QStringList{"/.cache", "/.cache/-42"}));
    EXPECT_EQ(empty.parser->basePath(), empty.base.path() + "/.cache/");
}

TEST(JSONParser, SubfoldersBeforeFilesAndSharedNamesFollowTheWalk) {
    Build b(CMS::wordPress, R"({"folders":{"first":{"subfolders":[{"id":"a/b","name":"b","files":[]}],
        "id":"a","name":"a","files":{"x":{"id":"1","name":"one.php","data":""}}},
        "second":{"id":"a2","name":"a","files":[{"id":"2","name":"two.php","data":""}]}}})");
    const QString m = b.mirror();
    const PathDictionaries d = b.dictionaries();
    EXPECT_TRUE(QDir(m + "/a/b").exists());
    // The child was recorded before its parent's record existed, so the parent does not list it; the
    // second group named "a" shares the folder and its record wins.
    EXPECT_EQ(d.folderDictionary.at(m + "/a").templateGroupID, "a2");
    EXPECT_EQ(d.folderDictionary.at(m + "/a").paths, QStringList{m + "/a/two.php"});
    EXPECT_EQ(b.read("/a/one.php"), "");
    EXPECT_EQ(b.read("/a/two.php"), "");
}

TEST(JSONParser, GroupsWithoutTheirFieldsAreSkippedButTheirSubfoldersWalked) {
    Build b(CMS::expressionEngine, R"({"folders":[
        {"id":"7","name":"textid","is_special":false,"files":[{"id":1,"name":"x.html","data":""}]},
        {"id":8,"name":"nospecial","files":[{"id":2,"name":"y.html","data":""}],
         "subfolders":[{"id":9,"name":"inner","is_special":false,"files":[{"id":3,"name":"z.html","data":""}]}]},
        {"id":10,"name":"ok","is_special":false,"files":[{"id":"text","name":"t.html","data":""},
                                                        {"id":4,"name":"nodata.html"}]}]})");
    const QString m = b.mirror();
    const PathDictionaries d = b.dictionaries();
    EXPECT_FALSE(QDir(m + "/textid").exists());
    EXPECT_FALSE(d.folderDictionary.count(m + "/nospecial"));
    EXPECT_EQ(b.read("/nospecial/inner/z.html"), "");
    // An ExpressionEngine template whose id is not an integer is kept with an empty id.
    EXPECT_EQ(d.fileDictionary.at(m + "/ok/t.html").templateID, "");
    EXPECT_FALSE(d.fileDictionary.count(m + "/ok/nodata.html"));
}

TEST(JSONParser, InvalidBase64GivesAnEmptyFileAndKeepsTheText) {
    Build b(
        CMS::expressionEngine,
        R"({"folders":[{"id":1,"name":"g","is_special":false,"files":[{"id":1,"name":"bad.html","data":"%%not base64"}]}]})");
    EXPECT_EQ(b.read("/g/bad.html"), "");
    EXPECT_EQ(b.dictionaries().fileDictionary.at(b.mirror() + "/g/bad.html").encodedData, "%%not base64");
}

TEST(JSONParser, HostileNamesNeverLeaveTheMirror) {
    const std::string longName(4096, 'n');
    Json answer = Json::parse(R"({"folders":[]})");
    for (const std::string& name : {std::string("../x"), std::string("a/b"), std::string(".."),
                                    std::string("."), std::string(""), longName, std::string("nul\0x", 5)}) {
        answer["folders"].push_back(
            {{"id", name},
             {"name", name},
             {"files", Json::array()},
             {"subfolders", Json::array({{{"id", "s"}, {"name", "s"}, {"files", Json::array()}}})}});
    }
    answer["folders"].push_back({{"id", "ok"},
                                 {"name", "ok"},
                                 {"files",
                                  {{{"id", "1"}, {"name", "../../../escaped"}, {"data", "eA=="}},
                                   {{"id", "2"}, {"name", "sub/file"}, {"data", "eA=="}},
                                   {{"id", "3"}, {"name", ".."}, {"data", "eA=="}},
                                   {{"id", "4"}, {"name", "fine.php"}, {"data", "eA=="}}}}});
    Build b(CMS::wordPress, answer.dump());
    EXPECT_EQ(b.everything(),
              (QStringList{"/.cache", "/.cache/-42", "/.cache/-42/ok", "/.cache/-42/ok/fine.php"}));
    EXPECT_EQ(b.dictionaries().fileDictionary.size(), 1u);
}

TEST(JSONParser, RebuildNeverWritesThroughALinkInTheMirror) {
    QTemporaryDir outside;
    Build b(CMS::wordPress,
            R"({"folders":[{"id":"g","name":"g","files":[{"id":"1","name":"f.php","data":"eA=="}]}]})");
    // A link on the volume where a group folder will be written again, as a refresh does.
    QDir(b.mirror() + "/g").removeRecursively();
    ASSERT_TRUE(QFile::link(outside.path(), b.mirror() + "/g"));
    b.parser->setRefreshing(true);
    b.parser->startParser();
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
}

TEST(JSONParser, ConstructionEmptiesAnOldMirrorAndDeepNestingIsSkipped) {
    QTemporaryDir base;
    QDir().mkpath(base.path() + "/.cache/-1/stale");
    WebsiteInUse site;
    site.cms = CMS::wordPress;
    site.cachedFolderName = QStringLiteral("-1");
    std::string deep = R"({"folders":)";
    for (int i = 0; i < 5000; ++i)
        deep += "[";
    for (int i = 0; i < 5000; ++i)
        deep += "]";
    deep += "}";
    JSONParser parser(std::make_shared<Json>(Json::parse(deep)), base.path(), site);
    parser.startParser();
    EXPECT_TRUE(QDir(base.path() + "/.cache/-1").isEmpty());
}
