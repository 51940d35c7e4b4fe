#include "LenientJson.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace folvane;

// A body that is not JSON reads as empty; a missing key or a value of another type reads as absent.
TEST(LenientJson, WhatIsNotThereOrNotOfItsTypeReadsAsAbsent) {
    for (const char* body : {"", "<html>Error</html>", "{\"a\":", "\xff\xfe"})
        EXPECT_TRUE(parseLenient(QByteArray(body)).is_null()) << body;
    const Json json = parseLenient(R"({"s":"t","b":true,"i":42,"f":1.5,"n":null,"o":{}})");
    EXPECT_EQ(stringValue(json, "s"), "t");
    EXPECT_EQ(boolValue(json, "b"), true);
    EXPECT_EQ(integerValue(json, "i"), 42);
    for (const char* key : {"i", "n", "missing"})
        EXPECT_FALSE(stringValue(json, key)) << key;
    EXPECT_FALSE(boolValue(json, "s"));
    EXPECT_FALSE(integerValue(json, "f"));
    EXPECT_FALSE(stringValue(parseLenient("[1,2]"), "s"));
}

TEST(LenientJson, KeepsTheAnswersKeyOrder) {
    const Json json = parseLenient(R"({"z":1,"files":[],"a":2,"subfolders":[]})");
    std::vector<std::string> keys;
    for (const auto& item : json.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"z", "files", "a", "subfolders"}));
}

TEST(LenientJson, AHostileNestingReadsAsEmptyWithoutBuildingIt) {
    const int levels = 100'000;
    const QByteArray deep = QByteArray(levels, '[') + QByteArray(levels, ']');
    const Json parsed = parseLenient(deep);
    EXPECT_TRUE(parsed.is_null());
    const Json copy = parsed; // copying and destroying a deep document is what ended the process
    EXPECT_TRUE(copy.is_null());

    const QByteArray fine = QByteArray(maxJsonDepth - 1, '[') + QByteArray(maxJsonDepth - 1, ']');
    EXPECT_TRUE(parseLenient(fine).is_array()) << "an answer within the bound reads whole";
}

TEST(LenientJson, BytesThatAreNotUtf8NoLongerSinkTheWholeAnswer) {
    // One bad byte in a message: the answer still reads, the byte as U+FFFD.
    const Json json = parseLenient("{\"success\":true,\"message\":\"Saved \xff!\"}");
    EXPECT_EQ(boolValue(json, "success"), true);
    EXPECT_EQ(stringValue(json, "message"), QString::fromUtf8("Saved \xef\xbf\xbd!"));
    // Marked: each bad byte as U+0000 and its hex digits, so a name cannot pass for a usable one.
    EXPECT_EQ(parseLenient("[\"a\xfe\xff\"]", InvalidText::mark), Json::array({std::string("a\0fe\0ff", 7)}));
    // Overlong forms, surrogates and code points past U+10FFFF are bad too; valid sequences stay as they are.
    EXPECT_EQ(
        parseLenient("[\"\xc0\xaf\",\"\xed\xa0\x80\",\"\xf4\x90\x80\x80\",\"\xf0\x9f\x98\x80\xe2\x82\xac\"]"),
        Json::parse(
            "[\"\xef\xbf\xbd\xef\xbf\xbd\",\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\","
            "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\",\"\xf0\x9f\x98\x80\xe2\x82\xac\"]"));
    // Outside a string, or right after a backslash, a bad byte leaves the text unreadable, as before.
    for (const char* body : {"[1,\xff]", "[\"\\\xff\"]", "\xff\xfe"})
        EXPECT_TRUE(parseLenient(QByteArray(body), InvalidText::mark).is_null()) << body;
}

TEST(LenientJson, RepairHoldsASequenceCutBetweenChunks) {
    const QByteArray text = "{\"k\\\"\xe2\x82\xac\":\"caf\xc3\xa9\xff\"}";
    for (qsizetype cut = 0; cut <= text.size(); ++cut) {
        Utf8Repair repair(InvalidText::mark);
        QByteArray repaired = repair.push(text.left(cut));
        repaired += repair.push(text.mid(cut));
        repaired += repair.finish();
        EXPECT_EQ(repaired, "{\"k\\\"\xe2\x82\xac\":\"caf\xc3\xa9\\u0000ff\"}") << cut;
    }
}
