#include "gateway/WSocket.h"
#include "common/VelaroError.h"
#include <QHostAddress>
#include <QTcpSocket>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int kWriteTimeoutMs = 30000;

// The operating system's codes as the protocol client reports them (Windows Sockets numbering).
int codeFor(QAbstractSocket::SocketError e, bool wasConnected)
{
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        return wasConnected ? 10054 : 10065;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    default:
        return wasConnected ? 10054 : 10060;
    }
}

bool validPort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint p = text.trimmed().toUInt(&ok);
    if (!ok || p == 0 || p > 65535)
        return false;
    *port = quint16(p);
    return true;
}

} // namespace

WSocket::WSocket(QObject *parent) : QObject(parent)
{
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &WSocket::onConnectTimeout);
}

WSocket::~WSocket()
{
    closeSocket();
}

QString WSocket::errorDescription(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("没有错误");
    case 10013:
        return QStringLiteral("访问被拒绝");
    case 10048:
        return QStringLiteral("地址已被使用");
    case 10049:
        return QStringLiteral("无法分配请求的地址");
    case 10053:
        return QStringLiteral("连接被本机中止");
    case 10054:
        return QStringLiteral("连接被对方重置");
    case 10055:
        return QStringLiteral("系统缓冲区不足");
    case 10060:
        return QStringLiteral("连接超时");
    case 10061:
        return QStringLiteral("连接被拒绝");
    case 10065:
        return QStringLiteral("无法到达主机");
    case 11001:
        return QStringLiteral("找不到主机");
    case socksProtocolError:
        return QStringLiteral("代理服务器协议错误");
    case socksVersionError:
        return QStringLiteral("代理服务器版本不符");
    case socksAuthMethodError:
        return QStringLiteral("代理服务器不接受所用的验证方式");
    case socksGeneralFailure:
        return QStringLiteral("代理服务器一般性错误");
    case socksConnectionNotAllowed:
        return QStringLiteral("代理服务器规则不允许此连接");
    case socksNetworkUnreachable:
        return QStringLiteral("代理服务器无法到达目标网络");
    case socksHostUnreachable:
        return QStringLiteral("代理服务器无法到达目标主机");
    case socksConnectionRefused:
        return QStringLiteral("目标主机拒绝了代理服务器的连接");
    case socksTtlExpired:
        return QStringLiteral("代理连接超过生存时间");
    case socksUnknownCommand:
        return QStringLiteral("代理服务器不支持该命令");
    case socksUnknownAddressType:
        return QStringLiteral("代理服务器不支持该地址类型");
    case socksRejectedOrFailed:
        return QStringLiteral("代理服务器拒绝了请求");
    case socksAuthenticationFailed:
        return QStringLiteral("代理服务器用户名或密码错误");
    case socksTimeout:
        return QStringLiteral("代理服务器没有应答");
    default:
        return QStringLiteral("网络错误 %1").arg(code);
    }
}

void WSocket::setState(State s)
{
    const State old = m_state.exchange(s);
    if (old != s)
        Q_EMIT stateChanged(int(old), int(s));
}

void WSocket::Connect()
{
    if (!isClosed())
        throw VelaroError(QStringLiteral("连接已经打开"));
    const bool viaSocks = !m_socksServer.trimmed().isEmpty();
    quint16 targetPort = 0, socksPort = 0;
    if (m_addr.trimmed().isEmpty())
        throw VelaroError(QStringLiteral("没有指定服务器地址"));
    if (!validPort(m_port, &targetPort))
        throw VelaroError(QStringLiteral("端口“%1”无效").arg(m_port));
    if (viaSocks && !validPort(m_socksPort, &socksPort))
        throw VelaroError(QStringLiteral("代理端口“%1”无效").arg(m_socksPort));
    if (viaSocks && m_socksLevel != QLatin1String("4") && m_socksLevel != QLatin1String("4A") &&
        m_socksLevel != QLatin1String("5"))
        throw VelaroError(QStringLiteral("不支持的 SOCKS 版本“%1”").arg(m_socksLevel));

    closeSocket();
    m_lastError = 0;
    m_connectReported = false;
    m_socks = Socks::Off;
    m_socksBuf.clear();
    m_pending.clear();
    m_sock = new QTcpSocket(this);
    m_sock->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_sock, &QTcpSocket::connected, this, &WSocket::onConnected);
    connect(m_sock, &QTcpSocket::readyRead, this, &WSocket::onReadyRead);
    connect(m_sock, &QTcpSocket::disconnected, this, &WSocket::onDisconnected);
    connect(m_sock, &QTcpSocket::errorOccurred, this, &WSocket::onError);
    setState(wsOpened);
    setState(wsConnecting);
    m_connectTimer.start(m_connectTimeoutMs);
    if (viaSocks)
        m_sock->connectToHost(m_socksServer.trimmed(), socksPort);
    else
        m_sock->connectToHost(m_addr.trimmed(), targetPort);
}

