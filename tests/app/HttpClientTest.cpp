#include "app/HttpClient.h"
#include "LocalHttpServer.h"
#include <gtest/gtest.h>
#include <thread>

namespace {

quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace

TEST(HttpClient, GetReturnsStatusAndRawBytesOnAnyThread)
{
    LocalHttpServer server;
    const QByteArray gbk("\xc4\xe3\xba\xc3\x00\x01", 6); // GBK text plus bytes that are not text
    server.route("/page", {200, gbk});
    server.route("/gone", {404, "missing"});

    HttpResponse fromWorker;
    std::thread worker([&] { fromWorker = HttpClient::get(server.base() + "/page"); });
    worker.join();
    EXPECT_TRUE(fromWorker.ok());
    EXPECT_EQ(fromWorker.status, 200);
    EXPECT_EQ(fromWorker.body, gbk);

    const HttpResponse gone = HttpClient::get(server.base() + "/gone");
    EXPECT_TRUE(gone.completed()); // an answer arrived, it just is not a page
    EXPECT_FALSE(gone.ok());
    EXPECT_EQ(gone.status, 404);
}

TEST(HttpClient, TransportFailuresCarryAnErrorText)
{
    LocalHttpServer server;
    server.route("/slow", {200, "", true});
    struct Case {
        const char *name;
        QString url;
    };
    const Case cases[] = {
        {"refused", QStringLiteral("http://127.0.0.1:%1/").arg(closedPort())},
        {"no answer before the timeout", server.base() + "/slow"},
        {"bad address", QStringLiteral("http://[::zz]/")},
    };
    for (const Case &c : cases) {
        HttpOptions o;
        o.timeoutMs = 500;
        const HttpResponse r = HttpClient::get(c.url, o);
        EXPECT_FALSE(r.completed()) << c.name;
        EXPECT_FALSE(r.errorText.isEmpty()) << c.name;
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_TRUE(r.body.isEmpty()) << c.name;
    }
}

TEST(HttpClient, PostFormSendsEncodedFieldsAsGiven)
{
    LocalHttpServer server;
    server.route("/form", {200, "成功"});
    const HttpClient::Form form = {{"name", "a b&c=d"}, {"corp", QByteArray("\xc4\xe3", 2)}};
    const HttpResponse r = HttpClient::postForm(server.base() + "/form", form);
    ASSERT_TRUE(r.ok()) << r.errorText.toStdString();
    EXPECT_EQ(QString::fromUtf8(r.body), QStringLiteral("成功"));
    const auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].method, "POST");
    EXPECT_EQ(reqs[0].body, "name=a%20b%26c%3Dd&corp=%C4%E3");
    EXPECT_TRUE(reqs[0].head.toLower().contains("content-type: application/x-www-form-urlencoded"));
}

TEST(HttpClient, HttpProxyReceivesTheFullUrlAndCredentials)
{
    LocalHttpServer proxy;
    proxy.route("/faq.html", {200, "via proxy"});
    HttpOptions o;
    o.proxy = {HttpProxyKind::Http, QStringLiteral("127.0.0.1"), proxy.port(), QStringLiteral("usr"),
               QStringLiteral("pw")};
    const HttpResponse r = HttpClient::get(QStringLiteral("http://provider.invalid/faq.html"), o);
    ASSERT_TRUE(r.ok()) << r.errorText.toStdString();
    EXPECT_EQ(r.body, "via proxy");
    const auto reqs = proxy.requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].target, "http://provider.invalid/faq.html");
    // "usr:pw" in Base64.
    EXPECT_TRUE(reqs[0].head.contains("Proxy-Authorization: Basic dXNyOnB3")) << reqs[0].head.toStdString();
}

TEST(HttpClient, NoProxyMeansNoEnvironmentProxyEither)
{
    LocalHttpServer server;
    server.route("/x", {200, "direct"});
    qputenv("http_proxy", QStringLiteral("http://127.0.0.1:%1").arg(closedPort()).toUtf8());
    const HttpResponse r = HttpClient::get(server.base() + "/x");
    qunsetenv("http_proxy");
    EXPECT_TRUE(r.ok()) << r.errorText.toStdString();
}
