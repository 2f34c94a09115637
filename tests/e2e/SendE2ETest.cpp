#include "SimulatorE2E.h"
#include "sending/SendPipeline.h"
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlQuery>
#include <map>

using namespace E2E;

namespace {

// A logged-in client with its send pipeline, against the simulator.
struct Sender {
    Provider provider;
    quint16 port = 0;
    std::unique_ptr<Client> c;
    std::unique_ptr<SendPipeline> pipe;

    explicit Sender(Sim::Config cfg) : provider(std::move(cfg))
    {
        port = provider.port();
        c = std::make_unique<Client>(port);
        pipe = std::make_unique<SendPipeline>(*c->dm, *c->ctl);
        c->ctl->hooks.downloadFilterWords = nullptr;
        c->login();
        EXPECT_TRUE(waitUntil([&] { return c->ctl->SMSConnected(); }, 10000));
    }
    AccountDatabase &db() { return c->dm->db(); }
    int count(const QString &what) { return db().scalar("select count(*) from " + what).toInt(); }
    void add(const QStringList &numbers)
    {
        for (const QString &n : numbers)
            pipe->list.AddToSendList(n);
    }
    bool send(const QString &text, const QString &at = QString())
    {
        pipe->queue.confirmSend = [] { return true; };
        return pipe->queue.sendClicked(text, "普通", at, false);
    }
    bool waitRunEnd(int ms = 60000)
    {
        return waitUntil([&] { return !pipe->dispatch.SendingInProgress; }, ms);
    }
    // Every number the gateway accepted, with how often.
    std::map<QString, int> gatewayNumbers()
    {
        QJsonArray submits;
        provider.call([&] { submits = provider.sim()->submitsJson("demo"); });
        std::map<QString, int> out;
        for (const auto &s : submits)
            for (const auto &n : s.toObject()["numbers"].toArray())
                ++out[n.toObject()["number"].toString()];
        return out;
    }
};

QStringList numbers(const QString &prefix, int n, int first = 0)
{
    QStringList out;
    for (int i = first; i < first + n; ++i)
        out << prefix + QString::number(i).rightJustified(11 - prefix.size(), '0');
    return out;
}

void addBulk(Sender &s, const QStringList &list)
{
    // The send list table filled in one go, then the mirror reloaded, like a fast import.
    auto &db = s.db();
    db.inTransaction([&] {
        QSqlQuery q = db.newQuery();
        q.prepare("insert into 发送缓存表(号码,姓名,组别,内容,字数,等级) values(?,'','',1,0,0)");
        for (const QString &n : list) {
            q.addBindValue(n);
            q.exec();
        }
    });
    s.pipe->list.ReloadSendList();
}

} // namespace

TEST(SendE2E, TwelveThousandNumbersInPartsAndClassesWithTheirReports)
{
    Sim::Config cfg = config(0);
    cfg.failRules = {Sim::FailRule{QRegularExpression("^1390000000[0-4]$"), "UNDELIV", 6}};
    Sender s(cfg);
    addBulk(s, numbers("139", 10000) + numbers("0", 2000));
    ASSERT_EQ(s.pipe->list.numbers().count(), 12000);
    const QString text = QString(100, QChar(u'测'));
    ASSERT_TRUE(s.send(text));
    ASSERT_TRUE(s.waitRunEnd(120000));
    EXPECT_EQ(s.c->prompter.texts().filter("本次成功提交26000条信息").size(), 1) << s.c->prompter.texts().join("|").toStdString();
    EXPECT_EQ(s.count("历史表"), 26000);
    EXPECT_EQ(s.count("历史表 where 号码 like '0%'"), 6000);
    EXPECT_EQ(s.count("发送历史表"), 2 * 56 + 3 * 12);
    EXPECT_EQ(s.count("要发缓存表"), 0);
    EXPECT_EQ(s.c->dm->sms().session().Balance, 100000 - 26000);
    const auto sent = s.gatewayNumbers();
    EXPECT_EQ(sent.size(), 12000u);
    EXPECT_EQ(sent.at("13900000000"), 2);
    EXPECT_EQ(sent.at("00000000000"), 3);
    ASSERT_TRUE(waitUntil([&] { return s.count("状态报告表") == 26000; }, 120000)) << s.count("状态报告表");
    EXPECT_EQ(s.count("历史表 where 状态='失败' and 报告='6'"), 10);
    EXPECT_EQ(s.count("历史表 where 状态='成功'"), 25990);
}

