#include "FormEncoding.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace folvane;

// "+" too: a form decoder reads a bare one as a blank.
TEST(FormEncoding, SortsByKeyAndEscapesEverySpecialCharacter) {
    const QByteArray body = formEncode(
        {{"template_name", "a b+c&d=e.html"}, {"password", QStringLiteral("p+ss wörd/?%")}, {"a key", "x"}});
    EXPECT_EQ(body, "a%20key=x&password=p%2Bss%20w%C3%B6rd%2F%3F%25&template_name=a%20b%2Bc%26d%3De.html");
}

TEST(FormEncoding, KeepsEmptyValuesAndEqualKeysInOrder) {
    EXPECT_EQ(formEncode({{"b", ""}, {"a", "2"}, {"a", "1"}}), "a=2&a=1&b=");
    EXPECT_EQ(formEncode({}), "");
}
