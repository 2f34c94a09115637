#include "gateway/GSMIAPUnt.h"
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

using namespace Gateway;

namespace {

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (24 - 8 * i));
    return b;
}

// A packet whose Total_Length matches its size unless `total` says otherwise.
QByteArray pkt(quint32 command, quint32 status, quint32 seq, const QByteArray &body, qint64 total = -1)
{
    const quint32 length = total < 0 ? quint32(16 + body.size()) : quint32(total);
    return be32(length) + be32(command) + be32(status) + be32(seq) + body;
}

QByteArray z(const char *text)
{
    return QByteArray(text) + '\0';
}
QByteArray fixed(const QByteArray &text, int n)
{
    return text + QByteArray(n - text.size(), '\0');
}

const QByteArray kSkip4("\xAA\xBB\xCC\xDD", 4);

QByteArray loginBody(const QByteArray &customer, const QByteArray &user, const QByteArray &balance,
                     const QByteArray &tail = QByteArray("\x46\x01\xc8", 3))
{
    return kSkip4 + customer + '\0' + user + '\0' + balance + '\0' + tail;
}

QByteArray deliverBody(const QByteArray &src, const QByteArray &content,
                       const QByteArray &reserve = QByteArray("RSV\x00\x01\x02\x03\xff", 8))
{
    return fixed(src, 21) + fixed("106575", 21) + QByteArray("\x01\x02\x03", 3) + content + '\0' + reserve;
}

QByteArray reportBody()
{
    return QByteArray("\x00\x00\x00\x00\x00\x00\x01\x02", 8) + QByteArray("13800138000123456789") + '\0' +
           fixed("106575", 21) + "DELIVRD" + "2501020304" + "2501020305" + be32(0x01020304);
}

} // namespace

TEST(GatewayFrame, SaysNeedMorePacketOrMalformed)
{
    struct Case {
        const char *what;
        QByteArray buffer;
        Frame::Kind kind;
        qsizetype length;
    };
    const QByteArray logoutResp = pkt(Cmd::Logout_Response, 0, 1, {});
    const Case cases[] = {
        {"empty", {}, Frame::NeedMore, 0},
        {"partial header", logoutResp.first(15), Frame::NeedMore, 0},
        {"header only packet", logoutResp, Frame::Packet, 16},
        {"two packets", logoutResp + logoutResp, Frame::Packet, 16},
        {"partial body", pkt(Cmd::Deliver, 0, 1, QByteArray(30, 'x'), 100), Frame::NeedMore, 0},
        {"body complete", pkt(Cmd::Deliver, 0, 1, QByteArray(84, 'x')), Frame::Packet, 100},
        {"unknown command still framed", pkt(0x77, 0, 1, "ab"), Frame::Packet, 18},
        {"length zero", pkt(Cmd::Deliver, 0, 1, {}, 0), Frame::Malformed, 0},
        {"length below header", pkt(Cmd::Deliver, 0, 1, {}, 15), Frame::Malformed, 0},
        {"length at limit", pkt(Cmd::Deliver, 0, 1, {}, MaxPacketLength), Frame::NeedMore, 0},
        {"length over limit", pkt(Cmd::Deliver, 0, 1, {}, MaxPacketLength + 1), Frame::Malformed, 0},
        {"length huge", pkt(Cmd::Deliver, 0, 1, {}, 0xFFFFFFFF), Frame::Malformed, 0},
    };
    for (const Case &c : cases) {
        const Frame f = NextFrame(c.buffer);
        EXPECT_EQ(f.kind, c.kind) << c.what;
        EXPECT_EQ(f.length, c.length) << c.what;
    }
}