void WSocket::onConnected()
{
    {
        std::lock_guard<std::mutex> g(m_writeLock);
        m_fd = int(m_sock->socketDescriptor());
    }
    if (!m_socksServer.trimmed().isEmpty()) {
        setState(wsSocksConnected);
        socksStart();
        return;
    }
    m_connectTimer.stop();
    setState(wsConnected);
    m_connectReported = true;
    Q_EMIT sessionConnected(0);
}

void WSocket::failConnect(int code)
{
    m_connectTimer.stop();
    m_lastError = code;
    closeSocket();
    m_connectReported = true;
    Q_EMIT sessionConnected(code);
}

void WSocket::onConnectTimeout()
{
    if (m_socks != Socks::Off)
        socksFail(socksTimeout, errorDescription(socksTimeout));
    else
        failConnect(10060);
}

void WSocket::onError()
{
    if (!m_sock)
        return;
    const auto err = m_sock->error();
    if (err == QAbstractSocket::RemoteHostClosedError && state() == wsConnected)
        return; // disconnected() reports the orderly close
    const bool wasConnected = state() == wsConnected;
    const int code = codeFor(err, wasConnected);
    if (!m_connectReported) {
        if (m_socks != Socks::Off)
            socksFail(socksProtocolError, m_sock->errorString());
        else
            failConnect(code);
        return;
    }
    m_lastError = code;
    closeSocket();
    Q_EMIT sessionClosed(code);
}

void WSocket::onDisconnected()
{
    if (!m_sock || isClosed())
        return;
    if (!m_connectReported) {
        if (m_socks != Socks::Off)
            socksFail(socksProtocolError, errorDescription(socksProtocolError));
        else
            failConnect(10061);
        return;
    }
    closeSocket();
    Q_EMIT sessionClosed(0);
}

void WSocket::closeSocket()
{
    m_connectTimer.stop();
    {
        // A writer on another thread finishes its packet before the descriptor goes away.
        std::lock_guard<std::mutex> g(m_writeLock);
        m_fd = -1;
    }
    if (m_sock) {
        QTcpSocket *s = m_sock;
        m_sock = nullptr;
        s->disconnect(this);
        s->abort();
        s->deleteLater();
    }
    m_socks = Socks::Off;
    if (state() != wsClosed)
        setState(wsClosed);
}

void WSocket::CloseAndWait()
{
    const bool wasOpen = !isClosed();
    closeSocket();
    if (wasOpen && m_connectReported)
        Q_EMIT sessionClosed(0);
}

qint64 WSocket::Send(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> g(m_writeLock);
    if (m_fd < 0)
        return 0;
    const char *p = bytes.constData();
    qint64 left = bytes.size();
    qint64 sent = 0;
    while (left > 0) {
        const ssize_t n = ::send(m_fd, p + sent, size_t(left), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{m_fd, POLLOUT, 0};
            if (::poll(&pfd, 1, kWriteTimeoutMs) > 0)
                continue;
        }
        break;
    }
    if (sent < bytes.size())
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT socketError(); }, Qt::QueuedConnection);
    return sent;
}

QByteArray WSocket::Receive()
{
    QByteArray out = std::move(m_pending);
    m_pending.clear();
    if (m_sock && m_socks == Socks::Off)
        out += m_sock->readAll();
    return out;
}

void WSocket::onReadyRead()
{
    if (!m_sock)
        return;
    if (m_socks != Socks::Off) {
        m_socksBuf += m_sock->readAll();
        socksStep();
        return;
    }
    if (state() == wsConnected)
        Q_EMIT dataAvailable();
}

// ---- SOCKS exchange ---------------------------------------------------------------------

void WSocket::socksFail(int code, const QString &text)
{
    Q_EMIT socksErrorOccurred(code, text);
    failConnect(code);
}

void WSocket::socksStart()
{
    m_socksBuf.clear();
    const QString host = m_addr.trimmed();
    quint16 port = 0;
    validPort(m_port, &port);
    if (m_socksLevel == QLatin1String("5")) {
        QByteArray greet("\x05", 1);
        if (m_socksAuth == SocksAuthentication::UserCode)
            greet += QByteArray("\x02\x00\x02", 3);
        else
            greet += QByteArray("\x01\x00", 2);
        m_socks = Socks::Greeting5;
        Send(greet);
        return;
    }
    // SOCKS4 carries an IPv4 address; SOCKS4A lets the server resolve the name.
    QByteArray req("\x04\x01", 2);
    req.append(char(port >> 8)).append(char(port & 0xFF));
    QByteArray user = m_socksAuth == SocksAuthentication::UserCode ? m_socksUser.toUtf8() : QByteArray();
    QHostAddress ip(host);
    if (m_socksLevel == QLatin1String("4A") && ip.protocol() != QAbstractSocket::IPv4Protocol) {
        req += QByteArray("\x00\x00\x00\x01", 4);
        req += user + QByteArray(1, '\0') + host.toUtf8() + QByteArray(1, '\0');
    } else {
        if (ip.protocol() != QAbstractSocket::IPv4Protocol) {
            socksFail(socksUnknownAddressType, QStringLiteral("SOCKS4 需要 IPv4 地址"));
            return;
        }
        const quint32 a = ip.toIPv4Address();
        req.append(char(a >> 24)).append(char(a >> 16)).append(char(a >> 8)).append(char(a));
        req += user + QByteArray(1, '\0');
    }
    m_socks = Socks::Connect4;
    Send(req);
}

