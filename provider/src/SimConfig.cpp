#include "SimConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace Sim {

static QStringList stringList(const QJsonValue &v)
{
    QStringList out;
    for (const QJsonValue &item : v.toArray())
        out << item.toString();
    return out;
}

std::optional<Config> Config::load(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    return fromJson(f.readAll(), QFileInfo(path).absolutePath(), error);
}

std::optional<Config> Config::fromJson(const QByteArray &json, const QString &baseDir, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("config is not a JSON object: %1").arg(parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    Config c;
    auto fail = [&](const QString &why) -> std::optional<Config> {
        *error = why;
        return std::nullopt;
    };

    if (o.contains(u"listenAddress")) {
        if (!c.listenAddress.setAddress(o.value(u"listenAddress").toString()))
            return fail(QStringLiteral("listenAddress is not an address"));
    }
    if (o.contains(u"gatewayPorts")) {
        c.gatewayPorts.clear();
        for (const QJsonValue &p : o.value(u"gatewayPorts").toArray()) {
            const int port = p.toInt(-1);
            if (port < 0 || port > 65535)
                return fail(QStringLiteral("gatewayPorts holds a bad port"));
            c.gatewayPorts << quint16(port);
        }
    }
    c.webPort = quint16(o.value(u"webPort").toInt(c.webPort));
    const QString state = o.value(u"stateFile").toString();
    if (state.isEmpty())
        c.stateFile = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                      QStringLiteral("/velaro-provider/state.json");
    else if (state != u"none")
        c.stateFile = QDir(baseDir).absoluteFilePath(QDir::fromNativeSeparators(state));
    c.saveDelayMs = o.value(u"saveDelayMs").toInt(c.saveDelayMs);

    c.bulletin = o.value(u"bulletin").toString();
    c.forbiddenWords = stringList(o.value(u"forbiddenWords"));
    c.rejectForbiddenContent = o.value(u"rejectForbiddenContent").toBool(c.rejectForbiddenContent);
    c.sendFilterAfterLogin = o.value(u"sendFilterAfterLogin").toBool(c.sendFilterAfterLogin);
    c.filterChunkBytes = std::max(1, o.value(u"filterChunkBytes").toInt(c.filterChunkBytes));
    c.maxNumbersPerSubmit = o.value(u"maxNumbersPerSubmit").toInt(c.maxNumbersPerSubmit);

    const QJsonObject reports = o.value(u"reports").toObject();
    c.reportDelayMs = reports.value(u"delayMs").toInt(c.reportDelayMs);
    c.reportFailShare = reports.value(u"failShare").toDouble(c.reportFailShare);
    c.failStat = reports.value(u"failStat").toString(QString::fromLatin1(c.failStat)).toLatin1().left(7);
    c.failErrorCode = quint32(reports.value(u"failErrorCode").toInteger(c.failErrorCode));
    for (const QJsonValue &v : reports.value(u"rules").toArray()) {
        const QJsonObject r = v.toObject();
        FailRule rule{QRegularExpression(r.value(u"numbers").toString()),
                      r.value(u"stat").toString(QString::fromLatin1(c.failStat)).toLatin1().left(7),
                      quint32(r.value(u"errorCode").toInteger(c.failErrorCode))};
        if (!rule.numbers.isValid())
            return fail(QStringLiteral("reports.rules: bad pattern %1").arg(rule.numbers.pattern()));
        c.failRules << rule;
    }

    const QJsonObject replies = o.value(u"replies").toObject();
    c.replyShare = replies.value(u"share").toDouble(c.replyShare);
    c.replyDelayMs = replies.value(u"delayMs").toInt(c.replyDelayMs);
    c.replyTexts = stringList(replies.value(u"texts"));
    c.replyPrefix86 = replies.value(u"prefix86").toBool(c.replyPrefix86);

    const QJsonObject link = o.value(u"enquireLink").toObject();
    c.enquireLinkIntervalMs = link.value(u"intervalMs").toInt(c.enquireLinkIntervalMs);
    c.enquireLinkMaxMissed = link.value(u"maxMissed").toInt(c.enquireLinkMaxMissed);
    c.ackTimeoutMs = o.value(u"ackTimeoutMs").toInt(c.ackTimeoutMs);
    c.keepSubmits = o.value(u"keepSubmits").toInt(c.keepSubmits);
    c.seed = quint64(o.value(u"seed").toInteger(0));

    const QJsonObject update = o.value(u"update").toObject();
    c.update.version = update.value(u"version").toString(c.update.version);
    c.update.date = update.value(u"date").toString(c.update.date);
    c.update.url = update.value(u"url").toString(c.update.url);
    c.update.message = update.value(u"message").toString(c.update.message);
    c.update.method = update.value(u"method").toInt(c.update.method);

    const QJsonObject signUp = o.value(u"signUp").toObject();
    c.signUp.balance = signUp.value(u"balance").toInteger(c.signUp.balance);
    c.signUp.segLenMobile = signUp.value(u"segLenMobile").toInt(c.signUp.segLenMobile);
    c.signUp.segLenSpare = signUp.value(u"segLenSpare").toInt(c.signUp.segLenSpare);
    c.signUp.segLenOther = signUp.value(u"segLenOther").toInt(c.signUp.segLenOther);

    for (const QJsonValue &v : o.value(u"accounts").toArray()) {
        const QJsonObject a = v.toObject();
        AccountSeed s;
        s.login = a.value(u"login").toString().trimmed();
        s.password = a.value(u"password").toString();
        s.customerNo = a.value(u"customerNo").toString();
        s.userName = a.value(u"userName").toString(s.login);
        s.balance = a.value(u"balance").toInteger(0);
        s.spNumber = a.value(u"spNumber").toString();
        s.segLenMobile = a.value(u"segLenMobile").toInt(s.segLenMobile);
        s.segLenSpare = a.value(u"segLenSpare").toInt(s.segLenSpare);
        s.segLenOther = a.value(u"segLenOther").toInt(s.segLenOther);
        if (s.login.isEmpty() || s.customerNo.isEmpty())
            return fail(QStringLiteral("every account needs login and customerNo"));
        c.accounts << s;
    }
    for (const QJsonValue &v : o.value(u"cards").toArray()) {
        const QJsonObject a = v.toObject();
        c.cards << CardSeed{a.value(u"number").toString(), a.value(u"password").toString(),
                            a.value(u"points").toInteger(0)};
    }
    return c;
}

} // namespace Sim
