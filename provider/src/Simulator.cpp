#include "Simulator.h"

#include "GatewayWire.h"
#include "common/GbkCodec.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace Sim {

using namespace Wire;

namespace {
// Reports and Delivers in flight per connection before the gateway waits for acknowledgements.
constexpr int MaxUnacked = 2048;
constexpr size_t KeepDelivers = 1000;
constexpr size_t KeepGatewayMessages = 1000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QByteArray gbk(const QString &text)
{
    return Gbk::encodeLossy(text);
}

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

const char *deliveryName(int state)
{
    static const char *names[] = {"waiting", "pending", "sent", "acked"};
    return names[state & 3];
}

int deliveryFromName(const QString &name)
{
    for (int i = 0; i < 4; ++i)
        if (name == QLatin1String(deliveryName(i)))
            return i;
    return 0;
}

bool validNumber(QByteArrayView number)
{
    if (number.size() < 3 || number.size() > 20)
        return false;
    for (char c : number)
        if (c < '0' || c > '9')
            return false;
    return true;
}

const QHash<QString, quint32> &commandNames()
{
    static const QHash<QString, quint32> names{
        {QStringLiteral("Login"), Login},
        {QStringLiteral("Logout"), Logout},
        {QStringLiteral("Submit"), Submit},
        {QStringLiteral("EnquireLink"), EnquireLink},
        {QStringLiteral("ChangePassword"), ChangePassword},
        {QStringLiteral("Affiche"), Affiche},
        {QStringLiteral("ReplySetup"), ReplySetup},
        {QStringLiteral("AddPoint"), AddPoint},
    };
    return names;
}

QString commandName(quint32 id)
{
    return commandNames().key(id, QString::number(id));
}

std::optional<quint32> commandFromJson(const QJsonValue &v)
{
    if (v.isDouble())
        return quint32(v.toInteger());
    const auto it = commandNames().find(v.toString());
    if (it == commandNames().end())
        return std::nullopt;
    return it.value();
}
} // namespace

// ---- Faults ----------------------------------------------------------------------------

QJsonObject Faults::toJson() const
{
    QJsonObject delays;
    for (auto it = delayMs.begin(); it != delayMs.end(); ++it)
        delays.insert(commandName(it.key()), it.value());
    QJsonArray dropped;
    for (quint32 id : drop)
        dropped.append(commandName(id));
    return {{QStringLiteral("delayMs"), delays},
            {QStringLiteral("drop"), dropped},
            {QStringLiteral("closeAfterPackets"), closeAfterPackets},
            {QStringLiteral("ignoreEnquireLink"), ignoreEnquireLink}};
}

std::optional<Faults> Faults::fromJson(const QJsonObject &o, QString *error)
{
    Faults f;
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString key = it.key();
        if (key == u"delayMs") {
            const QJsonObject delays = it.value().toObject();
            for (auto d = delays.begin(); d != delays.end(); ++d) {
                const auto id = commandFromJson(QJsonValue(d.key()));
                if (!id || !d.value().isDouble()) {
                    *error = QStringLiteral("delayMs: bad entry %1").arg(d.key());
                    return std::nullopt;
                }
                f.delayMs.insert(*id, d.value().toInt());
            }
        } else if (key == u"drop") {
            for (const QJsonValue &v : it.value().toArray()) {
                const auto id = commandFromJson(v);
                if (!id) {
                    *error = QStringLiteral("drop: unknown command %1").arg(v.toString());
                    return std::nullopt;
                }
                f.drop.insert(*id);
            }
        } else if (key == u"closeAfterPackets") {
            f.closeAfterPackets = it.value().toInt();
        } else if (key == u"ignoreEnquireLink") {
            f.ignoreEnquireLink = it.value().toBool();
        } else {
            *error = QStringLiteral("unknown fault %1").arg(key);
            return std::nullopt;
        }
    }
    return f;
}

// ---- Life --------------------------------------------------------------------------------

Simulator::Simulator(Config config, QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_scheduleTimer(this), m_saveTimer(this), m_ackTimer(this)
{
    m_random.seed(m_config.seed ? m_config.seed : std::random_device{}());
    m_scheduleTimer.setSingleShot(true);
    connect(&m_scheduleTimer, &QTimer::timeout, this, &Simulator::runScheduler);
    m_saveTimer.setSingleShot(true);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveState(); });
    connect(&m_ackTimer, &QTimer::timeout, this, &Simulator::checkAckTimeouts);
}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start(QString *error)
{
    for (const AccountSeed &s : m_config.accounts) {
        Account a;
        a.login = s.login;
        a.customerNo = s.customerNo;
        a.userName = s.userName;
        a.spNumber = s.spNumber;
        // Clients hash at most 32 characters of the password.
        a.passwordHash = md5Hex16Lower(gbk(s.password.left(32)));
        a.balance = s.balance;
        a.segLenMobile = s.segLenMobile;
        a.segLenSpare = s.segLenSpare;
        a.segLenOther = s.segLenOther;
        m_accounts.insert(a.login, a);
    }
    for (const CardSeed &c : m_config.cards)
        m_cards.insert(c.number, Card{c.password, c.points, QString()});
    if (!loadState(error))
        return false;
    m_nextMsgId = std::max<quint64>(m_nextMsgId, quint64(nowMs()) * 1000);

    for (quint16 port : m_config.gatewayPorts) {
        auto *server = new QTcpServer(this);
        if (!server->listen(m_config.listenAddress, port)) {
            *error = QStringLiteral("gateway port %1: %2").arg(port).arg(server->errorString());
            delete server;
            stop();
            return false;
        }
        connect(server, &QTcpServer::newConnection, this, [this, server] { onNewConnection(server); });
        m_servers << server;
    }
    m_web = std::make_unique<HttpServer>([this](const HttpServer::Request &r) { return handleHttp(r); });
    if (!m_web->listen(m_config.listenAddress, m_config.webPort, error)) {
        stop();
        return false;
    }
    m_ackTimer.start(std::clamp(m_config.ackTimeoutMs / 4, 5, 1000));
    armScheduler();
    return true;
}