void WSocket::sendSocksConnect5()
{
    const QString host = m_addr.trimmed();
    quint16 port = 0;
    validPort(m_port, &port);
    QByteArray req("\x05\x01\x00", 3);
    QHostAddress ip(host);
    if (ip.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 a = ip.toIPv4Address();
        req.append('\x01').append(char(a >> 24)).append(char(a >> 16)).append(char(a >> 8)).append(char(a));
    } else {
        const QByteArray name = host.toUtf8();
        if (name.size() > 255) {
            socksFail(socksUnknownAddressType, errorDescription(socksUnknownAddressType));
            return;
        }
        req.append('\x03').append(char(name.size())).append(name);
    }
    req.append(char(port >> 8)).append(char(port & 0xFF));
    m_socks = Socks::Connect5;
    Send(req);
}

void WSocket::socksStep()
{
    auto finish = [this](qsizetype used) {
        m_pending = m_socksBuf.mid(used);
        m_socksBuf.clear();
        m_socks = Socks::Off;
        m_connectTimer.stop();
        setState(wsConnected);
        m_connectReported = true;
        Q_EMIT socksConnected(0);
        Q_EMIT sessionConnected(0);
        if (!m_pending.isEmpty())
            Q_EMIT dataAvailable();
    };
    switch (m_socks) {
    case Socks::Off:
        return;
    case Socks::Connect4: {
        if (m_socksBuf.size() < 8)
            return;
        if (m_socksBuf[0] != 0)
            return socksFail(socksVersionError, errorDescription(socksVersionError));
        const uchar status = uchar(m_socksBuf[1]);
        if (status != 90)
            return socksFail(socksRejectedOrFailed, errorDescription(socksRejectedOrFailed));
        return finish(8);
    }
    case Socks::Greeting5: {
        if (m_socksBuf.size() < 2)
            return;
        if (m_socksBuf[0] != 5)
            return socksFail(socksVersionError, errorDescription(socksVersionError));
        const uchar method = uchar(m_socksBuf[1]);
        m_socksBuf.remove(0, 2);
        if (method == 0x00) {
            Q_EMIT socksAuthStateChanged(socksAuthNotRequired);
            sendSocksConnect5();
            return;
        }
        if (method == 0x02 && m_socksAuth == SocksAuthentication::UserCode) {
            Q_EMIT socksAuthStateChanged(socksAuthStart);
            const QByteArray u = m_socksUser.toUtf8().left(255), p = m_socksPassword.toUtf8().left(255);
            QByteArray auth("\x01", 1);
            auth.append(char(u.size())).append(u).append(char(p.size())).append(p);
            m_socks = Socks::Auth5;
            Send(auth);
            return;
        }
        return socksFail(socksAuthMethodError, errorDescription(socksAuthMethodError));
    }
    case Socks::Auth5: {
        if (m_socksBuf.size() < 2)
            return;
        const bool ok = m_socksBuf[1] == 0;
        m_socksBuf.remove(0, 2);
        if (!ok) {
            Q_EMIT socksAuthStateChanged(socksAuthFailure);
            return socksFail(socksAuthenticationFailed, errorDescription(socksAuthenticationFailed));
        }
        Q_EMIT socksAuthStateChanged(socksAuthSuccess);
        sendSocksConnect5();
        return;
    }
    case Socks::Connect5: {
        if (m_socksBuf.size() < 5)
            return;
        if (m_socksBuf[0] != 5)
            return socksFail(socksVersionError, errorDescription(socksVersionError));
        const uchar rep = uchar(m_socksBuf[1]);
        if (rep != 0) {
            const int code = rep <= 8 ? socksGeneralFailure + rep - 1 : socksRejectedOrFailed;
            return socksFail(code, errorDescription(code));
        }
        const uchar atyp = uchar(m_socksBuf[3]);
        qsizetype need = 0;
        if (atyp == 1)
            need = 4 + 4 + 2;
        else if (atyp == 4)
            need = 4 + 16 + 2;
        else if (atyp == 3)
            need = 4 + 1 + uchar(m_socksBuf[4]) + 2;
        else
            return socksFail(socksUnknownAddressType, errorDescription(socksUnknownAddressType));
        if (m_socksBuf.size() < need)
            return;
        return finish(need);
    }
    }
}
