#include "FakeGateway.h"
#include "GatewayTestSupport.h"
#include "ProxyServers.h"
#include "TempHome.h"
#include "gateway/SMSSOCKET.h"
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace Gateway;

namespace {

const char *const kHttpUser = "bob";
const char *const kHttpPassword = "s3cret";

GatewayTimings fastTimings() { return testTimings(3000, 5000); }

enum class Server { Direct, Dante, DanteUser, Socks4a, Tinyproxy, TinyproxyAuth };

struct LoginCase {
    const char *name;
    int kind;
    Server server;
    const char *targetHost;
    const char *user;
    const char *password;
    quint32 failure = 0;               // 0: the login goes through; else the status of (1, status)
    const char *failureText = nullptr; // LastErrorText expected with SMS_ERR_TEXT
};

const LoginCase kLoginCases[] = {
    {"Direct", ProxyNone, Server::Direct, "127.0.0.1", "", ""},
    {"Socks4", ProxySocks4, Server::Dante, "127.0.0.1", "", ""},
    {"Socks4A", ProxySocks4A, Server::Socks4a, "localhost", "alice", ""},
    {"Socks5", ProxySocks5, Server::Dante, "127.0.0.1", "", ""},
    {"Socks5HostName", ProxySocks5, Server::Dante, "localhost", "", ""},
    {"Socks5UserPassword", ProxySocks5, Server::DanteUser, "127.0.0.1", DanteServer::kUser,
     DanteServer::kPassword},
    {"Socks5WrongPassword", ProxySocks5, Server::DanteUser, "127.0.0.1", DanteServer::kUser, "wrong",
     WSocket::socksAuthenticationFailed},
    {"Socks5NoUserWhereDemanded", ProxySocks5, Server::DanteUser, "127.0.0.1", "", "",
     WSocket::socksAuthMethodError},
    {"HttpConnect", ProxyHttp, Server::Tinyproxy, "127.0.0.1", "", ""},
    {"HttpConnectCredentials", ProxyHttp, Server::TinyproxyAuth, "127.0.0.1", kHttpUser, kHttpPassword},
    {"HttpConnectWrongCredentials", ProxyHttp, Server::TinyproxyAuth, "127.0.0.1", kHttpUser, "wrong",
     SMS_ERR_TEXT, "http代理连接目标服务器失败,原因未知"},
};

void PrintTo(const LoginCase &c, std::ostream *os)
{
    *os << c.name;
}

class ProxyLoginTest : public ::testing::TestWithParam<LoginCase> {
protected:
    TempHome home;
    FakeGateway gw;
    Recorder rec;
    std::unique_ptr<ProxyProcess> process;
    std::unique_ptr<Socks4aDouble> socks4a;

    // Starts the case's proxy; returns its port.
    QString startProxy(Server s)
    {
        switch (s) {
        case Server::Direct:
            return QString();
        case Server::Socks4a:
            socks4a = std::make_unique<Socks4aDouble>();
            return socks4a->portText();
        case Server::Dante:
        case Server::DanteUser:
            process = std::make_unique<DanteServer>(s == Server::DanteUser);
            break;
        case Server::Tinyproxy:
            process = std::make_unique<TinyproxyServer>(gw.port().toUShort());
            break;
        case Server::TinyproxyAuth:
            process = std::make_unique<TinyproxyServer>(gw.port().toUShort(), kHttpUser, kHttpPassword);
            break;
        }
        EXPECT_EQ(process->error().toStdString(), "");
        return process->portText();
    }
};

} // namespace

