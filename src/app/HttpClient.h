#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

enum class HttpProxyKind { None, Http, Socks4, Socks4a, Socks5 };

struct HttpProxy {
    HttpProxyKind kind = HttpProxyKind::None;
    QString host;
    quint16 port = 0;
    QString user;
    QString password;
};

struct HttpOptions {
    int timeoutMs = 30000;
    HttpProxy proxy;
};

struct HttpResponse {
    long status = 0;   // HTTP status; 0 when no answer arrived
    QByteArray body;   // raw bytes as sent by the server
    QString errorText; // empty when the exchange completed (whatever the status)
    bool completed() const { return errorText.isEmpty(); }
    bool ok() const { return completed() && status >= 200 && status < 300; }
};

// Blocking HTTP through libcurl. Every call uses its own handle, so any thread may call it;
// widgets run it on a worker and take the result back to the main thread.
class HttpClient {
public:
    using ProxyKind = HttpProxyKind;
    using Proxy = HttpProxy;
    using Options = HttpOptions;
    using Response = HttpResponse;
    using Form = QList<QPair<QByteArray, QByteArray>>;

    static Response get(const QString &url, const Options &options = Options());
    // Posts application/x-www-form-urlencoded fields; names and values are sent as given bytes
    // (callers choose the encoding, e.g. GBK for the provider's forms).
    static Response postForm(const QString &url, const Form &fields, const Options &options = Options());
    static QByteArray encodeForm(const Form &fields);
};
