// The send pipeline on SQLite at campaign size: queueing 100,000 numbers with a two-part text,
// and dispatching them end to end against the provider simulator (every Submit answered and
// its history written).
#include "Simulator.h"
#include "app/MainController.h"
#include "common/Clock.h"
#include "common/ScriptedPrompter.h"
#include "sending/ContentRules.h"
#include "sending/SendPipeline.h"
#include "store/dm.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

namespace {

constexpr int Numbers = 100000;

struct Client {
    QTemporaryDir home;
    ScriptedPrompter prompter;
    SystemClock clock;
    std::unique_ptr<TDataM> dm;
    std::unique_ptr<MainController> ctl;
    std::unique_ptr<SendPipeline> pipe;

    Client()
    {
        qputenv("VELARO_HOME", QFile::encodeName(home.path()));
        dm = std::make_unique<TDataM>(prompter, clock);
        ctl = std::make_unique<MainController>(*dm);
        pipe = std::make_unique<SendPipeline>(*dm, *ctl);
        dm->SegLenMobile = 70;
        dm->SegLenOther = 60;
    }
    void fillSendList()
    {
        auto &db = dm->db();
        db.ExecSql("delete from 发送缓存表");
        db.inTransaction([&] {
            QSqlQuery q = db.newQuery();
            q.prepare("insert into 发送缓存表(号码,姓名,组别,内容,字数,等级) values(?,'','',1,0,0)");
            for (int i = 0; i < Numbers; ++i) {
                q.addBindValue(QStringLiteral("138%1").arg(i, 8, 10, QLatin1Char('0')));
                q.exec();
            }
        });
        pipe->list.ReloadSendList();
    }
};

void BM_QueueSendList(benchmark::State &state)
{
    Client c;
    c.dm->db().OpenAccountDatabase("10001");
    c.dm->schema().UpgradeDatabase();
    c.fillSendList();
    const QString text = QString(100, QChar(u'促'));
    for (auto _ : state) {
        state.PauseTiming();
        c.pipe->queue.ClearQueue();
        c.pipe->queue.SaveComposition(QString(), text, QStringLiteral("普通"), QString());
        state.ResumeTiming();
        c.pipe->queue.QueueSendList(false);
    }
    state.counters["queue_rows"] = c.pipe->dispatch.QueueCount();
}
BENCHMARK(BM_QueueSendList)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// One keystroke in the compose box with 100,000 recipients listed: the counters of the
// group's caption and the saved composition.
void BM_ComposeKeystroke(benchmark::State &state)
{
    Client c;
    c.dm->db().OpenAccountDatabase("10001");
    c.dm->schema().UpgradeDatabase();
    c.fillSendList();
    const QStringList entries = InsertFieldEntries(*c.dm);
    const SplitSettings settings = SplitSettings::of(*c.dm);
    QString text = QStringLiteral("尊敬的客户您好，");
    int i = 0;
    for (auto _ : state) {
        text += QChar(u'一' + (i++ % 200));
        const QString filtered = FilterLineBreaks(*c.dm, text);
        benchmark::DoNotOptimize(CounterCaption(filtered, entries, settings, false));
        c.pipe->queue.saveCompositionText(filtered);
    }
    state.counters["recipients"] = c.pipe->list.numbers().count();
}
BENCHMARK(BM_ComposeKeystroke)->Unit(benchmark::kMillisecond)->Iterations(300)->UseRealTime();

void BM_DispatchEndToEnd(benchmark::State &state)
{
    Sim::Config cfg;
    cfg.gatewayPorts = {0};
    cfg.webPort = 0;
    cfg.reportDelayMs = 3600000; // reports after the run: the figure is the submits and history
    cfg.enquireLinkIntervalMs = 0;
    cfg.accounts = {Sim::AccountSeed{QStringLiteral("demo"), QStringLiteral("demo123"), QStringLiteral("10001"),
                                     QStringLiteral("bench"), 2000000000, QStringLiteral("106570010001")}};
    QThread simThread;
    simThread.start();
    auto *sim = new Sim::Simulator(cfg);
    sim->moveToThread(&simThread);
    quint16 port = 0;
    QMetaObject::invokeMethod(
        sim, [&] { QString e; sim->start(&e); port = sim->gatewayPorts().value(0); }, Qt::BlockingQueuedConnection);

    Client c;
    QFile ini(c.home.filePath("provider.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[Provider]\nGatewayHostA=127.0.0.1\nGatewayPort1=%1\n").arg(port).toUtf8());
    ini.close();
    c.ctl->hooks.downloadFilterWords = nullptr;
    c.ctl->DoLogin(QStringLiteral("服务器1"), {}, QStringLiteral("0"), QStringLiteral("不使用代理"), false,
                   QStringLiteral("demo123"), QStringLiteral("demo"), {}, {});
    QDeadlineTimer login(20000);
    while (!c.ctl->SMSConnected() && !login.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!c.ctl->SMSConnected()) {
        state.SkipWithError(qPrintable(QStringLiteral("login failed on port %1: %2").arg(port).arg(Gateway::LastErrorText())));
        QMetaObject::invokeMethod(sim, [&] { delete sim; }, Qt::BlockingQueuedConnection);
        simThread.quit();
        simThread.wait();
        return;
    }
    Dispatch &d = c.pipe->dispatch;
    for (auto _ : state) {
        state.PauseTiming();
        c.fillSendList();
        c.pipe->queue.ClearQueue();
        c.pipe->queue.SaveComposition(QString(), QStringLiteral("端到端性能测试"), QStringLiteral("普通"), QString());
        c.pipe->queue.QueueSendList(false);
        state.ResumeTiming();
        d.startRun();
        while (d.SendingInProgress)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    state.counters["numbers_per_s"] =
        benchmark::Counter(double(Numbers) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["history_rows"] = c.dm->db().scalar("select count(*) from 历史表").toInt();
    c.ctl->FormClose();
    QMetaObject::invokeMethod(sim, [&] { delete sim; }, Qt::BlockingQueuedConnection);
    simThread.quit();
    simThread.wait();
}
BENCHMARK(BM_DispatchEndToEnd)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
