// The gateway end to end, over TCP, with the client's own packet code.
#include "SimHarness.h"

#include <QDateTime>
#include <QSet>

using namespace SimTest;
namespace Cmd = Gateway::Cmd;

namespace {

QJsonObject accountJson(Harness &h, const QString &login = QStringLiteral("demo"))
{
    return http(h.webPort(), "GET", "/admin/accounts").json().toObject().value(login).toObject();
}

} // namespace

TEST(ProviderLogin, AnswersEachCaseAsTheClientExpects)
{
    struct Case {
        const char *name;
        QString login, password;
        quint32 status;
    } cases[] = {
        {"demo account", QStringLiteral("demo"), QStringLiteral("demo123"), 0},
        // The client sends the name as typed and trims it for the authenticator only.
        {"blanks around the name", QStringLiteral(" demo "), QStringLiteral("demo123"), 0},
        {"unknown account", QStringLiteral("nobody"), QStringLiteral("demo123"), 0x1001},
        {"wrong password", QStringLiteral("demo"), QStringLiteral("demo124"), 0x1002},
        {"password case matters", QStringLiteral("demo"), QStringLiteral("DEMO123"), 0x1002},
    };
    Harness h;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Client client(h.port(1));
        const auto r = client.login(c.login, c.password);
        EXPECT_EQ(r.Command_Status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(r.CustomerNo, QStringLiteral("10001"));
            EXPECT_EQ(r.UserName, QStringLiteral("演示账户"));
            EXPECT_EQ(r.Balance, 1000);
            EXPECT_EQ(r.SegLenMobile, 70);
            EXPECT_EQ(r.SegLenSpare, 70);
            EXPECT_EQ(r.SegLenOther, 60);
        } else {
            // A refused login leaves the connection open until the client goes.
            EXPECT_TRUE(client.connected());
        }
    }
}

TEST(ProviderSubmit, ChargesAnswersAndReportsEveryNumber)
{
    Sim::Config config = testConfig();
    config.failRules = {{QRegularExpression(QStringLiteral("^1390000")), "UNDELIV", 13}};
    Harness h(config);
    Client client(h.port(0));
    ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);

    QStringList first = numbers(179);
    first << QStringLiteral("13900000001");
    const auto r1 = client.submit(first, QStringLiteral("您好，周末促销"), 41);
    ASSERT_EQ(r1.Command_Status, 0u);
    EXPECT_EQ(r1.Resp.Sequence_No, 41u);
    EXPECT_NE(r1.Resp.MsgID, 0u);
    EXPECT_EQ(r1.Balance, 1000 - 180);
    const auto r2 = client.submit(numbers(2, 13700000000), QStringLiteral("第二批"), 42);
    ASSERT_EQ(r2.Command_Status, 0u);
    EXPECT_EQ(r2.Balance, 1000 - 182);
    EXPECT_NE(r2.Resp.MsgID, r1.Resp.MsgID);

    ASSERT_TRUE(client.waitUntil([&] { return client.reports.size() == 182; }));
    QSet<QString> seen;
    for (const auto &rep : client.reports) {
        const bool firstBatch = rep.MsgID == r1.Resp.MsgID;
        ASSERT_TRUE(firstBatch || rep.MsgID == r2.Resp.MsgID);
        EXPECT_TRUE(firstBatch ? first.contains(rep.SrcNo) : rep.SrcNo.startsWith(QLatin1String("137")));
        EXPECT_EQ(rep.DestNo, QStringLiteral("106570010001"));
        EXPECT_EQ(rep.SubmitTime.size(), 10);
        EXPECT_EQ(rep.DoneTime.size(), 10);
        if (rep.SrcNo == u"13900000001") {
            EXPECT_EQ(rep.Stat, QStringLiteral("UNDELIV"));
            EXPECT_EQ(rep.ErrCode, 13u);
        } else {
            EXPECT_EQ(rep.Stat, QStringLiteral("DELIVRD"));
            EXPECT_EQ(rep.ErrCode, 0u);
        }
        seen.insert(QString::number(rep.MsgID) + rep.SrcNo);
    }
    EXPECT_EQ(seen.size(), 182);

    // The admin listing knows every number and that its report was acknowledged.
    ASSERT_TRUE(client.waitUntil([&] {
        return http(h.webPort(), "GET", "/admin/stats").json().toObject().value(u"reportsAcked").toInt() ==
               182;
    }));
    const QJsonArray submits = http(h.webPort(), "GET", "/admin/submits?account=demo").json().toArray();
    ASSERT_EQ(submits.size(), 2);
    const QJsonObject s1 = submits.at(0).toObject();
    EXPECT_EQ(s1.value(u"msgId").toString(), QString::number(r1.Resp.MsgID));
    EXPECT_EQ(s1.value(u"content").toString(), QStringLiteral("您好，周末促销"));
    EXPECT_EQ(s1.value(u"numbers").toArray().size(), 180);
    EXPECT_EQ(s1.value(u"numbers").toArray().at(179).toObject().value(u"report").toString(),
              QStringLiteral("acked"));
    EXPECT_EQ(accountJson(h).value(u"balance").toInt(), 1000 - 182);
}

