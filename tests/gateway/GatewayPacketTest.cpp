#include "gateway/GSMIAPUnt.h"
#include <QDateTime>
#include <gtest/gtest.h>

using namespace Gateway;

namespace {

QByteArray bytes(const char *data, qsizetype n)
{
    return QByteArray(data, n);
}

quint32 u32At(const QByteArray &b, qsizetype at)
{
    return quint32(uchar(b[at])) << 24 | quint32(uchar(b[at + 1])) << 16 | quint32(uchar(b[at + 2])) << 8 |
           uchar(b[at + 3]);
}

SubmitRequest submitTo(int numbers, int contentBytes)
{
    SubmitRequest r;
    r.Sequence_No = 7;
    r.CustomerNo = QStringLiteral("100234");
    for (int i = 0; i < numbers; ++i)
        r.DestNumbers << QStringLiteral("1380013800%1").arg(i);
    r.Content = QString(contentBytes, QLatin1Char('x'));
    return r;
}

} // namespace

TEST(GatewayPacket, LoginGolden)
{
    const auto p = BuildLogin(QStringLiteral("abc"), QStringLiteral("secret"));
    ASSERT_TRUE(p);
    const QByteArray golden = bytes("\x00\x00\x00\x3b\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "abc\x00"
                                    "LEFyiwQnNhAAjmMs2WWUYQ==\x00"
                                    "\x02\x10\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00",
                                    59);
    EXPECT_EQ(p->toHex(' '), golden.toHex(' '));
}

TEST(GatewayPacket, LoginKeepsNameOnWireButTrimsItForTheAuthenticator)
{
    const auto p = BuildLogin(QStringLiteral(" abc "), QStringLiteral("secret"));
    ASSERT_TRUE(p);
    ASSERT_EQ(p->size(), 61);
    EXPECT_EQ(p->mid(16, 6), bytes(" abc \0", 6));
    EXPECT_EQ(p->mid(22, 25), bytes("LEFyiwQnNhAAjmMs2WWUYQ==\0", 25));
}

