#include "FakeGateway.h"
#include "GatewayTestSupport.h"
#include "TempHome.h"
#include "gateway/SMSSOCKET.h"
#include <QDir>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace Gateway;

namespace {

GatewayTimings fastTimings() { return testTimings(400); }

class SmsSocketTest : public ::testing::Test {
protected:
    TempHome home;
    FakeGateway gw;
    Recorder rec;
    std::unique_ptr<TSMSSOCKET> sock;

    void make(GatewayTimings t = fastTimings(), int sendThreads = 1)
    {
        sock = std::make_unique<TSMSSOCKET>(t);
        sock->SetConnection("127.0.0.1", gw.port(), &rec, sendThreads, TProxyInfo(), ProxyNone);
    }
    // Logs in against the fake gateway and checks the Login packet on the way.
    void login()
    {
        if (!sock)
            make();
        sock->Login("abc", "pw");
        auto p = gw.nextPacket();
        ASSERT_TRUE(p);
        ASSERT_EQ(FakeGateway::cmdOf(*p), 1u);
        ASSERT_EQ(p->size(), 59);
        gw.send(FakeGateway::loginResp(0));
        ASSERT_TRUE(waitUntil([&] { return rec.hasAction(1, 0); }));
        sock->setSendEnabled(true);
    }
};

} // namespace

TEST_F(SmsSocketTest, LoginFillsTheSession)
{
    login();
    const TSessionInfo s = sock->session();
    EXPECT_EQ(s.CustomerNo, "10086");
    EXPECT_EQ(s.UserName, "测试");
    EXPECT_EQ(s.LoginName, "abc");
    EXPECT_EQ(s.Balance, 500);
    EXPECT_EQ(s.SegLenMobile, 70);
    EXPECT_EQ(s.SegLenOther, 45);
    EXPECT_EQ(sock->SmsStatus(), ssAfterLogin);
    EXPECT_TRUE(sock->keepAliveActive());
    EXPECT_EQ(rec.statuses, (std::vector<int>{ssLoginning, ssAfterLogin}));
}

TEST_F(SmsSocketTest, LoginFailures)
{
    // Refused: the code of the socket layer, no packet.
    {
        auto s = std::make_unique<TSMSSOCKET>(fastTimings());
        Recorder r;
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const QString closedPort = QString::number(probe.serverPort());
        probe.close();
        s->SetConnection("127.0.0.1", closedPort, &r, 1, TProxyInfo(), ProxyNone);
        s->Login("abc", "pw");
        ASSERT_TRUE(waitUntil([&] { return !r.actions.empty(); }));
        EXPECT_EQ(r.actions.front(), std::make_pair(1u, 10061u));
    }
    // Wrong password: the gateway's status, nobody logged in.
    make();
    sock->Login("abc", "bad");
    ASSERT_TRUE(gw.nextPacket());
    gw.send(FakeGateway::loginResp(0x1002));
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(1, 0x1002); }));
    EXPECT_FALSE(sock->isLoggedIn());
    // Names and passwords the packet cannot carry are refused before connecting.
    const int before = gw.connections();
    rec.actions.clear();
    sock->Login(QString(21, 'x'), "pw");
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(1, SMS_ERR_TEXT); }));
    EXPECT_TRUE(LastErrorText().startsWith("Socket异常: "));
    sock->Login("abc", QString(33, 'p'));
    EXPECT_EQ(gw.connections(), before);
    // No response at all: the login times out.
    rec.actions.clear();
    sock->Login("abc", "pw");
    ASSERT_TRUE(gw.nextPacket());
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(1, SMS_WAITRESP_TIMEOUT); }));
}

