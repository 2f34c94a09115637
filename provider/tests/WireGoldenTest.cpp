// Values worked out by hand (an MD5 and Base64 run outside this code base) for the login
// authenticator, the hash and the encoded texts. Both the gateway side here and the
// client's own code must give them, so a mistake the two share cannot pass unseen.
#include "GatewayWire.h"
#include "common/GbkCodec.h"
#include "gateway/GSMIAPUnt.h"
#include "gateway/Md5.h"
#include "gateway/XorBase64.h"

#include <gtest/gtest.h>

TEST(ProviderWireGolden, AuthenticatorHashAndEncodedTexts)
{
    struct Auth {
        QByteArray login, password, expected;
    } auths[] = {
        {"abc", "123", "xCaRtgN5klBgqeOQjtX5Rw=="},
        {"demo", "demo123", "nxGWaodGOOptt0LkEFquEA=="},
        {" demo ", "demo123", "nxGWaodGOOptt0LkEFquEA=="}, // the name is trimmed first
    };
    for (const Auth &a : auths) {
        SCOPED_TRACE(a.login.constData());
        EXPECT_EQ(Sim::Wire::authenticator(a.login, Sim::Wire::md5Hex16Lower(a.password)), a.expected);
        EXPECT_EQ(Gateway::LoginAuthenticator(a.login, a.password), a.expected);
    }
    // Digest 62cc2d8b 4bf2d872 8120d052 163a77df: bytes 4 to 11.
    EXPECT_EQ(Sim::Wire::md5Hex16Lower("demo123"), QByteArray("4bf2d8728120d052"));
    EXPECT_EQ(MD5Hex16(QStringLiteral("demo123")), QStringLiteral("4BF2D8728120D052"));

    struct Encoded {
        QByteArray plain, expected;
    } texts[] = {
        {"10001", "HB0dHRw="},
        {"9990", "FBQUHQ=="},
        {QByteArray::fromHex("d1ddcabed5cbbba7") /* 演示账户 in GBK */, "/PDnk/jmloo="},
        {"d35e02ae40beeeac" /* hash of "newpass" */, "SR4YSB0fTEgZHU9ISEhMTg=="},
    };
    for (const Encoded &t : texts) {
        SCOPED_TRACE(t.expected.constData());
        EXPECT_EQ(Sim::Wire::xorBase64Encode(t.plain), t.expected);
        EXPECT_EQ(XorBase64Encode(t.plain), t.expected);
        EXPECT_EQ(Sim::Wire::xorBase64Decode(t.expected), t.plain);
        EXPECT_EQ(XorBase64Decode(t.expected), t.plain);
    }
    EXPECT_EQ(Gbk::encode(QStringLiteral("演示账户")), QByteArray::fromHex("d1ddcabed5cbbba7"));
}

TEST(ProviderWireGolden, LayoutsOfBothSidesAgree)
{
    // A three-character name gives a 59-byte Login; the gateway reads back what the client wrote.
    const QByteArray login = *Gateway::BuildLogin(QStringLiteral("abc"), QStringLiteral("123"));
    ASSERT_EQ(login.size(), 59);
    const auto parsed = Sim::Wire::parseLogin(login);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->loginName, QByteArray("abc"));
    EXPECT_EQ(parsed->authenticator, QByteArray("xCaRtgN5klBgqeOQjtX5Rw=="));

    // Submit with a part marker "2/3": bytes 5, 11, 12, 3, 2 at offsets 38 to 42.
    Gateway::SubmitRequest req;
    req.Sequence_No = 9;
    req.CustomerNo = QStringLiteral("10001");
    req.DestNumbers = {QStringLiteral("13800000000"), QStringLiteral("13800000001"),
                       QStringLiteral("0371123")};
    req.PartMarker = QStringLiteral("2/3");
    req.Content = QStringLiteral("你好");
    req.ScheduleTime = QStringLiteral("250102030405032+");
    const QByteArray submit = *Gateway::BuildSubmit(req);
    EXPECT_EQ(submit.size(), 109 + 21 * 3 + 4);
    EXPECT_EQ(submit.mid(38, 5), QByteArray("\x05\x0b\x0c\x03\x02", 5));
    const auto s = Sim::Wire::parseSubmit(submit);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->sequence, 9u);
    EXPECT_EQ(s->customerNo, QByteArray("10001"));
    EXPECT_EQ(s->partIndex, 2);
    EXPECT_EQ(s->partCount, 3);
    EXPECT_EQ(s->numbers, (QList<QByteArray>{"13800000000", "13800000001", "0371123"}));
    EXPECT_EQ(s->content, QByteArray::fromHex("c4e3bac3"));
    EXPECT_EQ(s->scheduleTime, QByteArray("250102030405032+"));
    EXPECT_EQ(Sim::Wire::parseGatewayTime(s->scheduleTime), QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5)));
    EXPECT_EQ(s->msgFormat, 15);
    // One byte short is not a Submit.
    EXPECT_FALSE(Sim::Wire::parseSubmit(QByteArrayView(submit).chopped(1)));

    // A Report is 97 bytes; MsgID bytes 00 .. 01 02 are 258.
    QByteArray report;
    Sim::Wire::appendReport(report, 4, 258, "13800000000", "106570010001", "DELIVRD", "2501020304",
                            "2501020305", 0);
    ASSERT_EQ(report.size(), 97);
    EXPECT_EQ(report.mid(16, 8), QByteArray::fromHex("0000000000000102"));
    const auto rep = Gateway::ParseReport(report);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->MsgID, 258u);
    EXPECT_EQ(rep->Stat, QStringLiteral("DELIVRD"));

    const QByteArray resp = Sim::Wire::submitResponse(9, 258, 9990);
    EXPECT_EQ(resp.mid(24), QByteArray("FBQUHQ==\0", 9));
}