void Simulator::stop()
{
    // Sockets are children of their server, so they go first.
    for (auto &c : m_connections) {
        requeueUnacked(c.get());
        c->socket->disconnect(this);
        c->socket->abort();
        delete c->socket;
    }
    m_connections.clear();
    for (QTcpServer *s : m_servers)
        s->close();
    qDeleteAll(m_servers);
    m_servers.clear();
    m_web.reset();
    m_scheduleTimer.stop();
    m_ackTimer.stop();
    if (m_dirty)
        saveState();
}

QList<quint16> Simulator::gatewayPorts() const
{
    QList<quint16> ports;
    for (QTcpServer *s : m_servers)
        ports << s->serverPort();
    return ports;
}

// ---- Connections ---------------------------------------------------------------------

void Simulator::onNewConnection(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        auto conn = std::make_unique<Connection>();
        Connection *c = conn.get();
        c->socket = socket;
        m_connections.push_back(std::move(conn));
        ++m_stats.connections;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, c] { onReadyRead(c); });
        connect(socket, &QTcpSocket::disconnected, this, [this, c] { onDisconnected(c); });
        if (m_config.enquireLinkIntervalMs > 0) {
            c->linkTimer = new QTimer(socket);
            connect(c->linkTimer, &QTimer::timeout, this, [this, c] { onLinkTimer(c); });
            c->linkTimer->start(m_config.enquireLinkIntervalMs);
        }
    }
}

void Simulator::onReadyRead(Connection *c)
{
    c->in += c->socket->readAll();
    qsizetype pos = 0;
    while (!c->closing && c->in.size() - pos >= HeaderLength) {
        const quint32 length = readU32(c->in.constData() + pos);
        if (length < quint32(HeaderLength) || length > MaxRequestLength) {
            // The stream cannot be resynchronised.
            ++m_stats.malformedStreams;
            closeConnection(c);
            break;
        }
        if (c->in.size() - pos < qsizetype(length))
            break;
        const QByteArrayView packet(c->in.constData() + pos, length);
        pos += length;
        ++c->packetsIn;
        if (m_faults.closeAfterPackets > 0 && c->packetsIn >= m_faults.closeAfterPackets) {
            closeConnection(c);
            break;
        }
        handlePacket(c, packet);
    }
    c->in.remove(0, pos);
}

void Simulator::onDisconnected(Connection *c)
{
    requeueUnacked(c);
    const QString login = c->login;
    c->login.clear();
    c->closing = true;
    c->socket->disconnect(this);
    // Disconnected may be emitted from inside this connection's own read handler, so the
    // connection goes away only once control is back in the event loop.
    QMetaObject::invokeMethod(
        this,
        [this, c, login] {
            auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                   [c](auto &p) { return p.get() == c; });
            if (it == m_connections.end())
                return;
            c->socket->deleteLater();
            m_connections.erase(it);
            if (!login.isEmpty())
                flush(login); // another session of the account takes over what was in flight
        },
        Qt::QueuedConnection);
}

void Simulator::closeConnection(Connection *c)
{
    if (c->closing)
        return;
    c->closing = true;
    requeueUnacked(c);
    const QString login = c->login;
    c->login.clear();
    if (c->linkTimer)
        c->linkTimer->stop();
    c->socket->disconnectFromHost();
    if (!login.isEmpty())
        flush(login); // another session of the account takes over what was in flight
}

void Simulator::write(Connection *c, const QByteArray &bytes)
{
    if (!c->closing && c->socket->state() == QAbstractSocket::ConnectedState)
        c->socket->write(bytes);
}

void Simulator::answer(Connection *c, quint32 requestCommand, QByteArray bytes)
{
    if (m_faults.drop.contains(requestCommand))
        return;
    const int delay = m_faults.delayMs.value(requestCommand, 0);
    if (delay <= 0) {
        write(c, bytes);
        return;
    }
    QPointer<QTcpSocket> socket = c->socket;
    QTimer::singleShot(delay, this, [this, socket, bytes] {
        if (!socket)
            return;
        for (auto &conn : m_connections)
            if (conn->socket == socket)
                write(conn.get(), bytes);
    });
}

void Simulator::handlePacket(Connection *c, QByteArrayView p)
{
    const Header h = readHeader(p.data());
    switch (h.command) {
    case Login:
        onLogin(c, p, h.sequence);
        break;
    case Logout: {
        answer(c, Logout, headerOnly(Resp | Logout, Status::Ok, h.sequence));
        const QString login = c->login;
        closeConnection(c);
        if (!login.isEmpty())
            flush(login);
        break;
    }
    case Submit:
        onSubmit(c, p, h.sequence);
        break;
    case EnquireLink:
        if (!m_faults.ignoreEnquireLink) {
            ++m_stats.enquireLinksAnswered;
            answer(c, EnquireLink, headerOnly(Resp | EnquireLink, Status::Ok, h.sequence));
        }
        break;
    case Resp | EnquireLink:
        if (c->linkAwaited && h.sequence == c->linkSequence) {
            c->linkAwaited = false;
            c->linkMissed = 0;
        } else {
            ++m_stats.unexpectedAcks;
        }
        break;
    case Resp | Deliver:
    case Resp | Report:
        onAck(c, h.command, h.sequence);
        break;
    case ChangePassword:
        onChangePassword(c, p);
        break;
    case Affiche:
        if (sessionAccount(c, {}, Affiche, h.sequence))
            answer(c, Affiche, afficheResponse(gbk(m_config.bulletin)));
        break;
    case ReplySetup:
        onReplySetup(c, p);
        break;
    case AddPoint:
        onAddPoint(c, p);
        break;
    default:
        ++m_stats.unknownCommands;
        qInfo("velaro-provider: ignored Command_ID 0x%x", h.command);
        break;
    }
}

