#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrlQuery>
#include <functional>

namespace Sim {

// A small HTTP/1.1 server: one request per connection, answered and closed. Enough for
// the provider's pages, the sign-up form and the admin requests.
class HttpServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QString path; // percent-decoded
        QUrlQuery query;
        QList<QPair<QByteArray, QByteArray>> headers; // names lower-cased
        QByteArray body;
        QHostAddress peer;
        QByteArray header(const QByteArray &name) const;
    };
    struct Response {
        int status = 200;
        QByteArray contentType = "text/plain; charset=utf-8";
        QByteArray body;
    };
    using Handler = std::function<Response(const Request &)>;

    explicit HttpServer(Handler handler, QObject *parent = nullptr);
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_server.serverPort(); }
    void close() { m_server.close(); }

private:
    void onConnection();

    QTcpServer m_server;
    Handler m_handler;
};

} // namespace Sim
