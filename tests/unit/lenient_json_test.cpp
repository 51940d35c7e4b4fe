#include "LenientJson.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace folvane;

TEST(LenientJson, BodiesThatAreNotJsonReadAsEmpty) {
    for (const char* body : {"", "<html>Error</html>", "{\"a\":", "\xff\xfe"})
        EXPECT_TRUE(parseLenient(QByteArray(body)).is_null()) << body;
}

TEST(LenientJson, MissingKeysAndWrongTypesReadAsAbsent) {
    const Json json = parseLenient(R"({"s":"t","b":true,"i":42,"f":1.5,"n":null,"o":{}})");
    EXPECT_EQ(stringValue(json, "s"), "t");
    EXPECT_EQ(boolValue(json, "b"), true);
    EXPECT_EQ(integerValue(json, "i"), 42);
    EXPECT_FALSE(stringValue(json, "i"));
    EXPECT_FALSE(boolValue(json, "s"));
    EXPECT_FALSE(integerValue(json, "f"));
    EXPECT_FALSE(integerValue(json, "s"));
    EXPECT_FALSE(stringValue(json, "n"));
    EXPECT_FALSE(stringValue(json, "missing"));
    EXPECT_FALSE(stringValue(parseLenient("[1,2]"), "s"));
    EXPECT_FALSE(boolValue(parseLenient("\"text\""), "b"));
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