// The account of the connection's session; answers the request with an error status and
// returns null when there is none or the customer number is not the session's.
Simulator::Account *Simulator::sessionAccount(Connection *c, QByteArrayView customerNo, quint32 command,
                                              quint32 seq)
{
    Account *a = c->login.isEmpty() ? nullptr : accountByLogin(c->login);
    quint32 status = Status::Ok;
    if (!a)
        status = Status::NotLoggedIn;
    else if (command != Affiche && customerNo != gbk(a->customerNo))
        status = Status::InvalidUser;
    if (status == Status::Ok)
        return a;
    answer(c, command, headerOnly(Resp | command, status, seq));
    return nullptr;
}

void Simulator::onLogin(Connection *c, QByteArrayView p, quint32 seq)
{
    auto fail = [&](quint32 status) {
        ++m_stats.loginFailures;
        answer(c, Login, headerOnly(Resp | Login, status, seq));
    };
    const auto req = parseLogin(p);
    if (!req)
        return fail(Status::BadFormat);
    const QByteArray name = req->loginName.trimmed();
    Account *a = accountByLogin(Gbk::decode(name));
    if (!a)
        return fail(Status::UnknownAccount);
    if (req->authenticator != authenticator(name, a->passwordHash))
        return fail(Status::WrongPassword);

    // A second Login on the same connection starts a new session.
    requeueUnacked(c);
    c->login = a->login;
    ++m_stats.logins;
    const QString login = a->login;
    QByteArray response =
        loginResponse(gbk(a->customerNo), gbk(a->userName), a->balance, quint8(a->segLenMobile),
                      quint8(a->segLenSpare), quint8(a->segLenOther));
    answer(c, Login, response);
    if (m_config.sendFilterAfterLogin)
        sendFilterWords(c);
    flush(login);
}

void Simulator::sendFilterWords(Connection *c)
{
    const QByteArray list = gbk(m_config.forbiddenWords.join(QLatin1Char('\t')));
    const qsizetype size = m_config.filterChunkBytes;
    const quint32 count = quint32(std::max<qsizetype>(1, (list.size() + size - 1) / size));
    QByteArray out;
    for (quint32 i = 0; i < count; ++i)
        out += filterResponse(i + 1, count, list.mid(qsizetype(i) * size, size));
    write(c, out);
}

void Simulator::onSubmit(Connection *c, QByteArrayView p, quint32 seq)
{
    auto reject = [&](quint32 status) {
        ++m_stats.submitsRejected;
        answer(c, Submit, headerOnly(Resp | Submit, status, seq));
    };
    if (c->login.isEmpty())
        return reject(Status::NotLoggedIn);
    const auto req = parseSubmit(p);
    if (!req)
        return reject(Status::BadFormat);
    Account *a = sessionAccount(c, req->customerNo, Submit, seq);
    if (!a) {
        ++m_stats.submitsRejected;
        return;
    }
    if (req->numbers.isEmpty())
        return reject(Status::BadDestination);
    if (req->numbers.size() > m_config.maxNumbersPerSubmit)
        return reject(Status::TooManyNumbers);
    for (const QByteArray &n : req->numbers)
        if (!validNumber(n))
            return reject(Status::BadDestination);
    const QString content = Gbk::decode(req->content);
    if (m_config.rejectForbiddenContent)
        for (const QString &word : m_config.forbiddenWords)
            if (!word.isEmpty() && content.contains(word, Qt::CaseInsensitive))
                return reject(Status::IllegalContent);
    const qint64 now = nowMs();
    qint64 startMs = now;
    if (!req->scheduleTime.isEmpty()) {
        const QDateTime t = parseGatewayTime(req->scheduleTime);
        if (!t.isValid())
            return reject(Status::BadScheduleTime);
        startMs = std::max(now, t.toMSecsSinceEpoch());
    }
    if (!req->validTime.isEmpty() && !parseGatewayTime(req->validTime).isValid())
        return reject(Status::BadValidTime);
    if (a->balance < req->numbers.size())
        return reject(Status::NoBalance);

    a->balance -= req->numbers.size();
    SubmitRec rec;
    rec.msgId = m_nextMsgId++;
    rec.login = a->login;
    rec.sequence = seq;
    rec.content = content;
    rec.msgClass = req->msgClass;
    if (req->partCount)
        rec.partMarker = QStringLiteral("%1/%2").arg(req->partIndex).arg(req->partCount);
    rec.scheduleTime = QString::fromLatin1(req->scheduleTime);
    rec.validTime = QString::fromLatin1(req->validTime);
    rec.reserve = Gbk::decode(req->reserve);
    rec.submitMs = now;
    rec.dueMs = startMs + m_config.reportDelayMs;
    rec.dests.reserve(req->numbers.size());
    std::uniform_real_distribution<double> share(0.0, 1.0);
    for (const QByteArray &number : req->numbers) {
        Dest d{number, "DELIVRD", 0, Delivery::Waiting};
        bool ruled = false;
        for (const FailRule &rule : m_config.failRules)
            if (rule.numbers.match(QString::fromLatin1(number)).hasMatch()) {
                d.stat = rule.stat;
                d.errorCode = rule.errorCode;
                ruled = true;
                break;
            }
        if (!ruled && m_config.reportFailShare > 0 && share(m_random) < m_config.reportFailShare) {
            d.stat = m_config.failStat;
            d.errorCode = m_config.failErrorCode;
        }
        if (d.stat == "DELIVRD" && m_config.replyShare > 0 && !m_config.replyTexts.isEmpty() &&
            share(m_random) < m_config.replyShare) {
            const QString text =
                m_config.replyTexts.at(int(m_random() % quint64(m_config.replyTexts.size())));
            QByteArray src = number;
            if (m_config.replyPrefix86 && number.size() == 11 && number.startsWith('1'))
                src.prepend("86");
            addDeliver(a->login, src, gbk(a->spNumber), gbk(text).left(160), QStringLiteral("reply"),
                       rec.dueMs + m_config.replyDelayMs);
        }
        rec.dests.push_back(std::move(d));
    }
    const quint64 msgId = rec.msgId;
    const qint64 due = rec.dueMs;
    ++m_stats.submitsAccepted;
    m_stats.numbersAccepted += qint64(rec.dests.size());
    m_submits.emplace(msgId, std::move(rec));
    answer(c, Submit, submitResponse(seq, msgId, a->balance));
    schedule(due, msgId, false);
    markDirty();
}

