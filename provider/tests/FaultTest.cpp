// Fault switches and admin requests that break the link on purpose.
#include "SimHarness.h"

using namespace SimTest;
namespace Cmd = Gateway::Cmd;

namespace {
struct LoggedIn {
    Harness h;
    Client client;
    explicit LoggedIn(const Sim::Config &config = testConfig()) : h(config), client(h.port(0))
    {
        EXPECT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
    }
    HttpReply faults(const QJsonObject &f) { return admin(h.webPort(), "faults", f); }
};
} // namespace

TEST(ProviderFaults, DroppedAndDelayedAnswers)
{
    LoggedIn t;
    ASSERT_EQ(t.faults({{"drop", QJsonArray{"Submit"}}, {"delayMs", QJsonObject{{"Affiche", 300}}}}).status,
              200);
    // The gateway answers in order, so whatever comes before the next answer shows what was dropped.
    t.client.sendSubmit({QStringLiteral("13800000000")}, QStringLiteral("x"), 7);
    t.client.send(Gateway::BuildAffiche());
    t.client.send(Gateway::BuildEnquireLink(5));
    // EnquireLink's answer overtakes the delayed Affiche; the Submit's never comes.
    const QByteArray link = t.client.waitFor(Cmd::EnquireLink_Response, 5u);
    ASSERT_FALSE(link.isEmpty());
    EXPECT_FALSE(t.client.waitFor(Cmd::Affiche_Response).isEmpty());
    // The Submit itself was carried out: charged, and its report is on its way.
    ASSERT_TRUE(t.client.waitUntil([&] { return t.client.reports.size() == 1; }));
    EXPECT_FALSE(t.client.receivedAny(Cmd::Submit_Response));

    ASSERT_EQ(t.faults({}).status, 200); // all off
    EXPECT_EQ(t.client.submit({QStringLiteral("13800000000")}, QStringLiteral("x"), 8).Balance, 998);
    // A typo in a fault is refused rather than ignored.
    EXPECT_EQ(t.faults({{"dorp", QJsonArray{"Submit"}}}).status, 400);
    EXPECT_EQ(t.faults({{"drop", QJsonArray{"Sumbit"}}}).status, 400);
}

TEST(ProviderFaults, UnansweredEnquireLink)
{
    LoggedIn t;
    t.faults({{"ignoreEnquireLink", true}});
    t.client.send(Gateway::BuildEnquireLink(9));
    t.client.send(Gateway::BuildAffiche());
    ASSERT_FALSE(t.client.waitFor(Cmd::Affiche_Response).isEmpty());
    // Answers go out in order, so an answer to the EnquireLink would have come first.
    EXPECT_FALSE(t.client.receivedAny(Cmd::EnquireLink_Response));
}

TEST(ProviderFaults, ClosesAfterNPackets)
{
    LoggedIn t;
    t.faults({{"closeAfterPackets", 3}}); // counts this connection's login as the first
    t.client.send(Gateway::BuildAffiche());
    EXPECT_FALSE(t.client.waitFor(Cmd::Affiche_Response).isEmpty());
    t.client.send(Gateway::BuildAffiche());
    EXPECT_TRUE(t.client.waitFor(Cmd::Affiche_Response).isEmpty()); // third packet: closed, unanswered
    EXPECT_FALSE(t.client.connected());
}

TEST(ProviderFaults, MalformedPacketsAndClosing)
{
    struct Case {
        const char *kind;
        bool malformed; // the client's framing must give up on the stream
        int unknown, discarded;
    } cases[] = {{"shortLength", true, 0, 0},
                 {"hugeLength", true, 0, 0},
                 {"unknownCommand", false, 1, 0},
                 {"emptyDeliver", false, 0, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        LoggedIn t;
        const HttpReply r = admin(t.h.webPort(), "malformed", {{"account", "demo"}, {"kind", c.kind}});
        ASSERT_EQ(r.status, 200);
        EXPECT_EQ(r.json().toObject().value(u"sent").toInt(), 1);
        t.client.send(Gateway::BuildAffiche());
        const QByteArray next = t.client.waitFor(Cmd::Affiche_Response);
        EXPECT_EQ(t.client.malformedSeen, c.malformed);
        // A well-framed oddity leaves the stream in step.
        EXPECT_EQ(next.isEmpty(), c.malformed);
        EXPECT_EQ(int(t.client.unknown.size()), c.unknown);
        EXPECT_EQ(t.client.discarded, c.discarded);
    }
    LoggedIn t;
    EXPECT_EQ(admin(t.h.webPort(), "malformed", {{"kind", "nonsense"}}).status, 400);
    const HttpReply closed = admin(t.h.webPort(), "close", {{"account", "demo"}});
    EXPECT_EQ(closed.json().toObject().value(u"closed").toInt(), 1);
    EXPECT_TRUE(t.client.waitClosed());
}

TEST(ProviderFaults, UnexpectedAcknowledgementsAreCounted)
{
    LoggedIn t;
    t.client.send(Gateway::BuildReportResp(12345));
    t.client.send(Gateway::BuildAffiche());
    t.client.waitFor(Cmd::Affiche_Response);
    EXPECT_EQ(http(t.h.webPort(), "GET", "/admin/stats").json().toObject().value(u"unexpectedAcks").toInt(),
              1);
}
