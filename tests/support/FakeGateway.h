#pragma once
#include "gateway/GSMIAPUnt.h"
#include "gateway/XorBase64.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <functional>
#include <optional>
#include <sys/socket.h>

// Runs the event loop until pred holds or the deadline passes.
inline bool waitUntil(const std::function<bool()> &pred, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A scripted peer on loopback: the test reads what the client wrote and writes any bytes back.
class FakeGateway {
public:
    FakeGateway()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                m_conn = s;
                ++m_connections;
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] { m_in += s->readAll(); });
            }
        });
    }
    QString port() const { return QString::number(m_server.serverPort()); }
    int connections() const { return m_connections; }
    bool connected() const { return m_conn && m_conn->state() == QAbstractSocket::ConnectedState; }
    QTcpSocket *conn() const { return m_conn; }

    // The next whole packet the client sent, framed by its length.
    std::optional<QByteArray> nextPacket(int ms = 5000)
    {
        std::optional<QByteArray> out;
        waitUntil([&] {
            const auto f = Gateway::NextFrame(m_in);
            if (f.kind != Gateway::Frame::Packet)
                return false;
            out = m_in.left(f.length);
            m_in.remove(0, f.length);
            return true;
        }, ms);
        return out;
    }
    // Raw bytes the client sent (for proxy requests).
    QByteArray takeRaw(int atLeast, int ms = 5000)
    {
        waitUntil([&] { return m_in.size() >= atLeast; }, ms);
        QByteArray out = m_in;
        m_in.clear();
        return out;
    }
    bool nothingFor(int ms)
    {
        waitUntil([] { return false; }, ms);
        return m_in.isEmpty();
    }
    void send(const QByteArray &bytes)
    {
        m_conn->write(bytes);
        m_conn->flush();
    }
    void close() { m_conn->disconnectFromHost(); }
    // Closes with a reset instead of an orderly close.
    void reset()
    {
        linger l{1, 0};
        ::setsockopt(int(m_conn->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        m_conn->abort();
    }
    // Forgets whatever earlier connections sent.
    void drain(int ms = 50)
    {
        waitUntil([] { return false; }, ms);
        m_in.clear();
    }

    // ---- gateway-side packets, written from the byte layouts ----
    static QByteArray header(quint32 len, quint32 cmd, quint32 status, quint32 seq)
    {
        QByteArray h(16, '\0');
        qToBigEndian(len, h.data());
        qToBigEndian(cmd, h.data() + 4);
        qToBigEndian(status, h.data() + 8);
        qToBigEndian(seq, h.data() + 12);
        return h;
    }
    static QByteArray packet(quint32 cmd, quint32 status, quint32 seq, const QByteArray &body)
    {
        return header(quint32(16 + body.size()), cmd, status, seq) + body;
    }
    static QByteArray encoded(const QByteArray &text) { return XorBase64Encode(text) + QByteArray(1, '\0'); }
    static QByteArray field(const QByteArray &text, int n)
    {
        QByteArray f = text.left(n);
        f.append(QByteArray(n - f.size(), '\0'));
        return f;
    }
    static QByteArray loginResp(quint32 status, const QByteArray &customer = "10086",
                                const QByteArray &user = "\xb2\xe2\xca\xd4", int balance = 500, int seg1 = 70,
                                int seg3 = 45)
    {
        if (status != 0)
            return header(16, 0x80000001, status, 0);
        QByteArray body(4, '\0');
        body += encoded(customer) + encoded(user) + encoded(QByteArray::number(balance));
        body.append(char(seg1)).append(char(0)).append(char(seg3));
        return packet(0x80000001, 0, 0, body);
    }
    static QByteArray submitResp(quint32 seq, quint32 status, quint64 msgId, int balance)
    {
        if (status != 0)
            return header(16, 0x80000003, status, seq);
        QByteArray id(8, '\0');
        qToBigEndian(msgId, id.data());
        return packet(0x80000003, 0, seq, id + encoded(QByteArray::number(balance)));
    }
    static QByteArray deliver(quint32 seq, const QByteArray &src, const QByteArray &dest, const QByteArray &text)
    {
        QByteArray body = field(src, 21) + field(dest, 21) + QByteArray(3, '\0') + text + QByteArray(1, '\0') +
                          QByteArray("RSV12345", 8);
        return packet(4, 0, seq, body);
    }
    static QByteArray report(quint32 seq, quint64 msgId, const QByteArray &number, const QByteArray &stat,
                             quint32 err)
    {
        QByteArray id(8, '\0');
        qToBigEndian(msgId, id.data());
        QByteArray e(4, '\0');
        qToBigEndian(err, e.data());
        QByteArray body = id + field(number, 21) + field("10086", 21) + field(stat, 7) + QByteArray("2612111000") +
                          QByteArray("2612111001") + e;
        return packet(11, 0, seq, body);
    }
    static QByteArray filterChunk(quint32 first, quint32 second, const QByteArray &text)
    {
        QByteArray c(8, '\0');
        qToBigEndian(first, c.data());
        qToBigEndian(second, c.data() + 4);
        return packet(0x80000005, 0, 0, c + QByteArray(5, '\0') + text + QByteArray(1, '\0'));
    }
    static QByteArray afficheResp(const QByteArray &text)
    {
        return packet(0x8000000D, 0, 0, QByteArray(4, '\0') + text + QByteArray(1, '\0'));
    }
    static QByteArray addPointResp(quint32 status, quint32 balance)
    {
        if (status != 0)
            return header(16, 0x8000000F, status, 0);
        QByteArray b(4, '\0');
        qToBigEndian(balance, b.data());
        return packet(0x8000000F, 0, 0, QByteArray(4, '\0') + b);
    }
    static quint32 cmdOf(const QByteArray &p) { return qFromBigEndian<quint32>(p.constData() + 4); }
    static quint32 seqOf(const QByteArray &p) { return qFromBigEndian<quint32>(p.constData() + 12); }

private:
    QTcpServer m_server;
    QTcpSocket *m_conn = nullptr;
    QByteArray m_in;
    int m_connections = 0;
};
