#include "app/LoginDialogLogic.h"
#include "FakeGateway.h"
#include "FakeMainView.h"
#include "TempHome.h"
#include "app/MainController.h"
#include "common/Clock.h"
#include "common/ScriptedPrompter.h"
#include "store/dm.h"
#include <gtest/gtest.h>

namespace {

QString b64(const char *text)
{
    return QString::fromLatin1(QByteArray(text).toBase64());
}

class LoginDialogLogicTest : public ::testing::Test {
protected:
    TempHome home;
    ScriptedPrompter prompter;
    ManualClock clock{QDateTime(QDate(2026, 12, 11), QTime(9, 0))};
    std::unique_ptr<TDataM> dm = std::make_unique<TDataM>(prompter, clock);
    MainController ctl{*dm};
    LoginDialogLogic logic{*dm, ctl};

    // Per-account values are written while that account is the current one.
    void account(const QString &name, std::initializer_list<std::pair<const char *, QString>> values)
    {
        dm->WriteSetting("user", name);
        for (const auto &[k, v] : values)
            dm->WriteSetting(QLatin1String(k), v);
    }
};

} // namespace

TEST_F(LoginDialogLogicTest, InitialFormChoosesGatewayAndAccount)
{
    struct Case {
        const char *host; // nullptr: never stored
        int gatewayIndex;
    } cases[] = {{nullptr, 0},   {"服务器1", 0}, {"服务器3", 2},
                 {"服务器4", 3}, {"0", 0},       {"10.0.0.1:6666", 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host ? c.host : "unset");
        if (c.host)
            dm->WriteSetting("host", c.host);
        EXPECT_EQ(logic.initialForm(false).gatewayIndex, c.gatewayIndex);
    }

    // No remembered account: nothing selected, nothing written.
    LoginForm empty = logic.initialForm(false);
    EXPECT_TRUE(empty.accounts.isEmpty());
    EXPECT_EQ(empty.account, "");
    EXPECT_EQ(empty.proxyType, "不使用代理");
    EXPECT_EQ(empty.proxyPort, "0");
    EXPECT_EQ(dm->ReadSetting("autofileter"), "");

    account("alice", {{"mmpass", "1"}, {"pass", b64("secret")}});
    dm->WriteSetting("userlist", "demo,alice,bob,");
    const LoginForm f = logic.initialForm(false);
    EXPECT_EQ(f.accounts, QStringList({"demo", "alice", "bob"}));
    EXPECT_EQ(f.account, "alice");
    EXPECT_EQ(f.password, "secret"); // the account change ran
    EXPECT_FALSE(f.freeServerShown);
}

TEST_F(LoginDialogLogicTest, MaintenanceFieldHoldsHostAndPort)
{
    const struct {
        Qt::KeyboardModifiers held;
        bool shown;
    } keys[] = {{Qt::NoModifier, false},
                {Qt::ControlModifier, false},
                {Qt::ShiftModifier, false},
                {Qt::ControlModifier | Qt::ShiftModifier, true},
                {Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier, true}};
    for (const auto &k : keys)
        EXPECT_EQ(LoginDialogLogic::isMaintenanceCombination(k.held), k.shown) << int(k.held);

    home.write("provider.ini", "[Provider]\nGatewayHostA=10.1.2.3\nGatewayPort1=6000\n");
    dm->WriteSetting("host", "服务器2");
    LoginForm f = logic.initialForm(true);
    EXPECT_TRUE(f.freeServerShown);
    EXPECT_EQ(f.freeServer, "10.1.2.3:6000");
    f.freeServer = " gw.example:7000 ";
    EXPECT_EQ(logic.serverText(f), "gw.example:7000");
    // A free-text server used last time comes back.
    dm->WriteSetting("host", "gw.example:7000");
    EXPECT_EQ(logic.initialForm(true).freeServer, "gw.example:7000");
    EXPECT_EQ(logic.serverText(logic.initialForm(false)), "服务器1");
}

