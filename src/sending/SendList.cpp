#include "sending/SendList.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "sending/NumberRules.h"
#include "sending/PreparedSql.h"
#include "sending/TableReader.h"
#include "store/dm.h"
#include <QCoreApplication>
#include <QSet>
#include <QSqlQuery>

SendList::SendList(TDataM &dm, QObject *parent) : QObject(parent), m_dm(dm)
{
    processEvents = [] { QCoreApplication::processEvents(); };
    m_caption = QStringLiteral("接收号码列表: (0)");
}

AccountDatabase &SendList::db()
{
    return m_dm.db();
}

void SendList::yieldEvents()
{
    if (processEvents)
        processEvents();
}

void SendList::setCaption(const QString &c)
{
    m_caption = c;
    emit captionChanged(c);
}

void SendList::RefreshCounts()
{
    setCaption(QStringLiteral("接收号码列表: (%1)").arg(m_numbers.count()));
}

void SendList::AddToSendList(const QString &number)
{
    if (m_numbers.contains(number))
        return;
    QSqlQuery q = db().newQuery();
    PreparedSql::prepare(
        q, QStringLiteral("Select 名称 from 类别表 where 编码=(select 类别 from 用户表 where 手机=? "
                          "limit 1) limit 1"));
    PreparedSql::exec(q, {number});
    const QString folder = q.next() ? q.value(0).toString() : QString();
    PreparedSql::prepare(q, QStringLiteral("Select 姓名 from 用户表 where 手机=? limit 1"));
    PreparedSql::exec(q, {number});
    const QString name = q.next() ? q.value(0).toString() : QString();
    PreparedSql::prepare(q, QStringLiteral("insert into 发送缓存表 (号码,组别,姓名,内容) values (?,?,?,?)"));
    PreparedSql::exec(q, {number, folder, name, CompositionId});

    emit aboutToInsert(m_numbers.insertionRow(number));
    m_numbers.add(number);
    emit inserted();
    emit countsChanged();
}

void SendList::ClearSendList()
{
    db().ExecSql(QStringLiteral("delete  from 发送缓存表 "));
    emit aboutToReset();
    m_numbers.clear();
    emit reset();
    emit countsChanged();
}

bool SendList::HasSendList()
{
    return db().scalar(QStringLiteral("select 编号 from  发送缓存表 limit 1")).isValid();
}

int SendList::SendListCount()
{
    return db().scalar(QStringLiteral("select count(*) as recount from  发送缓存表 ")).toInt();
}

void SendList::ReloadSendList(const std::atomic<bool> *cancel)
{
    emit aboutToReset();
    m_numbers.clear();
    emit reset();
    struct Finally {
        SendList *self;
        ~Finally()
        {
            emit self->aboutToReset();
            self->m_numbers.commitPending();
            emit self->reset();
            emit self->countsChanged();
            self->RefreshCounts();
        }
    } finally{this};
    try {
        const int total = SendListCount();
        QSqlQuery q = db().newQuery();
        db().ExecSqlOn(q, QStringLiteral("select 号码 from  发送缓存表 "), true);
        int done = 0;
        while (q.next()) {
            m_numbers.addPending(q.value(0).toString());
            ++done;
            if (done % progressStep() == 0)
                setCaption(QStringLiteral(" 载入进度: (%1/%2)").arg(done).arg(total));
            if (done % eventStep() == 0) {
                yieldEvents();
                if (cancel && cancel->load())
                    break;
            }
        }
        if (done % progressStep() != 0)
            setCaption(QStringLiteral(" 载入进度: (%1/%2)").arg(done).arg(total));
    } catch (const VelaroError &) {
        // A read error ends the loop; the list keeps what was read.
    }
}

bool SendList::SubmitTyped(const QString &candidate)
{
    if (candidate.isEmpty() || !IsValidNumber(candidate))
        return false;
    const QString number = NormalizeNumber(candidate);
    if (m_numbers.contains(number))
        return false;
    AddToSendList(number);
    if (m_dm.NewNumAutoAddToCard) {
        noteNewNumber(number);
        if (ReloadTree)
            ReloadTree();
    }
    return true;
}