TEST(GatewayParse, HeaderFieldsAreBigEndian)
{
    const auto h = ParsePacket(pkt(0x8000000A, 0x00100002, 0xA1B2C3D4, {}));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->Total_Length, 16u);
    EXPECT_EQ(h->Command_ID, 0x8000000Au);
    EXPECT_EQ(h->Command_Status, 0x00100002u);
    EXPECT_EQ(h->Sequence_No, 0xA1B2C3D4u);
    EXPECT_FALSE(ParsePacket(pkt(0x8000000A, 0, 0, "x", 16))); // size differs from Total_Length
    EXPECT_TRUE(ParseHeader(pkt(0x8000000A, 0, 0, "x", 16)));  // a header alone needs only 16 bytes
}

TEST(GatewayParse, LoginResponse)
{
    const auto r =
        ParseLoginResp(pkt(Cmd::Login_Response, 0, 0, loginBody("HB0dHx4Z", "+Ojl0JSG5pM=", "HBgdHQ==")));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Command_Status, 0u);
    EXPECT_EQ(r->CustomerNo, QStringLiteral("100234"));
    EXPECT_EQ(r->UserName, QStringLiteral("张三公司"));
    EXPECT_EQ(r->Balance, 1500);
    EXPECT_EQ(r->SegLenMobile, 70);
    EXPECT_EQ(r->SegLenSpare, 1);
    EXPECT_EQ(r->SegLenOther, 200);

    // Boundaries: 20-byte customer, 49-byte user name, negative balance, extra bytes after the fields.
    const auto edge =
        ParseLoginResp(pkt(Cmd::Login_Response, 0, 0,
                           loginBody("HBwcHBwcHBwcHBwcHBwcHBwcHBw=",
                                     "WFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWA==",
                                     "ABo=", QByteArray("\x01\x02\x03\x04", 4))));
    ASSERT_TRUE(edge);
    EXPECT_EQ(edge->CustomerNo, QString(20, QLatin1Char('1')));
    EXPECT_EQ(edge->UserName, QString(49, QLatin1Char('u')));
    EXPECT_EQ(edge->Balance, -7);
    EXPECT_EQ(edge->SegLenOther, 3);

    // A refused login carries only its status; the body is not read.
    const auto refused = ParseLoginResp(pkt(Cmd::Login_Response, 4098, 0, {}));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->Command_Status, 4098u);
    EXPECT_TRUE(refused->CustomerNo.isEmpty());
}

TEST(GatewayParse, SubmitResponse)
{
    const QByteArray msgId("\x00\x00\x00\x00\x00\x00\x01\x02", 8);
    const auto plain = ParseSubmitResp(pkt(Cmd::Submit_Response, 0, 42, msgId));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->Resp.Sequence_No, 42u);
    EXPECT_EQ(plain->Resp.MsgID, 258u);
    EXPECT_FALSE(plain->Balance);

    const auto withBalance = ParseSubmitResp(
        pkt(Cmd::Submit_Response, 0, 43, QByteArray("\x81\x02\x03\x04\x05\x06\x07\x08", 8) + z("HBgdHQ==")));
    ASSERT_TRUE(withBalance);
    EXPECT_EQ(withBalance->Resp.MsgID, 0x8102030405060708ull);
    EXPECT_EQ(withBalance->Balance, 1500);

    const auto limits = ParseSubmitResp(pkt(Cmd::Submit_Response, 0, 1, msgId + z("HxwZGhkVHhsZGg==")));
    ASSERT_TRUE(limits);
    EXPECT_EQ(limits->Balance, 2147483647);
    const auto lowest = ParseSubmitResp(pkt(Cmd::Submit_Response, 0, 1, msgId + z("AB8cGRoZFR4bGRU=")));
    ASSERT_TRUE(lowest);
    EXPECT_EQ(lowest->Balance, std::numeric_limits<qint32>::min());

    // A failed Submit: status kept, MsgID 0, body ignored even if present.
    const auto failed = ParseSubmitResp(pkt(Cmd::Submit_Response, 12289, 44, msgId));
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->Command_Status, 12289u);
    EXPECT_EQ(failed->Resp.Sequence_No, 44u);
    EXPECT_EQ(failed->Resp.MsgID, 0u);
}

