#include "FakeGateway.h"
#include "GatewayTestSupport.h"
#include "TempHome.h"
#include "common/Clock.h"
#include "common/ScriptedPrompter.h"
#include "sending/Dispatch.h"
#include "store/dm.h"
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace Gateway;

namespace {

GatewayTimings fast() { return testTimings(500); }

struct Forward : SmsNotifyTarget {
    Dispatch *d = nullptr;
    void WM_SMSSubmitNotify(const TSubmitResp &r, quint32 s) override { d->onSubmitNotify(r, s); }
    void WM_SMSReport(const TMessage_Report &r) override { d->onReport(r); }
};

struct Submit {
    quint32 seq = 0;
    QStringList numbers;
    QByteArray atTime, validTime, content;
    quint8 cls = 0;
};

Submit parseSubmit(const QByteArray &p)
{
    Submit s;
    s.seq = FakeGateway::seqOf(p);
    const int d = int(qFromBigEndian<quint32>(p.constData() + 59));
    for (int i = 0; i < d; ++i)
        s.numbers << QString::fromLatin1(p.mid(63 + 21 * i, 21).constData());
    const int o = 63 + 21 * d;
    s.cls = quint8(p[o]);
    s.atTime = QByteArray(p.constData() + o + 1);
    s.validTime = QByteArray(p.constData() + o + 18);
    const int len = quint8(p[o + 36]);
    s.content = p.mid(o + 37, len);
    return s;
}

class DispatchTest : public ::testing::Test {
protected:
    TempHome home;
    FakeGateway gw;
    ScriptedPrompter prompter;
    ManualClock clock{QDateTime(QDate(2026, 12, 11), QTime(9, 0))};
    std::unique_ptr<TDataM> dm;
    std::unique_ptr<Dispatch> dispatch;
    Forward fwd;
    QString status;
    bool pagesEnabled = false;

    void SetUp() override
    {
        dm = std::make_unique<TDataM>(prompter, clock, QString(), fast());
        dispatch = std::make_unique<Dispatch>(*dm);
        fwd.d = dispatch.get();
        dispatch->onStatus = [this](const QString &s) { status = s; };
        dispatch->onPagesEnabled = [this](bool on) { pagesEnabled = on; };
        ASSERT_TRUE(dm->db().OpenAccountDatabase("10086"));
        dm->sms().SetConnection("127.0.0.1", gw.port(), &fwd, 1, TProxyInfo(), ProxyNone);
        dm->sms().Login("demo", "pw");
        ASSERT_TRUE(gw.nextPacket());
        gw.send(FakeGateway::loginResp(0));
        ASSERT_TRUE(waitUntil([&] { return dm->sms().isLoggedIn(); }));
        dm->sms().setSendEnabled(true);
    }
    void TearDown() override
    {
        dispatch.reset();
        dm.reset();
    }
    QVariant scalar(const QString &sql) { return dm->db().scalar(sql); }
    int count(const QString &tableAndWhere) { return scalar("select count(*) from " + tableAndWhere).toInt(); }
    // Queues one part for the given numbers the way the send queue does.
    int queuePart(const QString &text, const QStringList &numbers, const QString &type = "普通",
                  const QString &sendTime = QString(), int index = 0)
    {
        auto &db = dm->db();
        db.ExecSql("insert into 要发内容表(内容) values(" + SqlDialect::quote(text) + ")");
        const int P = scalar("select max(编号) from 要发内容表").toInt();
        db.inTransaction([&] {
            QSqlQuery q = db.newQuery();
            q.prepare("insert into 要发缓存表(号码,姓名,组别,内容,字数,等级,定时时间,创建时间,分割条数,类型) "
                      "values(?,'','',?,?,0,?,'2026-12-11 08:00:00',?,?)");
            for (const QString &n : numbers) {
                q.addBindValue(n);
                q.addBindValue(P);
                q.addBindValue(int(text.size()));
                q.addBindValue(sendTime.isEmpty() ? QVariant() : QVariant(sendTime));
                q.addBindValue(index);
                q.addBindValue(type);
                q.exec();
            }
        });
        return P;
    }
    // Answers the next Submit and returns it.
    Submit answer(quint64 msgId, quint32 st = 0)
    {
        auto p = gw.nextPacket();
        EXPECT_TRUE(p);
        if (!p)
            return {};
        EXPECT_EQ(FakeGateway::cmdOf(*p), 3u);
        Submit s = parseSubmit(*p);
        gw.send(FakeGateway::submitResp(s.seq, st, msgId, 1000));
        return s;
    }
};

QStringList numbersFrom(int first, int n, const QString &prefix = "134")
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << prefix + QString::number(first + i).rightJustified(8, '0');
    return out;
}

} // namespace

