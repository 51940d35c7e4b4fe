#include "Base64.h"
#include "FormCodec.h"

#include <gtest/gtest.h>

using namespace folvane::sim;

TEST(Base64, MatchesTheStandardVectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        // The two characters a form body mangles unescaped.
        {"\xfb\xff", "+/8="}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(plain), encoded);
        EXPECT_EQ(base64Decode(encoded), plain);
    }
}

TEST(Base64, RejectsAnythingButPaddedStandardText) {
    for (const char* bad :
         {"Zg", "Zg=", "Zm9v\n", "Zm 9v", "Zg=a", "====", "Z===", "Zg==Zm9v", "Zm9-", "Zm9_"}) {
        EXPECT_FALSE(base64Decode(bad).has_value()) << bad;
    }
}

TEST(FormFields, DecodesTheFormRules) {
    const FormFields form = FormFields::parse("a=1+2&b=1%2B2&c=%C3%A9t%C3%A9&d=x%3Dy%26z&e");
    EXPECT_EQ(form.value("a"), "1 2");
    EXPECT_EQ(form.value("b"), "1+2");
    EXPECT_EQ(form.value("c"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(form.value("d"), "x=y&z");
    ASSERT_NE(form.find("e"), nullptr);
    EXPECT_EQ(*form.find("e"), "");
    EXPECT_EQ(form.find("missing"), nullptr);
}

TEST(FormFields, KeepsArrivalOrderAndLetsTheLastDuplicateWin) {
    const FormFields form = FormFields::parse("b=1&&a=2&b=3&template%5Fname=x");
    ASSERT_EQ(form.pairs().size(), 4u);
    EXPECT_EQ(form.pairs()[0].first, "b");
    EXPECT_EQ(form.pairs()[1].first, "a");
    EXPECT_EQ(form.value("b"), "3");
    EXPECT_EQ(form.value("template_name"), "x");
}

TEST(PercentDecode, LeavesMalformedEscapesAlone) {
    EXPECT_EQ(percentDecode("100%", true), "100%");
    EXPECT_EQ(percentDecode("%G1%4", true), "%G1%4");
    EXPECT_EQ(percentDecode("%2f%2F", false), "//");
    EXPECT_EQ(percentDecode("a+b", false), "a+b");
}