TEST(GatewayParse, Deliver)
{
    const auto d = ParseDeliver(pkt(Cmd::Deliver, 0, 9, deliverBody("8613800138000", "\xc4\xfa\xba\xc3 ok")));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->SrcNo, QStringLiteral("13800138000")); // leading 86 removed
    EXPECT_EQ(d->DestNo, QStringLiteral("106575"));
    EXPECT_EQ(d->Content, QStringLiteral("您好 ok"));
    EXPECT_EQ(d->Reserve, QByteArray("RSV\x00\x01\x02\x03\xff", 8));

    const auto local = ParseDeliver(pkt(Cmd::Deliver, 0, 9, deliverBody("13986", "")));
    ASSERT_TRUE(local);
    EXPECT_EQ(local->SrcNo, QStringLiteral("13986"));
    EXPECT_TRUE(local->Content.isEmpty());

    // A full-width number field (no terminator) is read to the field's end only.
    const auto wide = ParseDeliver(pkt(Cmd::Deliver, 0, 9, deliverBody(QByteArray(21, '5'), "x")));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->SrcNo, QString(21, QLatin1Char('5')));
}

TEST(GatewayParse, DeliverContentIsCutAt160BytesOnACharacterBoundary)
{
    const auto longAscii = ParseDeliver(pkt(Cmd::Deliver, 0, 1, deliverBody("1", QByteArray(200, 'a'))));
    ASSERT_TRUE(longAscii);
    EXPECT_EQ(longAscii->Content, QString(160, QLatin1Char('a')));
    // 159 ASCII bytes then a double-byte character straddling the limit: the character goes.
    const auto straddle =
        ParseDeliver(pkt(Cmd::Deliver, 0, 1, deliverBody("1", QByteArray(159, 'a') + "\xc4\xfa" + "tail")));
    ASSERT_TRUE(straddle);
    EXPECT_EQ(straddle->Content, QString(159, QLatin1Char('a')));
    const auto fits =
        ParseDeliver(pkt(Cmd::Deliver, 0, 1, deliverBody("1", QByteArray(158, 'a') + "\xc4\xfa")));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->Content, QString(158, QLatin1Char('a')) + QStringLiteral("您"));
}

TEST(GatewayParse, Report)
{
    const QByteArray packet = pkt(Cmd::Report, 0, 3, reportBody());
    ASSERT_EQ(packet.size(), 97);
    const auto r = ParseReport(packet);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->MsgID, 258u);
    EXPECT_EQ(r->SrcNo, QStringLiteral("13800138000123456789"));
    EXPECT_EQ(r->DestNo, QStringLiteral("106575"));
    EXPECT_EQ(r->Stat, QStringLiteral("DELIVRD")); // no terminator on the wire
    EXPECT_EQ(r->SubmitTime, QStringLiteral("2501020304"));
    EXPECT_EQ(r->DoneTime, QStringLiteral("2501020305"));
    EXPECT_EQ(r->ErrCode, 0x01020304u);
}