TEST(SendE2E, PersonalisedAndScheduled)
{
    Sender s(config(0));
    s.db().ExecSql("insert into 用户表(类别,手机,姓名) values('01','13900000001','张三')");
    s.add({"13900000001", "13900000002"});
    s.c->prompter.answer(Prompter::Answer::Yes); // personalised: numbers and text are right
    s.c->prompter.answer(Prompter::Answer::Yes); // unknown number: send with the field empty
    const QString at = QDateTime::currentDateTime().addSecs(3600).toString("yyyy-MM-dd HH:mm:ss");
    ASSERT_TRUE(s.send("[姓名]您好", at));
    ASSERT_TRUE(s.waitRunEnd());
    QJsonArray submits;
    s.provider.call([&] { submits = s.provider.sim()->submitsJson("demo"); });
    std::map<QString, QString> contentOf;
    for (const auto &sub : submits) {
        const auto o = sub.toObject();
        EXPECT_FALSE(o["scheduleTime"].toString().isEmpty());
        for (const auto &n : o["numbers"].toArray())
            contentOf[n.toObject()["number"].toString()] = o["content"].toString();
    }
    EXPECT_EQ(contentOf["13900000001"], "张三您好");
    EXPECT_EQ(contentOf["13900000002"], "您好");
    EXPECT_EQ(s.count("历史表"), 2);
    EXPECT_EQ(s.db().scalar("select 发送时间 from 发送历史表 limit 1").toString(),
              QDateTime::fromString(at, "yyyy-MM-dd HH:mm:ss").toString("yyMMddHHmmss") + "032+");
}

TEST(SendE2E, ConnectionLostMidRunResumesAndSendsEveryNumberOnce)
{
    Sim::Config cfg = config(0);
    Sender s(cfg);
    addBulk(s, numbers("138", 1000));
    // Answers come late, so the connection goes while a batch is taken but not yet answered.
    Sim::Faults f;
    f.delayMs[3] = 400;
    s.provider.call([&] { s.provider.sim()->setFaults(f); });
    s.c->view.countdownAnswers = {true};
    s.c->prompter.answer(Prompter::Answer::Yes); // reload the last list and text
    s.c->prompter.answer(Prompter::Answer::Yes); // continue the unfinished send
    ASSERT_TRUE(s.send("会议改到明天"));
    // Two batches answered, the third with the gateway and its answer still on the way.
    ASSERT_TRUE(waitUntil([&] { return s.count("历史表") >= 360 && s.gatewayNumbers().size() >= 540; }, 20000));
    s.provider.call([&] { s.provider.sim()->closeConnections(QString()); });
    ASSERT_TRUE(waitUntil([&] { return s.c->view.countdowns == 1; }, 10000));
    s.provider.call([&] { s.provider.sim()->setFaults(Sim::Faults()); });
    ASSERT_TRUE(waitUntil([&] { return s.c->ctl->SMSConnected() && s.count("要发缓存表") == 0 &&
                                       !s.pipe->dispatch.SendingInProgress; },
                          30000));
    const auto sent = s.gatewayNumbers();
    EXPECT_EQ(sent.size(), 1000u);
    for (const auto &[number, times] : sent)
        EXPECT_EQ(times, 1) << number.toStdString();
    EXPECT_EQ(s.count("历史表"), 1000);
    EXPECT_EQ(s.db().scalar("select count(distinct 号码) from 历史表").toInt(), 1000);
    EXPECT_EQ(s.c->prompter.texts(ScriptedPrompter::Kind::Question).filter("上次发送过程未完成").size(), 1);
    // The batch whose answer the closed connection took is kept as unconfirmed, not sent again.
    EXPECT_EQ(s.count("历史表 where 状态='未确认'"), 180);
}