TEST_F(DispatchTest, BatchesOf180MoveIntoTheHistoryAndTheRunEndsWithItsSummary)
{
    queuePart("你好", numbersFrom(0, 400));
    dispatch->startRun();
    EXPECT_TRUE(dispatch->SendingInProgress);
    std::vector<int> sizes;
    for (quint64 id : {101ull, 102ull, 103ull}) {
        Submit s = answer(id);
        sizes.push_back(int(s.numbers.size()));
        EXPECT_EQ(s.content, QByteArray("\xc4\xe3\xba\xc3"));
        EXPECT_EQ(s.cls, 1);
    }
    EXPECT_EQ(sizes, (std::vector<int>{180, 180, 40}));
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    ASSERT_EQ(prompter.texts().size(), 1);
    EXPECT_TRUE(prompter.texts()[0].startsWith("本次成功提交400条信息!!!,用时:"));
    EXPECT_TRUE(pagesEnabled);
    EXPECT_EQ(count("要发缓存表"), 0);
    EXPECT_EQ(count("临时缓存表"), 0);
    EXPECT_EQ(count("要发内容表"), 0);
    EXPECT_EQ(count("历史表 where 状态='成功'"), 400);
    EXPECT_EQ(count("历史表 where 群发编号='103'"), 40);
    EXPECT_EQ(count("v_history where 内容='你好'"), 400);
    EXPECT_EQ(count("发送历史表 where msID in ('101','102','103') and 类型='普通()'"), 3);
}

TEST_F(DispatchTest, NumberGroupsGoInTheirOwnBatchesWithTheClassTwoPrefix)
{
    queuePart("x", {"13812345678", "13012345678", "02012345678"});
    dispatch->startRun();
    QList<QStringList> batches;
    for (quint64 id : {1ull, 2ull, 3ull})
        batches << answer(id).numbers;
    EXPECT_EQ(batches, (QList<QStringList>{{"02012345678"}, {"8613012345678"}, {"13812345678"}}));
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    EXPECT_EQ(scalar("select 群发编号 from 历史表 where 号码='13012345678'").toString(), "2");
}

TEST_F(DispatchTest, SendTimeAndTypeTravelWithTheBatch)
{
    queuePart("x", {"13812345678"}, "闪烁(1/2)", "2008-05-04 13:02:09");
    dispatch->startRun();
    Submit s = answer(7);
    EXPECT_EQ(s.atTime, "080504130209032+");
    EXPECT_EQ(s.validTime, "080504131633032+");
    EXPECT_EQ(s.cls, 0x62);
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    QSqlQuery q = dm->db().newQuery();
    ASSERT_TRUE(q.exec("select 定时时间,发送时间,类型 from 发送历史表") && q.next());
    EXPECT_EQ(q.value(0).toString(), "080504131633032+");
    EXPECT_EQ(q.value(1).toString(), "080504130209032+");
    EXPECT_EQ(q.value(2).toString(), "闪烁(1/2)");
}

TEST_F(DispatchTest, ReportsMarkFailedDeliveries)
{
    queuePart("x", {"13800000001", "13800000002", "13800000003"});
    dispatch->startRun();
    answer(0x1122334455667788ull);
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    const QString id = QString::number(qint64(0x1122334455667788ll));
    gw.send(FakeGateway::report(1, 0x1122334455667788ull, "13800000001", "UNDELIV", 6) +
            FakeGateway::report(2, 0x1122334455667788ull, "13800000002", "DELIVRD", 0) +
            FakeGateway::report(3, 0x1122334455667788ull, "13800000003", "illegal", 9));
    ASSERT_TRUE(waitUntil([&] { return count("状态报告表") == 3; }));
    struct Row {
        const char *number, *state, *report;
    } rows[] = {{"13800000001", "失败", "6"}, {"13800000002", "成功", ""}, {"13800000003", "非法字符", "9"}};
    for (const auto &r : rows) {
        QSqlQuery q = dm->db().newQuery();
        ASSERT_TRUE(q.exec(QString("select 状态,coalesce(报告,'') from 历史表 where 群发编号='%1' and 号码='%2'")
                               .arg(id, r.number)) &&
                    q.next());
        EXPECT_EQ(q.value(0).toString(), r.state) << r.number;
        EXPECT_EQ(q.value(1).toString(), r.report) << r.number;
    }
}