TEST(ProviderSubmit, RefusesWithTheGatewayStatus)
{
    struct Case {
        const char *name;
        QStringList numbers;
        QString content;
        QString schedule;
        quint32 status;
    } cases[] = {
        {"balance too small", numbers(180), QStringLiteral("x"), {}, 0x3001},
        {"more numbers than allowed", numbers(181), QStringLiteral("x"), {}, 11},
        {"not a number", {QStringLiteral("1380000000a")}, QStringLiteral("x"), {}, 22},
        {"forbidden word", {QStringLiteral("13800000000")}, QStringLiteral("代开发票"), {}, 0x100001},
        {"bad scheduled time",
         {QStringLiteral("13800000000")},
         QStringLiteral("x"),
         QStringLiteral("991399250000032+"),
         23},
    };
    Harness h;
    h.call([&] { h.sim()->setBalance(QStringLiteral("demo"), 100); });
    Client client(h.port(0));
    // Before login every Submit is refused.
    EXPECT_EQ(client.submit(numbers(1), QStringLiteral("x"), 1).Command_Status, 0x3000u);
    ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
    quint32 seq = 10;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = client.submit(c.numbers, c.content, ++seq, c.schedule);
        EXPECT_EQ(r.Command_Status, c.status);
        EXPECT_EQ(r.Resp.MsgID, 0u);
    }
    EXPECT_EQ(accountJson(h).value(u"balance").toInt(), 100);
    // Exactly the balance is still enough.
    EXPECT_EQ(client.submit(numbers(100), QStringLiteral("x"), 99).Balance, 0);
}

TEST(ProviderSubmit, HoldsAScheduledSubmitUntilItsTime)
{
    Harness h;
    Client client(h.port(0));
    ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
    // Whole seconds on the wire, so the time lies 2 to 3 seconds ahead.
    const QDateTime at = QDateTime::currentDateTime().addSecs(3);
    const auto r = client.submit(numbers(3), QStringLiteral("定时"), 5, Gateway::FormatGatewayTime(at));
    ASSERT_EQ(r.Command_Status, 0u);
    EXPECT_EQ(r.Balance, 997); // charged when accepted
    ASSERT_TRUE(client.waitUntil([&] { return client.reports.size() == 3; }));
    EXPECT_GE(QDateTime::currentDateTime(), at.addMSecs(-at.time().msec()));
}