TEST_F(SmsSocketTest, PacketsSplitAndJoinedAreFramedAndAcknowledgedInOrder)
{
    login();
    const QByteArray d1 = FakeGateway::deliver(7, "8613800000001", "10086", "\xc4\xe3\xba\xc3"); // 你好
    const QByteArray d2 = FakeGateway::deliver(8, "13900000002", "10086", "ok");
    const QByteArray rp = FakeGateway::report(9, 0x0102030405060708ull, "13800000001", "UNDELIV", 12);
    gw.send(d1 + d2 + rp.left(5));
    waitUntil([] { return false; }, 50);
    gw.send(rp.mid(5, 40));
    waitUntil([] { return false; }, 50);
    gw.send(rp.mid(45));
    for (quint32 seq : {7u, 8u}) {
        auto ack = gw.nextPacket();
        ASSERT_TRUE(ack);
        EXPECT_EQ(FakeGateway::cmdOf(*ack), 0x80000004u);
        EXPECT_EQ(FakeGateway::seqOf(*ack), seq);
    }
    auto ack = gw.nextPacket();
    ASSERT_TRUE(ack);
    EXPECT_EQ(FakeGateway::cmdOf(*ack), 0x8000000Bu);
    EXPECT_EQ(FakeGateway::seqOf(*ack), 9u);
    ASSERT_TRUE(waitUntil([&] { return rec.delivers.size() == 2 && rec.reports.size() == 1; }));
    EXPECT_EQ(rec.delivers[0].SrcNo, "13800000001");
    EXPECT_EQ(rec.delivers[0].Content, "你好");
    EXPECT_EQ(rec.delivers[1].SrcNo, "13900000002");
    EXPECT_EQ(rec.reports[0].MsgID, 0x0102030405060708ull);
    EXPECT_EQ(rec.reports[0].Stat, "UNDELIV");
    EXPECT_EQ(rec.reports[0].ErrCode, 12u);
}

TEST_F(SmsSocketTest, OneSubmitInFlightPerSendThreadAndTimeoutStopsSending)
{
    login();
    const QString c = sock->session().CustomerNo;
    EXPECT_EQ(sock->PushOneSMS("", {"13800000001"}, 0, "x", "", "", "", 1, ""), 0u);
    const quint32 s1 = sock->PushOneSMS(c, {"13800000001"}, 0, "hello", "", "", "", 1, "");
    const quint32 s2 = sock->PushOneSMS(c, {"13800000002"}, 0, "hello", "", "", "", 1, "");
    const quint32 s3 = sock->PushOneSMS(c, {"13800000003"}, 0, "hello", "", "", "", 1, "");
    EXPECT_EQ(s2, s1 + 1);
    auto p1 = gw.nextPacket();
    ASSERT_TRUE(p1);
    EXPECT_EQ(FakeGateway::seqOf(*p1), s1);
    EXPECT_TRUE(gw.nothingFor(100)); // the second waits for the first answer
    gw.send(FakeGateway::submitResp(s1, 0, 42, 499));
    ASSERT_TRUE(waitUntil([&] { return rec.submits.size() == 1; }));
    EXPECT_EQ(rec.submits[0].first.Sequence_No, s1);
    EXPECT_EQ(rec.submits[0].first.MsgID, 42u);
    EXPECT_EQ(rec.submits[0].second, 0u);
    EXPECT_EQ(sock->session().Balance, 499);
    auto p2 = gw.nextPacket();
    ASSERT_TRUE(p2);
    EXPECT_EQ(FakeGateway::seqOf(*p2), s2);
    // No answer: exactly one time-out, and the third stays queued.
    ASSERT_TRUE(waitUntil([&] { return rec.submits.size() == 2; }));
    EXPECT_EQ(rec.submits[1].second, SMS_WAITRESP_TIMEOUT);
    EXPECT_EQ(rec.submits[1].first.MsgID, 0u);
    EXPECT_FALSE(sock->SendEnabled());
    EXPECT_TRUE(gw.nothingFor(200));
    EXPECT_EQ(sock->SubmitQueueCount(), 1u);
    EXPECT_EQ(rec.submits.size(), 2u);
    // A late answer finds nobody waiting.
    gw.send(FakeGateway::submitResp(s2, 0, 43, 498));
    EXPECT_TRUE(gw.nothingFor(100));
    EXPECT_EQ(rec.submits.size(), 2u);
    sock->setSendEnabled(true);
    auto p3 = gw.nextPacket();
    ASSERT_TRUE(p3);
    EXPECT_EQ(FakeGateway::seqOf(*p3), s3);
}