TEST_F(DispatchTest, RefusedBatchEndsTheRunAndStaysQueued)
{
    queuePart("x", numbersFrom(0, 3));
    dispatch->startRun();
    answer(0, 0x3001);
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    EXPECT_FALSE(status.isEmpty());
    EXPECT_TRUE(pagesEnabled);
    EXPECT_EQ(count("要发缓存表"), 3);
    EXPECT_EQ(count("临时缓存表"), 0);
    EXPECT_EQ(count("历史表"), 0);
    // The next run sends them; nothing of the refused batch is recorded under another identifier.
    dispatch->startRun();
    answer(55);
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    EXPECT_EQ(count("历史表 where 群发编号='55'"), 3);
    EXPECT_EQ(count("历史表"), 3);
}

TEST_F(DispatchTest, UnansweredBatchIsSettledOnceAndNeverSentAgain)
{
    queuePart("x", numbersFrom(0, 200));
    dispatch->startRun();
    auto first = gw.nextPacket(); // never answered: the client times out
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    EXPECT_EQ(count("临时缓存表"), 180);
    EXPECT_TRUE(dispatch->PurgeSubmittedFromQueue());
    EXPECT_EQ(count("要发缓存表"), 20);
    EXPECT_EQ(count("临时缓存表"), 0);
    EXPECT_EQ(count("历史表 where 状态='未确认'"), 180);
    EXPECT_EQ(count("v_history where 状态='未确认'"), 180);
    EXPECT_TRUE(dispatch->PurgeSubmittedFromQueue());
    EXPECT_EQ(count("历史表"), 180);
    dm->sms().setSendEnabled(true);
    dispatch->startRun();
    Submit s = answer(9);
    EXPECT_EQ(s.numbers.size(), 20);
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    EXPECT_EQ(count("历史表"), 200);
    EXPECT_EQ(scalar("select count(distinct 号码) from 历史表").toInt(), 200);
}

TEST_F(DispatchTest, RunsThatCannotSubmitEnd)
{
    // An empty queue.
    dispatch->startRun();
    EXPECT_FALSE(dispatch->SendingInProgress);
    EXPECT_TRUE(pagesEnabled);
    // A number no group takes leaves the queue as failed; the good one is still sent.
    pagesEnabled = false;
    queuePart("x", {"12345", "13800000001"});
    dispatch->startRun();
    Submit s = answer(4);
    EXPECT_EQ(s.numbers, QStringList{"13800000001"});
    ASSERT_TRUE(waitUntil([&] { return !dispatch->SendingInProgress; }));
    EXPECT_EQ(scalar("select 状态 from 历史表 where 号码='12345'").toString(), "失败");
    EXPECT_EQ(count("要发缓存表"), 0);
    // Logged out: nothing can be submitted and the run ends at once.
    queuePart("y", {"13800000002"});
    dm->sms().Logout();
    pagesEnabled = false;
    dispatch->startRun();
    EXPECT_FALSE(dispatch->SendingInProgress);
    EXPECT_TRUE(pagesEnabled);
    EXPECT_EQ(count("要发缓存表"), 1);
    EXPECT_EQ(count("临时缓存表"), 0);
}

TEST_F(DispatchTest, AFailingHistoryWriteLeavesTheBatchWhereItWas)
{
    queuePart("x", numbersFrom(0, 5));
    dispatch->startRun();
    auto p = gw.nextPacket();
    ASSERT_TRUE(p);
    dm->db().ExecSql("alter table 历史表 rename to 历史表_moved");
    EXPECT_ANY_THROW(dispatch->onSubmitNotify({FakeGateway::seqOf(*p), 77}, 0));
    dm->db().ExecSql("alter table 历史表_moved rename to 历史表");
    EXPECT_EQ(count("要发缓存表"), 5);
    EXPECT_EQ(count("临时缓存表"), 5);
    EXPECT_EQ(count("发送内容表"), 0);
}

TEST_F(DispatchTest, AReportThatOvertakesItsSubmitAnswerStillMarksTheHistory)
{
    queuePart("x", {"13800000001", "13800000002"});
    dispatch->startRun();
    auto p = gw.nextPacket();
    ASSERT_TRUE(p);
    const quint32 seq = FakeGateway::seqOf(*p);
    // The report is stored before the answer to its submit is handled.
    dispatch->onReport([] {
        TMessage_Report r;
        r.MsgID = 900;
        r.SrcNo = "13800000002";
        r.Stat = "UNDELIV";
        r.ErrCode = 5;
        return r;
    }());
    dispatch->onSubmitNotify({seq, 900}, 0);
    EXPECT_EQ(scalar("select 状态||'/'||报告 from 历史表 where 号码='13800000002'").toString(), "失败/5");
    EXPECT_EQ(scalar("select 状态 from 历史表 where 号码='13800000001'").toString(), "成功");
}
