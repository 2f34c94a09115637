#include "SimulatorE2E.h"
#include <QSqlQuery>

using namespace E2E;

namespace {
// Forwards the protocol client's results to the dispatch as the main window will.
struct Session : SmsNotifyTarget {
    MainController *ctl = nullptr;
    Dispatch *dispatch = nullptr;
    std::vector<Gateway::TDeliverSM> delivers;
    void WM_SMSActionNotify(quint32 c, quint32 s) override { ctl->WM_SMSActionNotify(c, s); }
    void WM_SMSSubmitNotify(const Gateway::TSubmitResp &r, quint32 s) override { dispatch->onSubmitNotify(r, s); }
    void WM_SMSReport(const Gateway::TMessage_Report &r) override { dispatch->onReport(r); }
    void WM_SMSDeliverSM(const Gateway::TDeliverSM &d) override { delivers.push_back(d); }
};
} // namespace

TEST(DispatchE2E, QueuedNumbersGoOutWithReportsAndReceivedMessagesArrive)
{
    Sim::Config cfg = config(0);
    cfg.failRules = {Sim::FailRule{QRegularExpression("^13900000000$"), "UNDELIV", 6}};
    Provider provider(cfg);
    Client c(provider.port());
    Dispatch dispatch(*c.dm);
    Session s;
    s.ctl = c.ctl.get();
    s.dispatch = &dispatch;
    c.login();
    ASSERT_TRUE(waitUntil([&] { return c.ctl->SMSConnected(); }, 10000));
    // From here on the protocol client notifies through the forwarding session.
    c.dm->sms().SetConnection("127.0.0.1", QString::number(provider.port()), &s, 1, TProxyInfo(), ProxyNone);
    c.dm->sms().Login("demo", "demo123");
    ASSERT_TRUE(waitUntil([&] { return c.dm->sms().isLoggedIn() && c.ctl->SMSConnected(); }, 10000));
    c.dm->sms().setSendEnabled(true);

    auto &db = c.dm->db();
    db.ExecSql("insert into 要发内容表(内容) values('您好，测试')");
    db.inTransaction([&] {
        for (int i = 0; i < 400; ++i)
            db.ExecSql(QString("insert into 要发缓存表(号码,姓名,组别,内容,字数,等级,分割条数,类型) "
                               "values('139%1','','',1,5,0,0,'普通')")
                           .arg(i, 8, 10, QChar('0')));
    });
    dispatch.startRun();
    ASSERT_TRUE(waitUntil([&] { return !dispatch.SendingInProgress; }, 20000));
    EXPECT_EQ(c.prompter.texts().filter("本次成功提交400条信息").size(), 1);
    EXPECT_EQ(db.scalar("select count(*) from 历史表").toInt(), 400);
    EXPECT_EQ(db.scalar("select count(*) from 要发缓存表").toInt(), 0);
    ASSERT_TRUE(waitUntil([&] { return db.scalar("select count(*) from 状态报告表").toInt() == 400; }, 20000));
    EXPECT_EQ(db.scalar("select 状态||'/'||报告 from 历史表 where 号码='13900000000'").toString(), "失败/6");
    EXPECT_EQ(db.scalar("select count(*) from 历史表 where 状态='成功'").toInt(), 399);
    EXPECT_EQ(c.dm->sms().session().Balance, 100000 - 400);

    QString error;
    bool injected = false;
    provider.call([&] { injected = provider.sim()->injectDeliver("demo", "8613800000009", "收到，谢谢", &error); });
    ASSERT_TRUE(injected) << error.toStdString();
    ASSERT_TRUE(waitUntil([&] { return !s.delivers.empty(); }, 10000));
    EXPECT_EQ(s.delivers[0].SrcNo, "13800000009");
    EXPECT_EQ(s.delivers[0].Content, "收到，谢谢");
    c.dm->sms().detachNotifyTarget(&s);
}
