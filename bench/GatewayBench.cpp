// Submit round trips of the protocol client against a local peer over loopback: one send
// thread, Submits of 180 numbers, each answered at once by a minimal peer that does nothing
// else, so the figure is what the client itself can carry.
#include "gateway/GSMIAPUnt.h"
#include "gateway/SMSSOCKET.h"
#include "gateway/XorBase64.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QtEndian>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray header(quint32 len, quint32 cmd, quint32 status, quint32 seq)
{
    QByteArray h(16, '\0');
    qToBigEndian(len, h.data());
    qToBigEndian(cmd, h.data() + 4);
    qToBigEndian(status, h.data() + 8);
    qToBigEndian(seq, h.data() + 12);
    return h;
}

// Answers Login and every Submit; blocking sockets on its own thread.
class Peer {
public:
    Peer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_listen, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~Peer()
    {
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        if (m_conn >= 0)
            ::shutdown(m_conn, SHUT_RDWR);
        m_thread.join();
    }
    quint16 port() const { return m_port; }

private:
    void serve()
    {
        m_conn = ::accept(m_listen, nullptr, nullptr);
        if (m_conn < 0)
            return;
        int one = 1;
        ::setsockopt(m_conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        QByteArray buf;
        char tmp[65536];
        quint64 msgId = 0;
        for (;;) {
            const ssize_t n = ::recv(m_conn, tmp, sizeof tmp, 0);
            if (n <= 0)
                break;
            buf.append(tmp, int(n));
            QByteArray out;
            qsizetype off = 0;
            for (;;) {
                const auto f = Gateway::NextFrame(QByteArrayView(buf).sliced(off));
                if (f.kind != Gateway::Frame::Packet)
                    break;
                const quint32 cmd = qFromBigEndian<quint32>(buf.constData() + off + 4);
                const quint32 seq = qFromBigEndian<quint32>(buf.constData() + off + 12);
                off += f.length;
                if (cmd == Gateway::Cmd::Login) {
                    QByteArray body(4, '\0');
                    for (const QByteArray &t : {QByteArray("10086"), QByteArray("bench"), QByteArray("999999999")})
                        body += XorBase64Encode(t) + QByteArray(1, '\0');
                    body += QByteArray("\x46\x00\x2d", 3);
                    out += header(quint32(16 + body.size()), Gateway::Cmd::Login_Response, 0, 0) + body;
                } else if (cmd == Gateway::Cmd::Submit) {
                    QByteArray id(8, '\0');
                    qToBigEndian(++msgId, id.data());
                    const QByteArray bal = XorBase64Encode("999999") + QByteArray(1, '\0');
                    out += header(quint32(24 + bal.size()), Gateway::Cmd::Submit_Response, 0, seq) + id + bal;
                }
            }
            buf.remove(0, off);
            if (!out.isEmpty())
                ::send(m_conn, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
        }
        ::close(m_conn);
    }

    int m_listen = -1;
    int m_conn = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

struct Counter : SmsNotifyTarget {
    std::atomic<int> answered{0};
    bool loggedIn = false;
    void WM_SMSSubmitNotify(const Gateway::TSubmitResp &, quint32 status) override
    {
        if (status == 0)
            ++answered;
    }
    void WM_SMSActionNotify(quint32 c, quint32 s) override { loggedIn = loggedIn || (c == 1 && s == 0); }
};

void BM_SubmitRoundTrips(benchmark::State &state)
{
    Peer peer;
    Counter counter;
    GatewayTimings t;
    t.loginDelayMs = 0;
    TSMSSOCKET sms(t);
    sms.SetConnection(QStringLiteral("127.0.0.1"), QString::number(peer.port()), &counter, 1, TProxyInfo(), ProxyNone);
    sms.Login(QStringLiteral("bench"), QStringLiteral("bench"));
    QDeadlineTimer login(10000);
    while (!counter.loggedIn && !login.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!counter.loggedIn) {
        state.SkipWithError("login failed");
        return;
    }
    sms.setSendEnabled(true);
    QStringList numbers;
    for (int i = 0; i < 180; ++i)
        numbers << QStringLiteral("138%1").arg(i, 8, 10, QLatin1Char('0'));
    const QString customer = sms.session().CustomerNo;
    const int perRound = int(state.range(0));
    int submits = 0;
    for (auto _ : state) {
        const int target = counter.answered + perRound;
        for (int i = 0; i < perRound; ++i)
            sms.PushOneSMS(customer, numbers, 0, QStringLiteral("性能测试短信内容"), QString(), QString(), QString(), 1,
                           QString());
        while (counter.answered < target)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        submits += perRound;
    }
    state.counters["submits_per_s"] = benchmark::Counter(submits, benchmark::Counter::kIsRate);
    state.counters["numbers_per_s"] = benchmark::Counter(double(submits) * 180, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SubmitRoundTrips)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
