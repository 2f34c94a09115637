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

TEST(Gbk, TextFilesAreUtf8WhenValidElseGbk)
{
    struct Case {
        QByteArray bytes;
        QString text;
    } cases[] = {
        {"\xef\xbb\xbf\xe4\xb8\xad\xe6\x96\x87", QStringLiteral("中文")}, // UTF-8 with BOM
        {"\xe4\xb8\xad\xe6\x96\x87", QStringLiteral("中文")},             // UTF-8
        {"\xd6\xd0\xce\xc4", QStringLiteral("中文")},                       // GBK
        {"abc", QStringLiteral("abc")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Gbk::decodeText(c.bytes), c.text) << c.bytes.toHex().constData();
    EXPECT_FALSE(Gbk::isValidUtf8("\xd6\xd0"));
}