void Simulator::onChangePassword(Connection *c, QByteArrayView p)
{
    const quint32 seq = readU32(p.data() + 12);
    const auto req = parseChangePassword(p);
    if (!req) {
        answer(c, ChangePassword, headerOnly(Resp | ChangePassword, Status::BadFormat, seq));
        return;
    }
    Account *a = sessionAccount(c, req->customerNo, ChangePassword, seq);
    if (!a)
        return;
    const QByteArray hash = req->passwordHash.toLower();
    static const QRegularExpression hex16(QStringLiteral("^[0-9a-f]{16}$"));
    if (!hex16.match(QString::fromLatin1(hash)).hasMatch()) {
        answer(c, ChangePassword, headerOnly(Resp | ChangePassword, Status::BadFormat, seq));
        return;
    }
    a->passwordHash = hash;
    markDirty();
    answer(c, ChangePassword, headerOnly(Resp | ChangePassword, Status::Ok, seq));
}

void Simulator::onAddPoint(Connection *c, QByteArrayView p)
{
    const quint32 seq = readU32(p.data() + 12);
    const auto req = parseAddPoint(p);
    if (!req) {
        answer(c, AddPoint, headerOnly(Resp | AddPoint, Status::BadFormat, seq));
        return;
    }
    Account *a = sessionAccount(c, req->customerNo, AddPoint, seq);
    if (!a)
        return;
    auto card = m_cards.find(Gbk::decode(req->cardNo));
    quint32 status = Status::Ok;
    if (card == m_cards.end() || !card->usedBy.isEmpty())
        status = Status::CardNumberInvalid; // a used card is no longer a valid card
    else if (card->password != Gbk::decode(req->cardPassword))
        status = Status::CardPasswordInvalid;
    if (status != Status::Ok) {
        answer(c, AddPoint, headerOnly(Resp | AddPoint, status, seq));
        return;
    }
    card->usedBy = a->login;
    a->balance += card->points;
    markDirty();
    answer(c, AddPoint, addPointResponse(quint32(std::clamp<qint64>(a->balance, 0, 0xFFFFFFFF))));
}

void Simulator::onReplySetup(Connection *c, QByteArrayView p)
{
    const quint32 seq = readU32(p.data() + 12);
    const auto req = parseReplySetup(p);
    if (!req) {
        answer(c, ReplySetup, headerOnly(Resp | ReplySetup, Status::BadFormat, seq));
        return;
    }
    Account *a = sessionAccount(c, req->customerNo, ReplySetup, seq);
    if (!a)
        return;
    a->replyForward = Gbk::decode(req->forwardTo).trimmed();
    a->replyText = Gbk::decode(req->replyText);
    markDirty();
    answer(c, ReplySetup, headerOnly(Resp | ReplySetup, Status::Ok, seq));
}

void Simulator::onLinkTimer(Connection *c)
{
    if (c->closing)
        return;
    if (c->linkAwaited && ++c->linkMissed >= m_config.enquireLinkMaxMissed) {
        closeConnection(c); // the peer is gone as far as the gateway can tell
        return;
    }
    c->linkSequence = c->nextSequence++;
    c->linkAwaited = true;
    write(c, headerOnly(EnquireLink, Status::Ok, c->linkSequence));
}

// ---- Reports and Delivers --------------------------------------------------------------

quint64 Simulator::addDeliver(const QString &login, QByteArray src, QByteArray dest, QByteArray content,
                              const QString &origin, qint64 dueMs)
{
    DeliverRec d;
    d.id = m_nextDeliverId++;
    d.login = login;
    d.src = std::move(src);
    d.dest = std::move(dest);
    d.content = std::move(content);
    d.origin = origin;
    d.dueMs = dueMs;
    d.reserve = QByteArray(8, '\0');
    const quint64 id = d.id;
    m_delivers.emplace(id, std::move(d));
    while (m_delivers.size() > KeepDelivers && m_delivers.begin()->second.state == Delivery::Acked)
        m_delivers.erase(m_delivers.begin());
    schedule(dueMs, id, true);
    markDirty();
    return id;
}

void Simulator::schedule(qint64 dueMs, quint64 id, bool isDeliver)
{
    const bool earliest = m_schedule.empty() || dueMs < m_schedule.begin()->first;
    m_schedule.emplace(dueMs, std::make_pair(id, isDeliver));
    if (earliest)
        armScheduler();
}

void Simulator::armScheduler()
{
    if (m_schedule.empty()) {
        m_scheduleTimer.stop();
        return;
    }
    const qint64 wait = m_schedule.begin()->first - nowMs();
    m_scheduleTimer.start(int(std::clamp<qint64>(wait, 0, 24 * 3600 * 1000)));
}

void Simulator::runScheduler()
{
    const qint64 now = nowMs();
    QSet<QString> touched;
    while (!m_schedule.empty() && m_schedule.begin()->first <= now) {
        const auto [id, isDeliver] = m_schedule.begin()->second;
        m_schedule.erase(m_schedule.begin());
        if (isDeliver) {
            auto it = m_delivers.find(id);
            if (it == m_delivers.end() || it->second.state != Delivery::Waiting)
                continue;
            DeliverRec &d = it->second;
            d.state = Delivery::Pending;
            enqueue(d.login, {id, -1});
            touched.insert(d.login);
            // What a gateway does for an account with forwarding and automatic reply set.
            const Account *a = d.forwarded ? nullptr : accountByLogin(d.login);
            d.forwarded = true;
            if (a) {
                const QString content = Gbk::decode(d.content);
                QString sender = QString::fromLatin1(d.src);
                if (sender.size() == 13 && sender.startsWith(QLatin1String("86")))
                    sender = sender.mid(2);
                if (!a->replyForward.isEmpty())
                    m_gatewayMessages.push_back({now, a->login, QStringLiteral("forward"), a->replyForward,
                                                 sender + QStringLiteral(": ") + content});
                if (!a->replyText.isEmpty())
                    m_gatewayMessages.push_back(
                        {now, a->login, QStringLiteral("autoReply"), sender, a->replyText});
                while (m_gatewayMessages.size() > KeepGatewayMessages)
                    m_gatewayMessages.pop_front();
            }
        } else {
            auto it = m_submits.find(id);
            if (it == m_submits.end())
                continue;
            SubmitRec &rec = it->second;
            for (int i = 0; i < int(rec.dests.size()); ++i)
                if (rec.dests[i].state == Delivery::Waiting) {
                    rec.dests[i].state = Delivery::Pending;
                    enqueue(rec.login, {id, i});
                }
            touched.insert(rec.login);
        }
    }
    for (const QString &login : touched)
        flush(login);
    armScheduler();
}

