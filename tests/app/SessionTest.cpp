#include "FakeGateway.h"
#include "GatewayTestSupport.h"
#include "FakeMainView.h"
#include "TempHome.h"
#include "app/MainController.h"
#include "common/Clock.h"
#include "common/ScriptedPrompter.h"
#include "gateway/Md5.h"
#include "store/dm.h"
#include <QFile>
#include <gtest/gtest.h>

using namespace Gateway;

namespace {

GatewayTimings fast() { return testTimings(1500, 2000); }

// A data module, controller and view against the scripted gateway double.
class SessionTest : public ::testing::Test {
protected:
    TempHome home;
    FakeGateway gw;
    ScriptedPrompter prompter;
    ManualClock clock{QDateTime(QDate(2026, 12, 11), QTime(9, 0))};
    std::unique_ptr<TDataM> dm;
    std::unique_ptr<MainController> ctl;
    FakeMainView view;

    void SetUp() override
    {
        home.write("provider.ini", QStringLiteral("[Provider]\nGatewayHostA=127.0.0.1\nGatewayPort1=%1\n")
                                       .arg(gw.port())
                                       .toUtf8());
        dm = std::make_unique<TDataM>(prompter, clock, QString(), fast());
        ctl = std::make_unique<MainController>(*dm);
        ctl->setView(&view);
        ctl->minimisedReloginDelayMs = 10;
    }
    void TearDown() override
    {
        ctl.reset();
        dm.reset();
    }
    bool login(const QString &password = "pw")
    {
        return ctl->DoLogin("服务器1", "", "0", "不使用代理", true, password, "demo", "", "");
    }
    // Answers the next Login with success and the session's first request (the bulletin).
    void acceptLogin(const QByteArray &bulletin = "\xbb\xb6\xd3\xad") // 欢迎
    {
        auto p = gw.nextPacket();
        ASSERT_TRUE(p);
        ASSERT_EQ(FakeGateway::cmdOf(*p), 1u);
        gw.send(FakeGateway::loginResp(0, "10086", "\xb2\xe2\xca\xd4", 500, 70, 45));
        auto a = gw.nextPacket();
        ASSERT_TRUE(a);
        ASSERT_EQ(FakeGateway::cmdOf(*a), 13u);
        gw.send(FakeGateway::afficheResp(bulletin));
        ASSERT_TRUE(waitUntil([&] { return !view.bulletin.isEmpty(); }));
    }
};

} // namespace

TEST_F(SessionTest, SuccessfulLoginStartsTheSession)
{
    ASSERT_TRUE(login());
    EXPECT_EQ(view.connection, "请稍候，正在登录中...");
    acceptLogin();
    EXPECT_TRUE(ctl->SMSConnected());
    EXPECT_FALSE(ctl->ManualLogout);
    EXPECT_EQ(view.userName, "用户名称:测试");
    EXPECT_EQ(view.loginName, "登陆账号:demo");
    EXPECT_EQ(view.customerNo, "客户编号:10086");
    EXPECT_EQ(view.balance, "账号余额:500条");
    EXPECT_EQ(view.connection, "连接状态:连接");
    EXPECT_EQ(view.connectionColor, MainView::PaneColor::Green);
    EXPECT_EQ(view.result, "登录成功");
    EXPECT_TRUE(view.workingAreas);
    EXPECT_EQ(view.bulletin, "欢迎");
    EXPECT_EQ(view.heading, "提醒内容(移动联通不能大于70个字符,小灵通则应再减去25个字符)");
    EXPECT_TRUE(dm->sms().SendEnabled());
    EXPECT_EQ(dm->SegLenMobile, 70);
    EXPECT_EQ(dm->SegLenOther, 45);
    EXPECT_TRUE(ctl->databaseOpen());
    EXPECT_TRUE(QFile::exists(home.file("10086/tvgp_sms.mdb")));
    // The login stored what the dialog will offer next time.
    EXPECT_EQ(dm->ReadSetting("host"), "服务器1");
    EXPECT_EQ(dm->ReadSetting("userlist"), "demo,");
    EXPECT_EQ(dm->ReadSetting("pass"), QString::fromLatin1(QByteArray("pw").toBase64()));
    EXPECT_EQ(dm->ReadSetting("qyproxy"), "0");

    // Logging out by hand: logged-out display, bulletin emptied, no countdown.
    ctl->offlineClicked();
    EXPECT_FALSE(ctl->SMSConnected());
    EXPECT_EQ(view.connection, "连接状态:断开");
    EXPECT_EQ(view.connectionColor, MainView::PaneColor::Red);
    EXPECT_EQ(view.balance, "账号余额:0 条");
    EXPECT_EQ(view.bulletin, "");
    EXPECT_FALSE(view.workingAreas);
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(view.countdowns, 0);
}

TEST_F(SessionTest, UserListGrowsOncePerAccount)
{
    for (const char *account : {"demo", "demo2", "demo", "demo2"}) {
        ctl->DoLogin("服务器1", "", "0", "不使用代理", false, "pw", account, "", "");
        ASSERT_TRUE(gw.nextPacket());
    }
    EXPECT_EQ(dm->ReadSetting("userlist"), "demo,demo2,");
    EXPECT_EQ(dm->ReadSetting("mmpass"), "");
    EXPECT_EQ(dm->ReadSetting("pass"), QString::fromLatin1(QByteArray("pw").toBase64()));
}

