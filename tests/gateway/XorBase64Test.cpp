#include "gateway/XorBase64.h"
#include <gtest/gtest.h>

TEST(Base64, EncodesReferenceVectors)
{
    // RFC 4648 section 10
    const std::pair<QByteArray, QByteArray> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto &[plain, encoded] : vectors) {
        EXPECT_EQ(Base64Encode(plain), encoded);
        EXPECT_EQ(Base64Decode(encoded), plain) << encoded.constData();
    }
}

TEST(Base64, DecoderRules)
{
    struct Case {
        QByteArray text;
        std::optional<QByteArray> plain;
    };
    const Case cases[] = {
        {"Zg", QByteArray()}, // shorter than one group: nothing
        {"Zm9", QByteArray()},
        {"Zm9vYg", QByteArray("foo")}, // trailing incomplete group ignored
        {"+/+/", QByteArray("\xfb\xff\xbf")},
        {"Zm9!", std::nullopt}, // outside the alphabet
        {"Zm9v Zm9v", std::nullopt},
        {"Zm9v\nZm9v", std::nullopt},
        {"Zm-_", std::nullopt}, // URL-safe alphabet is not ours
        {"=Zg=", std::nullopt}, // padding in the first or second position
        {"Z===", std::nullopt},
        {"Zg=A", std::nullopt},     // "=" third needs "=" fourth
        {"Zg==Zm9v", std::nullopt}, // padding must end the text
        {"Zm8=Zm9v", std::nullopt},
        {"Zg==Z", std::nullopt},
        {QByteArray("Zm\0v", 4), std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Base64Decode(c.text), c.plain) << c.text.toHex().constData();
}

TEST(Base64, XorMaskIsAppliedBeforeEncodingAndAfterDecoding)
{
    // "12345" XOR 0x2D = 1c 1f 1e 19 18
    EXPECT_EQ(XorBase64Encode("12345"), QByteArray("HB8eGRg="));
    EXPECT_EQ(XorBase64Decode("HB8eGRg="), QByteArray("12345"));
    EXPECT_EQ(XorBase64Decode("HB8e!Rg="), std::nullopt);

    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    for (qsizetype n : {0, 1, 2, 3, 255, 256}) {
        const QByteArray in = all.first(n);
        EXPECT_EQ(XorBase64Decode(XorBase64Encode(in)), in) << n;
    }
}
