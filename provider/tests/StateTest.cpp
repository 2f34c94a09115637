// The state file: a restart keeps accounts, balances, passwords, cards and messages.
#include "SimHarness.h"

#include <QFile>
#include <QTemporaryDir>

using namespace SimTest;
namespace Cmd = Gateway::Cmd;

TEST(ProviderState, ARestartKeepsWhatHappened)
{
    QTemporaryDir dir;
    Sim::Config config = testConfig();
    config.stateFile = dir.filePath(QStringLiteral("state/state.json"));
    quint64 msgId = 0;
    {
        Harness h(config);
        Client client(h.port(0));
        client.ackReports = false; // so the reports are still owed at the restart
        ASSERT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
        msgId = client.submit(numbers(3), QStringLiteral("重启前"), 1).Resp.MsgID;
        ASSERT_TRUE(client.waitUntil([&] { return client.reports.size() == 3; }));
        client.send(
            *Gateway::BuildAddPoint(client.customerNo, QStringLiteral("8800001"), QStringLiteral("111111")));
        client.waitFor(Cmd::AddPoint_Response);
        client.send(*Gateway::BuildChangePassword(client.customerNo, QStringLiteral("after")));
        client.waitFor(Cmd::ChangePassword_Response);
    } // stopping writes the state
    ASSERT_TRUE(QFile::exists(config.stateFile));

    Harness h(config);
    Client client(h.port(0));
    EXPECT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0x1002u);
    const auto login = client.login(QStringLiteral("demo"), QStringLiteral("after"));
    ASSERT_EQ(login.Command_Status, 0u);
    EXPECT_EQ(login.Balance, 1000 - 3 + 100);
    client.send(
        *Gateway::BuildAddPoint(client.customerNo, QStringLiteral("8800001"), QStringLiteral("111111")));
    EXPECT_EQ(Gateway::ParseAddPointResp(client.waitFor(Cmd::AddPoint_Response))->Command_Status, 1u);
    const QJsonArray submits = http(h.webPort(), "GET", "/admin/submits").json().toArray();
    ASSERT_EQ(submits.size(), 1);
    EXPECT_EQ(submits.at(0).toObject().value(u"content").toString(), QStringLiteral("重启前"));
    // New identifiers never repeat old ones.
    EXPECT_GT(client.submit(numbers(1), QStringLiteral("重启后"), 2).Resp.MsgID, msgId);
    // The reports never acknowledged before the restart come again.
    ASSERT_TRUE(client.waitUntil([&] {
        return std::count_if(client.reports.begin(), client.reports.end(),
                             [&](const auto &r) { return r.MsgID == msgId; }) == 3;
    }));
}

TEST(ProviderState, ShippedConfigHasTheDemoAccount)
{
    QString error;
    auto config = Sim::Config::load(QStringLiteral(VELARO_PROVIDER_DIR "/velaro-provider.conf"), &error);
    ASSERT_TRUE(config) << error.toStdString();
    EXPECT_EQ(config->gatewayPorts, (QList<quint16>{6666, 7777}));
    EXPECT_EQ(config->webPort, 8088);
    config->gatewayPorts = {0};
    config->webPort = 0;
    config->stateFile.clear();
    Harness h(*config);
    Client client(h.port(0));
    EXPECT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Command_Status, 0u);
}
