#pragma once
// Runs the simulator on its own thread and talks to it over real TCP: a blocking gateway
// client built on the client's own builders, parsers and framing, and a small HTTP client.
#include "Simulator.h"
#include "common/GbkCodec.h"
#include "gateway/GSMIAPUnt.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace SimTest {

inline constexpr int WaitMs = 10000;

// A config with the demo account and a card, on ephemeral ports, reports without delay.
inline Sim::Config testConfig()
{
    Sim::Config c;
    c.gatewayPorts = {0, 0};
    c.webPort = 0;
    c.reportDelayMs = 0;
    c.replyShare = 0;
    c.enquireLinkIntervalMs = 0;
    c.ackTimeoutMs = 60000;
    c.seed = 7;
    c.bulletin = QStringLiteral("今日公告：系统维护");
    c.forbiddenWords = {QStringLiteral("发票"), QStringLiteral("赌博")};
    c.accounts = {Sim::AccountSeed{QStringLiteral("demo"), QStringLiteral("demo123"), QStringLiteral("10001"),
                                   QStringLiteral("演示账户"), 1000, QStringLiteral("106570010001"), 70, 70,
                                   60}};
    c.cards = {Sim::CardSeed{QStringLiteral("8800001"), QStringLiteral("111111"), 100}};
    return c;
}

class Harness {
public:
    explicit Harness(Sim::Config config = testConfig())
    {
        m_thread.start();
        m_sim = new Sim::Simulator(std::move(config));
        m_sim->moveToThread(&m_thread);
        QString error;
        bool ok = false;
        call([&] {
            ok = m_sim->start(&error);
            m_ports = m_sim->gatewayPorts();
            m_webPort = m_sim->webPort();
        });
        if (!ok)
            ADD_FAILURE() << "simulator did not start: " << error.toStdString();
    }
    ~Harness()
    {
        call([this] { delete m_sim; });
        m_thread.quit();
        m_thread.wait();
    }
    // Runs f on the simulator's thread and waits for it.
    void call(const std::function<void()> &f)
    {
        QMetaObject::invokeMethod(m_sim ? static_cast<QObject *>(m_sim) : nullptr, f,
                                  Qt::BlockingQueuedConnection);
    }
    Sim::Simulator *sim() { return m_sim; }
    quint16 port(int i = 0) const { return m_ports.value(i); }
    quint16 webPort() const { return m_webPort; }

private:
    QThread m_thread;
    Sim::Simulator *m_sim = nullptr;
    QList<quint16> m_ports;
    quint16 m_webPort = 0;
};

struct HttpReply {
    int status = 0;
    QByteArray contentType;
    QByteArray body;
    QJsonValue json() const
    {
        const QJsonDocument d = QJsonDocument::fromJson(body);
        return d.isArray() ? QJsonValue(d.array()) : QJsonValue(d.object());
    }
};

inline HttpReply http(quint16 port, const QByteArray &method, const QByteArray &target,
                      const QByteArray &body = {}, const QByteArray &contentType = "application/json")
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(WaitMs))
        return {};
    QByteArray req = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!body.isEmpty() || method == "POST")
        req += "Content-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(body.size()) +
               "\r\n";
    req += "\r\n" + body;
    s.write(req);
    QByteArray all;
    const QDeadlineTimer deadline(WaitMs);
    while (s.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
        if (s.waitForReadyRead(int(deadline.remainingTime())))
            all += s.readAll();
    all += s.readAll();
    HttpReply r;
    const qsizetype headEnd = all.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return r;
    const QList<QByteArray> lines = all.left(headEnd).split('\n');
    r.status = lines.value(0).split(' ').value(1).toInt();
    for (const QByteArray &l : lines)
        if (l.toLower().startsWith("content-type:"))
            r.contentType = l.mid(13).trimmed();
    r.body = all.mid(headEnd + 4);
    return r;
}