TEST(ProviderReports, AreSentAgainUntilAcknowledged)
{
    Sim::Config config = testConfig();
    config.ackTimeoutMs = 200;
    Harness h(config);
    quint64 msgId = 0;
    {
        Client client(h.port(0));
        client.ackReports = false;
        ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
        msgId = client.submit(numbers(2), QStringLiteral("x"), 1).Resp.MsgID;
        // Unacknowledged reports come again on the same connection after the timeout.
        ASSERT_TRUE(client.waitUntil([&] { return client.reports.size() >= 4; }));
        for (const auto &rep : client.reports)
            EXPECT_EQ(rep.MsgID, msgId);
        client.close();
    }
    // Whatever was never acknowledged waits for the account's next session.
    Client again(h.port(1));
    ASSERT_EQ(again.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
    ASSERT_TRUE(again.waitUntil([&] { return again.reports.size() == 2; }));
    EXPECT_EQ(again.reports[0].SrcNo, QStringLiteral("13800000000"));
    EXPECT_EQ(again.reports[1].SrcNo, QStringLiteral("13800000001"));
    ASSERT_TRUE(again.waitUntil([&] {
        return http(h.webPort(), "GET", "/admin/stats").json().toObject().value(u"reportsAcked").toInt() == 2;
    }));
}

TEST(ProviderDeliver, InjectedAndReplyMessagesReachTheClient)
{
    Sim::Config config = testConfig();
    config.replyShare = 1.0;
    config.replyDelayMs = 0;
    config.replyTexts = {QStringLiteral("收到，谢谢")};
    Harness h(config);
    Client client(h.port(0));
    ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);

    const HttpReply injected =
        admin(h.webPort(), "deliver", {{"account", "demo"}, {"src", "13912345678"}, {"content", "明天见"}});
    ASSERT_EQ(injected.status, 200) << injected.body.constData();
    ASSERT_TRUE(client.waitUntil([&] { return client.delivers.size() == 1; }));
    EXPECT_EQ(client.delivers[0].SrcNo, QStringLiteral("13912345678"));
    EXPECT_EQ(client.delivers[0].DestNo, QStringLiteral("106570010001"));
    EXPECT_EQ(client.delivers[0].Content, QStringLiteral("明天见"));

    // Recipients answer; a mobile sender comes with "86", which the client's parser removes.
    client.submit({QStringLiteral("13800000001")}, QStringLiteral("晚上聚餐"), 3);
    ASSERT_TRUE(client.waitUntil([&] { return client.delivers.size() == 2; }));
    EXPECT_EQ(client.delivers[1].SrcNo, QStringLiteral("13800000001"));
    EXPECT_EQ(client.delivers[1].Content, QStringLiteral("收到，谢谢"));

    ASSERT_TRUE(client.waitUntil([&] {
        const QJsonArray d = http(h.webPort(), "GET", "/admin/delivers?account=demo").json().toArray();
        return d.size() == 2 && d.at(0).toObject().value(u"state").toString() == u"acked" &&
               d.at(1).toObject().value(u"state").toString() == u"acked";
    }));
    const QJsonArray d = http(h.webPort(), "GET", "/admin/delivers").json().toArray();
    EXPECT_EQ(d.at(1).toObject().value(u"src").toString(), QStringLiteral("8613800000001"));
    EXPECT_EQ(d.at(1).toObject().value(u"origin").toString(), QStringLiteral("reply"));

    // Refused injections say why.
    EXPECT_EQ(admin(h.webPort(), "deliver", {{"account", "nobody"}, {"src", "1"}, {"content", "x"}}).status,
              400);
    EXPECT_EQ(
        admin(h.webPort(), "deliver", {{"account", "demo"}, {"src", "1"}, {"content", QString(161, 'x')}})
            .status,
        400);
}