TEST_F(SmsSocketTest, ControlRequestsGoOneAtATime)
{
    login();
    sock->ChangePassword("new1");
    sock->ChangePassword("new2");
    auto c1 = gw.nextPacket();
    ASSERT_TRUE(c1);
    EXPECT_EQ(FakeGateway::cmdOf(*c1), 10u);
    EXPECT_TRUE(gw.nothingFor(100));
    gw.send(FakeGateway::header(16, 0x8000000A, 0, 0));
    ASSERT_TRUE(gw.nextPacket());
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(10, 0); }));
    gw.send(FakeGateway::header(16, 0x8000000A, 0, 0));
    ASSERT_TRUE(waitUntil([&] { return std::count(rec.actions.begin(), rec.actions.end(), std::make_pair(10u, 0u)) == 2; }));
    EXPECT_EQ(sock->session().Password, "new2");

    sock->AddPoint("card", "bad");
    ASSERT_TRUE(gw.nextPacket());
    gw.send(FakeGateway::addPointResp(2, 0));
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(15, 2); }));
    sock->AddPoint("card", "good");
    ASSERT_TRUE(gw.nextPacket());
    gw.send(FakeGateway::addPointResp(0, 1500));
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(15, 0); }));
    EXPECT_EQ(sock->session().Balance, 1500);

    sock->QueryAffiche();
    auto a = gw.nextPacket();
    ASSERT_TRUE(a);
    EXPECT_EQ(FakeGateway::cmdOf(*a), 13u);
    gw.send(FakeGateway::afficheResp("\xb9\xab\xb8\xe6")); // 公告
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(13, 0); }));
    EXPECT_EQ(sock->Affiche(), "公告");

    // A request that is never answered times out, and the next one goes out.
    sock->SetServerReply("13800000000", "hi");
    sock->QueryAffiche();
    auto r = gw.nextPacket();
    ASSERT_TRUE(r);
    EXPECT_EQ(FakeGateway::cmdOf(*r), 14u);
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(14, SMS_WAITRESP_TIMEOUT); }));
    auto next = gw.nextPacket();
    ASSERT_TRUE(next);
    EXPECT_EQ(FakeGateway::cmdOf(*next), 13u);
}

TEST_F(SmsSocketTest, FilterChunksAfterLoginNotifyOnceAtTheEnd)
{
    login();
    gw.send(FakeGateway::filterChunk(1, 3, "a\tb") + FakeGateway::filterChunk(2, 3, "\tc"));
    waitUntil([] { return false; }, 50);
    EXPECT_FALSE(rec.hasAction(5, 0));
    gw.send(FakeGateway::filterChunk(3, 3, "\td"));
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(5, 0); }));
    EXPECT_EQ(std::count_if(rec.actions.begin(), rec.actions.end(), [](auto a) { return a.first == 5; }), 1);
    EXPECT_EQ(sock->FilterString(), "a\tb\tc\td");
    EXPECT_EQ(sock->SmsStatus(), ssDeliverFilter_Complete);
    // The control channel still works afterwards.
    sock->QueryAffiche();
    ASSERT_TRUE(gw.nextPacket());
}

