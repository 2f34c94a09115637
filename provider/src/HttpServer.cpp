#include "HttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace Sim {

namespace {
constexpr qsizetype MaxHead = 64 * 1024;
constexpr qsizetype MaxBody = 4 * 1024 * 1024;
constexpr int IdleTimeoutMs = 30000;

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    default:
        return "Error";
    }
}
} // namespace

QByteArray HttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first == name)
            return h.second;
    return {};
}

HttpServer::HttpServer(Handler handler, QObject *parent) : QObject(parent), m_handler(std::move(handler))
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::onConnection);
}

bool HttpServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_server.listen(address, port))
        return true;
    *error = QStringLiteral("web port %1: %2").arg(port).arg(m_server.errorString());
    return false;
}

static void answer(QTcpSocket *socket, const HttpServer::Response &r)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reason(r.status) + "\r\n";
    out += "Content-Type: " + r.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += r.body;
    socket->write(out);
    socket->disconnectFromHost();
}

void HttpServer::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
        idle->start(IdleTimeoutMs);
        auto buffer = std::make_shared<QByteArray>();
        auto done = std::make_shared<bool>(false);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer, done] {
            if (*done) {
                socket->readAll();
                return;
            }
            *buffer += socket->readAll();
            const qsizetype headEnd = buffer->indexOf("\r\n\r\n");
            if (headEnd < 0) {
                if (buffer->size() > MaxHead) {
                    *done = true;
                    answer(socket, {413, "text/plain", "header too large"});
                }
                return;
            }
            const QList<QByteArray> lines = buffer->left(headEnd).split('\n');
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            Request req;
            req.peer = socket->peerAddress();
            req.method = requestLine.value(0);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    req.headers.append(
                        {lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
            }
            bool ok = true;
            const qsizetype length =
                req.header("content-length").isEmpty() ? 0 : req.header("content-length").toLongLong(&ok);
            if (!ok || length < 0 || length > MaxBody || requestLine.size() < 2) {
                *done = true;
                answer(socket, {400, "text/plain", "bad request"});
                return;
            }
            if (buffer->size() < headEnd + 4 + length)
                return;
            *done = true;
            req.body = buffer->mid(headEnd + 4, length);
            const QUrl url = QUrl::fromEncoded(requestLine.value(1));
            req.path = url.path(QUrl::FullyDecoded);
            req.query = QUrlQuery(url);
            answer(socket, m_handler(req));
        });
    }
}

} // namespace Sim
