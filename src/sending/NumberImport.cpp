#include "sending/NumberImport.h"
#include "sending/NumberRules.h"
#include "sending/SendList.h"
#include <QSet>

NumberImport::NumberImport(SendList &list) : m_list(list) {}
NumberImport::~NumberImport() = default;

void NumberImport::open(const QString &path, bool firstRowIsNumber)
{
    m_reader.reset();
    m_tables.clear();
    m_rows.clear();
    m_fields.clear();
    m_table = -1;
    m_firstRowIsNumber = firstRowIsNumber;
    m_reader = TableReader::open(path);
    m_tables = m_reader->tableNames();
}

void NumberImport::setFirstRowIsNumber(bool on)
{
    m_firstRowIsNumber = on;
    computeFields();
}

void NumberImport::selectTable(int table)
{
    m_rows.clear();
    m_fields.clear();
    m_table = -1;
    if (!m_reader || table < 0 || table >= m_tables.size())
        return;
    m_rows = m_reader->readRows(table, [this](int) { return keepReading ? keepReading() : true; });
    m_table = table;
    computeFields();
}

void NumberImport::computeFields()
{
    m_fields.clear();
    if (m_table < 0 || m_rows.empty())
        return;
    qsizetype width = 0;
    for (const QStringList &r : m_rows)
        width = std::max(width, r.size());
    const QStringList header = m_firstRowIsNumber ? QStringList() : m_rows.front();
    QSet<QString> used;
    for (qsizetype i = 0; i < width; ++i) {
        // The names the spreadsheet drivers give: the header text, or F1, F2, ... when it has none.
        QString name = i < header.size() ? header[i].trimmed() : QString();
        if (name.isEmpty() || used.contains(name))
            name = QStringLiteral("F%1").arg(i + 1);
        used.insert(name);
        m_fields << name;
    }
}

QStringList NumberImport::distinctValues(int field) const
{
    QStringList out;
    if (field < 0 || field >= m_fields.size())
        return out;
    QSet<QString> seen;
    bool nullSeen = false;
    for (size_t i = m_firstRowIsNumber ? 0 : 1; i < m_rows.size(); ++i) {
        const QStringList &r = m_rows[i];
        const QString v = field < r.size() ? CellText::fromText(r[field]) : QString();
        if (v.isEmpty()) {
            // Blank cells are one NULL value to a distinct query.
            if (!nullSeen)
                out << QString();
            nullSeen = true;
            continue;
        }
        if (!seen.contains(v)) {
            seen.insert(v);
            out << v;
        }
    }
    return out;
}

QString NumberImport::numberFromCell(const QString &cell)
{
    QString v = cell.trimmed();
    if (!v.isEmpty() && !v.startsWith(QLatin1Char('0'))) {
        bool ok = false;
        const int first = v.left(3).toInt(&ok);
        if (!ok)
            return QString();
        if (!IsMobilePrefix(first))
            v.prepend(QLatin1Char('0')); // a spreadsheet cell that lost the zero of its area code
    }
    if (!IsValidNumber(v))
        return QString();
    return NormalizeNumber(v);
}

NumberImport::Counts NumberImport::run(int field, const Progress &progress, const std::atomic<bool> &cancel)
{
    const QStringList values = distinctValues(field);
    Counts c;
    c.rows = int(values.size());
    std::vector<QString> batch;
    QSet<QString> inBatch;
    auto flush = [&] {
        m_list.insertBatch(batch);
        for (const QString &n : batch) {
            m_list.mirror().addPending(n);
            m_list.noteNewNumber(n);
        }
        batch.clear();
        inBatch.clear();
    };
    struct Finally {
        NumberImport *self;
        ~Finally()
        {
            self->m_list.endBulk();
            if (self->m_list.ReloadTree)
                self->m_list.ReloadTree();
        }
    } finally{this};
    const int step = SendList::eventStep();
    for (int i = 0; i < values.size(); ++i) {
        if (i % step == 0) {
            flush();
            if (progress)
                progress(i, c.rows);
            if (m_list.processEvents)
                m_list.processEvents();
        }
        if (cancel.load()) {
            c.cancelled = true;
            break;
        }
        const QString n = numberFromCell(values[i]);
        if (n.isEmpty()) {
            ++c.errors;
            continue;
        }
        if (!m_list.mirror().contains(n) && !inBatch.contains(n)) {
            inBatch.insert(n);
            batch.push_back(n);
        }
        ++c.done;
    }
    flush();
    if (progress)
        progress(c.errors + c.done, c.rows);
    return c;
}

QString NumberImport::resultText(const Counts &c)
{
    return QStringLiteral("导入完毕，本次共有数据%1,其中错误手机号有%2,已成功导入%3")
        .arg(c.rows)
        .arg(c.errors)
        .arg(c.done);
}