void Simulator::enqueue(const QString &login, Item item, bool front)
{
    auto &box = m_mailbox[login];
    if (front)
        box.push_front(item);
    else
        box.push_back(item);
}

Simulator::Connection *Simulator::sessionFor(const QString &login) const
{
    for (auto it = m_connections.rbegin(); it != m_connections.rend(); ++it)
        if (!(*it)->closing && (*it)->login == login)
            return it->get();
    return nullptr;
}

void Simulator::flush(const QString &login)
{
    auto boxIt = m_mailbox.find(login);
    if (boxIt == m_mailbox.end() || boxIt->empty())
        return;
    Connection *c = sessionFor(login);
    if (!c)
        return;
    const Account *a = accountByLogin(login);
    const QByteArray spNumber = a ? gbk(a->spNumber) : QByteArray();
    const qint64 now = nowMs();
    const QByteArray doneTime =
        QDateTime::fromMSecsSinceEpoch(now).toString(QStringLiteral("yyMMddHHmm")).toLatin1();
    std::deque<Item> &box = *boxIt;
    QByteArray out;
    SubmitRec *rec = nullptr;
    QByteArray submitTime;
    while (!box.empty() && c->unacked.size() < MaxUnacked) {
        const Item item = box.front();
        box.pop_front();
        const quint32 seq = c->nextSequence;
        if (item.index >= 0) {
            if (!rec || rec->msgId != item.id) {
                auto it = m_submits.find(item.id);
                rec = it == m_submits.end() ? nullptr : &it->second;
                if (!rec)
                    continue;
                submitTime = QDateTime::fromMSecsSinceEpoch(rec->submitMs)
                                 .toString(QStringLiteral("yyMMddHHmm"))
                                 .toLatin1();
            }
            Dest &d = rec->dests[size_t(item.index)];
            if (d.state != Delivery::Pending)
                continue;
            appendReport(out, seq, rec->msgId, d.number, spNumber, d.stat, submitTime, doneTime, d.errorCode);
            d.state = Delivery::Sent;
            ++m_stats.reportsSent;
        } else {
            auto it = m_delivers.find(item.id);
            if (it == m_delivers.end() || it->second.state != Delivery::Pending)
                continue;
            DeliverRec &d = it->second;
            out += deliver(seq, d.src, d.dest, d.content, d.reserve);
            d.state = Delivery::Sent;
            ++m_stats.deliversSent;
        }
        ++c->nextSequence;
        c->unacked.insert(seq, item);
        c->sentOrder.emplace_back(now, seq);
    }
    if (!out.isEmpty())
        write(c, out);
}

void Simulator::onAck(Connection *c, quint32 command, quint32 seq)
{
    auto it = c->unacked.find(seq);
    if (it == c->unacked.end() || (command == (Resp | Report)) != (it->index >= 0)) {
        ++m_stats.unexpectedAcks;
        qInfo("velaro-provider: unexpected acknowledgement 0x%x for sequence %u", command, seq);
        return;
    }
    const Item item = *it;
    c->unacked.erase(it);
    while (!c->sentOrder.empty() && !c->unacked.contains(c->sentOrder.front().second))
        c->sentOrder.pop_front();
    if (item.index >= 0) {
        auto rit = m_submits.find(item.id);
        if (rit != m_submits.end()) {
            SubmitRec &rec = rit->second;
            Dest &d = rec.dests[size_t(item.index)];
            if (d.state == Delivery::Sent) {
                d.state = Delivery::Acked;
                ++m_stats.reportsAcked;
                if (++rec.acked == int(rec.dests.size())) {
                    m_finished.push_back(rec.msgId);
                    while (m_finished.size() > size_t(std::max(0, m_config.keepSubmits))) {
                        m_submits.erase(m_finished.front());
                        m_finished.pop_front();
                    }
                }
            }
        }
    } else {
        auto dit = m_delivers.find(item.id);
        if (dit != m_delivers.end() && dit->second.state == Delivery::Sent) {
            dit->second.state = Delivery::Acked;
            ++m_stats.deliversAcked;
        }
    }
    markDirty();
    if (!c->login.isEmpty())
        flush(c->login);
}

// What was in flight on a connection goes back to the front of the account's queue.
void Simulator::requeueUnacked(Connection *c)
{
    if (c->unacked.isEmpty() || c->login.isEmpty()) {
        c->unacked.clear();
        c->sentOrder.clear();
        return;
    }
    for (auto it = c->sentOrder.rbegin(); it != c->sentOrder.rend(); ++it) {
        auto u = c->unacked.find(it->second);
        if (u == c->unacked.end())
            continue;
        const Item item = *u;
        c->unacked.erase(u);
        if (markPending(item))
            enqueue(c->login, item, true);
    }
    c->unacked.clear();
    c->sentOrder.clear();
}

bool Simulator::markPending(const Item &item)
{
    if (item.index >= 0) {
        auto rit = m_submits.find(item.id);
        if (rit == m_submits.end())
            return false;
        rit->second.dests[size_t(item.index)].state = Delivery::Pending;
        return true;
    }
    auto dit = m_delivers.find(item.id);
    if (dit == m_delivers.end())
        return false;
    dit->second.state = Delivery::Pending;
    return true;
}

