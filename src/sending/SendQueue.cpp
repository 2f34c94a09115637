#include "sending/SendQueue.h"
#include "common/Clock.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "sending/ContentRules.h"
#include "sending/Dispatch.h"
#include "sending/SendList.h"
#include "store/dm.h"
#include <QSqlQuery>

namespace {
QString q(const QString &s) { return SqlDialect::quote(s); }

// An EMS type names its part: the first "(EMS)" becomes "(i/n)".
QString partType(QString type, int index, int parts)
{
    const int at = type.indexOf(QStringLiteral("(EMS)"));
    if (at >= 0)
        type.replace(at, 5, QStringLiteral("(%1/%2)").arg(index + 1).arg(parts));
    return type;
}
} // namespace

SendQueue::SendQueue(TDataM &dm, SendList &list, Dispatch &dispatch) : m_dm(dm), m_list(list), m_dispatch(dispatch) {}

QString SendQueue::now() const { return m_dm.clock().now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

void SendQueue::SaveComposition(const QString &number, const QString &text, const QString &type,
                                const QString &sendTime)
{
    AccountDatabase &db = m_dm.db();
    db.ExecSql(QStringLiteral("update 临时发送内容表  set 内容=") + q(text));
    QString sql = QStringLiteral("update 发送缓存表 set 内容=") + QString::number(CompositionId) +
                  (sendTime.isEmpty() ? QStringLiteral(",定时时间=null") : QStringLiteral(",定时时间=") + q(sendTime)) +
                  QStringLiteral(" ,字数=") + QString::number(text.size()) + QStringLiteral(" ,类型=") + q(type);
    if (!number.isEmpty())
        sql += QStringLiteral(" where 号码=") + q(number);
    db.ExecSql(sql);
}

void SendQueue::saveCompositionText(const QString &text)
{
    m_dm.db().ExecSql(QStringLiteral("update 临时发送内容表  set 内容=") + q(text));
}

void SendQueue::ClearComposition() { m_dm.db().ExecSql(QStringLiteral("Update 临时发送内容表 set 内容=''")); }

void SendQueue::clearContent()
{
    ClearComposition();
    SaveComposition(QString(), QString(), QString(), QString());
}

int SendQueue::QueueCount() { return m_dispatch.QueueCount(); }

void SendQueue::ClearQueue()
{
    m_dm.db().ExecSql(QStringLiteral("  delete  from  要发内容表"));
    m_dm.db().ExecSql(QStringLiteral(" delete from 要发缓存表"));
}

int SendQueue::insertPart(const QString &part)
{
    AccountDatabase &db = m_dm.db();
    db.ExecSql(QStringLiteral("insert into 要发内容表(内容) values(") + q(part) + QLatin1Char(')'));
    return db.scalar(QStringLiteral("  select 编号 from  要发内容表  order by 编号 desc limit 1")).toInt();
}

bool SendQueue::sendClicked(const QString &memoText, const QString &type, const QString &sendTime, bool ems)
{
    Prompter &p = m_dm.prompter();
    if (!m_list.HasRecipients()) {
        p.information(QStringLiteral("号码为空"));
        return false;
    }
    if (memoText.trimmed().isEmpty()) {
        p.information(QStringLiteral("发送内容不能为空!!!"));
        return false;
    }
    const QString T = FilterLineBreaks(m_dm, memoText);
    // Forbidden words, characters the gateway's code page cannot carry (they would arrive as
    // "?"), and attached texts that leave no room in a part: refused before anything is queued.
    const auto &counts = m_list.classCounts();
    const QString refusal = SendContentRefusal(m_dm, T, ems, counts[1] + counts[2] > 0, counts[3] > 0);
    if (!refusal.isEmpty()) {
        p.information(refusal);
        return false;
    }
    AccountDatabase &db = m_dm.db();
    if (IsPersonalised(m_dm, T)) {
        if (p.question(QStringLiteral("您现在发送的是个性化短信,系统将逐号码查找在名片夹中的对应数据来解析发送内容，确定号码和内容无误吗？")) !=
            Prompter::Answer::Yes)
            return false;
        QStringList unknown;
        QSqlQuery r = db.newQuery();
        db.ExecSqlOn(r, QStringLiteral("select 号码 from 发送缓存表 where not (号码 in (select 手机 from v_user where 手机 is not null))"),
                     true);
        while (r.next())
            unknown << r.value(0).toString().trimmed();
        r.finish();
        if (!unknown.isEmpty()) {
            const auto a = p.question(QStringLiteral("下列号码在您的联系人列表中无法找到，点击【是】照常发送,对应内容填空;点击【否】清除这些号码并继续发送;点击【取消】暂取消本次发送") +
                                          QStringLiteral("\r\n\r\n") + unknown.join(QLatin1Char(',')),
                                      Prompter::Buttons::YesNoCancel);
            if (a == Prompter::Answer::Cancel)
                return false;
            if (a == Prompter::Answer::No) {
                QStringList quoted;
                for (const QString &n : unknown)
                    quoted << q(n);
                db.ExecSql(QStringLiteral("delete from 发送缓存表 where 号码 in (") + quoted.join(QLatin1Char(',')) +
                           QLatin1Char(')'));
                // Nobody left to send to: stop as with an empty list.
                if (!db.scalar(QStringLiteral("select 号码 from 发送缓存表 limit 1")).isValid()) {
                    m_list.ReloadSendList();
                    p.information(QStringLiteral("号码为空"));
                    return false;
                }
            }
        }
    } else if (confirmSend && !confirmSend()) {
        return false;
    }
    SaveComposition(QString(), T, type, sendTime);
    if (setPagesEnabled)
        setPagesEnabled(false);
    try {
        QueueSendList(ems);
    } catch (...) {
        if (setPagesEnabled)
            setPagesEnabled(true);
        throw;
    }
    m_dispatch.startRunWithStatus(QStringLiteral("正在发送信息...."));
    return true;
}

void SendQueue::QueueSendList(bool ems)
{
    AccountDatabase &db = m_dm.db();
    const QString L = db.dialect().LeftFunction();
    QSqlQuery comp = db.newQuery();
    db.ExecSqlOn(comp, QStringLiteral(" select 编号,内容 from 临时发送内容表 where 编号 in (select 内容 from 发送缓存表)"),
                 true);
    if (!comp.next())
        throw VelaroError(QStringLiteral("发送列表没有对应的发送内容，无法发送。"));
    const QString C = QString::number(comp.value(0).toLongLong());
    const QString text = comp.value(1).toString();
    comp.finish();
    db.ExecSql(QStringLiteral(" insert into 发送内容历史表 (内容,时间)  select  内容 ,") + q(now()) +
               QStringLiteral(" as sj from  临时发送内容表 where 编号=") + C);
    db.ExecSql(QStringLiteral("delete from 发送历史缓存表 "));
    db.ExecSql(QStringLiteral("insert into 发送历史缓存表 select * from 发送缓存表 "));
    if (IsPersonalised(m_dm, text.trimmed())) {
        QueuePersonalised(text, ems);
        return;
    }
    const QString T = FilterLineBreaks(m_dm, text);
    const SplitSettings s = SplitSettings::of(m_dm);
    const QString cols = QStringLiteral(" insert into  要发缓存表 (号码,姓名,组别,内容,字数,等级,定时时间,创建时间,分割条数,类型) ");
    auto classPresent = [&](const char *first) {
        return db.scalar(QStringLiteral("select 号码 from 发送缓存表 where ") + L + QStringLiteral("(号码,1)='") +
                         QLatin1String(first) + QStringLiteral("' and 内容=") + C + QStringLiteral(" limit 1"))
            .isValid();
    };
    if (classPresent("0")) {
        const QStringList parts = SplitMessage(m_dm, T, s.SegLenOther, false);
        for (int i = 0; i < parts.size(); ++i) {
            const int P = insertPart(parts[i]);
            db.ExecSql(cols + QStringLiteral(" select  号码,姓名,组别,%1,字数,等级,定时时间,创建时间 ,%2,类型  from  发送缓存表 where ")
                                  .arg(P)
                                  .arg(i) +
                       L + QStringLiteral("(号码,1)='0' and 内容=") + C);
            if (m_dispatch.processEvents)
                m_dispatch.processEvents();
        }
    }
    if (classPresent("1")) {
        const QStringList parts = SplitMessage(m_dm, T, s.mobileLimit(ems), ems);
        const QString baseType = db.scalar(QStringLiteral(" select 类型 from  发送缓存表 where ") + L +
                                           QStringLiteral("(号码,1)='1' and 内容=") + C + QStringLiteral(" limit 1"))
                                     .toString();
        for (int i = 0; i < parts.size(); ++i) {
            const int P = insertPart(parts[i]);
            db.ExecSql(cols + QStringLiteral(" select  号码,姓名,组别,%1,字数,等级,定时时间,创建时间 ,%2,").arg(P).arg(i) +
                       q(partType(baseType, i, int(parts.size()))) + QStringLiteral("  from  发送缓存表 where ") + L + QStringLiteral("(号码,1)='1' and 内容=") + C);
            if (m_dispatch.processEvents)
                m_dispatch.processEvents();
        }
    }
}

void SendQueue::QueuePersonalised(const QString &text, bool ems)
{
    AccountDatabase &db = m_dm.db();
    const SplitSettings s = SplitSettings::of(m_dm);
    QStringList numbers;
    {
        QSqlQuery r = db.newQuery();
        db.ExecSqlOn(r, QStringLiteral("select 号码 from 发送缓存表 "), true);
        while (r.next())
            numbers << r.value(0).toString().trimmed();
    }
    m_dispatch.progressComplete = 0;
    m_dispatch.progressTotal = int(numbers.size());
    if (m_dispatch.onProgress)
        m_dispatch.onProgress(0, m_dispatch.progressTotal);
    if (m_dispatch.onStatus)
        m_dispatch.onStatus(QStringLiteral("正在解析打包内容...."));
    const QString cols = QStringLiteral(" insert into  要发缓存表 (号码,姓名,组别,内容,字数,等级,定时时间,创建时间,分割条数,类型)  select  号码,姓名,组别,");
    int done = 0;
    for (const QString &N : numbers) {
        const QString expanded = ExpandPlaceholders(m_dm, text, N);
        const bool mobile = N.startsWith(QLatin1Char('1'));
        const QStringList parts = mobile ? SplitMessage(m_dm, expanded, s.mobileLimit(ems), ems)
                                         : SplitMessage(m_dm, expanded, s.SegLenOther, false);
        QString baseType;
        if (mobile)
            baseType = db.scalar(QStringLiteral(" select 类型 from  发送缓存表 where 号码 =") + q(N) + QStringLiteral(" limit 1"))
                           .toString();
        for (int i = 0; i < parts.size(); ++i) {
            const int P = insertPart(parts[i]);
            const QString typeExpr =
                mobile ? q(partType(baseType, i, int(parts.size()))) : QStringLiteral("类型");
            db.ExecSql(cols + QStringLiteral("%1,字数,等级,定时时间,创建时间 ,%2,").arg(P).arg(i) + typeExpr +
                       QStringLiteral("  from  发送缓存表 where 号码 =") + q(N));
        }
        m_dispatch.progressComplete = ++done;
        if (m_dispatch.onProgress && done % 100 == 0)
            m_dispatch.onProgress(done, m_dispatch.progressTotal);
        if (m_dispatch.processEvents && done % 100 == 0)
            m_dispatch.processEvents();
    }
    m_dispatch.progressComplete = 0;
}

void SendQueue::QueueSingleMessage(const QString &number, const QString &text)
{
    AccountDatabase &db = m_dm.db();
    const SplitSettings s = SplitSettings::of(m_dm);
    const QStringList parts =
        SplitMessage(m_dm, text, number.startsWith(QLatin1Char('0')) ? s.SegLenOther : s.SegLenMobile, false);
    for (int i = 0; i < parts.size(); ++i) {
        QSqlQuery r = db.newQuery();
        db.ExecSqlOn(r, QStringLiteral("select 编号 ,length(内容)as cd from  要发内容表 where 内容=") + q(parts[i]) +
                            QStringLiteral(" limit 1"),
                     true);
        int P = 0, cd = 0;
        if (r.next()) {
            P = r.value(0).toInt();
            cd = r.value(1).toInt();
        } else {
            P = insertPart(parts[i]);
            cd = int(parts[i].size());
        }
        r.finish();
        db.ExecSql(QStringLiteral(" insert into  要发缓存表 (号码,姓名,组别,内容,字数,等级,创建时间,分割条数,类型)  values (") +
                   q(number) + QStringLiteral(",'',''," ) + QString::number(P) + QLatin1Char(',') + QString::number(cd) +
                   QStringLiteral(",0,") + q(now()) + QLatin1Char(',') + QString::number(i + 1) + QStringLiteral(",'普通')"));
    }
    if (m_dispatch.SendingInProgress && m_dispatch.progressTotal != 0) {
        m_dispatch.progressTotal += int(parts.size());
        if (m_dispatch.onProgress)
            m_dispatch.onProgress(m_dispatch.progressComplete, m_dispatch.progressTotal);
    }
}

void SendQueue::resumeAtSessionStart(bool minimised)
{
    AccountDatabase &db = m_dm.db();
    Prompter &p = m_dm.prompter();
    auto ask = [&](const QString &text) {
        return minimised || p.question(text) == Prompter::Answer::Yes;
    };
    QString S;
    {
        QSqlQuery r = db.newQuery();
        db.ExecSqlOn(r, QStringLiteral("select 内容,编号 from  临时发送内容表 "), true);
        if (r.next()) {
            S = r.value(0).toString();
            CompositionId = r.value(1).toInt();
        }
    }
    m_list.CompositionId = CompositionId;
    if (m_list.HasSendList()) {
        if (ask(QStringLiteral("是否载入上次编辑的手机号码列表和编辑内容! 选择\"是\"显示，\"否\"将清除"))) {
            if (!m_dm.LastWord.isEmpty() && S.endsWith(m_dm.LastWord))
                S.chop(m_dm.LastWord.size());
            if (!m_dm.FirstWord.isEmpty() && S.startsWith(m_dm.FirstWord))
                S.remove(0, m_dm.FirstWord.size());
            if (setComposeText)
                setComposeText(S);
            m_list.ReloadSendList();
        } else {
            m_list.ClearSendList();
            if (setComposeText)
                setComposeText(QString());
            clearContent();
        }
    } else {
        m_list.ClearSendList();
        if (setComposeText)
            setComposeText(QString());
    }
    if (m_dispatch.PurgeSubmittedFromQueue()) {
        if (ask(QStringLiteral("上次发送过程未完成，是否继续发送!  选择\"是\"发送，\"否\"将清除")))
            m_dispatch.startRunWithStatus(QString());
        else
            ClearQueue();
    }
}