TEST(GatewayPacket, LoginLengthFollowsGbkByteCountOfName)
{
    // Four characters, eight GBK bytes.
    const auto p = BuildLogin(QStringLiteral("短信用户"), QStringLiteral("x"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->size(), 64);
    EXPECT_EQ(u32At(*p, 0), 64u);
    EXPECT_EQ(p->at(24), '\0');
    EXPECT_EQ(p->mid(47, 5), bytes("==\0\x02\x10", 5)); // authenticator ends in padding, then 2, 0x10
}

TEST(GatewayPacket, HeaderOnlyPackets)
{
    struct Case {
        QByteArray packet;
        quint32 command;
        quint32 sequence;
    };
    const Case cases[] = {
        {BuildLogout(), 2, 0},
        {BuildAffiche(), 13, 0},
        {BuildEnquireLink(0x01020304), 9, 0x01020304},
        {BuildEnquireLinkResp(5), 0x80000009, 5},
        {BuildDeliverResp(0xFFFFFFFE), 0x80000004, 0xFFFFFFFE},
        {BuildReportResp(77), 0x8000000B, 77},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(c.packet.size(), 16);
        EXPECT_EQ(u32At(c.packet, 0), 16u);
        EXPECT_EQ(u32At(c.packet, 4), c.command);
        EXPECT_EQ(u32At(c.packet, 8), 0u);
        EXPECT_EQ(u32At(c.packet, 12), c.sequence);
    }
    EXPECT_EQ(BuildEnquireLink(0x01020304).toHex(), QByteArray("00000010000000090000000001020304"));
}

TEST(GatewayPacket, SubmitGolden)
{
    SubmitRequest r;
    r.Sequence_No = 0x01020304;
    r.CustomerNo = QStringLiteral("100234");
    r.DestNumbers = {QStringLiteral("13800138000"), QStringLiteral("0755123456")};
    r.MsgClass = MsgClass::HandsFreeFlash;
    r.ScheduleTime = QStringLiteral("250102030405032+");
    r.ValidTime = QStringLiteral("250102031849032+");
    r.Content = QStringLiteral("您好abc");
    r.PartMarker = QStringLiteral("2/3");
    r.Reserve = QStringLiteral("rsv");
    const auto p = BuildSubmit(r);
    ASSERT_TRUE(p);
    const QByteArray golden = bytes("\x00\x00\x00\x9e\x00\x00\x00\x03\x00\x00\x00\x00\x01\x02\x03\x04\x31\x30"
                                    "\x30\x32\x33\x34\x00\x00\x00\x00"
                                    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x05\x0b\x0c\x03\x02\x00"
                                    "\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x31\x33\x38\x30\x30\x31\x33"
                                    "\x38\x30\x30\x30\x00\x00\x00\x00"
                                    "\x00\x00\x00\x00\x00\x00\x30\x37\x35\x35\x31\x32\x33\x34\x35\x36\x00\x00"
                                    "\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "\x00\x63\x32\x35\x30\x31\x30\x32\x30\x33\x30\x34\x30\x35\x30\x33\x32\x2b"
                                    "\x00\x32\x35\x30\x31\x30\x32\x30"
                                    "\x33\x31\x38\x34\x39\x30\x33\x32\x2b\x00\x0f\x07\xc4\xfa\xba\xc3\x61\x62"
                                    "\x63\x00\x72\x73\x76\x00\x00\x00"
                                    "\x00\x00",
                                    158);
    EXPECT_EQ(p->toHex(' '), golden.toHex(' '));
}

TEST(GatewayPacket, SubmitLengthsAndDefaults)
{
    const auto one = BuildSubmit(submitTo(1, 70));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->size(), 200);
    EXPECT_EQ(u32At(*one, 0), 200u);
    EXPECT_EQ(u32At(*one, 12), 7u);
    EXPECT_EQ(one->at(99 + 21), char(70));
    EXPECT_EQ(one->mid(100 + 21, 70), QByteArray(70, 'x'));
    EXPECT_EQ(one->mid(170 + 21), QByteArray(9, '\0')); // terminator and empty reserve

    const auto three = BuildSubmit(submitTo(3, 0));
    ASSERT_TRUE(three);
    EXPECT_EQ(three->size(), 172);
    EXPECT_EQ(u32At(*three, 59), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(three->mid(63 + 21 * i, 21),
                  QByteArray("1380013800") + char('0' + i) + QByteArray(10, '\0'));
    const qsizetype at = 63 + 63;
    EXPECT_EQ(three->at(at), char(MsgClass::Ordinary));
    EXPECT_EQ(three->mid(at + 1, 34), QByteArray(34, '\0')); // immediate, no validity time
    EXPECT_EQ(three->at(at + 35), char(15));
    EXPECT_EQ(three->at(at + 36), '\0');

    // Without a marker the part field repeats CustomerNo.
    EXPECT_EQ(three->mid(38, 21), three->mid(16, 21));
    EXPECT_EQ(three->mid(16, 21), QByteArray("100234") + QByteArray(15, '\0'));
}

TEST(GatewayPacket, SubmitPartField)
{
    struct Case {
        QString marker;
        QByteArray field; // offsets 38..58, empty when the marker is refused
    };
    const QByteArray customerField = QByteArray("100234") + QByteArray(15, '\0');
    const Case cases[] = {
        {"2/3", bytes("\x05\x0b\x0c\x03\x02", 5) + QByteArray(16, '\0')},
        {"02/10", bytes("\x05\x0b\x0c\x0a\x02", 5) + QByteArray(16, '\0')},
        {"255/255", bytes("\x05\x0b\x0c\xff\xff", 5) + QByteArray(16, '\0')},
        {"", customerField},
        {"3", customerField},
        {"a/b", {}},
        {"2/", {}},
        {"/3", {}},
        {"2/3/4", {}},
        {" 2/3", {}},
        {"-1/3", {}},
        {"256/300", {}}, // would not fit one byte each
        {"2/99999999999", {}},
    };
    for (const Case &c : cases) {
        SubmitRequest r = submitTo(1, 5);
        r.PartMarker = c.marker;
        QString error;
        const auto p = BuildSubmit(r, &error);
        if (c.field.isEmpty()) {
            EXPECT_FALSE(p) << c.marker.toStdString();
            EXPECT_FALSE(error.isEmpty());
        } else {
            ASSERT_TRUE(p) << c.marker.toStdString();
            EXPECT_EQ(p->mid(38, 21).toHex(), c.field.toHex()) << c.marker.toStdString();
        }
    }
}

TEST(GatewayPacket, FixedSizeRequestsGolden)
{
    const auto chpw = BuildChangePassword(QStringLiteral("100234"), QStringLiteral("newpass"));
    ASSERT_TRUE(chpw);
    EXPECT_EQ(chpw->toHex(' '), bytes("\x00\x00\x00\x46\x00\x00\x00\x0a\x00\x00\x00\x00\x00\x00\x00\x00"
                                      "100234\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                                      "SR4YSB0fTEgZHU9ISEhMTg=="
                                      "\x00\x00\x00\x00\x00\x00\x00\x00\x00",
                                      70)
                                    .toHex(' '));

    const auto add =
        BuildAddPoint(QStringLiteral("100234"), QStringLiteral("CARD0001"), QStringLiteral("pw99"));
    ASSERT_TRUE(add);
    EXPECT_EQ(add->toHex(' '),
              (bytes("\x00\x00\x00\x4f\x00\x00\x00\x0f\x00\x00\x00\x00\x00\x00\x00\x00", 16) +
               QByteArray("100234") + QByteArray(15, '\0') + QByteArray("CARD0001") + QByteArray(13, '\0') +
               QByteArray("pw99") + QByteArray(17, '\0'))
                  .toHex(' '));

    const auto reply =
        BuildReplySetup(QStringLiteral("100234"), QStringLiteral("13900000000"), QStringLiteral("自动回复"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->toHex(' '),
              (bytes("\x00\x00\x00\x4a\x00\x00\x00\x0e\x00\x00\x00\x00\x00\x00\x00\x00", 16) +
               QByteArray("100234") + QByteArray(15, '\0') + QByteArray("13900000000") + QByteArray(9, '\0') +
               bytes("\xd7\xd4\xb6\xaf\xbb\xd8\xb8\xb4", 8) + QByteArray(9, '\0'))
                  .toHex(' '));

    // Sizes that never vary.
    const auto emptyReply = BuildReplySetup(QStringLiteral("100234"), QString(), QString());
    ASSERT_TRUE(emptyReply);
    EXPECT_EQ(emptyReply->size(), 66);
    EXPECT_EQ(emptyReply->mid(37), QByteArray(29, '\0'));
    const auto emptyPassword = BuildChangePassword(QStringLiteral("1"), QString());
    ASSERT_TRUE(emptyPassword);
    EXPECT_EQ(emptyPassword->size(), 70);
    const auto longest = BuildAddPoint(QString(20, QLatin1Char('9')), QString(20, QLatin1Char('8')),
                                       QString(20, QLatin1Char('7')));
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->size(), 79);
    EXPECT_EQ(longest->at(36), '\0'); // each field keeps its terminator
    EXPECT_EQ(longest->at(57), '\0');
    EXPECT_EQ(longest->at(78), '\0');
}

TEST(GatewayPacket, FieldLimitsAreRefusedNotCut)
{
    const QString bad = QStringLiteral("😀"); // no GBK form
    const QString nul(1, QChar(0));
    auto submitWith = [](auto change) {
        SubmitRequest r = submitTo(1, 1);
        change(r);
        return BuildSubmit(r);
    };
    struct Case {
        const char *what;
        std::optional<QByteArray> packet;
        bool accepted;
    };
    const Case cases[] = {
        {"name 20 bytes", BuildLogin(QString(20, QLatin1Char('n')), "p"), true},
        {"name 21 bytes", BuildLogin(QString(21, QLatin1Char('n')), "p"), false},
        {"name 11 GBK chars", BuildLogin(QString(11, QChar(0x77ED)), "p"), false},
        {"password 32 bytes", BuildLogin("n", QString(32, QLatin1Char('p'))), true},
        {"password 33 bytes", BuildLogin("n", QString(33, QLatin1Char('p'))), false},
        {"name not GBK", BuildLogin(bad, "p"), false},
        {"name with zero", BuildLogin("a" + nul + "b", "p"), false},
        {"content 255", submitWith([](SubmitRequest &r) { r.Content = QString(255, 'c'); }), true},
        {"content 256", submitWith([](SubmitRequest &r) { r.Content = QString(128, QChar(0x77ED)); }), false},
        {"content not GBK", submitWith([&](SubmitRequest &r) { r.Content = bad; }), false},
        {"number 21", submitWith([](SubmitRequest &r) { r.DestNumbers << QString(21, '1'); }), false},
        {"customer 21", submitWith([](SubmitRequest &r) { r.CustomerNo = QString(21, '1'); }), false},
        {"time 17", submitWith([](SubmitRequest &r) { r.ScheduleTime = QString(17, '1'); }), false},
        {"valid 17", submitWith([](SubmitRequest &r) { r.ValidTime = QString(17, '1'); }), false},
        {"reserve 8", submitWith([](SubmitRequest &r) { r.Reserve = QString(8, 'r'); }), true},
        {"reserve 9", submitWith([](SubmitRequest &r) { r.Reserve = QString(9, 'r'); }), false},
        {"new password 33", BuildChangePassword("1", QString(33, 'p')), false},
        {"forward-to 20", BuildReplySetup("1", QString(20, '1'), ""), true},
        {"forward-to 21", BuildReplySetup("1", QString(21, '1'), ""), false},
        {"reply not GBK", BuildReplySetup("1", "", bad), false},
        {"card 21", BuildAddPoint("1", QString(21, '1'), ""), false},
        {"card password 21", BuildAddPoint("1", "", QString(21, '1')), false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.packet.has_value(), c.accepted) << c.what;

    // A full reserve runs to the last byte without overrunning the packet.
    SubmitRequest r = submitTo(1, 1);
    r.Reserve = QStringLiteral("ABCDEFGH");
    const auto p = BuildSubmit(r);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->size(), 109 + 21 + 1);
    EXPECT_TRUE(p->endsWith(QByteArray("x") + '\0' + "ABCDEFGH"));
}

TEST(GatewayPacket, GatewayTimeFormat)
{
    EXPECT_EQ(FormatGatewayTime(QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5))),
              QStringLiteral("250102030405032+"));
}