void Simulator::checkAckTimeouts()
{
    const qint64 limit = nowMs() - m_config.ackTimeoutMs;
    for (auto &conn : m_connections) {
        Connection *c = conn.get();
        std::vector<quint32> expired;
        while (!c->sentOrder.empty() && c->sentOrder.front().first <= limit) {
            if (c->unacked.contains(c->sentOrder.front().second))
                expired.push_back(c->sentOrder.front().second);
            c->sentOrder.pop_front();
        }
        if (expired.empty() || c->login.isEmpty())
            continue;
        m_stats.ackTimeouts += qint64(expired.size());
        // Sent again, oldest first, ahead of anything newer.
        for (auto it = expired.rbegin(); it != expired.rend(); ++it) {
            const Item item = c->unacked.take(*it);
            if (markPending(item))
                enqueue(c->login, item, true);
        }
        flush(c->login);
    }
}

// ---- Admin operations --------------------------------------------------------------------

Simulator::Account *Simulator::accountByLogin(const QString &login)
{
    auto it = m_accounts.find(login);
    return it == m_accounts.end() ? nullptr : &it.value();
}

bool Simulator::injectDeliver(const QString &login, const QString &src, const QString &content,
                              QString *error, const QString &dest)
{
    const Account *a = accountByLogin(login);
    if (!a) {
        *error = QStringLiteral("no account %1").arg(login);
        return false;
    }
    const QByteArray srcBytes = src.toLatin1();
    if (src.isEmpty() || srcBytes.size() > 20 || QString::fromLatin1(srcBytes) != src) {
        *error = QStringLiteral("src must be 1 to 20 ASCII characters");
        return false;
    }
    const auto bytes = Gbk::encode(content);
    if (!bytes || bytes->size() > 160 || bytes->contains('\0')) {
        *error = QStringLiteral("content must be GBK text of at most 160 bytes");
        return false;
    }
    const QByteArray destBytes = gbk(dest.isEmpty() ? a->spNumber : dest).left(20);
    addDeliver(login, srcBytes, destBytes, *bytes, QStringLiteral("admin"), nowMs());
    return true;
}

bool Simulator::setBalance(const QString &login, qint64 balance)
{
    Account *a = accountByLogin(login);
    if (!a)
        return false;
    a->balance = balance;
    markDirty();
    return true;
}

int Simulator::closeConnections(const QString &login)
{
    int n = 0;
    for (auto &c : m_connections)
        if (!c->closing && (login.isEmpty() || c->login == login)) {
            closeConnection(c.get());
            ++n;
        }
    return n;
}

int Simulator::sendMalformed(const QString &login, const QString &kind, QString *error)
{
    QByteArray bytes;
    if (kind == u"shortLength") {
        bytes = headerOnly(Resp | Submit, 0, 0);
        writeU32(bytes.data(), 8);
    } else if (kind == u"hugeLength") {
        bytes = headerOnly(Resp | Submit, 0, 0);
        writeU32(bytes.data(), 0x7FFFFFFF);
    } else if (kind == u"unknownCommand") {
        bytes = headerOnly(0x77, 0, 0);
        bytes += QByteArray(8, 'x');
        writeU32(bytes.data(), quint32(bytes.size()));
    } else if (kind == u"emptyDeliver") {
        bytes = headerOnly(Deliver, 0, 0);
    } else {
        *error = QStringLiteral("kind must be shortLength, hugeLength, unknownCommand or emptyDeliver");
        return -1;
    }
    int n = 0;
    for (auto &c : m_connections)
        if (!c->closing && (login.isEmpty() || c->login == login)) {
            write(c.get(), bytes);
            ++n;
        }
    return n;
}

int Simulator::sendEnquireLink(const QString &login)
{
    int n = 0;
    for (auto &c : m_connections)
        if (!c->closing && (login.isEmpty() || c->login == login)) {
            c->linkSequence = c->nextSequence++;
            c->linkAwaited = true;
            write(c.get(), headerOnly(EnquireLink, Status::Ok, c->linkSequence));
            ++n;
        }
    return n;
}

QJsonObject Simulator::accountsJson() const
{
    QJsonObject out;
    for (const Account &a : m_accounts) {
        int sessions = 0;
        for (auto &c : m_connections)
            sessions += !c->closing && c->login == a.login;
        out.insert(a.login,
                   QJsonObject{{QStringLiteral("customerNo"), a.customerNo},
                               {QStringLiteral("userName"), a.userName},
                               {QStringLiteral("spNumber"), a.spNumber},
                               {QStringLiteral("balance"), a.balance},
                               {QStringLiteral("replyForward"), a.replyForward},
                               {QStringLiteral("replyText"), a.replyText},
                               {QStringLiteral("sessions"), sessions},
                               {QStringLiteral("waiting"), qint64(m_mailbox.value(a.login).size())}});
    }
    return out;
}

QJsonArray Simulator::submitsJson(const QString &login) const
{
    QJsonArray out;
    for (const auto &[id, rec] : m_submits) {
        if (!login.isEmpty() && rec.login != login)
            continue;
        QJsonArray dests;
        for (const Dest &d : rec.dests)
            dests.append(QJsonObject{{QStringLiteral("number"), QString::fromLatin1(d.number)},
                                     {QStringLiteral("stat"), QString::fromLatin1(d.stat)},
                                     {QStringLiteral("errorCode"), qint64(d.errorCode)},
                                     {QStringLiteral("report"), QLatin1String(deliveryName(int(d.state)))}});
        out.append(QJsonObject{{QStringLiteral("msgId"), QString::number(rec.msgId)},
                               {QStringLiteral("account"), rec.login},
                               {QStringLiteral("sequence"), qint64(rec.sequence)},
                               {QStringLiteral("content"), rec.content},
                               {QStringLiteral("msgClass"), rec.msgClass},
                               {QStringLiteral("partMarker"), rec.partMarker},
                               {QStringLiteral("scheduleTime"), rec.scheduleTime},
                               {QStringLiteral("validTime"), rec.validTime},
                               {QStringLiteral("reserve"), rec.reserve},
                               {QStringLiteral("submitted"), timeText(rec.submitMs)},
                               {QStringLiteral("reportDue"), timeText(rec.dueMs)},
                               {QStringLiteral("numbers"), dests}});
    }
    return out;
}

