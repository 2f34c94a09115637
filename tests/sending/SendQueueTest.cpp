#include "../store/StoreFixture.h"
#include "sending/Dispatch.h"
#include "sending/SendList.h"
#include "sending/SendQueue.h"
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {

// A customer database with the send list, dispatch and queue; nobody logged in.
struct QueueFixture : StoreFixture {
    std::unique_ptr<SendList> list;
    std::unique_ptr<Dispatch> dispatch;
    std::unique_ptr<SendQueue> queue;
    QString composeText;
    QueueFixture()
    {
        EXPECT_TRUE(db().OpenAccountDatabase("10086"));
        dm->SegLenMobile = 70;
        dm->SegLenOther = 45;
        list = std::make_unique<SendList>(*dm);
        dispatch = std::make_unique<Dispatch>(*dm);
        queue = std::make_unique<SendQueue>(*dm, *list, *dispatch);
        queue->setComposeText = [this](const QString &t) { composeText = t; };
    }
    void add(const QStringList &numbers)
    {
        for (const QString &n : numbers)
            list->AddToSendList(n);
    }
    QStringList column(const QString &sql)
    {
        QStringList out;
        QSqlQuery q = db().newQuery();
        q.exec(sql);
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
};

QStringList numbers(const QString &prefix, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << prefix + QString::number(i).rightJustified(11 - prefix.size(), '0');
    return out;
}

} // namespace

TEST(SendQueue, CommonTextIsQueuedOncePerPartAndClass)
{
    QueueFixture f;
    f.add(numbers("138", 1000));
    f.add(numbers("0", 200));
    ASSERT_EQ(f.list->numbers().count(), 1200);
    const QString text = QString(100, QChar(u'字'));
    f.queue->SaveComposition(QString(), text, "普通", QString());
    f.queue->QueueSendList(false);
    EXPECT_EQ(f.count("发送内容历史表"), 1);
    EXPECT_EQ(f.count("要发内容表"), 5);
    EXPECT_EQ(f.count("要发缓存表"), 2600);
    EXPECT_EQ(f.count("要发缓存表 where 号码 like '0%'"), 600);
    EXPECT_EQ(f.column("select distinct 分割条数 from 要发缓存表 where 号码 like '138%' order by 1"),
              (QStringList{"0", "1"}));
    EXPECT_EQ(f.count("发送历史缓存表"), 1200);
}

TEST(SendQueue, EmsPartsAreTypedPerMobilePart)
{
    QueueFixture f;
    f.add({"13800000001", "02000000001"});
    f.queue->SaveComposition(QString(), QString(140, QChar(u'a')), "普通(EMS)", QString());
    f.queue->QueueSendList(true);
    EXPECT_EQ(f.column("select 类型 from 要发缓存表 where 号码='13800000001' order by 分割条数"),
              (QStringList{"普通(1/3)", "普通(2/3)", "普通(3/3)"}));
    for (const QString &t : f.column("select 类型 from 要发缓存表 where 号码='02000000001'"))
        EXPECT_EQ(t, "普通(EMS)");
}

TEST(SendQueue, SingleMessagesShareEqualPartTexts)
{
    QueueFixture f;
    f.queue->QueueSingleMessage("13800000001", "谢谢您的来信");
    f.queue->QueueSingleMessage("13800000002", "谢谢您的来信");
    EXPECT_EQ(f.count("要发内容表"), 1);
    EXPECT_EQ(f.column("select 分割条数||'/'||类型 from 要发缓存表"), (QStringList{"1/普通", "1/普通"}));
    f.queue->QueueSingleMessage("13800000003", QString(150, QChar(u'b')));
    EXPECT_EQ(f.column("select 分割条数 from 要发缓存表 where 号码='13800000003' order by 1"),
              (QStringList{"1", "2", "3"}));
}

TEST(SendQueue, PersonalisedTextsPerContactAndTheUnknownNumbersQuestion)
{
    struct Case {
        Prompter::Answer answer;
        int queued; // numbers queued
        bool started;
    } cases[] = {
        {Prompter::Answer::Yes, 2, true},
        {Prompter::Answer::No, 1, true},
        {Prompter::Answer::Cancel, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.answer));
        QueueFixture f;
        f.db().ExecSql("insert into 用户表(类别,手机,姓名) values('01','13900000001','张三')");
        f.add({"13900000001", "13900000002"});
        f.prompter.answer(Prompter::Answer::Yes);
        f.prompter.answer(c.answer);
        EXPECT_EQ(f.queue->sendClicked("[姓名]您好", "普通", QString(), false), c.started);
        const QStringList texts = f.prompter.texts(ScriptedPrompter::Kind::Question);
        ASSERT_EQ(texts.size(), 2);
        EXPECT_TRUE(texts[1].endsWith("\r\n\r\n13900000002"));
        EXPECT_EQ(f.count("(select distinct 号码 from 要发缓存表)"), c.queued);
        if (c.queued) {
            EXPECT_EQ(f.scalar("select b.内容 from 要发缓存表 a join 要发内容表 b on a.内容=b.编号 where 号码='13900000001'")
                          .toString(),
                      "张三您好");
        }
        if (c.queued == 2) {
            EXPECT_EQ(f.scalar("select b.内容 from 要发缓存表 a join 要发内容表 b on a.内容=b.编号 where 号码='13900000002'")
                          .toString(),
                      "您好"); // no contact: the field is empty
        }
    }
}

