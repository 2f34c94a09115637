#include "ProxyServers.h"
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtEndian>
#include <pwd.h>
#include <unistd.h>

namespace {

const QStringList kBinaryFolders = {"/usr/sbin", "/usr/bin", "/sbin", "/bin"};

QString currentUserName()
{
    const passwd *pw = ::getpwuid(::geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

} // namespace

quint16 closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// ---- ProxyProcess ------------------------------------------------------------------------

ProxyProcess::~ProxyProcess()
{
    stop();
}

QByteArray ProxyProcess::log() const
{
    QFile f(m_dir.filePath("log"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void ProxyProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
}

void ProxyProcess::start(const QString &program, const std::function<QByteArray(quint16)> &config,
                         const std::function<QStringList(const QString &)> &args)
{
    const QString binary = QStandardPaths::findExecutable(program, kBinaryFolders);
    if (binary.isEmpty()) {
        m_error = program + " not found (scripts/deps.sh installs it)";
        return;
    }
    if (!m_dir.isValid()) {
        m_error = "no temporary folder";
        return;
    }
    // A free port can be taken by another test before the server binds it: try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        stop();
        m_port = closedLoopbackPort();
        const QString confPath = m_dir.filePath("proxy.conf");
        QFile conf(confPath);
        if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            m_error = "cannot write " + confPath;
            return;
        }
        conf.write(config(m_port));
        conf.close();
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->setStandardOutputFile(m_dir.filePath("log"));
        m_process->start(binary, args(confPath));
        if (!m_process->waitForStarted(5000)) {
            m_error = program + " did not start: " + m_process->errorString();
            return;
        }
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(200)) {
                probe.abort();
                m_error.clear();
                return;
            }
            // Also notices the server giving up (a bad configuration, the port taken).
            m_process->waitForFinished(20);
        }
        m_error = program + " is not accepting connections on port " + QString::number(m_port) + ":\n" +
                  QString::fromLocal8Bit(log());
    }
    stop();
}

// ---- Dante ------------------------------------------------------------------------------

DanteServer::DanteServer(bool userPassword)
{
    const bool root = ::geteuid() == 0;
    const QString me = currentUserName();
    start(
        "danted",
        [&](quint16 port) {
            return QStringLiteral(R"(logoutput: stderr
internal: 127.0.0.1 port = %1
external: %2
clientmethod: none
socksmethod: %3
user.privileged: %4
user.unprivileged: %5
client pass {
  from: 127.0.0.0/8 to: 0.0.0.0/0
}
socks pass {
  from: 127.0.0.0/8 to: 0.0.0.0/0
  command: connect
  log: connect error
}
)")
                .arg(port)
                .arg(kProxyOutgoingAddress.toString(), userPassword ? "username" : "none",
                     root ? QStringLiteral("root") : me, root ? QStringLiteral("nobody") : me)
                .toLocal8Bit();
        },
        // -N 1 without -D: one server process in the foreground.
        [](const QString &conf) {
            return QStringList{"-f", conf, "-N", "1", "-p", QFileInfo(conf).dir().filePath("pid")};
        });
}

QString ensureSocksAccount()
{
    const QByteArray user = DanteServer::kUser;
    if (::geteuid() != 0)
        return QStringLiteral("dante checks SOCKS5 user and password against the system's accounts, "
                              "which needs root (to create \"%1\" and to read the password hashes)")
            .arg(QString::fromLatin1(user));
    if (::getpwnam(user.constData()))
        return {};
    // SHA-512 crypt of DanteServer::kPassword; an account without home or login shell.
    const QString hash = "$6$velarotest$.IyQqNxyfiFrpKVm/jxMJZ8/IEBPYccb4XtCs7b9MpkLx/"
                         "s7O6b4BO3NaF17w1mM1buhfdgyZiCs/U9kJ3H/31";
    const QString useradd = QStandardPaths::findExecutable("useradd", kBinaryFolders);
    const QString nologin = QStandardPaths::findExecutable("nologin", kBinaryFolders);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(useradd, {"-M", "-s", nologin.isEmpty() ? QStringLiteral("/bin/false") : nologin, "-p", hash,
                      QString::fromLatin1(user)});
    p.waitForFinished(30000);
    // A test running in parallel may have created it in the meantime.
    if (::getpwnam(user.constData()))
        return {};
    return QStringLiteral("useradd could not create \"%1\": %2")
        .arg(QString::fromLatin1(user), QString::fromLocal8Bit(p.readAll()));
}

// ---- tinyproxy --------------------------------------------------------------------------

