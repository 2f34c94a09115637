#include "gateway/SMSSOCKET.h"
#include "common/HomeFolder.h"
#include "common/VelaroError.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

// Diagnostics stay silent unless QT_LOGGING_RULES="velaro.gateway.debug=true" asks for them.
Q_LOGGING_CATEGORY(lcGateway, "velaro.gateway", QtInfoMsg)

using namespace Gateway;

namespace {

enum : quint32 {
    WM_QUIT = 0x0012,
    WM_ActionResp = 0xB43,
    WM_SubmitResp = 0xB44,
    WM_EnquireLinkResp = 0xB45,
    WM_EndSendThread = 0xB47,
    // Our own: a logout took the packet this send thread was waiting for.
    WM_PacketReleased = 0xB48,
};

struct ThreadMsg {
    quint32 id = 0;
    quint32 wParam = 0;
    quint32 lParam = 0;
    QByteArray data;
};

QString threadIdText()
{
    return QString::number(quintptr(QThread::currentThreadId()));
}

} // namespace

// The two events every worker waits on, and the message queues to wake when they fire.
struct WorkerEvents {
    std::atomic<bool> appQuit{false};
    std::atomic<quint64> logoutGeneration{0};
};

namespace {

// A worker's own message queue with timed waits.
class WorkerQueue {
public:
    enum Result { AppQuit, LogOut, Message, Timeout };

    void post(ThreadMsg m)
    {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_queue.push_back(std::move(m));
        }
        m_cv.notify_all();
    }
    // Wakes an idle wait early (new work in a shared queue, or an event).
    void nudge()
    {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_nudged = true;
        }
        m_cv.notify_all();
    }
    void discard()
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_queue.clear();
    }
    // Waits up to ms. Messages are taken only when out is given; a logout counts only when
    // its generation differs from seenLogout; a nudge ends only an idle wait.
    Result wait(int ms, const WorkerEvents &ev, ThreadMsg *out, const quint64 *seenLogout = nullptr,
                bool idle = true)
    {
        std::unique_lock<std::mutex> l(m_lock);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (ev.appQuit)
                return AppQuit;
            if (seenLogout && ev.logoutGeneration != *seenLogout)
                return LogOut;
            if (out && !m_queue.empty()) {
                *out = std::move(m_queue.front());
                m_queue.pop_front();
                return Message;
            }
            if (idle && m_nudged) {
                m_nudged = false;
                return Timeout;
            }
            if (m_cv.wait_until(l, deadline) == std::cv_status::timeout) {
                if (ev.appQuit)
                    return AppQuit;
                if (out && !m_queue.empty())
                    continue;
                return Timeout;
            }
        }
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::deque<ThreadMsg> m_queue;
    bool m_nudged = false;
};

} // namespace

class Worker {
public:
    explicit Worker(TSMSSOCKET &owner) : m_owner(owner), m_events(owner.m_events) {}
    virtual ~Worker() { join(); }
    void start() { m_thread = std::thread([this] { run(); }); }
    void terminate()
    {
        m_terminated = true;
        m_queue.nudge();
    }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void post(ThreadMsg m) { m_queue.post(std::move(m)); }
    void nudge() { m_queue.nudge(); }

protected:
    virtual void run() = 0;
    const GatewayTimings &t() const { return m_owner.m_timings; }

    TSMSSOCKET &m_owner;
    std::shared_ptr<WorkerEvents> m_events;
    WorkerQueue m_queue;
    std::atomic<bool> m_terminated{false};
    std::thread m_thread;
};

class TActionThread : public Worker {
public:
    using Worker::Worker;

protected:
    void run() override
    {
        bool waiting = false;
        quint32 cmd = 0;
        quint64 seenLogout = 0;
        ThreadMsg msg;
        while (!m_terminated) {
            try {
                if (!waiting) {
                    QByteArray packet;
                    if (!m_owner.m_actionQueue.TakeFirst(packet)) {
                        // Answers that arrive unasked (the forbidden-word chunks after login) are
                        // handled here too, instead of being taken for the next request's answer.
                        const auto r = m_queue.wait(t().pollMs, *m_events, &msg);
                        if (r == WorkerQueue::AppQuit || (r == WorkerQueue::Message && msg.id == WM_QUIT))
                            break;
                        if (r == WorkerQueue::Message && msg.id == WM_ActionResp) {
                            bool keep = false;
                            m_owner.processActionResponse(msg.data, &keep);
                            if (keep) {
                                waiting = true;
                                cmd = Cmd::Filter;
                                seenLogout = m_events->logoutGeneration;
                            }
                        }
                        continue;
                    }
                    const auto h = ParseHeader(packet);
                    cmd = h ? h->Command_ID : 0;
                    seenLogout = m_events->logoutGeneration;
                    waiting = true;
                    if (cmd == Cmd::Login)
                        m_owner.setStatus(ssLoginning);
                    else if (cmd == Cmd::Filter)
                        m_owner.setStatus(ssDeliverFilter);
                    m_owner.sendPacket(packet);
                }
                const auto r = m_queue.wait(t().responseWaitMs, *m_events, &msg, &seenLogout, false);
                switch (r) {
                case WorkerQueue::AppQuit: m_terminated = true; break;
                case WorkerQueue::LogOut: waiting = false; break;
                case WorkerQueue::Message:
                    if (msg.id == WM_QUIT) {
                        m_terminated = true;
                    } else if (msg.id == WM_ActionResp) {
                        bool keep = false;
                        m_owner.processActionResponse(msg.data, &keep);
                        if (!keep)
                            waiting = false;
                    }
                    break;
                case WorkerQueue::Timeout:
                    qCDebug(lcGateway) << "It Is TimeOut... 错误：TActionThread 操作超时";
                    m_owner.notifyAction(cmd, SMS_WAITRESP_TIMEOUT);
                    waiting = false;
                    break;
                }
            } catch (const std::exception &e) {
                qCDebug(lcGateway) << "有异常 in TActionThread" << e.what();
                waiting = false;
            }
        }
        qCDebug(lcGateway) << "ActionThread MyOnTerminatd Event";
    }
};

