#include "sending/Dispatch.h"
#include "common/Clock.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "store/dm.h"
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

using namespace Gateway;

namespace {

const char *const kClass2[] = {"130", "131", "132", "133", "153", "155", "156", "180", "189", "185", "186"};
const char *const kClass1[] = {"134", "135", "136", "137", "138", "139", "158", "159", "157",
                               "150", "151", "152", "187", "188", "182", "147", "183"};

QString inList(const char *const *list, size_t n)
{
    QStringList items;
    for (size_t i = 0; i < n; ++i)
        items << QLatin1Char('\'') + QLatin1String(list[i]) + QLatin1Char('\'');
    return items.join(QLatin1Char(','));
}

QString gatewayTime(const QVariant &v, qint64 extraSecs)
{
    if (v.isNull() || v.toString().trimmed().isEmpty())
        return {};
    QDateTime t = QDateTime::fromString(v.toString().trimmed().left(19).replace(QLatin1Char('T'), QLatin1Char(' ')),
                                        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        return {};
    return FormatGatewayTime(t.addSecs(extraSecs));
}

} // namespace

Dispatch::Dispatch(TDataM &dm) : m_dm(dm) {}

QString Dispatch::now() const
{
    return m_dm.clock().now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool Dispatch::isClass2Prefix(const QString &number)
{
    const QString p = number.left(3);
    for (const char *c : kClass2)
        if (p == QLatin1String(c))
            return true;
    return false;
}

QString Dispatch::groupCondition(const QString &number) const
{
    const QString L = m_dm.db().dialect().LeftFunction();
    if (number.startsWith(QLatin1Char('0')))
        return L + QStringLiteral("(号码,1)='0'");
    bool ok = false;
    number.left(3).toInt(&ok);
    if (!ok || number.size() < 3)
        return {};
    if (isClass2Prefix(number))
        return L + QStringLiteral("(号码,3) in (") + inList(kClass2, std::size(kClass2)) + QLatin1Char(')');
    return L + QStringLiteral("(号码,3) in (") + inList(kClass1, std::size(kClass1)) + QLatin1Char(')');
}

int Dispatch::QueueCount()
{
    return m_dm.db().scalar(QStringLiteral("select count(*) as recount from  要发缓存表 ")).toInt();
}

void Dispatch::startRun()
{
    m_runTimer.start();
    progressComplete = 0;
    progressTotal = QueueCount();
    if (onProgress)
        onProgress(progressComplete, progressTotal);
    DispatchNextBatch();
}

void Dispatch::startRunWithStatus(const QString &status)
{
    if (onStatus)
        onStatus(status);
    startRun();
}

int Dispatch::AppendSendHistory(const QString &numbers, const QString &text, const QString &validTime,
                                const QString &atTime, const QString &type)
{
    AccountDatabase &db = m_dm.db();
    QSqlQuery q = db.newQuery();
    q.prepare(QStringLiteral("insert into 发送历史表(号码,内容,定时时间,发送时间,类型) values(?,?,?,?,?)"));
    for (const QString &v : {numbers, text, validTime, atTime, type})
        q.addBindValue(v);
    if (!q.exec())
        throw VelaroError(q.lastQuery() + QStringLiteral(" >> ") + q.lastError().text());
    return db.scalar(QStringLiteral("select max(编号) from 发送历史表")).toInt();
}

void Dispatch::moveUnsendable(const QString &number, const QString &content)
{
    // A number no group takes (only the fast import lets such numbers in) would block the
    // queue for good: it leaves the queue into the history as failed.
    AccountDatabase &db = m_dm.db();
    const QString n = SqlDialect::quote(number);
    db.inTransaction([&] {
        db.ExecSql(QStringLiteral("insert into 历史表(群发编号,号码,状态,时间,组别,姓名,字数,内容,分割条数,类型,报告) "
                                  "select '',号码,'失败',") +
                   SqlDialect::quote(now()) +
                   QStringLiteral(",组别,姓名,字数,内容,分割条数,类型,'号码无效' from 要发缓存表 where 号码=") + n +
                   QStringLiteral(" and 内容=") + content);
        db.ExecSql(QStringLiteral("delete from 要发缓存表 where 号码=") + n + QStringLiteral(" and 内容=") + content);
    });
}

bool Dispatch::DispatchNextBatch()
{
    AccountDatabase &db = m_dm.db();
    SendingInProgress = true;
    BatchNumbers.clear();
    // A batch left from an answer that never came is settled first, never sent again.
    settleUnansweredBatch();
    for (;;) {
        QSqlQuery first = db.newQuery();
        db.ExecSqlOn(first,
                     QStringLiteral(" select  号码,定时时间,内容,类型 from 要发缓存表  order by 内容,号码,类型 limit 1"),
                     true);
        if (!first.next()) {
            finishRun(progressTotal != 0 && progressComplete > 0);
            return false;
        }
        const QString N = first.value(0).toString();
        const QString C = QString::number(first.value(2).toLongLong());
        const QString Y = first.value(3).toString().trimmed();
        first.finish();
        const QString cond = groupCondition(N);
        if (cond.isEmpty()) {
            moveUnsendable(N, C);
            continue;
        }
        const QString G = QLatin1Char(' ') + cond;
        const QString X = db.scalar(QStringLiteral(" select  内容 from 要发内容表 where 编号 =") + C + QStringLiteral(" limit 1"))
                              .toString();
        QString numbers, atTime, validTime, marker, typeName = Y;
        int rows = 0;
        int H = 0;
        db.inTransaction([&] {
            db.ExecSql(QStringLiteral(" insert into  临时缓存表 (号码,姓名,组别,内容,字数,等级,定时时间,创建时间,分割条数,类型) "
                                      "select 号码,姓名,组别,内容,字数,等级,定时时间,创建时间,分割条数,类型  from  要发缓存表 where ") +
                       G + QStringLiteral(" and 内容=") + C + QStringLiteral(" and 类型=") + SqlDialect::quote(Y) +
                       QStringLiteral(" order by 内容,号码 limit %1").arg(BatchSize));
            QSqlQuery q = db.newQuery();
            db.ExecSqlOn(q, QStringLiteral(" select 号码,定时时间,内容 from 临时缓存表 order by 内容,号码"), true);
            QVariant lastTime;
            while (q.next()) {
                const QString n = q.value(0).toString();
                numbers += n + QLatin1Char(';');
                BatchNumbers << (isClass2Prefix(n) ? QStringLiteral("86") + n : n);
                lastTime = q.value(1);
                ++rows;
            }
            if (rows == 0)
                return;
            atTime = gatewayTime(lastTime, 0);
            validTime = atTime.isEmpty() ? QString() : gatewayTime(lastTime, 864);
            const int open = Y.indexOf(QLatin1Char('('));
            if (open >= 0) {
                const int close = Y.indexOf(QLatin1Char(')'), open);
                marker = Y.mid(open + 1, close < 0 ? -1 : close - open - 1);
                typeName = Y.left(open);
            }
            H = AppendSendHistory(numbers, X, validTime, atTime, typeName + QLatin1Char('(') + marker + QLatin1Char(')'));
        });
        if (rows == 0) {
            moveUnsendable(N, C);
            continue;
        }
        if (processEvents)
            processEvents();
        quint8 cls = MsgClass::Ordinary;
        if (typeName == QStringLiteral("免提"))
            cls = MsgClass::HandsFree;
        else if (typeName == QStringLiteral("闪烁"))
            cls = MsgClass::Flash;
        else if (typeName == QStringLiteral("免提+闪烁"))
            cls = MsgClass::HandsFreeFlash;
        // A marker that is not "m/n" (an EMS type on a fixed-line number) cannot travel in the
        // part field; the text still goes, as one plain part.
        static const QRegularExpression partForm(QStringLiteral("^\\d{1,3}/\\d{1,3}$"));
        const QString sendMarker = partForm.match(marker).hasMatch() ? marker : QString();
        TSMSSOCKET &sms = m_dm.sms();
        const quint32 seq = sms.PushOneSMS(sms.session().CustomerNo, BatchNumbers, quint32(H), X, atTime, validTime,
                                           QString(), cls, sendMarker);
        if (seq == 0) {
            // Nothing went out: the batch is not in flight and the run cannot go on.
            db.ExecSql(QStringLiteral("delete from 临时缓存表"));
            if (onStatus)
                onStatus(QStringLiteral("提交失败: 未登录或内容无法发送"));
            finishRun(false);
            return false;
        }
        m_inFlight = H;
        if (progressTotal != 0) {
            progressComplete += int(BatchNumbers.size());
            if (onProgress)
                onProgress(progressComplete, progressTotal);
        }
        return true;
    }
}

void Dispatch::RecordSubmitSuccess(const QString &msgId, const QString &statusText)
{
    AccountDatabase &db = m_dm.db();
    const QString I = SqlDialect::quote(msgId);
    db.ExecSql(QStringLiteral("delete  from 要发缓存表 where 号码 in (select 号码 from 临时缓存表 ) and 内容 in (select 内容 from 临时缓存表 ) "));
    db.ExecSql(QStringLiteral(" insert into 发送内容表(子号,群发号,内容) select 编号,") + I +
               QStringLiteral(",内容 from 要发内容表  where 编号 in (select 内容 from 临时缓存表 )"));
    db.ExecSql(QStringLiteral("insert into 历史表(群发编号,号码,状态,时间,组别,姓名,字数,内容,分割条数,类型) select ") + I +
               QStringLiteral(",号码,") + SqlDialect::quote(statusText) + QLatin1Char(',') + SqlDialect::quote(now()) +
               QStringLiteral(",组别,姓名,字数,内容,分割条数,类型 from  临时缓存表 "));
    db.ExecSql(QStringLiteral("delete  from 临时缓存表 "));
    // A report can overtake the answer to its own submit; its mark is applied now.
    for (const auto &[state, condition] :
         {std::pair{QStringLiteral("非法字符"), QStringLiteral("状态='illegal'")},
          std::pair{QStringLiteral("失败"), QStringLiteral("状态 not in ('DELIVRD','0','illegal')")}}) {
        const QString reports = QStringLiteral(" from 状态报告表 r where r.MSID=") + I + QStringLiteral(" and ") + condition;
        db.ExecSql(QStringLiteral("update 历史表 set 状态=") + SqlDialect::quote(state) +
                   QStringLiteral(",报告=(select cast(r.错误代码 as text)") + reports +
                   QStringLiteral(" and r.源号码=历史表.号码 limit 1) where 群发编号=") + I +
                   QStringLiteral(" and 号码 in (select r.源号码") + reports + QLatin1Char(')'));
    }
}

void Dispatch::SetSendHistoryMsgId(int row, const QString &msgId)
{
    m_dm.db().ExecSql(QStringLiteral("update 发送历史表 set msID=") + SqlDialect::quote(msgId) +
                      QStringLiteral("  where 编号=") + QString::number(row));
}

void Dispatch::onSubmitNotify(const TSubmitResp &resp, quint32 status)
{
    // An answer for a batch that is no longer in flight (a late one after a logout) changes nothing.
    if (m_inFlight == 0 || resp.Sequence_No != quint32(m_inFlight))
        return;
    AccountDatabase &db = m_dm.db();
    if (status != 0) {
        m_inFlight = 0;
        if (onStatus)
            onStatus(GetStatusText(status));
        // A refusal means nothing went out: the rows stay queued for the next run, and the
        // batch copy goes, so it is never recorded under a later batch's identifier. Without an
        // answer the gateway may have sent it: the copy stays for the next session start.
        if (status != SMS_WAITRESP_TIMEOUT && status != SMS_ERR_TEXT)
            db.ExecSql(QStringLiteral("delete from 临时缓存表"));
        finishRun(false);
        return;
    }
    const QString I = QString::number(qint64(resp.MsgID));
    const int row = m_inFlight;
    m_inFlight = 0;
    db.inTransaction([&] {
        RecordSubmitSuccess(I, QStringLiteral("成功"));
        SetSendHistoryMsgId(row, I);
    });
    if (onBalance)
        onBalance(QStringLiteral("账户余额：%1条").arg(m_dm.sms().session().Balance));
    if (onStatus)
        onStatus(QString());
    if (progressTotal != 0) {
        if (progressComplete < progressTotal)
            DispatchNextBatch();
        else
            finishRun(true);
    } else if (QueueCount() < 1) {
        finishRun(false);
    } else {
        DispatchNextBatch();
    }
    if (processEvents)
        processEvents();
}

void Dispatch::finishRun(bool withSummary)
{
    if (onPagesEnabled)
        onPagesEnabled(true);
    SendingInProgress = false;
    m_dm.db().ExecSql(QStringLiteral(" delete  from 要发内容表  where 编号 not in (select distinct 内容 from 要发缓存表 ) "
                                     "and 编号 not in (select 内容 from 临时缓存表)"));
    if (withSummary) {
        const double secs = m_runTimer.isValid() ? m_runTimer.elapsed() / 1000.0 : 0.0;
        m_dm.prompter().information(QStringLiteral("本次成功提交%1条信息!!!,用时:%2").arg(progressTotal).arg(secs));
        progressTotal = progressComplete = 0;
        if (onProgress)
            onProgress(0, 0);
    }
    m_runTimer.invalidate();
}

void Dispatch::StoreStatusReport(const TMessage_Report &r)
{
    AccountDatabase &db = m_dm.db();
    const QString id = SqlDialect::quote(QString::number(qint64(r.MsgID)));
    QSqlQuery q = db.newQuery();
    q.prepare(QStringLiteral("insert into  状态报告表 (源号码,号码,错误代码 ,状态 ,MSID,完成时间 ,发送时间 ) values (?,?,?,?,?,?,?)"));
    q.addBindValue(r.SrcNo);
    q.addBindValue(r.DestNo);
    q.addBindValue(qint64(r.ErrCode));
    q.addBindValue(r.Stat);
    q.addBindValue(QString::number(qint64(r.MsgID)));
    q.addBindValue(r.DoneTime);
    q.addBindValue(r.SubmitTime);
    if (!q.exec())
        throw VelaroError(q.lastQuery() + QStringLiteral(" >> ") + q.lastError().text());
    const QString where = QStringLiteral(" where 群发编号=") + id + QStringLiteral(" and 号码=") + SqlDialect::quote(r.SrcNo);
    if (r.Stat == QLatin1String("illegal"))
        db.ExecSql(QStringLiteral("update  历史表  set 状态='非法字符',报告=") + SqlDialect::quote(QString::number(r.ErrCode)) + where);
    else if (r.Stat != QLatin1String("DELIVRD") && r.Stat != QLatin1String("0"))
        db.ExecSql(QStringLiteral("update  历史表  set 状态='失败',报告=") + SqlDialect::quote(QString::number(r.ErrCode)) + where);
}

void Dispatch::onReport(const TMessage_Report &report) { StoreStatusReport(report); }

bool Dispatch::PurgeSubmittedFromQueue()
{
    settleUnansweredBatch();
    return m_dm.db().scalar(QStringLiteral("select 号码 from  要发缓存表 limit 1")).isValid();
}

void Dispatch::settleUnansweredBatch()
{
    AccountDatabase &db = m_dm.db();
    m_inFlight = 0;
    db.inTransaction([&] {
        if (db.scalar(QStringLiteral("select count(*) from 临时缓存表")).toInt() > 0) {
            // The batch went to the gateway under the last history row; its answer never came.
            const QString H = db.scalar(QStringLiteral("select max(编号) from 发送历史表")).toString();
            const QString id = SqlDialect::quote(QStringLiteral("S") + H);
            db.ExecSql(QStringLiteral(" insert into 发送内容表(子号,群发号,内容) select 编号,") + id +
                       QStringLiteral(",内容 from 要发内容表  where 编号 in (select 内容 from 临时缓存表 )"));
            db.ExecSql(QStringLiteral("insert into 历史表(群发编号,号码,状态,时间,组别,姓名,字数,内容,分割条数,类型) select ") + id +
                       QStringLiteral(",号码,") + SqlDialect::quote(unconfirmedStatus()) + QLatin1Char(',') +
                       SqlDialect::quote(now()) + QStringLiteral(",组别,姓名,字数,内容,分割条数,类型 from  临时缓存表 "));
        }
        db.ExecSql(QStringLiteral("delete  from 要发缓存表 where 号码 in (select 号码 from 临时缓存表 ) and 内容 in (select 内容 from 临时缓存表 ) "));
        db.ExecSql(QStringLiteral("delete  from 临时缓存表 "));
    });
}
