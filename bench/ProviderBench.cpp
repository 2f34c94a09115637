// The provider simulator under the load of one client connection: Submits of 180 numbers,
// one in flight at a time like a single send thread, with every report sent, received and
// acknowledged.
#include "Simulator.h"
#include "gateway/GSMIAPUnt.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QThread>
#include <benchmark/benchmark.h>

namespace {

constexpr int NumbersPerSubmit = 180;
constexpr int SubmitsPerRound = 200;

struct Provider {
    QThread thread;
    Sim::Simulator *sim = nullptr;
    quint16 port = 0;

    Provider()
    {
        Sim::Config c;
        c.gatewayPorts = {0};
        c.webPort = 0;
        c.reportDelayMs = 0; // reports switched on, sent as soon as they are due
        c.enquireLinkIntervalMs = 0;
        c.accounts = {Sim::AccountSeed{QStringLiteral("bench"), QStringLiteral("bench"),
                                       QStringLiteral("10009"), QStringLiteral("bench"), qint64(1) << 40,
                                       QStringLiteral("106570010009")}};
        thread.start();
        sim = new Sim::Simulator(c);
        sim->moveToThread(&thread);
        QMetaObject::invokeMethod(
            sim,
            [this] {
                QString error;
                if (!sim->start(&error))
                    qFatal("simulator: %s", qPrintable(error));
                port = sim->gatewayPorts().value(0);
            },
            Qt::BlockingQueuedConnection);
    }
    ~Provider()
    {
        QMetaObject::invokeMethod(
            sim, [this] { delete sim; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
};

class Client {
public:
    explicit Client(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!m_socket.waitForConnected(5000))
            qFatal("connect failed");
        m_socket.write(*Gateway::BuildLogin(QStringLiteral("bench"), QStringLiteral("bench")));
        if (Gateway::ParseHeader(next())->Command_Status != 0)
            qFatal("login failed");
        Gateway::SubmitRequest req;
        req.CustomerNo = QStringLiteral("10009");
        for (int i = 0; i < NumbersPerSubmit; ++i)
            req.DestNumbers << QString::number(13800000000LL + i);
        req.Content = QStringLiteral("性能测试：每批180个号码");
        m_submit = *Gateway::BuildSubmit(req);
    }

    // Sends one Submit and handles traffic until its answer is in.
    void submit(quint32 seq)
    {
        QByteArray packet = m_submit;
        packet[12] = char(seq >> 24);
        packet[13] = char(seq >> 16);
        packet[14] = char(seq >> 8);
        packet[15] = char(seq);
        m_socket.write(packet);
        for (;;) {
            const QByteArray p = next();
            const auto h = *Gateway::ParseHeader(p);
            if (h.Command_ID == Gateway::Cmd::Submit_Response && h.Sequence_No == seq) {
                if (h.Command_Status != 0)
                    qFatal("submit refused: %u", h.Command_Status);
                return;
            }
        }
    }
    void waitReports(qint64 count)
    {
        QByteArray other;
        while (m_reports < count)
            pump(&other);
    }

private:
    QByteArray next()
    {
        QByteArray packet;
        while (!pump(&packet)) {
        }
        return packet;
    }
    // Handles what has arrived: Reports are counted and acknowledged in runs; stops at the
    // first other packet (true). Reads from the socket only when nothing was there to handle.
    bool pump(QByteArray *packet)
    {
        QByteArray acks;
        bool found = false;
        int frames = 0;
        while (!found) {
            const Gateway::Frame f = Gateway::NextFrame(QByteArrayView(m_buffer).sliced(m_pos));
            if (f.kind == Gateway::Frame::Malformed)
                qFatal("malformed stream");
            if (f.kind == Gateway::Frame::NeedMore)
                break;
            const QByteArrayView p = QByteArrayView(m_buffer).sliced(m_pos, f.length);
            m_pos += f.length;
            ++frames;
            const auto h = *Gateway::ParseHeader(p);
            if (h.Command_ID == Gateway::Cmd::Report) {
                ++m_reports;
                acks += Gateway::BuildReportResp(h.Sequence_No);
            } else {
                *packet = p.toByteArray();
                found = true;
            }
        }
        if (!acks.isEmpty()) {
            m_socket.write(acks);
            m_socket.flush();
        }
        if (found)
            return true;
        m_buffer.remove(0, m_pos);
        m_pos = 0;
        if (frames > 0)
            return false; // let the caller look at the counts before waiting
        if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(10000))
            qFatal("no answer from the simulator after %lld reports", m_reports);
        m_buffer += m_socket.readAll();
        return false;
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    QByteArray m_submit;
    qint64 m_reports = 0;

public:
    qint64 reports() const { return m_reports; }
};

void BM_ProviderSubmitsWithReports(benchmark::State &state)
{
    Provider provider;
    Client client(provider.port);
    quint32 seq = 0;
    qint64 numbers = 0;
    for (auto _ : state) {
        for (int i = 0; i < SubmitsPerRound; ++i)
            client.submit(++seq);
        numbers += qint64(SubmitsPerRound) * NumbersPerSubmit;
        client.waitReports(numbers); // the round ends when every report is in
    }
    state.counters["numbers/s"] = benchmark::Counter(double(numbers), benchmark::Counter::kIsRate);
    state.counters["reports"] = double(client.reports());
}
BENCHMARK(BM_ProviderSubmitsWithReports)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
