#include "tree/MirrorBuilder.h"
#include "tree/TemplateListSpool.h"

#include "QtPrinters.h"
#include "RecordsText.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <vector>

#include <gtest/gtest.h>

using namespace folvane;

namespace {

QString b64(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

// Builds from a whole answer as a refresh does: kept in a spool beside the mirror, then read back.
bool buildSpooled(MirrorBuilder& builder, const std::string& answer) {
    TemplateListSpool spool(QFileInfo(builder.mirrorFolder()).path());
    spool.append(QByteArrayView(answer.data(), static_cast<qsizetype>(answer.size())));
    return spool.buildInto(builder);
}

// Builds the mirror for one answer in a fresh base folder through a spool, and again in another from its
// bytes fed `piece` at a time as they arrive: both must build the same tree and records.
struct Build {
    Build(CMS cms, const std::string& answer, ListBounds bounds = {}, size_t piece = 5) {
        site.cms = streamedSite.cms = cms;
        site.cachedFolderName = streamedSite.cachedFolderName = QStringLiteral("-42");
        parser = std::make_unique<MirrorBuilder>(base.path(), site, bounds);
        EXPECT_TRUE(buildSpooled(*parser, answer));

        MirrorBuilder streamed(streamedBase.path(), streamedSite, bounds);
        for (size_t at = 0; at < answer.size(); at += piece)
            streamed.feed(QByteArrayView(answer.data() + at,
                                         static_cast<qsizetype>(std::min(piece, answer.size() - at))));
        EXPECT_TRUE(streamed.finish());
        EXPECT_EQ(entriesBelow(streamedBase.path().toStdString()), entriesBelow(base.path().toStdString()));
        EXPECT_EQ(recordsText(streamedSite, streamedBase.path()), recordsText(site, base.path()));
    }
    QString mirror() const { return parser->mirrorFolder(); }
    QByteArray read(const QString& relative) const {
        QFile file(mirror() + relative);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    RecordTree records() {
        return site.withRecords([](const RecordTree& records) { return records; });
    }
    // Every entry below the base folder, relative to it.
    QStringList everything() const {
        QStringList found;
        for (const auto& [path, content] : entriesBelow(base.path().toStdString()))
            found << QString::fromStdString(path);
        return found;
    }

    QTemporaryDir base, streamedBase;
    WebsiteInUse site, streamedSite;
    std::unique_ptr<MirrorBuilder> parser;
};

const std::string eeAnswer = R"({"folders":[
  {"id":1,"name":"site","is_special":true,"files":[{"id":3,"name":"index.html","data":")" +
                             b64("<h1>Hi</h1>\n").toStdString() + R"("}],"subfolders":[]},
  {"id":2,"name":"news","is_special":false,"files":[{"id":4,"name":"a.html","data":""}],"subfolders":[]},
  {"id":"snippets","name":"snippets","is_special":true,"files":[{"id":5,"name":"header.html","data":"SGk="}]},
  {"id":"variables","name":"Global Vars","is_special":true,"files":[{"id":6,"name":"site_name","data":"eA=="}]}
]})";

} // namespace

TEST(MirrorBuilder, ExpressionEngineGroupsBecomeFoldersAndTemplatesFiles) {
    Build b(CMS::expressionEngine, eeAnswer);
    EXPECT_EQ(b.read("/site/index.html"), "<h1>Hi</h1>\n");
    EXPECT_EQ(b.read("/news/a.html"), "");
    EXPECT_EQ(b.read("/Partials/header.html"), "Hi");
    EXPECT_EQ(b.read("/Global Vars/site_name"), "x");

    const RecordTree d = b.records();
    const QString m = b.mirror();
    EXPECT_EQ(m, b.base.path() + "/.cache/-42");
    const FileRecord& index = *d.file(m + "/site/index.html");
    EXPECT_EQ(index.name, "index.html");
    EXPECT_EQ(index.templateGroupID, "1");
    EXPECT_EQ(index.templateID, "3");
    EXPECT_EQ(index.encodedData, ContentDigest::ofContent("<h1>Hi</h1>\n"));
    EXPECT_EQ(d.file(m + "/Partials/header.html")->templateGroupID, "snippets");

    const FolderRecord& site = *d.folder(m + "/site");
    EXPECT_EQ(site.name, "/site");
    EXPECT_EQ(site.templateGroupID, "1");
    EXPECT_EQ(site.isSpecial, true);
    EXPECT_EQ(d.folder(m + "/Partials")->templateGroupID, "snippets");
    EXPECT_EQ(d.folder(m + "/Global Vars")->templateGroupID, "variables");
    for (const auto& [key, record] : d.all())
        EXPECT_FALSE(key.contains("//")) << key.toStdString();
}

