#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

// Proxies connect onwards from this address, so a server can tell a proxied connection
// (peer 127.0.0.2) from a direct one (peer 127.0.0.1).
inline const QHostAddress kProxyOutgoingAddress{QStringLiteral("127.0.0.2")};

// A real proxy server process on a free loopback port, with its configuration and log in
// its own temporary folder; stopped when destroyed.
class ProxyProcess {
public:
    ProxyProcess() = default;
    ProxyProcess(const ProxyProcess &) = delete;
    ProxyProcess &operator=(const ProxyProcess &) = delete;
    virtual ~ProxyProcess();

    // Empty while the server runs; otherwise why it could not be started.
    const QString &error() const { return m_error; }
    quint16 port() const { return m_port; }
    QString portText() const { return QString::number(m_port); }
    // Everything the server has logged so far.
    QByteArray log() const;

protected:
    // program: a name looked up in the system's binary folders; config gets the listening port.
    void start(const QString &program, const std::function<QByteArray(quint16)> &config,
               const std::function<QStringList(const QString &configPath)> &args);

private:
    void stop();

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};

// Dante's SOCKS4/SOCKS5 server; with userPassword it demands RFC 1929 user and password,
// checked against the system's accounts (see ensureSocksAccount).
class DanteServer : public ProxyProcess {
public:
    explicit DanteServer(bool userPassword = false);
    static constexpr const char *kUser = "velaro-socks";
    static constexpr const char *kPassword = "Vel4ro-socks";
};

// Makes sure the system account DanteServer's user/password method checks exists.
// Returns an empty text when it does, else why it cannot (for a skip).
QString ensureSocksAccount();

// tinyproxy, allowing CONNECT to connectPort only; with a user, it demands Basic credentials.
class TinyproxyServer : public ProxyProcess {
public:
    explicit TinyproxyServer(quint16 connectPort, const QString &user = QString(),
                             const QString &password = QString());
};

// Dante refuses SOCKS4A requests and no packaged server speaks it, so this double stands in
// for that variant only: it records each request, accepts only a well-formed 4A CONNECT
// (address 0.0.0.x, user id, host name) and relays to the named host. Runs on the event loop.
class Socks4aDouble {
public:
    struct Request {
        quint8 version = 0, command = 0;
        quint16 port = 0;
        quint32 address = 0;
        QByteArray user, host;
    };
    Socks4aDouble();
    ~Socks4aDouble();
    quint16 port() const { return m_server.serverPort(); }
    QString portText() const { return QString::number(port()); }
    const std::vector<Request> &requests() const { return m_requests; }

private:
    void accept();
    QTcpServer m_server;
    std::vector<Request> m_requests;
};

// A loopback port that nothing listens on (for refused connections).
quint16 closedLoopbackPort();