TEST_F(SessionTest, ServerTextWithoutPortIsRefused)
{
    EXPECT_FALSE(ctl->DoLogin("gateway.example", "", "0", "不使用代理", false, "pw", "demo", "", ""));
    ASSERT_EQ(prompter.texts().size(), 1);
    EXPECT_TRUE(prompter.texts()[0].contains("主机:端口"));
    EXPECT_EQ(gw.connections(), 0);
}

TEST_F(SessionTest, LostConnectionLogsInAgainAfterTheCountdownWithTheNewPassword)
{
    ASSERT_TRUE(login("old"));
    acceptLogin();
    // A password change accepted by the gateway becomes the kept password.
    ctl->changePassword("new");
    auto cp = gw.nextPacket();
    ASSERT_TRUE(cp);
    ASSERT_EQ(FakeGateway::cmdOf(*cp), 10u);
    gw.send(FakeGateway::header(16, 0x8000000A, 0, 0));
    ASSERT_TRUE(waitUntil([&] { return prompter.texts().contains("密码修改成功"); }));
    EXPECT_EQ(prompter.shown().back().title, "信息(点击右键直接关闭)");
    EXPECT_EQ(dm->ReadSetting("pass"), QString::fromLatin1(QByteArray("new").toBase64()));

    view.countdownAnswers = {true};
    gw.close();
    ASSERT_TRUE(waitUntil([&] { return view.countdowns == 1; }));
    EXPECT_EQ(view.connection.left(5), "请稍候，正");
    auto p = gw.nextPacket();
    ASSERT_TRUE(p);
    ASSERT_EQ(FakeGateway::cmdOf(*p), 1u);
    // The authenticator of the re-login is the one for the new password.
    EXPECT_EQ(p->mid(17 + 4, 24), LoginAuthenticator("demo", "new")); // after "demo" and its zero byte
    gw.send(FakeGateway::loginResp(0));
    ASSERT_TRUE(waitUntil([&] { return ctl->SMSConnected(); }));
}

TEST_F(SessionTest, WrongPasswordRetriesUntilTheCountdownIsCancelled)
{
    ASSERT_TRUE(login());
    acceptLogin();
    view.countdownAnswers = {true, true}; // two retries, then cancel
    gw.close();
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto p = gw.nextPacket();
        ASSERT_TRUE(p);
        ASSERT_EQ(FakeGateway::cmdOf(*p), 1u);
        gw.send(FakeGateway::loginResp(0x1002));
        ASSERT_TRUE(waitUntil([&] { return view.results.count("登录失败: 无效的密码") == attempt + 1; }));
    }
    ASSERT_TRUE(waitUntil([&] { return view.countdowns == 3; }));
    EXPECT_FALSE(gw.nextPacket(200).has_value());
    EXPECT_FALSE(ctl->SMSConnected());
}

TEST_F(SessionTest, MinimisedWindowLogsInAgainWithoutCountdown)
{
    ASSERT_TRUE(login());
    acceptLogin();
    view.minimized = true;
    gw.close();
    auto p = gw.nextPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(FakeGateway::cmdOf(*p), 1u);
    EXPECT_EQ(view.countdowns, 0);
}

TEST_F(SessionTest, AutoReconnectSwitchedOffStaysLoggedOut)
{
    ASSERT_TRUE(login());
    acceptLogin();
    dm->WriteSetting("AutoReConnected", "0");
    gw.close();
    ASSERT_TRUE(waitUntil([&] { return !ctl->SMSConnected(); }));
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(view.countdowns, 0);
    EXPECT_EQ(gw.connections(), 1);
}

TEST_F(SessionTest, RechargeResults)
{
    ASSERT_TRUE(login());
    acceptLogin();
    struct Case {
        quint32 status;
        quint32 balance;
        const char *notice;
        const char *label;
    } cases[] = {
        {2, 0, "充值卡密码无效", "账户余额：500条"},
        {1, 0, "充值卡号无效", "账户余额：500条"},
        {9, 0, "未知的错误充值结果代码: 9", "账户余额：500条"},
        {0, 1500, nullptr, "账户余额：1500条"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        prompter.clear();
        view.balanceLabel.clear();
        dm->sms().AddPoint("card", "pw");
        ASSERT_TRUE(gw.nextPacket());
        gw.send(FakeGateway::addPointResp(c.status, c.balance));
        ASSERT_TRUE(waitUntil([&] { return !view.balanceLabel.isEmpty(); }));
        EXPECT_EQ(view.balanceLabel, c.label);
        EXPECT_EQ(prompter.texts(), c.notice ? QStringList{c.notice} : QStringList{});
    }
}

TEST_F(SessionTest, StartUpGate)
{
    // Without automatic login the dialog decides.
    view.loginDialog = [] { return false; };
    EXPECT_FALSE(ctl->runLoginGate());
    EXPECT_EQ(view.loginDialogs, 1);
    // With it, the stored values log in and the gate returns at once.
    dm->WriteSetting("autologin", "1");
    dm->WriteSetting("user", "demo");
    dm->WriteSetting("host", "服务器1");
    dm->WriteSetting("pass", QString::fromLatin1(QByteArray("pw").toBase64()));
    dm->WriteSetting("sr", "2026-12-10");
    dm->WriteSetting("jr", "2026-12-11");
    EXPECT_TRUE(ctl->runLoginGate());
    EXPECT_EQ(view.loginDialogs, 1);
    EXPECT_EQ(dm->ReadSetting("autofileter"), "1");
    EXPECT_EQ(dm->ReadSetting("sr"), "");
    EXPECT_EQ(dm->ReadSetting("jr"), "2026-12-11");
    auto p = gw.nextPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->mid(21, 24), LoginAuthenticator("demo", "pw"));
}