QJsonArray Simulator::deliversJson(const QString &login) const
{
    QJsonArray out;
    for (const auto &[id, d] : m_delivers) {
        if (!login.isEmpty() && d.login != login)
            continue;
        out.append(QJsonObject{{QStringLiteral("id"), qint64(id)},
                               {QStringLiteral("account"), d.login},
                               {QStringLiteral("src"), QString::fromLatin1(d.src)},
                               {QStringLiteral("dest"), Gbk::decode(d.dest)},
                               {QStringLiteral("content"), Gbk::decode(d.content)},
                               {QStringLiteral("origin"), d.origin},
                               {QStringLiteral("due"), timeText(d.dueMs)},
                               {QStringLiteral("state"), QLatin1String(deliveryName(int(d.state)))}});
    }
    return out;
}

QJsonArray Simulator::gatewayMessagesJson(const QString &login) const
{
    QJsonArray out;
    for (const GatewayMessage &m : m_gatewayMessages)
        if (login.isEmpty() || m.login == login)
            out.append(QJsonObject{{QStringLiteral("time"), timeText(m.timeMs)},
                                   {QStringLiteral("account"), m.login},
                                   {QStringLiteral("kind"), m.kind},
                                   {QStringLiteral("to"), m.to},
                                   {QStringLiteral("content"), m.content}});
    return out;
}

QJsonObject Simulator::statsJson() const
{
    const Stats &s = m_stats;
    return {{QStringLiteral("connections"), s.connections},
            {QStringLiteral("openConnections"), qint64(m_connections.size())},
            {QStringLiteral("logins"), s.logins},
            {QStringLiteral("loginFailures"), s.loginFailures},
            {QStringLiteral("submitsAccepted"), s.submitsAccepted},
            {QStringLiteral("submitsRejected"), s.submitsRejected},
            {QStringLiteral("numbersAccepted"), s.numbersAccepted},
            {QStringLiteral("reportsSent"), s.reportsSent},
            {QStringLiteral("reportsAcked"), s.reportsAcked},
            {QStringLiteral("deliversSent"), s.deliversSent},
            {QStringLiteral("deliversAcked"), s.deliversAcked},
            {QStringLiteral("unexpectedAcks"), s.unexpectedAcks},
            {QStringLiteral("ackTimeouts"), s.ackTimeouts},
            {QStringLiteral("unknownCommands"), s.unknownCommands},
            {QStringLiteral("malformedStreams"), s.malformedStreams},
            {QStringLiteral("enquireLinksAnswered"), s.enquireLinksAnswered}};
}

// ---- State file ----------------------------------------------------------------------

void Simulator::markDirty()
{
    m_dirty = true;
    if (!m_config.stateFile.isEmpty() && !m_saveTimer.isActive())
        m_saveTimer.start(m_config.saveDelayMs);
}

bool Simulator::saveState(QString *error)
{
    m_dirty = false;
    if (m_config.stateFile.isEmpty())
        return true;
    QJsonArray accounts;
    for (const Account &a : m_accounts)
        accounts.append(QJsonObject{{QStringLiteral("login"), a.login},
                                    {QStringLiteral("customerNo"), a.customerNo},
                                    {QStringLiteral("userName"), a.userName},
                                    {QStringLiteral("spNumber"), a.spNumber},
                                    {QStringLiteral("passwordHash"), QString::fromLatin1(a.passwordHash)},
                                    {QStringLiteral("balance"), a.balance},
                                    {QStringLiteral("segLenMobile"), a.segLenMobile},
                                    {QStringLiteral("segLenSpare"), a.segLenSpare},
                                    {QStringLiteral("segLenOther"), a.segLenOther},
                                    {QStringLiteral("replyForward"), a.replyForward},
                                    {QStringLiteral("replyText"), a.replyText}});
    QJsonArray cards;
    for (auto it = m_cards.begin(); it != m_cards.end(); ++it)
        cards.append(QJsonObject{{QStringLiteral("number"), it.key()},
                                 {QStringLiteral("password"), it->password},
                                 {QStringLiteral("points"), it->points},
                                 {QStringLiteral("usedBy"), it->usedBy}});
    QJsonArray submits;
    for (const auto &[id, rec] : m_submits) {
        QJsonArray dests;
        for (const Dest &d : rec.dests)
            dests.append(QJsonArray{QString::fromLatin1(d.number), QString::fromLatin1(d.stat),
                                    qint64(d.errorCode), QLatin1String(deliveryName(int(d.state)))});
        submits.append(QJsonObject{{QStringLiteral("msgId"), QString::number(id)},
                                   {QStringLiteral("login"), rec.login},
                                   {QStringLiteral("sequence"), qint64(rec.sequence)},
                                   {QStringLiteral("content"), rec.content},
                                   {QStringLiteral("msgClass"), rec.msgClass},
                                   {QStringLiteral("partMarker"), rec.partMarker},
                                   {QStringLiteral("scheduleTime"), rec.scheduleTime},
                                   {QStringLiteral("validTime"), rec.validTime},
                                   {QStringLiteral("reserve"), rec.reserve},
                                   {QStringLiteral("submitMs"), rec.submitMs},
                                   {QStringLiteral("dueMs"), rec.dueMs},
                                   {QStringLiteral("dests"), dests}});
    }
    QJsonArray delivers;
    for (const auto &[id, d] : m_delivers)
        delivers.append(QJsonObject{{QStringLiteral("id"), qint64(id)},
                                    {QStringLiteral("login"), d.login},
                                    {QStringLiteral("src"), QString::fromLatin1(d.src)},
                                    {QStringLiteral("dest"), Gbk::decode(d.dest)},
                                    {QStringLiteral("content"), Gbk::decode(d.content)},
                                    {QStringLiteral("origin"), d.origin},
                                    {QStringLiteral("dueMs"), d.dueMs},
                                    {QStringLiteral("forwarded"), d.forwarded},
                                    {QStringLiteral("state"), QLatin1String(deliveryName(int(d.state)))}});
    QJsonObject root{{QStringLiteral("nextMsgId"), QString::number(m_nextMsgId)},
                     {QStringLiteral("nextDeliverId"), qint64(m_nextDeliverId)},
                     {QStringLiteral("nextCustomerNo"), m_nextCustomerNo},
                     {QStringLiteral("accounts"), accounts},
                     {QStringLiteral("cards"), cards},
                     {QStringLiteral("submits"), submits},
                     {QStringLiteral("delivers"), delivers},
                     {QStringLiteral("gatewayMessages"), gatewayMessagesJson(QString())}};
    QDir().mkpath(QFileInfo(m_config.stateFile).absolutePath());
    QSaveFile file(m_config.stateFile);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
        const QString why = QStringLiteral("cannot write %1: %2").arg(m_config.stateFile, file.errorString());
        qWarning("velaro-provider: %s", qPrintable(why));
        if (error)
            *error = why;
        return false;
    }
    return true;
}