TEST_F(LoginDialogLogicTest, AccountChangeFillsTheAccountsValues)
{
    account("demo", {{"mmpass", "1"},
                     {"pass", b64("demo123")},
                     {"qyproxy", "1"},
                     {"proxyname", " SOCKS5 "},
                     {"proxyIp", "10.0.0.5"},
                     {"proxyport", "1081"},
                     {"proxyusr", "pu"},
                     {"proxypass", "pp"}});
    account("bob", {{"mmpass", ""},
                    {"pass", b64("bobpw")},
                    {"qyproxy", "0"},
                    {"proxyname", "HTTP"},
                    {"proxyIp", "10.0.0.9"},
                    {"proxyport", "3128"}});
    account("carol", {{"mmpass", "1"}, {"pass", b64("c")}, {"qyproxy", "1"}, {"proxyname", "FTP"}});
    dm->WriteSetting("userlist", "demo,bob,carol,");

    struct Case {
        const char *account;
        bool remember;
        const char *password, *type, *host, *port, *user, *proxyPassword;
    } cases[] = {
        {"demo", true, "demo123", "SOCKS5", "10.0.0.5", "1081", "pu", "pp"},
        // Proxy not in use: the type says so, the fields still show what was stored.
        {"bob", false, "", "不使用代理", "10.0.0.9", "3128", "", ""},
        {"carol", true, "c", "不使用代理", "", "", "", ""},
    };
    LoginForm f = logic.initialForm(false);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.account);
        f.password = "typed";
        f.account = c.account;
        ASSERT_TRUE(logic.accountChanged(f));
        EXPECT_EQ(dm->ReadSetting("user"), c.account);
        EXPECT_EQ(f.rememberPassword, c.remember);
        EXPECT_EQ(f.password, c.password);
        EXPECT_EQ(f.proxyType, c.type);
        EXPECT_EQ(f.proxyHost, c.host);
        EXPECT_EQ(f.proxyPort, c.port);
        EXPECT_EQ(f.proxyUser, c.user);
        EXPECT_EQ(f.proxyPassword, c.proxyPassword);
    }
    EXPECT_EQ(dm->ReadSetting("autofileter"), "1");

    // Text that is no remembered account changes nothing.
    for (const char *text : {"", "dem", "demo2"}) {
        f.account = text;
        f.password = "typed";
        EXPECT_FALSE(logic.accountChanged(f)) << text;
        EXPECT_EQ(f.password, "typed");
        EXPECT_EQ(dm->ReadSetting("user"), "carol");
    }
}

TEST_F(LoginDialogLogicTest, AccountChangeClearsStaleDayMarkers)
{
    dm->WriteSetting("userlist", "demo,");
    dm->WriteSetting("user", "demo");
    dm->WriteSetting("autofileter", "0");
    dm->WriteSetting("sr", "2026-12-11");
    dm->WriteSetting("jr", "2026-12-10");
    LoginForm f = logic.initialForm(false);
    EXPECT_EQ(dm->ReadSetting("autofileter"), "1");
    EXPECT_EQ(dm->ReadSetting("sr"), "2026-12-11");
    EXPECT_EQ(dm->ReadSetting("jr"), "");
    clock.advanceSecs(24 * 3600);
    ASSERT_TRUE(logic.accountChanged(f));
    EXPECT_EQ(dm->ReadSetting("sr"), "");
}

TEST_F(LoginDialogLogicTest, SkinFileOnlyWhenPresent)
{
    account("demo", {{"skin", "blue"}});
    account("bob", {{"skin", "gone"}});
    dm->WriteSetting("userlist", "demo,bob,");
    home.write("skins/blue.skn", "QWidget { background: #ddeeff; }");
    LoginForm f = logic.initialForm(false);
    f.account = "demo";
    logic.accountChanged(f);
    EXPECT_EQ(f.skinFile, home.file("skins/blue.skn"));
    f.account = "bob";
    logic.accountChanged(f);
    EXPECT_EQ(f.skinFile, "");
}