TEST(MirrorBuilder, WordPressGroupsNestAndKeepTextIds) {
    Build b(CMS::wordPress, R"({"folders":[{"id":"theme","name":"theme","is_special":false,
        "files":[{"id":"17","name":"index.php","data":"PD9waHA="}],
        "subfolders":[{"id":"theme/parts","name":"parts","files":[{"id":"18","name":"h.php","data":""},
                                                               {"id":19,"name":"int-id.php","data":""}],
                       "subfolders":[]}]}]})");
    const QString m = b.mirror();
    EXPECT_EQ(b.read("/theme/index.php"), "<?php");
    const RecordTree d = b.records();
    EXPECT_EQ(d.file(m + "/theme/parts/h.php")->templateGroupID, "theme/parts");
    EXPECT_EQ(d.file(m + "/theme/parts/h.php")->templateID, "18");
    EXPECT_FALSE(d.file(m + "/theme/parts/int-id.php") != nullptr) << "WordPress ids are texts";
    EXPECT_EQ(d.folder(m + "/theme")->isSpecial, false);
    EXPECT_EQ(d.children(m + "/theme"), (QStringList{m + "/theme/index.php", m + "/theme/parts"}));
}

TEST(MirrorBuilder, UnknownCmsBuildsNothingAndEmptyAnswerLeavesAnEmptyMirror) {
    Build unknown(CMS::default_, eeAnswer);
    EXPECT_EQ(unknown.everything(), (QStringList{"/.cache", "/.cache/-42"}));
    EXPECT_EQ(unknown.records().fileCount(), 0);

    Build empty(CMS::expressionEngine, "{}");
    EXPECT_EQ(empty.everything(), (QStringList{"/.cache", "/.cache/-42"}));
    // A refresh after an empty first answer builds into the mirror, with the records keyed there.
    EXPECT_TRUE(buildSpooled(*empty.parser, eeAnswer));
    EXPECT_EQ(empty.read("/site/index.html"), "<h1>Hi</h1>\n");
    EXPECT_NE(empty.records().file(empty.mirror() + "/site/index.html"), nullptr);
}

TEST(MirrorBuilder, SubfoldersBeforeFilesAndSharedNamesFollowTheWalk) {
    Build b(CMS::wordPress, R"({"folders":{"first":{"subfolders":[{"id":"a/b","name":"b","files":[]}],
        "id":"a","name":"a","files":{"x":{"id":"1","name":"one.php","data":""}}},
        "second":{"id":"a2","name":"a","files":[{"id":"2","name":"two.php","data":""}]}}})");
    const QString m = b.mirror();
    const RecordTree d = b.records();
    EXPECT_TRUE(QDir(m + "/a/b").exists());
    // A child recorded before its parent's record is its child all the same; the second group named "a"
    // shares the folder and its record wins.
    EXPECT_EQ(d.folder(m + "/a")->templateGroupID, "a2");
    EXPECT_EQ(d.children(m + "/a"), (QStringList{m + "/a/b", m + "/a/one.php", m + "/a/two.php"}));
    EXPECT_EQ(b.read("/a/one.php"), "");
    EXPECT_EQ(b.read("/a/two.php"), "");
}