class TSendThread : public Worker {
public:
    using Worker::Worker;
    std::atomic<bool> active{false};
    // Guarded by the owner's send-thread list lock.
    QByteArray packet;
    quint32 sequenceNo = 0;
    bool hasResponse = false;

    void release()
    {
        packet.clear();
        sequenceNo = 0;
        hasResponse = false;
    }

protected:
    void run() override
    {
        qCDebug(lcGateway) << "TSendThread Create , ThreadID: " << threadIdText();
        ThreadMsg msg;
        while (!m_terminated) {
            try {
                QByteArray toSend;
                quint32 seq = 0;
                {
                    std::lock_guard<std::mutex> g(m_owner.m_sendThreadsLock);
                    toSend = packet;
                    seq = sequenceNo;
                }
                if (toSend.isEmpty()) {
                    if (!(active && m_owner.SendEnabled()) || !takePacket(toSend, seq)) {
                        if (m_queue.wait(t().pollMs, *m_events, nullptr) == WorkerQueue::AppQuit)
                            break;
                        continue;
                    }
                }
                m_queue.discard();
                m_owner.sendPacket(toSend);
                const auto r = m_queue.wait(t().responseWaitMs, *m_events, &msg, nullptr, false);
                if (r == WorkerQueue::AppQuit)
                    break;
                if (r == WorkerQueue::Timeout) {
                    bool stillMine = false;
                    {
                        std::lock_guard<std::mutex> g(m_owner.m_sendThreadsLock);
                        stillMine = sequenceNo == seq && !packet.isEmpty();
                        if (stillMine)
                            release();
                    }
                    if (stillMine) {
                        m_owner.m_sendEnabled = false;
                        TSubmitResp resp{seq, 0};
                        m_owner.deliver([&] {
                            if (m_owner.m_window)
                                m_owner.m_window->WM_SMSSubmitNotify(resp, SMS_WAITRESP_TIMEOUT);
                            if (m_owner.OnSMSSubmitNotify)
                                m_owner.OnSMSSubmitNotify(resp, SMS_WAITRESP_TIMEOUT);
                        });
                        qCDebug(lcGateway).noquote() << threadIdText() + ":FreeRespBuf  By WAIT_TIMEOUT" +
                                                            ";h.Sequence_No=" + QString::number(seq);
                    }
                    continue;
                }
                switch (msg.id) {
                case WM_SubmitResp:
                    if (msg.lParam == seq) {
                        processSubmitResp(msg.data, seq);
                    } else {
                        qCDebug(lcGateway) << "TSendThread: Submit_Response for another Sequence_No" << msg.lParam;
                        std::lock_guard<std::mutex> g(m_owner.m_sendThreadsLock);
                        release();
                    }
                    break;
                case WM_EndSendThread: {
                    qCDebug(lcGateway) << "rcv msg: WM_EndSendThread";
                    std::lock_guard<std::mutex> g(m_owner.m_sendThreadsLock);
                    release();
                    m_terminated = true;
                    break;
                }
                default:
                    break; // a released packet, or another message: look again
                }
            } catch (const std::exception &e) {
                qCDebug(lcGateway).noquote()
                    << "有异常 in TSendThread ID:=" + threadIdText() + " >: " + QString::fromUtf8(e.what());
            }
        }
        std::lock_guard<std::mutex> g(m_owner.m_sendThreadsLock);
        release();
        qCDebug(lcGateway).noquote() << threadIdText() + ":FreeRespBuf  By MyOnTerminted In TSendThread";
    }

private:
    // Taking from the queue and holding the packet is one step under both locks, in the
    // same order as a logout takes them.
    bool takePacket(QByteArray &out, quint32 &seq)
    {
        return m_owner.m_submitQueue.LockList([&](std::deque<QByteArray> &q) {
            if (q.empty())
                return false;
            std::lock_guard<std::mutex> g(m_owner.m_sendThreadsLock);
            packet = std::move(q.front());
            q.pop_front();
            const auto h = ParseHeader(packet);
            sequenceNo = h ? h->Sequence_No : 0;
            hasResponse = false;
            out = packet;
            seq = sequenceNo;
            return true;
        });
    }