inline HttpReply admin(quint16 port, const QByteArray &what, const QJsonObject &body)
{
    return http(port, "POST", "/admin/" + what, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

// A blocking gateway client. Acknowledges Delivers and Reports and answers the gateway's
// EnquireLink as the real client does, unless told otherwise; keeps what it received.
class Client {
public:
    bool ackReports = true;
    bool ackDelivers = true;
    bool answerEnquireLink = true;
    std::vector<Gateway::TMessage_Report> reports;
    std::vector<Gateway::TDeliverSM> delivers;
    std::vector<Gateway::FilterChunk> filterChunks;
    int enquireLinksReceived = 0;
    bool malformedSeen = false;
    std::vector<QByteArray> unknown; // packets with a command the client does not know
    std::vector<quint32> received;   // Command_ID of every packet, in arrival order
    int discarded = 0;

    explicit Client(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(m_socket.waitForConnected(WaitMs)) << "connect to port " << port;
    }
    QString customerNo;

    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.waitForBytesWritten(WaitMs);
    }

    // Reads packets until one with this Command_ID (and sequence, when given) arrives;
    // returns it, or an empty array at the deadline or when the gateway closed.
    QByteArray waitFor(quint32 commandId, std::optional<quint32> sequence = std::nullopt, int ms = WaitMs)
    {
        const QDeadlineTimer deadline(ms);
        for (;;) {
            while (auto packet = takePacket()) {
                const auto h = Gateway::ParseHeader(*packet);
                if (h->Command_ID == commandId && (!sequence || h->Sequence_No == *sequence))
                    return *packet;
            }
            if (malformedSeen || !readMore(deadline))
                return {};
        }
    }
    // Reads until pred() holds; false at the deadline or when the gateway closed.
    bool receivedAny(quint32 commandId) const
    {
        return std::find(received.begin(), received.end(), commandId) != received.end();
    }
    bool waitUntil(const std::function<bool()> &pred, int ms = WaitMs)
    {
        const QDeadlineTimer deadline(ms);
        while (!pred()) {
            while (takePacket()) {
            }
            if (pred())
                return true;
            if (malformedSeen || !readMore(deadline))
                return pred();
        }
        return true;
    }
    // True when the gateway closes the connection before the deadline.
    bool waitClosed(int ms = WaitMs)
    {
        const QDeadlineTimer deadline(ms);
        while (m_socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            m_socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            m_buffer += m_socket.readAll();
        }
        return m_socket.state() != QAbstractSocket::ConnectedState;
    }
    void close() { m_socket.abort(); }
    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    Gateway::LoginResponse login(const QString &name, const QString &password)
    {
        send(*Gateway::BuildLogin(name, password));
        const QByteArray packet = waitFor(Gateway::Cmd::Login_Response);
        auto r = Gateway::ParseLoginResp(packet);
        EXPECT_TRUE(r.has_value()) << "no Login_Response";
        if (r && r->Command_Status == 0)
            customerNo = r->CustomerNo;
        if (r)
            return *r;
        Gateway::LoginResponse none;
        none.Command_Status = 0xFFFFFFFF;
        return none;
    }
    void sendSubmit(const QStringList &numbers, const QString &content, quint32 seq,
                    const QString &schedule = QString())
    {
        Gateway::SubmitRequest req;
        req.Sequence_No = seq;
        req.CustomerNo = customerNo.isEmpty() ? QStringLiteral("10001") : customerNo;
        req.DestNumbers = numbers;
        req.Content = content;
        req.ScheduleTime = schedule;
        QString error;
        const auto packet = Gateway::BuildSubmit(req, &error);
        EXPECT_TRUE(packet.has_value()) << error.toStdString();
        send(packet.value_or(QByteArray()));
    }
    Gateway::SubmitResponse submit(const QStringList &numbers, const QString &content, quint32 seq,
                                   const QString &schedule = QString())
    {
        sendSubmit(numbers, content, seq, schedule);
        auto r = Gateway::ParseSubmitResp(waitFor(Gateway::Cmd::Submit_Response, seq));
        EXPECT_TRUE(r.has_value()) << "no Submit_Response for " << seq;
        if (r)
            return *r;
        Gateway::SubmitResponse none;
        none.Resp.Sequence_No = seq;
        none.Command_Status = 0xFFFFFFFF;
        return none;
    }

private:
    bool readMore(const QDeadlineTimer &deadline)
    {
        if (deadline.hasExpired())
            return false;
        // Short waits, so conditions that depend on the simulator rather than on traffic
        // (admin listings) are looked at again soon.
        if (m_socket.bytesAvailable() == 0 &&
            !m_socket.waitForReadyRead(int(std::clamp<qint64>(deadline.remainingTime(), 1, 20))))
            return m_socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired();
        m_buffer += m_socket.readAll();
        return true;
    }
    // One framed packet; gateway-initiated ones are handled and recorded on the way.
    std::optional<QByteArray> takePacket()
    {
        const Gateway::Frame f = Gateway::NextFrame(m_buffer);
        if (f.kind == Gateway::Frame::Malformed)
            malformedSeen = true;
        if (f.kind != Gateway::Frame::Packet)
            return std::nullopt;
        QByteArray packet = m_buffer.left(f.length);
        m_buffer.remove(0, f.length);
        const auto h = *Gateway::ParseHeader(packet);
        received.push_back(h.Command_ID);
        if ((h.Command_ID == Gateway::Cmd::Report || h.Command_ID == Gateway::Cmd::Deliver) &&
            h.Total_Length == 16) {
            ++discarded; // no body: the client drops it unanswered
            return packet;
        }
        switch (h.Command_ID) {
        case Gateway::Cmd::Report:
            if (auto r = Gateway::ParseReport(packet))
                reports.push_back(*r);
            else
                ADD_FAILURE() << "Report does not parse";
            if (ackReports)
                send(Gateway::BuildReportResp(h.Sequence_No));
            break;
        case Gateway::Cmd::Deliver:
            if (auto d = Gateway::ParseDeliver(packet))
                delivers.push_back(*d);
            else
                ADD_FAILURE() << "Deliver does not parse";
            if (ackDelivers)
                send(Gateway::BuildDeliverResp(h.Sequence_No));
            break;
        case Gateway::Cmd::EnquireLink:
            ++enquireLinksReceived;
            if (answerEnquireLink)
                send(Gateway::BuildEnquireLinkResp(h.Sequence_No));
            break;
        case Gateway::Cmd::Filter_Response:
            if (auto c = Gateway::ParseFilterResp(packet))
                filterChunks.push_back(*c);
            break;
        default:
            if ((h.Command_ID & ~Gateway::Cmd::ResponseBit) > 15)
                unknown.push_back(packet);
            break;
        }
        return packet;
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
};

inline QStringList numbers(int count, qint64 first = 13800000000)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << QString::number(first + i);
    return out;
}

} // namespace SimTest