TEST(MirrorBuilder, GroupsWithoutTheirFieldsAreSkippedButTheirSubfoldersWalkedAndBadDataIsEmpty) {
    Build b(CMS::expressionEngine, R"({"folders":[
        {"id":"7","name":"textid","is_special":false,"files":[{"id":1,"name":"x.html","data":""}]},
        {"id":8,"name":"nospecial","files":[{"id":2,"name":"y.html","data":""}],
         "subfolders":[{"id":9,"name":"inner","is_special":false,"files":[{"id":3,"name":"z.html","data":""}]}]},
        {"id":10,"name":"ok","is_special":false,"files":[{"id":"text","name":"t.html","data":""},
            {"id":4,"name":"nodata.html"},{"id":5,"name":"bad.html","data":"%%not b\u00e4se64"}]}]})");
    const QString m = b.mirror();
    const RecordTree d = b.records();
    EXPECT_FALSE(QDir(m + "/textid").exists());
    EXPECT_FALSE(d.folder(m + "/nospecial") != nullptr);
    EXPECT_EQ(b.read("/nospecial/inner/z.html"), "");
    // An ExpressionEngine template whose id is not an integer is kept with an empty id.
    EXPECT_EQ(d.file(m + "/ok/t.html")->templateID, "");
    EXPECT_FALSE(d.file(m + "/ok/nodata.html") != nullptr);
    // Data that is no Base64 gives an empty file; the record keeps the text (in Latin-1).
    EXPECT_EQ(b.read("/ok/bad.html"), "");
    EXPECT_EQ(d.file(m + "/ok/bad.html")->encodedData, ContentDigest::ofBase64("%%not b\xe4se64"));
}

TEST(MirrorBuilder, HostileNamesNeverLeaveTheMirror) {
    const std::string longName(256, 'n'), longest = std::string(251, 'f') + ".php"; // NAME_MAX is 255 bytes
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
                                   {{"id", "4"}, {"name", "fine.php"}, {"data", "eA=="}},
                                   {{"id", "5"}, {"name", longest}, {"data", "eA=="}}}}});
    Build b(CMS::wordPress, answer.dump());
    EXPECT_EQ(b.everything(),
              (QStringList{"/.cache", "/.cache/-42", "/.cache/-42/ok",
                           "/.cache/-42/ok/" + QString::fromStdString(longest), "/.cache/-42/ok/fine.php"}));
    EXPECT_EQ(b.records().fileCount(), 2);
    // The walk goes 200 lists deep, the list of groups included: 199 levels of groups; deeper is skipped.
    Json deep = Json::parse(R"({"id":"d","name":"d","files":[]})");
    for (int level = 1; level < 202; ++level)
        deep = {{"id", "d"}, {"name", "d"}, {"files", Json::array()}, {"subfolders", Json::array({deep})}};
    Build nested(CMS::wordPress, Json{{"folders", Json::array({deep})}}.dump());
    EXPECT_EQ(nested.everything().last().count(QStringLiteral("/d")), 199);
}

TEST(MirrorBuilder, NamesThatAreNotUtf8AreSkippedAndTheRestIsBuilt) {
    // A bad byte in a template name, in a group name, and a sequence cut short right before the quote.
    const std::string answer = "{\"folders\":["
                               "{\"id\":1,\"name\":\"site\",\"is_special\":true,\"files\":["
                               "{\"id\":3,\"name\":\"inde\xff.html\",\"data\":\"eA==\"},"
                               "{\"id\":4,\"name\":\"caf\xc3\xa9.html\",\"data\":\"eQ==\"},"
                               "{\"id\":5,\"name\":\"cut\xe2\x82\",\"data\":\"eQ==\"}]},"
                               "{\"id\":2,\"name\":\"n\xc0\xafws\",\"is_special\":false,\"files\":["
                               "{\"id\":6,\"name\":\"a.html\",\"data\":\"eA==\"}]}]}";
    Build b(CMS::expressionEngine, answer);
    EXPECT_EQ(b.everything(), (QStringList{"/.cache", "/.cache/-42", "/.cache/-42/site",
                                           QString::fromUtf8("/.cache/-42/site/caf\xc3\xa9.html")}));
    EXPECT_EQ(b.read(QString::fromUtf8("/site/caf\xc3\xa9.html")), "y");
}

TEST(MirrorBuilder, RebuildNeverWritesThroughALinkInTheMirror) {
    QTemporaryDir outside;
    const std::string answer =
        R"({"folders":[{"id":"g","name":"g","files":[{"id":"1","name":"f.php","data":"eA=="}]}]})";
    Build b(CMS::wordPress, answer);
    // A link on the volume where a group folder will be written again, as a refresh does.
    QDir(b.mirror() + "/g").removeRecursively();
    ASSERT_TRUE(QFile::link(outside.path(), b.mirror() + "/g"));
    buildSpooled(*b.parser, answer);
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
}