TEST_F(LoginDialogLogicTest, ProxyTypeChange)
{
    account("demo", {{"qyproxy", "1"}});
    struct Case {
        const char *type;
        const char *host, *port, *user, *password;
    } cases[] = {
        {"SOCKS4", "10.0.0.5", "", "u", "p"},     {"SOCKS4A", "10.0.0.5", "", "u", "p"},
        {"SOCKS5", "10.0.0.5", "1080", "u", "p"}, {"HTTP", "10.0.0.5", "8080", "u", "p"},
        {"不使用代理", "", "", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        LoginForm f;
        f.proxyType = c.type;
        f.proxyHost = "10.0.0.5";
        f.proxyPort = "9999";
        f.proxyUser = "u";
        f.proxyPassword = "p";
        logic.proxyTypeChanged(f);
        EXPECT_EQ(f.proxyHost, c.host);
        EXPECT_EQ(f.proxyPort, c.port);
        EXPECT_EQ(f.proxyUser, c.user);
        EXPECT_EQ(f.proxyPassword, c.password);
        // Only "no proxy" is stored before any login.
        EXPECT_EQ(dm->ReadSetting("qyproxy"), QString(c.type) == "不使用代理" ? "0" : "1");
    }
    EXPECT_EQ(LoginDialogLogic::proxyTypes(),
              QStringList({"不使用代理", "HTTP", "SOCKS4", "SOCKS4A", "SOCKS5"}));
}

TEST_F(LoginDialogLogicTest, SubmitLogsInAtTheChosenGateway)
{
    FakeGateway gw;
    // Only host B on the second port answers: "服务器3".
    home.write("provider.ini", QStringLiteral("[Provider]\nGatewayHostA=127.0.0.1\nGatewayHostB=127.0.0.1\n"
                                              "GatewayPort1=1\nGatewayPort2=%1\n")
                                   .arg(gw.port())
                                   .toUtf8());
    LoginForm f = logic.initialForm(false);
    f.gatewayIndex = 2;
    f.account = "demo";
    f.password = "demo123";
    f.rememberPassword = false;
    ASSERT_TRUE(logic.submit(f));
    auto p = gw.nextPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(FakeGateway::cmdOf(*p), 1u);
    EXPECT_EQ(dm->ReadSetting("host"), "服务器3");
    EXPECT_EQ(dm->ReadSetting("userlist"), "demo,");
    EXPECT_EQ(dm->ReadSetting("mmpass"), "");
    EXPECT_EQ(dm->ReadSetting("pass"), b64("demo123")); // kept whatever "记住密码" says
    EXPECT_EQ(dm->ReadSetting("qyproxy"), "0");

    // The remembered account comes back with the same gateway next time.
    const LoginForm again = logic.initialForm(false);
    EXPECT_EQ(again.gatewayIndex, 2);
    EXPECT_EQ(again.account, "demo");
    EXPECT_EQ(again.password, ""); // not remembered
}

TEST_F(LoginDialogLogicTest, FreeServerTextNeedsHostAndPort)
{
    FakeGateway gw;
    struct Case {
        QString server;
        bool accepted;
    } cases[] = {
        {"gateway.example", false},       {"127.0.0.1:", false}, {":6666", false}, {"127.0.0.1:70000", false},
        {"127.0.0.1:" + gw.port(), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.server.toStdString());
        prompter.clear();
        LoginForm f = logic.initialForm(true);
        f.freeServer = c.server;
        f.account = "demo";
        f.password = "pw";
        EXPECT_EQ(logic.submit(f), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(prompter.texts().isEmpty());
            EXPECT_EQ(dm->ReadSetting("host"), c.server);
        } else {
            ASSERT_EQ(prompter.texts().size(), 1);
            EXPECT_TRUE(prompter.texts()[0].contains("主机:端口"));
            EXPECT_EQ(dm->ReadSetting("user"), ""); // nothing stored for a refused server
        }
    }
    EXPECT_TRUE(gw.nextPacket());
}

TEST_F(LoginDialogLogicTest, BadInputEndsInAClearResultText)
{
    FakeGateway gw;
    home.write("provider.ini", ("[Provider]\nGatewayPort1=" + gw.port()).toUtf8());
    FakeMainView view;
    ctl.setView(&view);
    struct Case {
        const char *name;
        QString proxyType, proxyPort, account, password;
        const char *says; // part of the result text
    } cases[] = {
        {"proxy port not a number", "SOCKS5", "abc", "demo", "pw", "abc"},
        {"proxy unreachable", "SOCKS5", "1", "demo", "pw", "登录失败: "},
        {"HTTP proxy unreachable", "HTTP", "1", "demo", "pw", "登录失败: "},
        {"password of 33 characters", "不使用代理", "", "demo", QString(33, QLatin1Char('p')), "32"},
        // 11 characters, 22 bytes on the wire.
        {"account over 20 bytes", "不使用代理", "", "账号名称太长了的用户名", "pw", "20"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        view.results.clear();
        LoginForm f = logic.initialForm(false);
        f.proxyType = c.proxyType;
        f.proxyHost = "127.0.0.1";
        f.proxyPort = c.proxyPort;
        f.account = c.account;
        f.password = c.password;
        EXPECT_TRUE(logic.submit(f)); // the dialog closes; the outcome shows in the window
        ASSERT_TRUE(waitUntil([&] { return !view.results.isEmpty(); }));
        const QString r = view.results.first();
        EXPECT_TRUE(r.startsWith("登录失败: ")) << r.toStdString();
        EXPECT_TRUE(r.contains(QString::fromUtf8(c.says))) << r.toStdString();
        EXPECT_EQ(view.connection, "连接状态:断开");
    }
    ctl.setView(nullptr);
}
