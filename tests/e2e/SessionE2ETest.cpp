#include "SimulatorE2E.h"

using namespace E2E;

TEST(SessionE2E, LoginShowsTheAccountAndLogoutClearsIt)
{
    Provider provider(config(0));
    Client c(provider.port());
    c.login();
    ASSERT_TRUE(waitUntil([&] { return c.ctl->SMSConnected() && !c.view.bulletin.isEmpty(); }, 10000));
    EXPECT_EQ(c.view.userName, "用户名称:演示账户");
    EXPECT_EQ(c.view.loginName, "登陆账号:demo");
    EXPECT_EQ(c.view.customerNo, "客户编号:10001");
    EXPECT_EQ(c.view.balance, "账号余额:100000条");
    EXPECT_EQ(c.view.connection, "连接状态:连接");
    EXPECT_EQ(c.view.connectionColor, MainView::PaneColor::Green);
    EXPECT_TRUE(c.view.workingAreas);
    EXPECT_TRUE(c.dm->sms().SendEnabled());
    EXPECT_EQ(c.view.bulletin, "今日公告：系统维护");
    EXPECT_TRUE(QFile::exists(c.home.file("10001/tvgp_sms.mdb")));
    EXPECT_EQ(c.dm->SegLenMobile, 70);
    EXPECT_EQ(c.dm->SegLenOther, 45);

    c.ctl->offlineClicked();
    EXPECT_EQ(c.view.connection, "连接状态:断开");
    EXPECT_EQ(c.view.bulletin, "");
    EXPECT_FALSE(c.view.workingAreas);
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(c.view.countdowns, 0);
}

TEST(SessionE2E, WrongPasswordRetriesAfterEachCountdownUntilCancelled)
{
    Provider provider(config(0));
    Client c(provider.port());
    c.ctl->ManualLogout = false; // a session that was running before
    c.view.countdownAnswers = {true, true};
    c.login("wrong");
    ASSERT_TRUE(waitUntil([&] { return c.view.countdowns == 3; }, 10000));
    EXPECT_EQ(c.view.results.count("登录失败: 无效的密码"), 3);
    EXPECT_FALSE(c.ctl->SMSConnected());
}

TEST(SessionE2E, GatewayGoneAndBackLogsInAgain)
{
    const quint16 port = freePort();
    Provider provider(config(port));
    Client c(port);
    c.login();
    ASSERT_TRUE(waitUntil([&] { return c.ctl->SMSConnected(); }, 10000));
    // The first countdown finds the gateway down; by the second it is back.
    c.view.onCountdown = [&](int n) {
        if (n == 2)
            provider.start();
        return true;
    };
    provider.stop();
    ASSERT_TRUE(waitUntil([&] { return c.view.countdowns >= 2 && c.ctl->SMSConnected(); }, 15000));
    EXPECT_TRUE(std::any_of(c.view.results.begin(), c.view.results.end(),
                            [](const QString &r) { return r.startsWith("登录失败: "); }));
    EXPECT_EQ(c.view.connection, "连接状态:连接");
}

TEST(SessionE2E, PasswordChangeIsUsedByTheNextAutomaticLogin)
{
    Provider provider(config(0));
    Client c(provider.port());
    c.login();
    ASSERT_TRUE(waitUntil([&] { return c.ctl->SMSConnected(); }, 10000));
    c.ctl->changePassword("newpass9");
    ASSERT_TRUE(waitUntil([&] { return c.prompter.texts().contains("密码修改成功"); }, 10000));
    c.view.countdownAnswers = {true};
    const int before = c.view.countdowns;
    provider.call([&] { provider.sim()->closeConnections(QString()); });
    ASSERT_TRUE(waitUntil([&] { return c.view.countdowns > before && c.ctl->SMSConnected(); }, 10000));
    EXPECT_EQ(c.dm->sms().session().Password, "newpass9");
}

TEST(SessionE2E, RechargeAcceptedAndRefused)
{
    Provider provider(config(0));
    Client c(provider.port());
    c.login();
    ASSERT_TRUE(waitUntil([&] { return c.ctl->SMSConnected(); }, 10000));
    c.dm->sms().AddPoint("8800001", "bad");
    ASSERT_TRUE(waitUntil([&] { return c.prompter.texts().contains("充值卡密码无效"); }, 10000));
    EXPECT_EQ(c.view.balanceLabel, "账户余额：100000条");
    c.dm->sms().AddPoint("8800001", "111111");
    ASSERT_TRUE(waitUntil([&] { return c.view.balanceLabel == "账户余额：100100条"; }, 10000));
    // A used card is refused.
    c.prompter.clear();
    c.dm->sms().AddPoint("8800001", "111111");
    ASSERT_TRUE(waitUntil([&] { return !c.prompter.texts().isEmpty(); }, 10000));
    EXPECT_EQ(c.prompter.texts().front(), "充值卡号无效");
}