TEST_P(ProxyLoginTest, LogsInThroughTheProxy)
{
    const LoginCase &c = GetParam();
    if (c.server == Server::DanteUser) {
        const QString why = ensureSocksAccount();
        if (!why.isEmpty())
            GTEST_SKIP() << why.toStdString();
    }
    const QString proxyPort = startProxy(c.server);
    ASSERT_FALSE(HasFailure());
    TSMSSOCKET sock(fastTimings());
    const TProxyInfo info{1, "127.0.0.1", proxyPort, c.user, c.password};
    sock.SetConnection(c.targetHost, gw.port(), &rec, 1, info, c.kind);
    sock.Login("abc", "pw");

    if (c.failure != 0) {
        // Once the proxy has closed the connection, exactly this one notice was given.
        ASSERT_TRUE(waitUntil([&] { return !rec.actions.empty() && sock.isClosed(); }));
        EXPECT_EQ(rec.actions, (std::vector<std::pair<quint32, quint32>>{{1u, c.failure}}));
        if (c.failureText) {
            EXPECT_EQ(LastErrorText().toStdString(), c.failureText);
        }
        EXPECT_EQ(gw.connections(), 0);
        EXPECT_FALSE(sock.isLoggedIn());
        return;
    }
    const auto login = gw.nextPacket();
    ASSERT_TRUE(login);
    EXPECT_EQ(FakeGateway::cmdOf(*login), 1u);
    EXPECT_EQ(login->size(), 59);
    EXPECT_EQ(gw.conn()->peerAddress(),
              c.server == Server::Direct ? QHostAddress(QHostAddress::LocalHost) : kProxyOutgoingAddress);
    gw.send(FakeGateway::loginResp(0));
    ASSERT_TRUE(waitUntil([&] { return rec.hasAction(1, 0); }));
    EXPECT_EQ(sock.session().CustomerNo, "10086");
    EXPECT_EQ(sock.SmsStatus(), ssAfterLogin);
    // The tunnel keeps carrying packets both ways after the handshake.
    gw.send(FakeGateway::header(16, 9, 0, 77));
    const auto echo = gw.nextPacket();
    ASSERT_TRUE(echo);
    EXPECT_EQ(FakeGateway::cmdOf(*echo), 0x80000009u);
    EXPECT_EQ(FakeGateway::seqOf(*echo), 77u);

    if (c.server == Server::Socks4a) {
        ASSERT_EQ(socks4a->requests().size(), 1u);
        const auto &r = socks4a->requests().front();
        EXPECT_EQ(r.version, 4);
        EXPECT_EQ(r.command, 1);
        EXPECT_EQ(r.port, gw.port().toUShort());
        EXPECT_TRUE(r.address > 0 && r.address < 256) << r.address;
        EXPECT_EQ(r.user, "alice");
        EXPECT_EQ(r.host, "localhost");
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ProxyLoginTest, ::testing::ValuesIn(kLoginCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ProxyUnreachable, LoginFailsWithTheSocketCodeAndCanBeRetried)
{
    TempHome home;
    FakeGateway gw;
    for (const int kind : {int(ProxySocks4), int(ProxySocks4A), int(ProxySocks5), int(ProxyHttp)}) {
        SCOPED_TRACE(kind);
        Recorder rec;
        const int before = gw.connections();
        TSMSSOCKET sock(fastTimings());
        const TProxyInfo info{1, "127.0.0.1", QString::number(closedLoopbackPort()), "u", "p"};
        sock.SetConnection("127.0.0.1", gw.port(), &rec, 1, info, kind);
        sock.Login("abc", "pw");
        ASSERT_TRUE(waitUntil([&] { return !rec.actions.empty(); }));
        EXPECT_EQ(rec.actions.front(), std::make_pair(1u, 10061u));
        EXPECT_TRUE(sock.isClosed());
        EXPECT_EQ(gw.connections(), before);
        // The same component then logs in without the proxy.
        sock.SetConnection("127.0.0.1", gw.port(), &rec, 1, TProxyInfo(), ProxyNone);
        sock.Login("abc", "pw");
        const auto login = gw.nextPacket();
        ASSERT_TRUE(login);
        EXPECT_EQ(FakeGateway::cmdOf(*login), 1u);
        gw.send(FakeGateway::loginResp(0));
        ASSERT_TRUE(waitUntil([&] { return rec.hasAction(1, 0); }));
        sock.Logout();
        gw.drain();
    }
}
