#include "FakeGateway.h"
#include "LocalHttpServer.h"
#include "ProxyServers.h"
#include "app/HttpClient.h"
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

const char *const kHttpUser = "bob";
const char *const kHttpPassword = "s3cret";

enum class Server { Dante, DanteUser, Socks4a, Tinyproxy, TinyproxyAuth };

struct GetCase {
    const char *name;
    HttpProxyKind kind;
    Server server;
    const char *urlHost;
    const char *user;
    const char *password;
    bool ok;
};

const GetCase kGetCases[] = {
    {"Socks5", HttpProxyKind::Socks5, Server::Dante, "127.0.0.1", "", "", true},
    {"Socks5UserPassword", HttpProxyKind::Socks5, Server::DanteUser, "127.0.0.1", DanteServer::kUser,
     DanteServer::kPassword, true},
    {"Socks5WrongPassword", HttpProxyKind::Socks5, Server::DanteUser, "127.0.0.1", DanteServer::kUser,
     "wrong", false},
    {"Socks4", HttpProxyKind::Socks4, Server::Dante, "127.0.0.1", "", "", true},
    {"Socks4A", HttpProxyKind::Socks4a, Server::Socks4a, "localhost", "", "", true},
    {"Http", HttpProxyKind::Http, Server::Tinyproxy, "127.0.0.1", "", "", true},
    {"HttpCredentials", HttpProxyKind::Http, Server::TinyproxyAuth, "127.0.0.1", kHttpUser, kHttpPassword,
     true},
    {"HttpWrongCredentials", HttpProxyKind::Http, Server::TinyproxyAuth, "127.0.0.1", kHttpUser, "wrong",
     false},
};

void PrintTo(const GetCase &c, std::ostream *os)
{
    *os << c.name;
}

// Sets an environment variable for the fixture's life.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value) : m_name(name), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_old.isNull())
            qunsetenv(m_name);
        else
            qputenv(m_name, m_old);
    }

private:
    const char *m_name;
    QByteArray m_old;
};

class HttpClientProxyTest : public ::testing::TestWithParam<GetCase> {
protected:
    // A machine's own bypass list must not take the user's chosen proxy out of the path.
    ScopedEnv noProxy{"no_proxy", "127.0.0.1,localhost"};
    ScopedEnv noProxyUpper{"NO_PROXY", "127.0.0.1,localhost"};
    LocalHttpServer server;
    std::unique_ptr<ProxyProcess> process;
    std::unique_ptr<Socks4aDouble> socks4a;

    quint16 startProxy(Server s)
    {
        switch (s) {
        case Server::Socks4a:
            socks4a = std::make_unique<Socks4aDouble>();
            return socks4a->port();
        case Server::Dante:
        case Server::DanteUser:
            process = std::make_unique<DanteServer>(s == Server::DanteUser);
            break;
        case Server::Tinyproxy:
            process = std::make_unique<TinyproxyServer>(server.port());
            break;
        case Server::TinyproxyAuth:
            process = std::make_unique<TinyproxyServer>(server.port(), kHttpUser, kHttpPassword);
            break;
        }
        EXPECT_EQ(process->error().toStdString(), "");
        return process->port();
    }
};

} // namespace

TEST_P(HttpClientProxyTest, GetGoesThroughTheProxy)
{
    const GetCase &c = GetParam();
    if (c.server == Server::DanteUser) {
        const QString why = ensureSocksAccount();
        if (!why.isEmpty())
            GTEST_SKIP() << why.toStdString();
    }
    const quint16 proxyPort = startProxy(c.server);
    ASSERT_FALSE(HasFailure());
    server.route("/words", {200, "a\tb"});
    HttpOptions o;
    o.timeoutMs = 5000;
    o.proxy = {c.kind, "127.0.0.1", proxyPort, c.user, c.password};
    const QString url = QStringLiteral("http://%1:%2/words").arg(c.urlHost).arg(server.port());

    // The double answers on this thread's event loop while the blocking call runs on a worker.
    HttpResponse r;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        r = HttpClient::get(url, o);
        done = true;
    });
    const bool finished = waitUntil([&] { return done.load(); }, 15000);
    worker.join();
    ASSERT_TRUE(finished);

    if (!c.ok) {
        EXPECT_FALSE(r.ok());
        EXPECT_NE(r.body, "a\tb");
        EXPECT_TRUE(server.requests().empty());
        return;
    }
    ASSERT_TRUE(r.ok()) << r.errorText.toStdString() << " status " << r.status;
    EXPECT_EQ(r.body, "a\tb");
    ASSERT_EQ(server.requests().size(), 1u);
    // Evidence that the request really passed the proxy.
    switch (c.server) {
    case Server::Dante:
    case Server::DanteUser: {
        const QByteArray to = " 127.0.0.1." + QByteArray::number(server.port());
        EXPECT_TRUE(waitUntil([&] { return process->log().contains(to); })) << process->log().toStdString();
        break;
    }
    case Server::Tinyproxy:
    case Server::TinyproxyAuth:
        EXPECT_TRUE(server.requests()[0].head.contains("(tinyproxy/"))
            << server.requests()[0].head.toStdString();
        break;
    case Server::Socks4a:
        ASSERT_EQ(socks4a->requests().size(), 1u);
        EXPECT_EQ(socks4a->requests()[0].host, "localhost");
        EXPECT_EQ(socks4a->requests()[0].port, server.port());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, HttpClientProxyTest, ::testing::ValuesIn(kGetCases),
                         [](const auto &info) { return std::string(info.param.name); });