TEST(GatewayParse, ControlResponses)
{
    const auto chunk = ParseFilterResp(
        pkt(Cmd::Filter_Response, 0, 0, be32(2) + be32(5) + QByteArray(5, '\x7f') + z("\xb6\xcc\tbad\t")));
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->First, 2u);
    EXPECT_EQ(chunk->Second, 5u);
    EXPECT_FALSE(chunk->isLast());
    EXPECT_EQ(chunk->Text, QByteArray("\xb6\xcc\tbad\t")); // raw: may end inside a character
    const auto last =
        ParseFilterResp(pkt(Cmd::Filter_Response, 0, 0, be32(5) + be32(5) + QByteArray(5, 0) + z("")));
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->isLast());
    const auto filterFailed = ParseFilterResp(pkt(Cmd::Filter_Response, 3, 0, {}));
    ASSERT_TRUE(filterFailed);
    EXPECT_EQ(filterFailed->Command_Status, 3u);

    const auto affiche =
        ParseAfficheResp(pkt(Cmd::Affiche_Response, 0, 0, kSkip4 + z("\xb9\xab\xb8\xe6: hi")));
    ASSERT_TRUE(affiche);
    EXPECT_EQ(affiche->Text, QStringLiteral("公告: hi"));

    const auto added = ParseAddPointResp(pkt(Cmd::AddPoint_Response, 0, 0, kSkip4 + be32(0x00012345)));
    ASSERT_TRUE(added);
    EXPECT_EQ(added->Balance, 0x12345u);
    const auto badCard = ParseAddPointResp(pkt(Cmd::AddPoint_Response, 2, 0, {}));
    ASSERT_TRUE(badCard);
    EXPECT_EQ(badCard->Command_Status, 2u);
    EXPECT_EQ(badCard->Balance, 0u);
}