void SendList::DeleteSelected(const std::vector<int> &rows)
{
    if (m_dm.prompter().question(QStringLiteral("确认要删除你选择的号码吗？")) == Prompter::Answer::Yes &&
        !rows.empty()) {
        std::vector<int> sorted = rows;
        std::sort(sorted.begin(), sorted.end(), std::greater<int>());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        std::vector<int> valid;
        for (int r : sorted)
            if (r >= 0 && r < m_numbers.count())
                valid.push_back(r);
        db().inTransaction([&] {
            QSqlQuery q = db().newQuery();
            PreparedSql::prepare(q, QStringLiteral("delete  from 发送缓存表  where 号码=?"));
            for (int r : valid)
                PreparedSql::exec(q, {m_numbers.at(r)});
        });
        emit aboutToReset();
        m_numbers.removeRows(valid);
        emit reset();
        emit countsChanged();
    }
}

void SendList::AddFolderNumbers(const QString &folderCode)
{
    const QString code = folderCode.trimmed();
    if (code.isEmpty())
        return;
    // A contact without a number would add an empty row, and a NULL in the list would make
    // the "not in" test unknown for every later folder.
    db().ExecSql(
        QStringLiteral("insert into 发送缓存表 (号码) select distinct 手机 from 用户表 where not (手机 in "
                       "(select 号码 from 发送缓存表 where 号码 is not null))  and 类别=") +
        SqlDialect::quote(code) + QStringLiteral(" and 手机 <> ''"));
    ReloadSendList();
}

void SendList::DropFolderNumbers(const QString &folderCode)
{
    const QString code = folderCode.trimmed();
    if (code.isEmpty())
        return;
    db().ExecSql(
        QStringLiteral("insert into 发送缓存表 (号码,组别,姓名,内容) select 手机,类别,姓名,") +
        QString::number(CompositionId) +
        QStringLiteral(" from 用户表 where not (手机 in (select 号码 from 发送缓存表 where 号码 is not "
                       "null))  and 类别=") +
        SqlDialect::quote(code) + QStringLiteral(" and 手机 <> ''"));
    ReloadSendList();
}

void SendList::insertBatch(const std::vector<QString> &numbers)
{
    if (numbers.empty())
        return;
    db().inTransaction([&] {
        QSqlQuery q = db().newQuery();
        PreparedSql::prepare(q, QStringLiteral("insert into 发送缓存表 (号码) values (?)"));
        for (const QString &n : numbers)
            PreparedSql::exec(q, {n});
    });
}

void SendList::noteNewNumber(const QString &number)
{
    if (m_dm.NewNumAutoAddToCard && AddAsNewContact)
        AddAsNewContact(number);
}

void SendList::endBulk()
{
    emit aboutToReset();
    m_numbers.commitPending();
    emit reset();
    emit countsChanged();
}

QString SendList::fastImportQuestion()
{
    return QStringLiteral(
        "超速导入模式下，由于不检测文件中号码的正确性，所以如果号码不正确，可能出现无法发送或发送异常的"
        "问题. 确定号码文件无误吗？");
}

int SendList::FastImport(const std::function<QString()> &chooseFile)
{
    if (m_dm.prompter().question(fastImportQuestion()) != Prompter::Answer::Yes)
        return 0;
    const QString path = chooseFile ? chooseFile() : QString();
    if (path.isEmpty())
        return 0;
    std::unique_ptr<TableReader> reader;
    TableReader::Rows rows;
    try {
        reader = TableReader::open(path);
        rows = reader->readRows(0, [this](int) {
            yieldEvents();
            return true;
        });
    } catch (const VelaroError &e) {
        m_dm.prompter().information(e.text());
        return 0;
    }
    // Unchecked, as the question says; only numbers already in the list and repeats are left out,
    // so nobody is sent the same message twice.
    int added = 0;
    QSet<QString> seen;
    std::vector<QString> batch;
    auto flush = [&] {
        insertBatch(batch);
        added += int(batch.size());
        batch.clear();
    };
    int i = 0;
    try {
        for (const QStringList &row : rows) {
            const QString n = row.isEmpty() ? QString() : CellText::fromText(row.first().trimmed());
            if (!n.isEmpty() && !m_numbers.contains(n) && !seen.contains(n)) {
                seen.insert(n);
                batch.push_back(n);
            }
            if (++i % eventStep() == 0) {
                flush();
                yieldEvents();
            }
        }
        flush();
    } catch (...) {
        ReloadSendList(); // the mirror shows what reached the table
        throw;
    }
    ReloadSendList();
    return added;
}