    void processSubmitResp(const QByteArray &buffer, quint32 seq)
    {
        {
            std::lock_guard<std::mutex> g(m_owner.m_sendThreadsLock);
            release();
        }
        const auto r = ParseSubmitResp(buffer);
        TSubmitResp resp{seq, 0};
        quint32 status = SMS_ERR_TEXT;
        if (r) {
            status = r->Command_Status;
            if (status == 0) {
                resp.MsgID = r->Resp.MsgID;
                if (r->Balance) {
                    std::lock_guard<std::mutex> g(m_owner.m_sessionLock);
                    m_owner.m_session.Balance = *r->Balance;
                }
            }
        } else {
            SetLastErrorText(QStringLiteral("Socket异常: 网关的提交应答格式错误"));
            QMetaObject::invokeMethod(
                &m_owner, [o = &m_owner] { o->protocolError(QStringLiteral("网关的提交应答格式错误")); },
                Qt::QueuedConnection);
        }
        m_owner.deliver([&] {
            if (m_owner.m_window)
                m_owner.m_window->WM_SMSSubmitNotify(resp, status);
            if (m_owner.OnSMSSubmitNotify)
                m_owner.OnSMSSubmitNotify(resp, status);
        });
    }
};

class TEnquireLinkThread : public Worker {
public:
    using Worker::Worker;
    std::atomic<bool> active{false};

protected:
    void run() override
    {
        quint32 counter = 0;
        int missed = 0;
        ThreadMsg msg;
        while (!m_terminated) {
            const auto r = m_queue.wait(t().keepAliveMs, *m_events, nullptr);
            if (r == WorkerQueue::AppQuit) {
                qCDebug(lcGateway) << " TEnquireLinkThread Quit by AppQuit_Event; ";
                break;
            }
            if (m_terminated)
                break;
            if (!active) {
                missed = 0;
                continue;
            }
            ++counter;
            m_queue.discard();
            m_owner.sendPacket(BuildEnquireLink(counter));
            qCDebug(lcGateway) << "EnquireLink Package Sent!!!";
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t().responseWaitMs);
            bool answered = false;
            while (!answered) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count();
                if (left <= 0)
                    break;
                const auto w = m_queue.wait(int(left), *m_events, &msg, nullptr, false);
                if (w == WorkerQueue::AppQuit) {
                    m_terminated = true;
                    break;
                }
                if (w == WorkerQueue::Message && msg.id == WM_EnquireLinkResp && msg.lParam == counter)
                    answered = true;
                else if (w == WorkerQueue::Timeout && !m_events->appQuit && left <= 1)
                    break;
            }
            if (answered) {
                missed = 0;
            } else if (++missed == 3) {
                qCDebug(lcGateway) << "TEnquireLinkThread: three keep-alive answers missed";
                missed = 0;
            }
        }
        qCDebug(lcGateway) << "EnquireLinkThread MyOnTerminatd Event";
    }
};

class TRecvThread : public Worker {
public:
    using Worker::Worker;
    TThreadListEx<QByteArray> RecvQueue;

protected:
    void run() override
    {
        while (!m_terminated) {
            if (m_queue.wait(t().pollMs, *m_events, nullptr) == WorkerQueue::AppQuit)
                break;
            QByteArray buffer;
            while (!m_events->appQuit && RecvQueue.TakeFirst(buffer)) {
                const auto h = ParseHeader(buffer);
                if (!h)
                    continue;
                if (h->Command_ID == Cmd::Deliver) {
                    const auto d = ParseDeliver(buffer);
                    if (!d) {
                        qCDebug(lcGateway) << "TRecvThread: malformed Deliver dropped; Sequence_No=" << h->Sequence_No;
                        continue;
                    }
                    m_owner.deliver([&] {
                        if (m_owner.m_window)
                            m_owner.m_window->WM_SMSDeliverSM(*d);
                        if (m_owner.OnSMSDeliverSM)
                            m_owner.OnSMSDeliverSM(*d);
                    });
                } else if (h->Command_ID == Cmd::Report) {
                    const auto rep = ParseReport(buffer);
                    if (!rep) {
                        qCDebug(lcGateway) << "TRecvThread: malformed Report dropped; Sequence_No=" << h->Sequence_No;
                        continue;
                    }
                    m_owner.deliver([&] {
                        if (m_owner.m_window)
                            m_owner.m_window->WM_SMSReport(*rep);
                        if (m_owner.OnSMSReport)
                            m_owner.OnSMSReport(*rep);
                    });
                }
            }
        }
        RecvQueue.Clear();
        qCDebug(lcGateway) << "TRecvThread MyOnTerminated Event";
    }
};