// A gateway may send anything: each of these must be refused without reading past the packet.
TEST(GatewayParse, MalformedPacketsAreRefused)
{
    using Parser = std::function<bool(QByteArrayView)>;
    const Parser login = [](QByteArrayView p) { return ParseLoginResp(p).has_value(); };
    const Parser submit = [](QByteArrayView p) { return ParseSubmitResp(p).has_value(); };
    const Parser deliver = [](QByteArrayView p) { return ParseDeliver(p).has_value(); };
    const Parser report = [](QByteArrayView p) { return ParseReport(p).has_value(); };
    const Parser filter = [](QByteArrayView p) { return ParseFilterResp(p).has_value(); };
    const Parser affiche = [](QByteArrayView p) { return ParseAfficheResp(p).has_value(); };
    const Parser addPoint = [](QByteArrayView p) { return ParseAddPointResp(p).has_value(); };
    const QByteArray msgId(8, '\1');
    const QByteArray goodLogin = loginBody("HB0dHx4Z", "+Ojl0JSG5pM=", "HBgdHQ==");

    struct Case {
        const char *what;
        Parser parse;
        QByteArray packet;
    };
    const Case cases[] = {
        {"login: short header", login, pkt(Cmd::Login_Response, 0, 0, {}).first(15)},
        {"login: length says more", login, pkt(Cmd::Login_Response, 0, 0, goodLogin, 200)},
        {"login: length says less", login, pkt(Cmd::Login_Response, 0, 0, goodLogin, 16)},
        {"login: length below header", login, pkt(Cmd::Login_Response, 0, 0, goodLogin, 3)},
        {"login: other command", login, pkt(Cmd::Submit_Response, 0, 0, goodLogin)},
        {"login: body empty", login, pkt(Cmd::Login_Response, 0, 0, {})},
        {"login: only the skipped bytes", login, pkt(Cmd::Login_Response, 0, 0, kSkip4)},
        {"login: text unterminated", login, pkt(Cmd::Login_Response, 0, 0, kSkip4 + "HB0dHx4Z")},
        {"login: length bytes missing", login, pkt(Cmd::Login_Response, 0, 0, goodLogin.chopped(1))},
        {"login: customer not Base64", login,
         pkt(Cmd::Login_Response, 0, 0, loginBody("HB0d*x4Z", "", "HBgdHQ=="))},
        {"login: customer 21 bytes", login,
         pkt(Cmd::Login_Response, 0, 0, loginBody("HBwcHBwcHBwcHBwcHBwcHBwcHBwc", "", "HBgdHQ=="))},
        {"login: user 50 bytes", login,
         pkt(Cmd::Login_Response, 0, 0,
             loginBody("HB0dHx4Z",
                       "WFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFg=", "HBgdHQ=="))},
        {"login: customer with zero byte", login,
         pkt(Cmd::Login_Response, 0, 0, loginBody("HC0f", "", "HBgdHQ=="))},
        {"login: balance empty", login, pkt(Cmd::Login_Response, 0, 0, loginBody("HB0dHx4Z", "", ""))},
        {"login: balance not decimal", login,
         pkt(Cmd::Login_Response, 0, 0, loginBody("HB0dHx4Z", "", "HB9M"))},
        {"login: balance over 32 bits", login,
         pkt(Cmd::Login_Response, 0, 0, loginBody("HB0dHx4Z", "", "FBQUFBQUFBQUFBQ="))},
        {"login: balance 2^31", login,
         pkt(Cmd::Login_Response, 0, 0, loginBody("HB0dHx4Z", "", "HxwZGhkVHhsZFQ=="))},
        {"login: balance below -2^31", login,
         pkt(Cmd::Login_Response, 0, 0, loginBody("HB0dHx4Z", "", "AB8cGRoZFR4bGRQ="))},

        {"submit: MsgID cut short", submit, pkt(Cmd::Submit_Response, 0, 1, msgId.first(4))},
        {"submit: no body", submit, pkt(Cmd::Submit_Response, 0, 1, {})},
        {"submit: balance unterminated", submit, pkt(Cmd::Submit_Response, 0, 1, msgId + "HBgdHQ==")},
        {"submit: balance not Base64", submit, pkt(Cmd::Submit_Response, 0, 1, msgId + z("1500"))},
        {"submit: balance not decimal", submit, pkt(Cmd::Submit_Response, 0, 1, msgId + z("HB9M"))},
        {"submit: wrong command", submit, pkt(Cmd::Deliver, 0, 1, msgId)},

        {"deliver: header only", deliver, pkt(Cmd::Deliver, 0, 1, {})},
        {"deliver: no room for reserve", deliver, pkt(Cmd::Deliver, 0, 1, QByteArray(53, '\0'))},
        {"deliver: content ends only inside reserve", deliver,
         pkt(Cmd::Deliver, 0, 1,
             fixed("1", 21) + fixed("2", 21) + "abc" + "content" + QByteArray("reserv\0\0", 8))},
        {"deliver: content never ends", deliver, pkt(Cmd::Deliver, 0, 1, QByteArray(200, 'x'))},

        {"report: one byte short", report, pkt(Cmd::Report, 0, 1, reportBody().chopped(1))},
        {"report: one byte long", report, pkt(Cmd::Report, 0, 1, reportBody() + 'x')},
        {"report: header only", report, pkt(Cmd::Report, 0, 1, {})},

        {"filter: before text", filter, pkt(Cmd::Filter_Response, 0, 0, QByteArray(13, '\0'))},
        {"filter: text unterminated", filter, pkt(Cmd::Filter_Response, 0, 0, QByteArray(13, '\0') + "word")},
        {"affiche: no text", affiche, pkt(Cmd::Affiche_Response, 0, 0, kSkip4)},
        {"affiche: text unterminated", affiche, pkt(Cmd::Affiche_Response, 0, 0, kSkip4 + "notice")},
        {"affiche: skipped bytes cut", affiche, pkt(Cmd::Affiche_Response, 0, 0, QByteArray(2, 0))},
        {"addpoint: balance cut short", addPoint, pkt(Cmd::AddPoint_Response, 0, 0, kSkip4 + "\0\0")},
        {"addpoint: wrong command", addPoint, pkt(Cmd::AddPoint, 0, 0, kSkip4 + be32(1))},
    };
    for (const Case &c : cases) {
        // Parse a heap copy of exactly the packet's bytes so a sanitizer build sees any overrun.
        const std::unique_ptr<char[]> copy(new char[size_t(c.packet.size())]);
        std::memcpy(copy.get(), c.packet.constData(), size_t(c.packet.size()));
        EXPECT_FALSE(c.parse(QByteArrayView(copy.get(), c.packet.size()))) << c.what;
    }
}