TEST(SendQueue, SendButtonChecks)
{
    struct Case {
        QStringList numbers;
        QString text;
        const char *message;
    } cases[] = {
        {{}, "你好", "号码为空"},
        {{"13800000001"}, "  \r\n ", "发送内容不能为空!!!"},
        {{"13800000001"}, "你好😀", "😀"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        QueueFixture f;
        f.add(c.numbers);
        EXPECT_FALSE(f.queue->sendClicked(c.text, "普通", QString(), false));
        ASSERT_EQ(f.prompter.texts().size(), 1);
        EXPECT_TRUE(f.prompter.texts()[0].contains(c.message)) << f.prompter.texts()[0].toStdString();
        EXPECT_EQ(f.count("要发缓存表"), 0);
    }
    // Forbidden words.
    QueueFixture f;
    f.db().ExecSql("insert into 过滤表(内容) values('发票')");
    f.add({"13800000001"});
    EXPECT_FALSE(f.queue->sendClicked("代开发票", "普通", QString(), false));
    ASSERT_EQ(f.prompter.texts().size(), 1);
    EXPECT_TRUE(f.prompter.texts()[0].startsWith("有非法字符(")) << f.prompter.texts()[0].toStdString();
    // "否" removing every number stops like an empty list.
    QueueFixture g;
    g.add({"13900000005"});
    g.prompter.answer(Prompter::Answer::Yes);
    g.prompter.answer(Prompter::Answer::No);
    EXPECT_FALSE(g.queue->sendClicked("[姓名]您好", "普通", QString(), false));
    EXPECT_EQ(g.prompter.texts(ScriptedPrompter::Kind::Information), QStringList{"号码为空"});
    EXPECT_EQ(g.count("要发缓存表"), 0);
}

TEST(SendQueue, ResumeRestoresTheCompositionAndSettlesTheLastRun)
{
    QueueFixture f;
    f.dm->FirstWord = "【公司】";
    f.dm->LastWord = "退订回T";
    f.add({"13800000001", "13800000002"});
    f.queue->SaveComposition(QString(), "【公司】明天开会退订回T", "普通", QString());
    // A batch was in flight when the program ended.
    f.db().ExecSql("insert into 要发内容表(内容) values('x')");
    f.db().ExecSql("insert into 要发缓存表(号码,内容,分割条数,类型) values('13800000009',1,0,'普通'),('13800000010',1,0,'普通')");
    f.db().ExecSql("insert into 临时缓存表(号码,内容,分割条数,类型) values('13800000009',1,0,'普通')");
    f.db().ExecSql("insert into 发送历史表(号码,内容) values('13800000009;','x')");
    f.list = std::make_unique<SendList>(*f.dm); // a new run of the program: empty mirror
    f.queue = std::make_unique<SendQueue>(*f.dm, *f.list, *f.dispatch);
    f.queue->setComposeText = [&](const QString &t) { f.composeText = t; };
    f.prompter.answer(Prompter::Answer::Yes); // load the last composition
    f.prompter.answer(Prompter::Answer::No);  // do not continue: clear the queue
    f.queue->resumeAtSessionStart(false);
    EXPECT_EQ(f.composeText, "明天开会");
    EXPECT_EQ(f.list->numbers().count(), 2);
    EXPECT_EQ(f.count("要发缓存表"), 0);
    EXPECT_EQ(f.scalar("select 状态 from 历史表 where 号码='13800000009'").toString(), "未确认");
    EXPECT_EQ(f.prompter.texts(ScriptedPrompter::Kind::Question).size(), 2);

    // Answered No, the list and the composition are cleared.
    f.prompter.clear();
    f.prompter.answer(Prompter::Answer::No);
    f.queue->resumeAtSessionStart(false);
    EXPECT_EQ(f.composeText, "");
    EXPECT_EQ(f.count("发送缓存表"), 0);
    EXPECT_EQ(f.scalar("select 内容 from 临时发送内容表").toString(), "");
}
