#pragma once
#include "gateway/GSMIAPUnt.h"
#include "gateway/ThreadListExUnt.h"
#include "gateway/WSocket.h"
#include <QLoggingCategory>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcGateway)

// Waits and periods of the protocol workers; tests shrink them.
struct GatewayTimings {
    int pollMs = 200;             // idle workers look for work this often
    int responseWaitMs = 60000;   // longest wait for any answer
    int keepAliveMs = 120000;     // period of EnquireLink while logged in
    int loginDelayMs = 20;        // pause between connecting and queueing Login
    int connectTimeoutMs = 30000; // connecting, proxy exchange included
};

struct TSessionInfo {
    QString CustomerNo; // logged in exactly while not empty
    QString LoginName;
    QString Password;
    QString UserName;
    qint32 Balance = 0;
    qint32 SegLenMobile = 0;
    qint32 SegLenSpare = 0;
    qint32 SegLenOther = 0;
};

struct TProxyInfo {
    quint8 Flag = 1;
    QString Host;
    QString Port;
    QString User;
    QString Password;
};

enum TSMSStatus {
    ssUnLogin = 0,
    ssLoginning,
    ssAfterLogin,
    ssSMSSubmitResp,
    ssDeliverFilter,
    ssDeliverFilter_Complete
};

// Proxy kinds of SetConnection.
enum ProxyKind { ProxyNone = 0, ProxySocks4A = 1, ProxySocks4 = 2, ProxySocks5 = 3, ProxyHttp = 4 };
// "HTTP" 4, "SOCKS4" 2, "SOCKS4A" 1, "SOCKS5" 3, anything else 0.
int ProxyKindFromName(const QString &name);

// Command identifiers of WM_SMSActionNotify besides the gateway's own.
inline constexpr quint32 ActionSocketError = 0xFFFFFFFFu;

// The receiver of the protocol client's window messages (the main window). Every call
// arrives on the main thread; a worker that sends one waits until it returns, so the
// records are valid only during the call.
class SmsNotifyTarget {
public:
    virtual ~SmsNotifyTarget() = default;
    virtual void WM_SMSSocketStatus(int oldState, int newState) {}
    virtual void WM_SMSActionNotify(quint32 commandId, quint32 status) {}
    virtual void WM_SMSSubmitNotify(const Gateway::TSubmitResp &resp, quint32 status) {}
    virtual void WM_SMSDeliverSM(const Gateway::TDeliverSM &msg) {}
    virtual void WM_SMSReport(const Gateway::TMessage_Report &report) {}
    virtual void WM_SMSStatus(int status) {}
};

class Worker;
class TActionThread;
class TSendThread;
class TEnquireLinkThread;
class TRecvThread;
struct WorkerEvents;

// The one connection to the SMS gateway.
class TSMSSOCKET : public WSocket {
    Q_OBJECT
public:
    explicit TSMSSOCKET(GatewayTimings timings = GatewayTimings(), QObject *parent = nullptr);
    ~TSMSSOCKET() override;

    void SetConnection(const QString &host, const QString &port, SmsNotifyTarget *window, int sendThreads,
                       const TProxyInfo &proxy, int proxyKind);
    // A notification target that goes away first stops being notified.
    void detachNotifyTarget(SmsNotifyTarget *window)
    {
        if (m_window == window)
            m_window = nullptr;
    }
    void Login(const QString &loginName, const QString &password);
    void Logout();
    // Returns the sequence number used, 0 when nothing was queued.
    quint32 PushOneSMS(const QString &customerNo, const QStringList &numbers, quint32 sequenceNo,
                       const QString &content, const QString &scheduleTime, const QString &validTime,
                       const QString &reserve, quint8 msgClass, const QString &partMarker);
    void ChangePassword(const QString &newPassword);
    void AddPoint(const QString &cardNo, const QString &cardPassword);
    void SetServerReply(const QString &mobile, const QString &replyText);
    void QueryAffiche();
    quint32 NextSequenceNo();

    TSessionInfo session() const;
    bool isLoggedIn() const;
    TSMSStatus SmsStatus() const { return m_status.load(); }
    bool SendEnabled() const { return m_sendEnabled.load(); }
    void setSendEnabled(bool on) { m_sendEnabled = on; }
    int SendThreadCount() const { return m_sendThreadCount; }
    void setSendThreadCount(int v);
    int SendThreadActiveCount() const;
    QByteArray FilterString() const;
    QString Affiche() const;
    size_t SubmitQueueCount() const { return m_submitQueue.Count(); }
    size_t ActionQueueCount() const { return m_actionQueue.Count(); }
    bool keepAliveActive() const;
    const GatewayTimings &timings() const { return m_timings; }

    // Called right after the window message of the same name, when assigned.
    std::function<void(int, int)> OnSMSSocketStatus;
    std::function<void(quint32, quint32)> OnSMSActionNotify;
    std::function<void(const Gateway::TSubmitResp &, quint32)> OnSMSSubmitNotify;
    std::function<void(const Gateway::TDeliverSM &)> OnSMSDeliverSM;
    std::function<void(const Gateway::TMessage_Report &)> OnSMSReport;
    std::function<void(int)> OnSMSStatus;
    // An error raised by a window message's handler; the handler's sender must not see it.
    std::function<void(const QString &)> onHandlerError;

private:
    friend class Worker;
    friend class TActionThread;
    friend class TSendThread;
    friend class TEnquireLinkThread;
    friend class TRecvThread;

    void onSessionConnected(int error);
    void onSessionClosed(int error);
    void onDataAvailable();
    void onSocketError();
    void onStateChanged(int oldState, int newState);
    void sendConnectRequest();
    void handleProxyReply();
    void queueLogin();
    void routePacket(const QByteArray &packet);
    void protocolError(const QString &what);
    void pulseLogOut();
    void saveTrace();
    void queueAction(const std::optional<QByteArray> &packet, quint32 commandId, const QString &error);

    // Worker side.
    void setStatus(TSMSStatus s);
    qint64 sendPacket(const QByteArray &packet);
    // Delivers a window message on the main thread and waits until it was handled; gives up
    // (without running it) once the component is being destroyed.
    void deliver(const std::function<void()> &fn);
    void notifyAction(quint32 commandId, quint32 status);
    void processActionResponse(const QByteArray &buffer, bool *keepWaiting);

    GatewayTimings m_timings;
    SmsNotifyTarget *m_window = nullptr;
    QString m_targetHost, m_targetPort, m_proxyUser, m_proxyPassword;
    int m_httpStage = 0;
    bool m_proxyRefused = false; // the HTTP proxy refused the CONNECT; its bytes are dropped
    QByteArray m_rx;

    mutable std::mutex m_sessionLock;
    TSessionInfo m_session;
    QByteArray m_filterString;
    QString m_affiche;
    QString m_pendingPassword;

    std::atomic<TSMSStatus> m_status{ssUnLogin};
    std::atomic<bool> m_sendEnabled{false};
    std::mutex m_sequenceLock;
    quint32 m_sequence = 0;
    int m_sendThreadCount = 0;
    QStringList m_trace;

    TThreadListEx<QByteArray> m_actionQueue;
    TThreadListEx<QByteArray> m_submitQueue;
    std::shared_ptr<WorkerEvents> m_events;
    std::unique_ptr<TActionThread> m_actionThread;
    std::unique_ptr<TEnquireLinkThread> m_keepAliveThread;
    std::unique_ptr<TRecvThread> m_recvThread;
    mutable std::mutex m_sendThreadsLock;
    std::vector<std::unique_ptr<TSendThread>> m_sendThreads;
};