TEST_F(SmsSocketTest, ConnectionLostOrMalformedLogsOut)
{
    struct Case {
        const char *name;
        std::function<void(FakeGateway &)> act;
        std::optional<std::pair<quint32, quint32>> firstNotice;
    } cases[] = {
        {"orderly close", [](FakeGateway &g) { g.close(); }, std::nullopt},
        // The socket layer reports a reset by the peer like an orderly close.
        {"reset", [](FakeGateway &g) { g.reset(); }, std::nullopt},
        {"length below header", [](FakeGateway &g) { g.send(FakeGateway::header(8, 4, 0, 1)); },
         std::make_pair(ActionSocketError, SMS_ERR_TEXT)},
        {"absurd length", [](FakeGateway &g) { g.send(FakeGateway::header(0x7fffffff, 4, 0, 1)); },
         std::make_pair(ActionSocketError, SMS_ERR_TEXT)},
        {"broken login-style body", [](FakeGateway &g) { g.send(FakeGateway::packet(0x8000000D, 0, 0, "ab")); },
         std::make_pair(ActionSocketError, SMS_ERR_TEXT)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sock.reset();
        gw.drain();
        rec = Recorder();
        login();
        if (std::string(c.name) == "broken login-style body")
            sock->QueryAffiche(), gw.nextPacket();
        c.act(gw);
        ASSERT_TRUE(waitUntil([&] { return rec.hasAction(2, 0); }));
        EXPECT_FALSE(sock->isLoggedIn());
        EXPECT_EQ(sock->SmsStatus(), ssUnLogin);
        EXPECT_FALSE(sock->SendEnabled());
        if (c.firstNotice)
            EXPECT_TRUE(rec.hasAction(c.firstNotice->first, c.firstNotice->second));
        else
            EXPECT_FALSE(std::any_of(rec.actions.begin(), rec.actions.end(),
                                     [](auto a) { return a.first == ActionSocketError; }));
    }
}

TEST_F(SmsSocketTest, UnknownAndEmptyPacketsAreDroppedAndTheLinkStays)
{
    login();
    gw.send(FakeGateway::header(16, 0x12345, 0, 1) + FakeGateway::packet(0x77, 0, 2, "junk") +
            FakeGateway::header(16, 4, 0, 3) + FakeGateway::header(16, 9, 0, 77));
    auto p = gw.nextPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(FakeGateway::cmdOf(*p), 0x80000009u); // only the EnquireLink is answered
    EXPECT_EQ(FakeGateway::seqOf(*p), 77u);
    EXPECT_TRUE(gw.nothingFor(50));
    EXPECT_TRUE(sock->isLoggedIn());
    EXPECT_TRUE(rec.delivers.empty());
}

TEST_F(SmsSocketTest, KeepAliveAndLogout)
{
    GatewayTimings t = fastTimings();
    t.keepAliveMs = 50;
    make(t);
    login();
    auto e = gw.nextPacket();
    ASSERT_TRUE(e);
    EXPECT_EQ(FakeGateway::cmdOf(*e), 9u);
    EXPECT_EQ(FakeGateway::seqOf(*e), 1u);
    gw.send(FakeGateway::header(16, 0x80000009, 0, 1));
    auto e2 = gw.nextPacket();
    ASSERT_TRUE(e2);
    EXPECT_EQ(FakeGateway::seqOf(*e2), 2u);

    // Logging out while a Submit is in flight frees it; its late answer is dropped.
    const quint32 seq = sock->PushOneSMS(sock->session().CustomerNo, {"13800000001"}, 0, "x", "", "", "", 1, "");
    std::optional<QByteArray> sub;
    while ((sub = gw.nextPacket()) && FakeGateway::cmdOf(*sub) != 3) {
    }
    ASSERT_TRUE(sub);
    sock->Logout();
    EXPECT_TRUE(rec.hasAction(2, 0));
    EXPECT_FALSE(sock->keepAliveActive());
    EXPECT_TRUE(QDir(home.file("log")).exists());
    waitUntil([] { return false; }, 600);
    EXPECT_TRUE(rec.submits.empty()) << "no notice for a packet a logout freed";
    (void)seq;
}

TEST_F(SmsSocketTest, SendThreadCountKeepsThreadsAndActivatesTheFirst)
{
    make(fastTimings(), 3);
    EXPECT_EQ(sock->SendThreadActiveCount(), 3);
    sock->setSendThreadCount(1);
    EXPECT_EQ(sock->SendThreadActiveCount(), 1);
    EXPECT_EQ(sock->SendThreadCount(), 1);
    sock->setSendThreadCount(2);
    EXPECT_EQ(sock->SendThreadActiveCount(), 2);
    sock->setSendThreadCount(4);
    EXPECT_EQ(sock->SendThreadActiveCount(), 4);
}

TEST_F(SmsSocketTest, DestroyingWhileAWorkerWaitsForTheMainThreadDoesNotHang)
{
    login();
    gw.send(FakeGateway::deliver(1, "13800000001", "10086", "a") + FakeGateway::deliver(2, "13800000002", "10086", "b"));
    ASSERT_TRUE(gw.nextPacket());
    // The receive thread is now blocked delivering to a main thread that does not run.
    sock.reset();
    SUCCEED();
}

TEST_F(SmsSocketTest, HttpProxyConnectExchange)
{
    struct Case {
        const char *user;
        QByteArray reply;
        bool loginFollows;
    } cases[] = {
        {"", "HTTP/1.0 200 Connection established\r\n\r\n", true},
        {"   ", "HTTP/1.1 200 OK\r\nProxy-agent: x\r\n\r\n", true},
        {"bob", "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", false},
        {"", "XTTP/1.0 200 fake\r\n\r\n", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply.toStdString());
        FakeGateway proxy;
        Recorder r;
        TSMSSOCKET s(fastTimings());
        TProxyInfo info;
        info.Host = "127.0.0.1";
        info.Port = proxy.port();
        info.User = c.user;
        info.Password = "secret";
        s.SetConnection("gw.example", "6666", &r, 1, info, ProxyKindFromName("http"));
        s.Login("abc", "pw");
        const QByteArray req = proxy.takeRaw(20);
        EXPECT_TRUE(req.startsWith("CONNECT gw.example:6666 HTTP/1.1\r\n"));
        if (QByteArray(c.user).trimmed().isEmpty()) {
            EXPECT_TRUE(req.contains("Host: gw.example:6666\r\n"));
            EXPECT_FALSE(req.contains("Proxy-Authorization"));
        } else {
            EXPECT_TRUE(req.contains("Proxy-Authorization: Basic " + QByteArray("bob:secret").toBase64()));
            EXPECT_FALSE(req.contains("Host:"));
        }
        proxy.send(c.reply);
        if (c.loginFollows) {
            auto p = proxy.nextPacket();
            ASSERT_TRUE(p);
            EXPECT_EQ(FakeGateway::cmdOf(*p), 1u);
        } else {
            ASSERT_TRUE(waitUntil([&] { return r.hasAction(1, SMS_ERR_TEXT); }));
            EXPECT_EQ(LastErrorText(), "http代理连接目标服务器失败,原因未知");
        }
    }
}

TEST_F(SmsSocketTest, AFloodOfDeliversIsAcknowledgedAndHandedOverInOrder)
{
    login();
    constexpr int n = 3000;
    QByteArray flood;
    for (int i = 1; i <= n; ++i)
        flood += FakeGateway::deliver(quint32(i), "13800000001", "10086", QByteArray::number(i));
    gw.send(flood);
    for (int i = 1; i <= n; ++i) {
        auto ack = gw.nextPacket();
        ASSERT_TRUE(ack) << i;
        ASSERT_EQ(FakeGateway::seqOf(*ack), quint32(i));
    }
    ASSERT_TRUE(waitUntil([&] { return rec.delivers.size() == size_t(n); }, 20000));
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(rec.delivers[size_t(i)].Content, QString::number(i + 1));
    EXPECT_TRUE(sock->isLoggedIn());
}
