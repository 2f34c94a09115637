#include "common/GbkCodec.h"
#include "common/IniFile.h"
#include <gtest/gtest.h>

TEST(Gbk, RoundTripAndUnencodable)
{
    const QString text = QStringLiteral("短信abc");
    auto bytes = Gbk::encode(text);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, QByteArray("\xb6\xcc\xd0\xc5" "abc"));
    EXPECT_EQ(Gbk::decode(*bytes), text);
    QString bad;
    EXPECT_FALSE(Gbk::encode(QStringLiteral("好😀"), &bad));
    EXPECT_EQ(bad, QStringLiteral("😀"));
}