bool Simulator::loadState(QString *error)
{
    if (m_config.stateFile.isEmpty() || !QFile::exists(m_config.stateFile))
        return true;
    QFile file(m_config.stateFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(m_config.stateFile, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        *error =
            QStringLiteral("%1 is not a state file: %2").arg(m_config.stateFile, parseError.errorString());
        return false;
    }
    const QJsonObject root = doc.object();
    m_nextMsgId = root.value(u"nextMsgId").toString().toULongLong();
    m_nextDeliverId = std::max<quint64>(1, quint64(root.value(u"nextDeliverId").toInteger(1)));
    m_nextCustomerNo = root.value(u"nextCustomerNo").toInteger(m_nextCustomerNo);
    // Accounts and cards in the state file win over the config; new ones in the config are added.
    for (const QJsonValue &v : root.value(u"accounts").toArray()) {
        const QJsonObject o = v.toObject();
        Account a;
        a.login = o.value(u"login").toString();
        a.customerNo = o.value(u"customerNo").toString();
        a.userName = o.value(u"userName").toString();
        a.spNumber = o.value(u"spNumber").toString();
        a.passwordHash = o.value(u"passwordHash").toString().toLatin1();
        a.balance = o.value(u"balance").toInteger();
        a.segLenMobile = o.value(u"segLenMobile").toInt(70);
        a.segLenSpare = o.value(u"segLenSpare").toInt(70);
        a.segLenOther = o.value(u"segLenOther").toInt(60);
        a.replyForward = o.value(u"replyForward").toString();
        a.replyText = o.value(u"replyText").toString();
        if (!a.login.isEmpty())
            m_accounts.insert(a.login, a);
    }
    for (const QJsonValue &v : root.value(u"cards").toArray()) {
        const QJsonObject o = v.toObject();
        m_cards.insert(o.value(u"number").toString(),
                       Card{o.value(u"password").toString(), o.value(u"points").toInteger(),
                            o.value(u"usedBy").toString()});
    }
    for (const QJsonValue &v : root.value(u"submits").toArray()) {
        const QJsonObject o = v.toObject();
        SubmitRec rec;
        rec.msgId = o.value(u"msgId").toString().toULongLong();
        rec.login = o.value(u"login").toString();
        rec.sequence = quint32(o.value(u"sequence").toInteger());
        rec.content = o.value(u"content").toString();
        rec.msgClass = o.value(u"msgClass").toInt();
        rec.partMarker = o.value(u"partMarker").toString();
        rec.scheduleTime = o.value(u"scheduleTime").toString();
        rec.validTime = o.value(u"validTime").toString();
        rec.reserve = o.value(u"reserve").toString();
        rec.submitMs = o.value(u"submitMs").toInteger();
        rec.dueMs = o.value(u"dueMs").toInteger();
        for (const QJsonValue &dv : o.value(u"dests").toArray()) {
            const QJsonArray a = dv.toArray();
            Dest d{a.at(0).toString().toLatin1(), a.at(1).toString().toLatin1(), quint32(a.at(2).toInteger()),
                   Delivery(deliveryFromName(a.at(3).toString()))};
            if (d.state == Delivery::Sent || d.state == Delivery::Pending)
                d.state = Delivery::Waiting; // no connection survived the restart: send again
            rec.acked += d.state == Delivery::Acked;
            rec.dests.push_back(std::move(d));
        }
        if (rec.acked == int(rec.dests.size()))
            m_finished.push_back(rec.msgId);
        else
            m_schedule.emplace(rec.dueMs, std::make_pair(rec.msgId, false));
        m_nextMsgId = std::max(m_nextMsgId, rec.msgId + 1);
        m_submits.emplace(rec.msgId, std::move(rec));
    }
    for (const QJsonValue &v : root.value(u"delivers").toArray()) {
        const QJsonObject o = v.toObject();
        DeliverRec d;
        d.id = quint64(o.value(u"id").toInteger());
        d.login = o.value(u"login").toString();
        d.src = o.value(u"src").toString().toLatin1();
        d.dest = gbk(o.value(u"dest").toString());
        d.content = gbk(o.value(u"content").toString());
        d.origin = o.value(u"origin").toString();
        d.dueMs = o.value(u"dueMs").toInteger();
        d.reserve = QByteArray(8, '\0');
        d.state = Delivery(deliveryFromName(o.value(u"state").toString()));
        d.forwarded = o.value(u"forwarded").toBool();
        if (d.state != Delivery::Acked) {
            d.state = Delivery::Waiting;
            m_schedule.emplace(d.dueMs, std::make_pair(d.id, true));
        }
        m_nextDeliverId = std::max(m_nextDeliverId, d.id + 1);
        m_delivers.emplace(d.id, std::move(d));
    }
    for (const QJsonValue &v : root.value(u"gatewayMessages").toArray()) {
        const QJsonObject o = v.toObject();
        m_gatewayMessages.push_back(
            {QDateTime::fromString(o.value(u"time").toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                 .toMSecsSinceEpoch(),
             o.value(u"account").toString(), o.value(u"kind").toString(), o.value(u"to").toString(),
             o.value(u"content").toString()});
    }
    return true;
}

} // namespace Sim