TEST(ProviderControl, BulletinPasswordRechargeAndReplySetup)
{
    Harness h;
    Client client(h.port(0));
    // Control requests before login are refused.
    client.send(Gateway::BuildAffiche());
    EXPECT_EQ(Gateway::ParseAfficheResp(client.waitFor(Cmd::Affiche_Response))->Command_Status, 0x3000u);
    ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);

    client.send(Gateway::BuildAffiche());
    const auto affiche = Gateway::ParseAfficheResp(client.waitFor(Cmd::Affiche_Response));
    ASSERT_TRUE(affiche);
    EXPECT_EQ(affiche->Command_Status, 0u);
    EXPECT_EQ(affiche->Text, QStringLiteral("今日公告：系统维护"));

    struct Recharge {
        const char *name;
        QString card, password;
        quint32 status;
        quint32 balance;
    } recharges[] = {
        {"unknown card", QStringLiteral("8800009"), QStringLiteral("111111"), 1, 0},
        {"wrong card password", QStringLiteral("8800001"), QStringLiteral("222222"), 2, 0},
        {"good card", QStringLiteral("8800001"), QStringLiteral("111111"), 0, 1100},
        {"card used already", QStringLiteral("8800001"), QStringLiteral("111111"), 1, 0},
    };
    for (const Recharge &r : recharges) {
        SCOPED_TRACE(r.name);
        client.send(*Gateway::BuildAddPoint(client.customerNo, r.card, r.password));
        const auto resp = Gateway::ParseAddPointResp(client.waitFor(Cmd::AddPoint_Response));
        ASSERT_TRUE(resp);
        EXPECT_EQ(resp->Command_Status, r.status);
        if (r.status == 0) {
            EXPECT_EQ(resp->Balance, r.balance);
        }
    }

    client.send(*Gateway::BuildReplySetup(client.customerNo, QStringLiteral("13911112222"),
                                          QStringLiteral("您好，我在开会")));
    EXPECT_EQ(Gateway::ParseHeader(client.waitFor(Cmd::ReplySetup_Response))->Command_Status, 0u);
    EXPECT_EQ(accountJson(h).value(u"replyForward").toString(), QStringLiteral("13911112222"));
    EXPECT_EQ(accountJson(h).value(u"replyText").toString(), QStringLiteral("您好，我在开会"));
    // While set, the gateway forwards what arrives and answers the sender.
    admin(h.webPort(), "deliver", {{"account", "demo"}, {"src", "13800000009"}, {"content", "在吗"}});
    ASSERT_TRUE(client.waitUntil([&] { return client.delivers.size() == 1; }));
    const QJsonArray sent = http(h.webPort(), "GET", "/admin/messages?account=demo").json().toArray();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent.at(0).toObject().value(u"to").toString(), QStringLiteral("13911112222"));
    EXPECT_EQ(sent.at(0).toObject().value(u"content").toString(), QStringLiteral("13800000009: 在吗"));
    EXPECT_EQ(sent.at(1).toObject().value(u"to").toString(), QStringLiteral("13800000009"));
    EXPECT_EQ(sent.at(1).toObject().value(u"content").toString(), QStringLiteral("您好，我在开会"));
    // Both texts empty switch it off.
    client.send(*Gateway::BuildReplySetup(client.customerNo, QString(), QString()));
    client.waitFor(Cmd::ReplySetup_Response);
    admin(h.webPort(), "deliver", {{"account", "demo"}, {"src", "13800000009"}, {"content", "再问"}});
    ASSERT_TRUE(client.waitUntil([&] { return client.delivers.size() == 2; }));
    EXPECT_EQ(http(h.webPort(), "GET", "/admin/messages").json().toArray().size(), 2);

    // A request naming another customer is refused.
    client.send(*Gateway::BuildChangePassword(QStringLiteral("99999"), QStringLiteral("x")));
    EXPECT_EQ(Gateway::ParseHeader(client.waitFor(Cmd::ChangePassword_Response))->Command_Status, 13u);

    client.send(*Gateway::BuildChangePassword(client.customerNo, QStringLiteral("新密码pw")));
    EXPECT_EQ(Gateway::ParseHeader(client.waitFor(Cmd::ChangePassword_Response))->Command_Status, 0u);
    Client next(h.port(1));
    EXPECT_EQ(next.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0x1002u);
    EXPECT_EQ(next.login(QStringLiteral("demo"), QStringLiteral("新密码pw")).Command_Status, 0u);
}

TEST(ProviderControl, SendsTheWordListInChunksAfterLogin)
{
    Sim::Config config = testConfig();
    config.sendFilterAfterLogin = true;
    config.filterChunkBytes = 3; // cuts inside double-byte characters on purpose
    config.forbiddenWords = {QStringLiteral("发票"), QStringLiteral("赌博"), QStringLiteral("abc")};
    Harness h(config);
    Client client(h.port(0));
    ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
    ASSERT_TRUE(client.waitUntil(
        [&] { return !client.filterChunks.empty() && client.filterChunks.back().isLast(); }));
    QByteArray joined;
    for (size_t i = 0; i < client.filterChunks.size(); ++i) {
        EXPECT_EQ(client.filterChunks[i].Command_Status, 0u);
        EXPECT_EQ(client.filterChunks[i].First, i + 1);
        EXPECT_EQ(client.filterChunks[i].Second, client.filterChunks.size());
        joined += client.filterChunks[i].Text;
    }
    EXPECT_EQ(client.filterChunks.size(), 5u); // 13 bytes in chunks of 3
    EXPECT_EQ(Gbk::decode(joined), QStringLiteral("发票\t赌博\tabc"));
}

TEST(ProviderLink, EnquireLinkBothWaysAndLogout)
{
    Sim::Config config = testConfig();
    config.enquireLinkIntervalMs = 50;
    config.enquireLinkMaxMissed = 2;
    Harness h(config);
    {
        Client client(h.port(0));
        client.send(Gateway::BuildEnquireLink(77));
        EXPECT_FALSE(client.waitFor(Cmd::EnquireLink_Response, 77u).isEmpty());
        // The gateway's own EnquireLink, answered, keeps the connection.
        ASSERT_TRUE(client.waitUntil([&] { return client.enquireLinksReceived >= 4; }));
        EXPECT_TRUE(client.connected());

        ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
        client.send(Gateway::BuildLogout());
        EXPECT_FALSE(client.waitFor(Cmd::Logout_Response).isEmpty());
        EXPECT_TRUE(client.waitClosed());
    }
    // Unanswered, the gateway gives up on the connection.
    Client silent(h.port(0));
    silent.answerEnquireLink = false;
    EXPECT_TRUE(silent.waitClosed());
}
