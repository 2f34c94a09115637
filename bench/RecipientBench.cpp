// Figures for the recipient list: importing 100,000 numbers from .txt and .xlsx, reloading
// 100,000 from the table, and what a list of 1,000,000 adds to the process.
#include "common/Clock.h"
#include "common/ScriptedPrompter.h"
#include "sending/NumberImport.h"
#include "sending/SendList.h"
#include "store/dm.h"
#include <QCoreApplication>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <xlsxwriter.h>

namespace {

QTemporaryDir *g_home;

struct Env {
    ScriptedPrompter prompter;
    ManualClock clock{QDateTime(QDate(2008, 5, 4), QTime(12, 0))};
    TDataM dm{prompter, clock};
    SendList list{dm};
    int eventRounds = 0;
    Env()
    {
        dm.db().OpenAccountDatabase(QStringLiteral("1"));
        list.processEvents = [this] {
            ++eventRounds;
            QCoreApplication::processEvents();
        };
    }
};

Env *g_env;
Env &env()
{
    return *g_env;
}

QString number(int i)
{
    return QString::number(13800000000LL + qint64(i) * 37 % 100000000);
}

QString txtFile()
{
    const QString path = g_home->filePath(QStringLiteral("100k.txt"));
    if (!QFile::exists(path)) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("手机号码\r\n");
        for (int i = 0; i < 100000; ++i)
            f.write(number(i).toLatin1() + "\r\n");
    }
    return path;
}

QString xlsxFile()
{
    const QString path = g_home->filePath(QStringLiteral("100k.xlsx"));
    if (!QFile::exists(path)) {
        lxw_workbook *wb = workbook_new(QFile::encodeName(path).constData());
        lxw_worksheet *ws = workbook_add_worksheet(wb, "Sheet1");
        worksheet_write_string(ws, 0, 0, "手机", nullptr);
        worksheet_write_string(ws, 0, 1, "姓名", nullptr);
        for (int i = 0; i < 100000; ++i) {
            worksheet_write_number(ws, lxw_row_t(i + 1), 0, number(i).toDouble(), nullptr);
            worksheet_write_string(ws, lxw_row_t(i + 1), 1, "张三", nullptr);
        }
        workbook_close(wb);
    }
    return path;
}

void fillTable(int n)
{
    Env &e = env();
    e.list.ClearSendList();
    e.dm.db().inTransaction([&] {
        QSqlQuery q = e.dm.db().newQuery();
        q.prepare(QStringLiteral("insert into 发送缓存表 (号码) values (?)"));
        for (int i = 0; i < n; ++i) {
            q.addBindValue(number(i));
            q.exec();
        }
    });
}

long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

void importFile(benchmark::State &state, const QString &path)
{
    Env &e = env();
    NumberImport::Counts c;
    int rounds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        e.list.ClearSendList();
        e.eventRounds = 0;
        state.ResumeTiming();
        NumberImport imp(e.list);
        imp.keepReading = [&] { // as the dialog does while a file is read
            ++e.eventRounds;
            QCoreApplication::processEvents();
            return true;
        };
        imp.open(path, false);
        imp.selectTable(0);
        std::atomic<bool> cancel{false};
        c = imp.run(0, {}, cancel);
        rounds = e.eventRounds;
    }
    state.counters["imported"] = c.done;
    state.counters["errors"] = c.errors;
    state.counters["event_rounds"] = rounds;
}

void BM_ImportTxt100k(benchmark::State &state)
{
    importFile(state, txtFile());
}
void BM_ImportXlsx100k(benchmark::State &state)
{
    importFile(state, xlsxFile());
}

void BM_FastImportTxt100k(benchmark::State &state)
{
    Env &e = env();
    for (auto _ : state) {
        state.PauseTiming();
        e.list.ClearSendList();
        e.prompter.answer(Prompter::Answer::Yes);
        state.ResumeTiming();
        e.list.FastImport([] { return txtFile(); });
    }
    state.counters["in_list"] = e.list.numbers().count();
}

void BM_ReloadSendList100k(benchmark::State &state)
{
    fillTable(100000);
    Env &e = env();
    for (auto _ : state)
        e.list.ReloadSendList();
    state.counters["in_list"] = e.list.numbers().count();
}

void BM_AddOneTypedNumberTo1M(benchmark::State &state)
{
    Env &e = env();
    RecipientNumbers &m = e.list.mirror();
    m.clear();
    for (int i = 0; i < 1000000; ++i)
        m.addPending(QString::number(13000000000LL + qint64(i) * 7));
    m.commitPending();
    qint64 i = 0;
    for (auto _ : state) {
        const QString n = QString::number(13000000001LL + (i++ % 100000) * 7);
        m.add(n);
        state.PauseTiming();
        m.remove(n);
        state.ResumeTiming();
    }
    m.clear();
}

void BM_MemoryOf1MList(benchmark::State &state)
{
    fillTable(1000000); // the mirror is empty now, the table full
    Env &e = env();
    double added = 0, mirror = 0, stringList = 0;
    for (auto _ : state) {
        const long before = rssKb();
        e.list.ReloadSendList();
        added = double(rssKb() - before) / 1024.0;
        mirror = double(e.list.numbers().memoryBytes()) / (1024.0 * 1024.0);
        // For comparison: the same numbers as a list of strings.
        const long beforeList = rssKb();
        QStringList strings = e.list.numbers().toStringList();
        stringList = double(rssKb() - beforeList) / 1024.0;
    }
    state.counters["rss_added_MB"] = added;
    state.counters["mirror_MB"] = mirror;
    state.counters["qstringlist_MB"] = stringList;
    state.counters["in_list"] = e.list.numbers().count();
}

} // namespace

BENCHMARK(BM_ImportTxt100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ImportXlsx100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FastImportTxt100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ReloadSendList100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_AddOneTypedNumberTo1M)->Unit(benchmark::kMicrosecond);
// Last, so the others do not carry its table.
BENCHMARK(BM_MemoryOf1MList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    g_home = &home;
    qputenv("VELARO_HOME", QFile::encodeName(home.path()));
    benchmark::Initialize(&argc, argv);
    {
        Env e;
        g_env = &e;
        benchmark::RunSpecifiedBenchmarks();
        g_env = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
