#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <mutex>

class QTcpSocket;

// The asynchronous TCP client the protocol client is built on: connects directly or through
// a SOCKS4, SOCKS4A or SOCKS5 server, reports everything as signals on the main thread, and
// lets any thread write whole packets (writes are serialised by one lock).
class WSocket : public QObject {
    Q_OBJECT
public:
    // Ordinals as the protocol client reports them.
    enum State {
        wsInvalid = 0,
        wsOpened,
        wsBound,
        wsConnecting,
        wsSocksConnected,
        wsConnected,
        wsAccepting,
        wsListening,
        wsClosed
    };
    enum class SocksAuthentication { None, UserCode };
    enum SocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

    // Error codes beyond the operating system's, for the SOCKS exchange.
    enum SocksError {
        socksProtocolError = 20001,
        socksVersionError,
        socksAuthMethodError,
        socksGeneralFailure,
        socksConnectionNotAllowed,
        socksNetworkUnreachable,
        socksHostUnreachable,
        socksConnectionRefused,
        socksTtlExpired,
        socksUnknownCommand,
        socksUnknownAddressType,
        socksRejectedOrFailed,
        socksAuthenticationFailed,
        socksTimeout,
    };

    explicit WSocket(QObject *parent = nullptr);
    ~WSocket() override;

    void setAddr(const QString &host) { m_addr = host; }
    void setPort(const QString &port) { m_port = port; }
    QString addr() const { return m_addr; }
    QString port() const { return m_port; }
    void setSocksServer(const QString &s) { m_socksServer = s; }
    void setSocksPort(const QString &p) { m_socksPort = p; }
    void setSocksLevel(const QString &l) { m_socksLevel = l; }
    void setSocksAuthentication(SocksAuthentication a) { m_socksAuth = a; }
    void setSocksUsercode(const QString &u) { m_socksUser = u; }
    void setSocksPassword(const QString &p) { m_socksPassword = p; }
    QString socksServer() const { return m_socksServer; }
    QString socksLevel() const { return m_socksLevel; }
    // Bounds the connection attempt, SOCKS exchange included.
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

    // Starts connecting; raises VelaroError when the settings cannot be used at all.
    void Connect();
    // Closes at once and returns when closed; emits sessionClosed(0) if it was open.
    void CloseAndWait();
    // Any thread. Writes all bytes (or as many as the peer takes within the write time-out);
    // returns the count written, 0 when closed.
    qint64 Send(const QByteArray &bytes);
    // Main thread: everything received so far.
    QByteArray Receive();

    State state() const { return m_state.load(); }
    bool isClosed() const { return state() == wsClosed || state() == wsInvalid; }
    int LastError() const { return m_lastError; }
    // The operating system's (or the SOCKS exchange's) description of an error code.
    static QString errorDescription(int code);

Q_SIGNALS:
    void sessionConnected(int error);
    void sessionClosed(int error);
    void dataAvailable();
    void stateChanged(int oldState, int newState);
    void socketError();
    void socksConnected(int error);
    void socksErrorOccurred(int code, const QString &text);
    void socksAuthStateChanged(int state);

private:
    void setState(State s);
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onError();
    void onConnectTimeout();
    void failConnect(int code);
    void socksFail(int code, const QString &text);
    void socksStart();
    void socksStep();
    void sendSocksConnect5();
    void closeSocket();

    QString m_addr, m_port;
    QString m_socksServer, m_socksPort, m_socksLevel = QStringLiteral("5");
    SocksAuthentication m_socksAuth = SocksAuthentication::None;
    QString m_socksUser, m_socksPassword;
    int m_connectTimeoutMs = 30000;

    QTcpSocket *m_sock = nullptr;
    QTimer m_connectTimer;
    std::atomic<State> m_state{wsClosed};
    int m_lastError = 0;
    bool m_connectReported = false;

    // SOCKS exchange.
    enum class Socks { Off, Greeting5, Auth5, Connect5, Connect4 } m_socks = Socks::Off;
    QByteArray m_socksBuf;
    QByteArray m_pending; // bytes received after the SOCKS reply

    std::mutex m_writeLock;
    int m_fd = -1; // guarded by m_writeLock
};
