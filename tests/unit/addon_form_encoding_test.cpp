#include "FormEncoding.h"

#include "QtPrinters.h"
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace folvane;

TEST(FormEncoding, SortsByKeyAndEscapesEverySpecialCharacter) {
    const QByteArray body = formEncode(
        {{"template_name", "a b+c&d=e.html"}, {"password", QStringLiteral("p+ss wörd/?%")}, {"a key", "x"}});
    EXPECT_EQ(body, "a%20key=x&password=p%2Bss%20w%C3%B6rd%2F%3F%25&template_name=a%20b%2Bc%26d%3De.html");
}

TEST(FormEncoding, PlusSurvivesWhereQUrlQueryWouldNot) {
    // QUrlQuery leaves "+" as it is, which a form decoder turns into a blank.
    QUrlQuery query;
    query.addQueryItem("v", "1+1");
    EXPECT_EQ(query.toString(QUrl::FullyEncoded), "v=1+1");
    EXPECT_EQ(formEncode({{"v", "1+1"}}), "v=1%2B1");
}

TEST(FormEncoding, KeepsEmptyValuesAndEqualKeysInOrder) {
    EXPECT_EQ(formEncode({{"b", ""}, {"a", "2"}, {"a", "1"}}), "a=2&a=1&b=");
    EXPECT_EQ(formEncode({}), "");
}