// A list may not make the helper hold without end: past the number of templates or groups, or a template
// too large or nested too deeply to be one, what exceeds is skipped and the rest is built.
TEST(MirrorBuilder, WhatExceedsTheListsBoundsIsSkippedAndTheRestBuilt) {
    const ListBounds bounds{
        .templates = 5, .groups = 2, .templateBytes = 1024, .templateNesting = 3, .groupHeldBytes = 4096};
    const auto file = [](const std::string& name, const std::string& more = {}) {
        return R"({"id":")" + name + R"(","name":")" + name + R"(","data":"eA==")" + more + "}";
    };
    const std::string big(2000, 'A');
    const std::string answer =
        R"({"folders":[)"
        // Too large, too deep, then two that fit; each counts against the number of templates.
        R"({"id":"a","name":"a","files":[)" +
        file("big", R"(,"x":")" + big + R"(")") + "," + file("deep", R"(,"meta":{"a":{"b":{"c":1}}})") + "," +
        file("a1", R"(,"meta":{"a":1})") + "," + file("a2") +
        "]},"
        // Its files held until its name comes, more than a group may hold: none of them is built.
        R"({"files":[)" +
        file("held", R"(,"x":")" + big + big + big + R"(")") +
        R"(],"id":"h","name":"h"},)"
        R"({"id":"b","name":"b","files":[)" +
        file("b1") + "," + file("b2") + "," + file("b3") +
        "]},"
        R"({"id":"c","name":"c","files":[)" +
        file("c1") +
        "]}"
        "]}";
    Build b(CMS::wordPress, answer, bounds);
    EXPECT_EQ(b.everything(), (QStringList{"/.cache", "/.cache/-42", "/.cache/-42/a", "/.cache/-42/a/a1",
                                           "/.cache/-42/a/a2", "/.cache/-42/b", "/.cache/-42/b/b1"}));
    const RecordTree d = b.records();
    EXPECT_EQ(d.fileCount(), 3);
    EXPECT_EQ(d.folderCount(), 2);

    // Without bounds this small, the same list is built whole.
    Build whole(CMS::wordPress, answer);
    EXPECT_EQ(whole.records().fileCount(), 9);
}