// ---- TSMSSOCKET ----------------------------------------------------------------------------

int ProxyKindFromName(const QString &name)
{
    const QString n = name.trimmed().toUpper();
    if (n == QLatin1String("HTTP"))
        return ProxyHttp;
    if (n == QLatin1String("SOCKS4"))
        return ProxySocks4;
    if (n == QLatin1String("SOCKS4A"))
        return ProxySocks4A;
    if (n == QLatin1String("SOCKS5"))
        return ProxySocks5;
    return ProxyNone;
}

TSMSSOCKET::TSMSSOCKET(GatewayTimings timings, QObject *parent)
    : WSocket(parent), m_timings(timings), m_events(std::make_shared<WorkerEvents>())
{
    setConnectTimeout(m_timings.connectTimeoutMs);
    connect(this, &WSocket::sessionConnected, this, &TSMSSOCKET::onSessionConnected);
    connect(this, &WSocket::sessionClosed, this, &TSMSSOCKET::onSessionClosed);
    connect(this, &WSocket::dataAvailable, this, &TSMSSOCKET::onDataAvailable);
    connect(this, &WSocket::socketError, this, &TSMSSOCKET::onSocketError);
    connect(this, &WSocket::stateChanged, this, &TSMSSOCKET::onStateChanged);
    connect(this, &WSocket::socksConnected, this,
            [](int code) { qCDebug(lcGateway) << "SocksConnected : " << code; });
    connect(this, &WSocket::socksErrorOccurred, this, [](int code, const QString &text) {
        qCDebug(lcGateway).noquote() << "SocksError : " + QString::number(code) + " ; Msg=" + text;
    });
    connect(this, &WSocket::socksAuthStateChanged, this, [](int s) {
        static const char *const names[] = {"socksAuthStart", "socksAuthSuccess", "socksAuthFailure",
                                            "socksAuthNotRequired"};
        qCDebug(lcGateway) << (s >= 0 && s < 4 ? names[s] : "Unknown SocksAuthState");
    });
    m_actionThread = std::make_unique<TActionThread>(*this);
    m_keepAliveThread = std::make_unique<TEnquireLinkThread>(*this);
    m_recvThread = std::make_unique<TRecvThread>(*this);
    m_actionThread->start();
    m_keepAliveThread->start();
    m_recvThread->start();
}

TSMSSOCKET::~TSMSSOCKET()
{
    try {
        if (isLoggedIn())
            Logout();
        else if (!isClosed())
            CloseAndWait();
    } catch (...) {
    }
    // Workers blocked on a window message give up once this is set, so joining cannot deadlock.
    m_events->appQuit = true;
    for (Worker *w : std::initializer_list<Worker *>{m_actionThread.get(), m_keepAliveThread.get(), m_recvThread.get()}) {
        w->terminate();
        w->join();
    }
    std::vector<std::unique_ptr<TSendThread>> threads;
    {
        std::lock_guard<std::mutex> g(m_sendThreadsLock);
        threads.swap(m_sendThreads);
    }
    for (auto it = threads.rbegin(); it != threads.rend(); ++it) {
        (*it)->post({WM_EndSendThread, 0, 0, {}});
        (*it)->terminate();
        (*it)->join();
    }
}