TinyproxyServer::TinyproxyServer(quint16 connectPort, const QString &user, const QString &password)
{
    start(
        "tinyproxy",
        [&](quint16 port) {
            QString c = QStringLiteral(R"(Port %1
Listen 127.0.0.1
Bind %2
Timeout 60
MaxClients 20
LogLevel Connect
Allow 127.0.0.1
ConnectPort %3
)")
                            .arg(port)
                            .arg(kProxyOutgoingAddress.toString())
                            .arg(connectPort);
            if (!user.isEmpty())
                c += QStringLiteral("BasicAuth %1 %2\n").arg(user, password);
            return c.toUtf8();
        },
        [](const QString &conf) {
            return QStringList{"-d", "-c", conf};
        });
}

// ---- SOCKS4A double ----------------------------------------------------------------------

namespace {

// One client connection: the request, then a relay to the target.
struct Socks4aSession : QObject {
    QTcpSocket *client = nullptr;
    QTcpSocket *upstream = nullptr;
    QByteArray in;
    bool relaying = false;

    void refuse()
    {
        client->write(QByteArray("\x00\x5b\x00\x00\x00\x00\x00\x00", 8));
        client->disconnectFromHost();
    }
};

// Parses a complete request, or says that more bytes are needed.
bool parseSocks4a(const QByteArray &in, Socks4aDouble::Request *r, bool *complete)
{
    *complete = false;
    if (in.size() < 9)
        return true;
    const qsizetype userEnd = in.indexOf('\0', 8);
    if (userEnd < 0)
        return true;
    const qsizetype hostEnd = in.indexOf('\0', userEnd + 1);
    if (hostEnd < 0)
        return true;
    *complete = true;
    r->version = quint8(in[0]);
    r->command = quint8(in[1]);
    r->port = qFromBigEndian<quint16>(in.constData() + 2);
    r->address = qFromBigEndian<quint32>(in.constData() + 4);
    r->user = in.mid(8, userEnd - 8);
    r->host = in.mid(userEnd + 1, hostEnd - userEnd - 1);
    return r->version == 4 && r->command == 1 && r->address > 0 && r->address < 256 && !r->host.isEmpty();
}

} // namespace

Socks4aDouble::Socks4aDouble()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
}

Socks4aDouble::~Socks4aDouble() = default;

void Socks4aDouble::accept()
{
    while (QTcpSocket *c = m_server.nextPendingConnection()) {
        auto *s = new Socks4aSession;
        s->setParent(c);
        s->client = c;
        QObject::connect(c, &QTcpSocket::disconnected, c, [s] {
            if (s->upstream)
                s->upstream->disconnectFromHost();
            s->client->deleteLater();
        });
        QObject::connect(c, &QTcpSocket::readyRead, c, [this, s] {
            s->in += s->client->readAll();
            if (s->relaying) {
                s->upstream->write(s->in);
                s->in.clear();
                return;
            }
            if (s->upstream)
                return; // still connecting; keep what came for the relay
            Request r;
            bool complete = false;
            const bool ok = parseSocks4a(s->in, &r, &complete);
            if (!complete)
                return;
            m_requests.push_back(r);
            s->in.remove(0, 8 + r.user.size() + 1 + r.host.size() + 1);
            if (!ok)
                return s->refuse();
            QHostAddress target;
            for (const QHostAddress &a : QHostInfo::fromName(QString::fromUtf8(r.host)).addresses())
                if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                    target = a;
                    break;
                }
            if (target.isNull())
                return s->refuse();
            s->upstream = new QTcpSocket(s);
            s->upstream->bind(kProxyOutgoingAddress, 0);
            QObject::connect(s->upstream, &QTcpSocket::connected, s, [s, r, target] {
                QByteArray reply("\x00\x5a", 2);
                reply.append(char(r.port >> 8)).append(char(r.port & 0xFF));
                const quint32 a = target.toIPv4Address();
                reply.append(char(a >> 24)).append(char(a >> 16)).append(char(a >> 8)).append(char(a));
                s->client->write(reply);
                s->relaying = true;
                if (!s->in.isEmpty())
                    s->upstream->write(s->in);
                s->in.clear();
            });
            QObject::connect(s->upstream, &QTcpSocket::readyRead, s,
                             [s] { s->client->write(s->upstream->readAll()); });
            QObject::connect(s->upstream, &QTcpSocket::errorOccurred, s, [s] {
                if (!s->relaying)
                    s->refuse();
            });
            QObject::connect(s->upstream, &QTcpSocket::disconnected, s,
                             [s] { s->client->disconnectFromHost(); });
            s->upstream->connectToHost(target, r.port);
        });
    }
}