namespace {

// Whether a kept list may replace the mirror: read as leniently as the build reads it.
TEST(TemplateListSpool, OnlyOneWholeObjectWithFoldersIsUsable) {
    QTemporaryDir folder;
    const std::vector<std::pair<std::string, bool>> lists{
        {eeAnswer, true},
        {R"({"folders":null})", true},
        {"{\"folders\":[{\"id\":1,\"name\":\"n\xc0\xafws\",\"files\":[]}]}", true}, // not UTF-8: repaired
        {R"( {"x":{"folders":[]},"folders":[]} )", true},
        {eeAnswer.substr(0, eeAnswer.size() - 2), false}, // cut short
        {"<html><body>Fatal error</body></html>", false},
        {"", false},
        {"{}", false},
        {R"({"x":{"folders":[]}})", false},
        {R"([{"folders":[]}])", false},
        {R"({"folders":[]} {"folders":[]})", false},
        {"{\"folders\":[]\xff}", false}, // a bad byte outside a string
    };
    for (const auto& [list, usable] : lists) {
        TemplateListSpool spool(folder.path());
        for (size_t at = 0; at < list.size(); at += 3)
            spool.append(QByteArrayView(list.data() + at,
                                        static_cast<qsizetype>(std::min<size_t>(3, list.size() - at))));
        EXPECT_EQ(spool.isUsable(), usable) << list;
        EXPECT_TRUE(spool.failure().isEmpty()) << list;
    }
    EXPECT_TRUE(QDir(folder.path()).isEmpty()) << "a spool leaves no name behind";
}

// The spool is read back in pieces of a megabyte: names, numbers and templates split across them.
TEST(TemplateListSpool, AListOfManyPiecesBuildsAsItWouldArriving) {
    Json answer = Json::parse(R"({"folders":[]})");
    for (int g = 0; g < 3; ++g) {
        Json files = Json::array();
        for (int t = 0; t < 400; ++t)
            files.push_back({{"id", std::to_string(g * 1000 + t)},
                             {"name", "t" + std::to_string(t) + ".php"},
                             {"data", b64(QByteArray(1000 + t, char('a' + t % 26))).toStdString()}});
        files.push_back({{"id", std::to_string(g * 1000 + 999)},
                         {"name", "big.php"},
                         {"data", b64(QByteArray(900'000, char('A' + g))).toStdString()}});
        answer["folders"].push_back(
            {{"id", "g" + std::to_string(g)}, {"name", "g" + std::to_string(g)}, {"files", files}});
    }
    const std::string text = answer.dump();
    ASSERT_GT(text.size(), size_t(3) << 20);
    Build b(CMS::wordPress, text, {}, 4093);
    EXPECT_EQ(b.read("/g2/big.php"), QByteArray(900'000, 'C'));
    EXPECT_EQ(b.records().fileCount(), 3 * 401);
}

} // namespace

// The records keep a digest of the Base64 text in place of the text: equal exactly when the texts are, and a
// record that never got any content holds the empty text's.
TEST(ContentDigest, StandsForTheBase64TextExactly) {
    EXPECT_EQ(ContentDigest(), ContentDigest::ofBase64(""));
    EXPECT_EQ(ContentDigest(), ContentDigest::ofContent(""));
    EXPECT_EQ(ContentDigest::ofContent("<p>x</p>"), ContentDigest::ofBase64("PHA+eDwvcD4="));
    EXPECT_NE(ContentDigest::ofBase64("PHA+eDwvcD4="), ContentDigest::ofBase64("PHA+eDwvcD4"))
        << "a text the add-on spells differently is a different text";
    EXPECT_EQ(ContentDigest().toHex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// A subtree moves and goes whole, without look-alikes ("/a-b", "/a.x", "/ab"); children keep their order.
TEST(RecordTree, SubtreesMoveAndGoWholeAndChildrenKeepTheirOrder) {
    struct Case {
        std::function<void(RecordTree&)> change;
        const char* paths;    // every record in order; folders end in "/"
        const char* children; // of "/m", then of "/m/c"
    };
    const std::vector<Case> cases{
        {[](RecordTree&) {}, "a/ a/b/ a/b/y a/x a-b/ a-b/z a.x ab/", "a a-b ab a.x |"},
        {[](RecordTree& t) { EXPECT_TRUE(t.moveSubtree("/m/a", "/m/c")); },
         "a-b/ a-b/z a.x ab/ c/ c/b/ c/b/y c/x", "a-b ab a.x c | c/b c/x"},
        {[](RecordTree& t) { EXPECT_TRUE(t.moveSubtree("/m/a-b", "/m/c")); },
         "a/ a/b/ a/b/y a/x a.x ab/ c/ c/z", "a ab a.x c | c/z"},
        {[](RecordTree& t) { EXPECT_TRUE(t.moveSubtree("/m/a/b", "/m/ab")); },
         "a/ a/x a-b/ a-b/z a.x ab/ ab/y", "a a-b a.x ab |"},
        {[](RecordTree& t) { EXPECT_FALSE(t.moveSubtree("/m/c", "/m/a")); },
         "a/ a/b/ a/b/y a/x a-b/ a-b/z a.x ab/", "a a-b ab a.x |"},
        {[](RecordTree& t) { t.eraseSubtree("/m/a"); }, "a-b/ a-b/z a.x ab/", "a-b ab a.x |"},
    };
    for (const Case& c : cases) {
        RecordTree t;
        for (const char* folder : {"/m/a", "/m/a-b", "/m/a/b", "/m/ab"})
            t.setFolder(folder, {});
        for (const char* file : {"/m/a/x", "/m/a/b/y", "/m/a-b/z", "/m/a.x"})
            t.setFile(file, {});
        c.change(t);
        QStringList paths, children = t.children("/m") << "|" << t.children("/m/c");
        for (const auto& [path, entry] : t.all())
            paths << path.mid(3) + (t.folder(path) ? "/" : "");
        EXPECT_EQ(paths.join(' '), c.paths);
        EXPECT_EQ(children.replaceInStrings("/m/", "").join(' '), c.children);
    }
}