void TSMSSOCKET::deliver(const std::function<void()> &fn)
{
    if (QThread::currentThread() == thread()) {
        try {
            fn();
        } catch (const VelaroError &e) {
            if (onHandlerError)
                onHandlerError(e.text());
        } catch (const std::exception &e) {
            if (onHandlerError)
                onHandlerError(QString::fromLocal8Bit(e.what()));
        }
        return;
    }
    struct Sync {
        std::mutex m;
        std::condition_variable cv;
        bool running = false, done = false, abandoned = false;
    };
    auto s = std::make_shared<Sync>();
    QPointer<TSMSSOCKET> self(this);
    QMetaObject::invokeMethod(
        this,
        [s, fn, self] {
            {
                std::lock_guard<std::mutex> g(s->m);
                if (s->abandoned)
                    return;
                s->running = true;
            }
            QString error;
            try {
                fn();
            } catch (const VelaroError &e) {
                error = e.text();
            } catch (const std::exception &e) {
                error = QString::fromLocal8Bit(e.what());
            }
            {
                std::lock_guard<std::mutex> g(s->m);
                s->done = true;
            }
            s->cv.notify_all();
            if (!error.isEmpty() && self && self->onHandlerError)
                self->onHandlerError(error);
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> l(s->m);
    while (!s->done) {
        if (m_events->appQuit && !s->running) {
            s->abandoned = true;
            return;
        }
        s->cv.wait_for(l, std::chrono::milliseconds(m_timings.pollMs));
    }
}

void TSMSSOCKET::notifyAction(quint32 commandId, quint32 status)
{
    deliver([&] {
        if (m_window)
            m_window->WM_SMSActionNotify(commandId, status);
        if (OnSMSActionNotify)
            OnSMSActionNotify(commandId, status);
    });
}

void TSMSSOCKET::setStatus(TSMSStatus s)
{
    m_status = s;
    deliver([&] {
        if (m_window)
            m_window->WM_SMSStatus(int(s));
        if (OnSMSStatus)
            OnSMSStatus(int(s));
    });
}

qint64 TSMSSOCKET::sendPacket(const QByteArray &packet)
{
    const qint64 n = Send(packet);
    if (n != packet.size())
        qCDebug(lcGateway).noquote()
            << QStringLiteral("发送长度不一致,要求:%1,实际:%2").arg(packet.size()).arg(n);
    return n;
}

TSessionInfo TSMSSOCKET::session() const
{
    std::lock_guard<std::mutex> g(m_sessionLock);
    return m_session;
}

bool TSMSSOCKET::isLoggedIn() const
{
    std::lock_guard<std::mutex> g(m_sessionLock);
    return !m_session.CustomerNo.isEmpty();
}

QByteArray TSMSSOCKET::FilterString() const
{
    std::lock_guard<std::mutex> g(m_sessionLock);
    return m_filterString;
}

QString TSMSSOCKET::Affiche() const
{
    std::lock_guard<std::mutex> g(m_sessionLock);
    return m_affiche;
}

bool TSMSSOCKET::keepAliveActive() const { return m_keepAliveThread->active; }

quint32 TSMSSOCKET::NextSequenceNo()
{
    std::lock_guard<std::mutex> g(m_sequenceLock);
    return ++m_sequence;
}

void TSMSSOCKET::setSendThreadCount(int v)
{
    if (v < 0)
        v = 0;
    std::lock_guard<std::mutex> g(m_sendThreadsLock);
    const int c = int(m_sendThreads.size());
    if (v < c) {
        for (int i = 0; i < c; ++i)
            m_sendThreads[size_t(i)]->active = i < v;
    } else {
        for (int i = c; i < v; ++i) {
            m_sendThreads.push_back(std::make_unique<TSendThread>(*this));
            m_sendThreads.back()->start();
        }
        for (auto &t : m_sendThreads)
            t->active = true;
    }
    m_sendThreadCount = v;
}

int TSMSSOCKET::SendThreadActiveCount() const
{
    std::lock_guard<std::mutex> g(m_sendThreadsLock);
    int n = 0;
    for (const auto &t : m_sendThreads)
        n += t->active ? 1 : 0;
    return n;
}

void TSMSSOCKET::SetConnection(const QString &host, const QString &port, SmsNotifyTarget *window, int sendThreads,
                               const TProxyInfo &proxy, int proxyKind)
{
    if (!isClosed())
        CloseAndWait();
    setAddr(host);
    setPort(port);
    m_targetHost = host;
    m_targetPort = port;
    m_httpStage = 0;
    setSocksLevel(QStringLiteral("5"));
    setSocksAuthentication(SocksAuthentication::None);
    setSocksServer(QString());
    setSocksPort(QString());
    setSocksUsercode(QString());
    setSocksPassword(QString());
    switch (proxyKind) {
    case ProxySocks4A:
        setSocksLevel(QStringLiteral("4A"));
        setSocksAuthentication(SocksAuthentication::UserCode);
        setSocksServer(proxy.Host);
        setSocksPort(proxy.Port);
        setSocksUsercode(proxy.User);
        setSocksPassword(proxy.Password);
        break;
    case ProxySocks4:
        setSocksLevel(QStringLiteral("4"));
        setSocksServer(proxy.Host);
        setSocksPort(proxy.Port);
        break;
    case ProxySocks5:
        setSocksServer(proxy.Host);
        setSocksPort(proxy.Port);
        if (!proxy.User.isEmpty()) {
            setSocksAuthentication(SocksAuthentication::UserCode);
            setSocksUsercode(proxy.User);
            setSocksPassword(proxy.Password);
        }
        break;
    case ProxyHttp:
        m_httpStage = 1;
        setAddr(proxy.Host);
        setPort(proxy.Port);
        m_proxyUser = proxy.User;
        m_proxyPassword = proxy.Password;
        break;
    default: break;
    }
    m_window = window;
    m_status = ssUnLogin;
    setSendThreadCount(sendThreads);
}

void TSMSSOCKET::pulseLogOut()
{
    ++m_events->logoutGeneration;
    m_actionThread->nudge();
}

void TSMSSOCKET::Login(const QString &loginName, const QString &password)
{
    if (!isClosed()) {
        m_actionQueue.Clear();
        pulseLogOut();
        CloseAndWait();
    }
    {
        std::lock_guard<std::mutex> g(m_sessionLock);
        m_session.LoginName = loginName;
        m_session.Password = password;
    }
    m_rx.clear();
    m_proxyRefused = false;
    // A name or password the Login packet cannot carry is refused before connecting.
    QString why;
    if (!BuildLogin(loginName, password, &why)) {
        SetLastErrorText(QStringLiteral("Socket异常: ") + why);
        notifyAction(Cmd::Login, SMS_ERR_TEXT);
        return;
    }
    if (m_httpStage == 2)
        m_httpStage = 1;
    try {
        Connect();
    } catch (const VelaroError &e) {
        SetLastErrorText(QStringLiteral("Socket异常: ") + e.text());
        notifyAction(Cmd::Login, SMS_ERR_TEXT);
    }
}

void TSMSSOCKET::onSessionConnected(int error)
{
    if (error != 0) {
        qCDebug(lcGateway) << "SessionConnected; ErrCode:= " << error;
        notifyAction(Cmd::Login, quint32(error));
        return;
    }
    if (m_httpStage == 1) {
        sendConnectRequest();
        m_httpStage = 2;
        return;
    }
    queueLogin();
}

void TSMSSOCKET::sendConnectRequest()
{
    const QString target = m_targetHost + QLatin1Char(':') + m_targetPort;
    QByteArray req = "CONNECT " + target.toUtf8() + " HTTP/1.1\r\n";
    if (m_proxyUser.trimmed().isEmpty())
        req += "Host: " + target.toUtf8() + "\r\n\r\n";
    else
        req += "Proxy-Authorization: Basic " + (m_proxyUser + QLatin1Char(':') + m_proxyPassword).toUtf8().toBase64() +
               "\r\n\r\n";
    Send(req);
}

void TSMSSOCKET::queueLogin()
{
    QTimer::singleShot(m_timings.loginDelayMs, this, [this] {
        if (isClosed())
            return;
        const TSessionInfo s = session();
        QString why;
        const auto packet = BuildLogin(s.LoginName, s.Password, &why);
        if (!packet) {
            SetLastErrorText(QStringLiteral("Socket异常: ") + why);
            notifyAction(Cmd::Login, SMS_ERR_TEXT);
            return;
        }
        m_actionQueue.Add(*packet);
        m_actionThread->nudge();
    });
}

void TSMSSOCKET::handleProxyReply()
{
    // The reply may come in pieces: decide once its header is complete (or 1024 bytes came).
    const qsizetype end = m_rx.indexOf("\r\n\r\n");
    if (end < 0 && m_rx.size() < 1024)
        return;
    const qsizetype used = end < 0 ? qMin<qsizetype>(m_rx.size(), 1024) : end + 4;
    const QByteArray text = m_rx.left(qMin<qsizetype>(used, 1024));
    m_rx.remove(0, used);
    m_httpStage = 0;
    if (text.left(4).toLower() == "http" && text.contains(" 200 ")) {
        queueLogin();
        return;
    }
    // What follows (the proxy's error page) is no gateway data.
    m_proxyRefused = true;
    m_rx.clear();
    SetLastErrorText(QStringLiteral("http代理连接目标服务器失败,原因未知"));
    notifyAction(Cmd::Login, SMS_ERR_TEXT);
}

void TSMSSOCKET::onDataAvailable()
{
    m_rx += Receive();
    if (m_proxyRefused) {
        m_rx.clear();
        return;
    }
    if (m_httpStage != 0) {
        handleProxyReply();
        if (m_httpStage != 0)
            return;
    }
    qsizetype offset = 0;
    while (!isClosed()) {
        const Frame f = NextFrame(QByteArrayView(m_rx).sliced(offset));
        if (f.kind == Frame::NeedMore)
            break;
        if (f.kind == Frame::Malformed) {
            m_rx.clear();
            protocolError(QStringLiteral("收到长度无效的数据包"));
            return;
        }
        const QByteArray packet = m_rx.mid(offset, f.length);
        offset += f.length;
        routePacket(packet);
    }
    if (isClosed())
        m_rx.clear();
    else
        m_rx.remove(0, offset);
}

void TSMSSOCKET::routePacket(const QByteArray &packet)
{
    const auto h = ParseHeader(packet);
    if (!h)
        return;
    const quint32 id = h->Command_ID;
    const QString tail = QStringLiteral("h.Command_ID=%1;h.Sequence_No=%2").arg(id).arg(h->Sequence_No);
    if (id == Cmd::EnquireLink) {
        qCDebug(lcGateway) << "rcv msg:  EnquireLink From Server";
        sendPacket(BuildEnquireLinkResp(h->Sequence_No));
        return;
    }
    if (id == Cmd::EnquireLink_Response) {
        qCDebug(lcGateway) << "rcv msg:  EnquireLink_Response From Server";
        m_keepAliveThread->post({WM_EnquireLinkResp, h->Command_Status, h->Sequence_No, {}});
        return;
    }
    if (id == Cmd::Logout_Response)
        return;
    if ((id == Cmd::Deliver || id == Cmd::Report) && h->Total_Length == HeaderLength) {
        qCDebug(lcGateway).noquote() << "DataAvailable: 抛弃异常无包体包；" + tail;
        return;
    }
    const quint32 base = id & ~Cmd::ResponseBit;
    const bool control = base == 1 || base == 2 || base == 5 || base == 10 || base == 13 || base == 14 || base == 15;
    if (id == Cmd::Submit_Response) {
        bool handed = false;
        {
            std::lock_guard<std::mutex> g(m_sendThreadsLock);
            for (auto &t : m_sendThreads) {
                if (!t->packet.isEmpty() && t->sequenceNo == h->Sequence_No && !t->hasResponse) {
                    t->hasResponse = true;
                    t->post({WM_SubmitResp, 0, h->Sequence_No, packet});
                    handed = true;
                    break;
                }
            }
        }
        if (!handed)
            qCDebug(lcGateway).noquote() << "DataAvailable: 抛弃Submit_Response包；;h.Sequence_No=" +
                                                QString::number(h->Sequence_No);
        return;
    }
    if (id == Cmd::Deliver || id == Cmd::Report) {
        m_recvThread->RecvQueue.Add(packet);
        m_recvThread->nudge();
        sendPacket(id == Cmd::Deliver ? BuildDeliverResp(h->Sequence_No) : BuildReportResp(h->Sequence_No));
        return;
    }
    if (control) {
        m_actionThread->post({WM_ActionResp, 0, 0, packet});
        return;
    }
    qCDebug(lcGateway).noquote() << "DataAvailable: 抛弃未知Command_ID包；" + tail;
}

void TSMSSOCKET::processActionResponse(const QByteArray &buffer, bool *keepWaiting)
{
    *keepWaiting = false;
    const auto h = ParseHeader(buffer);
    if (!h)
        return;
    auto malformed = [this](const char *what) {
        const QString text = QStringLiteral("网关的%1格式错误").arg(QString::fromUtf8(what));
        QMetaObject::invokeMethod(this, [this, text] { protocolError(text); }, Qt::QueuedConnection);
    };
    switch (h->Command_ID) {
    case Cmd::Login_Response: {
        const auto r = ParseLoginResp(buffer);
        if (!r)
            return malformed("登录应答");
        if (r->Command_Status == 0) {
            {
                std::lock_guard<std::mutex> g(m_sessionLock);
                m_session.CustomerNo = r->CustomerNo;
                m_session.UserName = r->UserName;
                m_session.Balance = r->Balance;
                m_session.SegLenMobile = r->SegLenMobile;
                m_session.SegLenSpare = r->SegLenSpare;
                m_session.SegLenOther = r->SegLenOther;
            }
            m_keepAliveThread->active = true;
            setStatus(ssAfterLogin);
        }
        notifyAction(Cmd::Login, r->Command_Status);
        return;
    }
    case Cmd::Filter_Response: {
        const auto r = ParseFilterResp(buffer);
        if (!r)
            return malformed("过滤词应答");
        if (r->Command_Status != 0) {
            notifyAction(Cmd::Filter, r->Command_Status);
            return;
        }
        {
            std::lock_guard<std::mutex> g(m_sessionLock);
            m_filterString += r->Text;
        }
        if (!r->isLast()) {
            *keepWaiting = true;
            return;
        }
        setStatus(ssDeliverFilter_Complete);
        notifyAction(Cmd::Filter, 0);
        return;
    }
    case Cmd::ChangePassword_Response: {
        if (h->Command_Status == 0) {
            std::lock_guard<std::mutex> g(m_sessionLock);
            m_session.Password = m_pendingPassword;
        }
        notifyAction(Cmd::ChangePassword, h->Command_Status);
        return;
    }
    case Cmd::Affiche_Response: {
        const auto r = ParseAfficheResp(buffer);
        if (!r)
            return malformed("公告应答");
        if (r->Command_Status == 0) {
            std::lock_guard<std::mutex> g(m_sessionLock);
            m_affiche = r->Text;
        }
        notifyAction(Cmd::Affiche, r->Command_Status);
        return;
    }
    case Cmd::AddPoint_Response: {
        const auto r = ParseAddPointResp(buffer);
        if (!r)
            return malformed("充值应答");
        if (r->Command_Status == 0) {
            std::lock_guard<std::mutex> g(m_sessionLock);
            m_session.Balance = qint32(r->Balance);
        }
        notifyAction(Cmd::AddPoint, r->Command_Status);
        return;
    }
    default: return;
    }
}

void TSMSSOCKET::protocolError(const QString &what)
{
    // A stream we cannot read any more is closed rather than guessed at.
    qCDebug(lcGateway).noquote() << "protocol error: " + what;
    const bool loggedIn = isLoggedIn();
    SetLastErrorText(QStringLiteral("Socket异常: ") + what);
    if (loggedIn) {
        notifyAction(ActionSocketError, SMS_ERR_TEXT);
        try {
            Logout();
        } catch (...) {
        }
    } else {
        if (!isClosed())
            CloseAndWait();
        notifyAction(Cmd::Login, SMS_ERR_TEXT);
    }
}

void TSMSSOCKET::onSessionClosed(int error)
{
    qCDebug(lcGateway) << "SessionClosed; ErrCode:= " << error;
    const bool loggedIn = isLoggedIn();
    if (error == 10053 && !loggedIn)
        return;
    if (error != 0)
        notifyAction(ActionSocketError, quint32(error));
    if (loggedIn) {
        try {
            Logout();
        } catch (...) {
        }
    }
}

void TSMSSOCKET::onSocketError()
{
    const int c = LastError();
    if (isLoggedIn()) {
        if (c != 0) {
            SetLastErrorText(QStringLiteral("Socket异常: ") + errorDescription(c));
            notifyAction(ActionSocketError, quint32(c));
        }
    } else {
        SetLastErrorText(QStringLiteral("Socket异常: 登录失败"));
        notifyAction(Cmd::Login, SMS_ERR_TEXT);
    }
}

void TSMSSOCKET::onStateChanged(int oldState, int newState)
{
    if (m_window)
        m_window->WM_SMSSocketStatus(oldState, newState);
    if (OnSMSSocketStatus)
        OnSMSSocketStatus(oldState, newState);
}

void TSMSSOCKET::Logout()
{
    if (!isClosed())
        sendPacket(BuildLogout());
    {
        std::lock_guard<std::mutex> g(m_sessionLock);
        m_session = TSessionInfo();
    }
    setStatus(ssUnLogin);
    notifyAction(Cmd::Logout, 0);
    if (!isClosed())
        CloseAndWait();
    m_keepAliveThread->active = false;
    m_sendEnabled = false;
    m_submitQueue.LockList([this](std::deque<QByteArray> &q) {
        q.clear();
        std::lock_guard<std::mutex> g(m_sendThreadsLock);
        for (auto &t : m_sendThreads) {
            if (!t->packet.isEmpty()) {
                t->release();
                t->post({WM_PacketReleased, 0, 0, {}});
            }
        }
    });
    m_actionQueue.Clear();
    pulseLogOut();
    saveTrace();
    m_pendingPassword.clear();
}

void TSMSSOCKET::saveTrace()
{
    const QString dir = HomeFolder::file(QStringLiteral("log"));
    QDir().mkpath(dir);
    if (m_trace.isEmpty())
        return;
    QFile f(dir + QLatin1Char('/') + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz")) +
            QStringLiteral(".log"));
    if (f.open(QIODevice::WriteOnly))
        f.write(m_trace.join(QLatin1Char('\n')).toUtf8());
    m_trace.clear();
}

quint32 TSMSSOCKET::PushOneSMS(const QString &customerNo, const QStringList &numbers, quint32 sequenceNo,
                               const QString &content, const QString &scheduleTime, const QString &validTime,
                               const QString &reserve, quint8 msgClass, const QString &partMarker)
{
    if (customerNo.isEmpty())
        return 0;
    const quint32 seq = sequenceNo ? sequenceNo : NextSequenceNo();
    SubmitRequest r;
    r.Sequence_No = seq;
    r.CustomerNo = customerNo;
    r.DestNumbers = numbers;
    r.MsgClass = msgClass;
    r.ScheduleTime = scheduleTime;
    r.ValidTime = validTime;
    r.Content = content;
    r.PartMarker = partMarker;
    r.Reserve = reserve;
    QString why;
    const auto packet = BuildSubmit(r, &why);
    if (!packet) {
        qCDebug(lcGateway).noquote() << "有异常 in TSMSSOCKET.PushOneSMS >: " + why;
        return 0;
    }
    m_submitQueue.Add(*packet);
    std::lock_guard<std::mutex> g(m_sendThreadsLock);
    for (auto &t : m_sendThreads)
        t->nudge();
    return seq;
}

void TSMSSOCKET::queueAction(const std::optional<QByteArray> &packet, quint32 commandId, const QString &error)
{
    if (!packet) {
        SetLastErrorText(error);
        notifyAction(commandId, SMS_ERR_TEXT);
        return;
    }
    m_actionQueue.Add(*packet);
    m_actionThread->nudge();
}

void TSMSSOCKET::ChangePassword(const QString &newPassword)
{
    m_pendingPassword = newPassword;
    QString why;
    const auto p = BuildChangePassword(session().CustomerNo, newPassword, &why);
    queueAction(p, Cmd::ChangePassword, why);
}

void TSMSSOCKET::AddPoint(const QString &cardNo, const QString &cardPassword)
{
    QString why;
    const auto p = BuildAddPoint(session().CustomerNo, cardNo, cardPassword, &why);
    queueAction(p, Cmd::AddPoint, why);
}

void TSMSSOCKET::SetServerReply(const QString &mobile, const QString &replyText)
{
    QString why;
    const auto p = BuildReplySetup(session().CustomerNo, mobile, replyText, &why);
    queueAction(p, Cmd::ReplySetup, why);
}

void TSMSSOCKET::QueryAffiche()
{
    {
        std::lock_guard<std::mutex> g(m_sessionLock);
        m_affiche.clear();
    }
    queueAction(BuildAffiche(), Cmd::Affiche, QString());
}
