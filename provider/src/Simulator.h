#pragma once
#include "HttpServer.h"
#include "SimConfig.h"

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <random>

namespace Sim {

// Switches that make the gateway misbehave on purpose.
struct Faults {
    QHash<quint32, int> delayMs; // request Command_ID -> delay of its answer
    QSet<quint32> drop;          // request Command_IDs whose answers are never sent
    int closeAfterPackets = 0;   // a connection closes on receiving its Nth packet (0: off)
    bool ignoreEnquireLink = false;
    QJsonObject toJson() const;
    // Unknown keys and bad values are refused, so a typo never leaves a test running unfaulted.
    static std::optional<Faults> fromJson(const QJsonObject &o, QString *error);
};

// The provider: gateway on every configured port, web pages, admin requests, state file.
// Lives on one thread; everything it does runs on that thread's event loop.
class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(Config config, QObject *parent = nullptr);
    ~Simulator() override;

    bool start(QString *error);
    void stop(); // closes every connection and writes the state file
    QList<quint16> gatewayPorts() const;
    quint16 webPort() const { return m_web ? m_web->port() : 0; }

    // Admin operations (also reachable over HTTP under /admin/ from loopback).
    bool injectDeliver(const QString &login, const QString &src, const QString &content, QString *error,
                       const QString &dest = QString());
    bool setBalance(const QString &login, qint64 balance);
    void setFaults(const Faults &faults) { m_faults = faults; }
    Faults faults() const { return m_faults; }
    int closeConnections(const QString &login); // empty: all; returns how many
    int sendMalformed(const QString &login, const QString &kind, QString *error);
    int sendEnquireLink(const QString &login);
    QJsonObject accountsJson() const;
    QJsonArray submitsJson(const QString &login) const;
    QJsonArray deliversJson(const QString &login) const;
    QJsonArray gatewayMessagesJson(const QString &login) const;
    QJsonObject statsJson() const;
    bool saveState(QString *error = nullptr);

    HttpServer::Response handleHttp(const HttpServer::Request &request);

private:
    struct Account {
        QString login, customerNo, userName, spNumber;
        QByteArray passwordHash; // lower-case MD5Hex16 of the password
        qint64 balance = 0;
        int segLenMobile = 70, segLenSpare = 70, segLenOther = 60;
        QString replyForward, replyText;
    };
    struct Card {
        QString password;
        qint64 points = 0;
        QString usedBy;
    };
    enum class Delivery : quint8 { Waiting, Pending, Sent, Acked };
    struct Dest {
        QByteArray number;
        QByteArray stat;
        quint32 errorCode = 0;
        Delivery state = Delivery::Waiting;
    };
    struct SubmitRec {
        quint64 msgId = 0;
        QString login;
        quint32 sequence = 0;
        QString content;
        int msgClass = 0;
        QString partMarker, scheduleTime, validTime, reserve;
        qint64 submitMs = 0, dueMs = 0;
        std::vector<Dest> dests;
        int acked = 0;
    };
    struct DeliverRec {
        quint64 id = 0;
        QString login;
        QByteArray src, dest, content, reserve; // GBK
        QString origin;                         // "admin", "reply"
        qint64 dueMs = 0;
        Delivery state = Delivery::Waiting;
        bool forwarded = false; // reply setup applied; not again after a restart
    };
    struct GatewayMessage {
        qint64 timeMs = 0;
        QString login, kind, to, content;
    };
    // One Report (msgId, index) or one Deliver (id, index -1) waiting to go out.
    struct Item {
        quint64 id = 0;
        int index = -1;
    };
    struct Connection {
        QTcpSocket *socket = nullptr;
        QByteArray in;
        QString login; // empty until a login succeeds
        quint32 nextSequence = 1;
        int packetsIn = 0;
        QHash<quint32, Item> unacked;
        std::deque<std::pair<qint64, quint32>> sentOrder;
        QTimer *linkTimer = nullptr;
        quint32 linkSequence = 0;
        bool linkAwaited = false;
        int linkMissed = 0;
        bool closing = false;
    };

    void onNewConnection(QTcpServer *server);
    void onReadyRead(Connection *c);
    void onDisconnected(Connection *c);
    void handlePacket(Connection *c, QByteArrayView packet);
    void answer(Connection *c, quint32 requestCommand, QByteArray bytes);
    void write(Connection *c, const QByteArray &bytes);
    void closeConnection(Connection *c);

    void onLogin(Connection *c, QByteArrayView p, quint32 seq);
    void onSubmit(Connection *c, QByteArrayView p, quint32 seq);
    void onChangePassword(Connection *c, QByteArrayView p);
    void onAddPoint(Connection *c, QByteArrayView p);
    void onReplySetup(Connection *c, QByteArrayView p);
    void onAck(Connection *c, quint32 command, quint32 seq);
    void onLinkTimer(Connection *c);
    Account *sessionAccount(Connection *c, QByteArrayView customerNo, quint32 command, quint32 seq);

    void sendFilterWords(Connection *c);
    quint64 addDeliver(const QString &login, QByteArray src, QByteArray dest, QByteArray content,
                       const QString &origin, qint64 dueMs);
    void schedule(qint64 dueMs, quint64 id, bool isDeliver);
    void armScheduler();
    void runScheduler();
    void enqueue(const QString &login, Item item, bool front = false);
    void flush(const QString &login);
    void requeueUnacked(Connection *c);
    void checkAckTimeouts();
    // The item waits to be sent again; false when its record is gone.
    bool markPending(const Item &item);
    void forget(quint64 msgId);
    void markDirty();
    bool loadState(QString *error);
    Connection *sessionFor(const QString &login) const;
    Account *accountByLogin(const QString &login);

    HttpServer::Response handleAdmin(const HttpServer::Request &request);
    HttpServer::Response handleSignUp(const HttpServer::Request &request);

    Config m_config;
    Faults m_faults;
    QList<QTcpServer *> m_servers;
    std::unique_ptr<HttpServer> m_web;
    std::vector<std::unique_ptr<Connection>> m_connections;

    QHash<QString, Account> m_accounts; // by login
    QHash<QString, Card> m_cards;       // by card number
    std::map<quint64, SubmitRec> m_submits;
    std::deque<quint64> m_finished; // submits with every report acknowledged, oldest first
    std::map<quint64, DeliverRec> m_delivers;
    std::deque<GatewayMessage> m_gatewayMessages;
    QHash<QString, std::deque<Item>> m_mailbox;                 // by login
    std::multimap<qint64, std::pair<quint64, bool>> m_schedule; // due -> (id, is deliver)
    quint64 m_nextMsgId = 0;
    quint64 m_nextDeliverId = 1;
    qint64 m_nextCustomerNo = 20001;

    QTimer m_scheduleTimer;
    QTimer m_saveTimer;
    QTimer m_ackTimer;
    std::mt19937_64 m_random;
    struct Stats {
        qint64 connections = 0, logins = 0, loginFailures = 0, submitsAccepted = 0, submitsRejected = 0,
               numbersAccepted = 0, reportsSent = 0, reportsAcked = 0, deliversSent = 0, deliversAcked = 0,
               unexpectedAcks = 0, ackTimeouts = 0, unknownCommands = 0, malformedStreams = 0,
               enquireLinksAnswered = 0;
    } m_stats;
    bool m_dirty = false;
};

} // namespace Sim
