// The provider's web server: forbidden words, sign-up, help page, update file, reachability,
// and the admin requests (loopback only).
#include "Simulator.h"

#include "GatewayWire.h"
#include "common/GbkCodec.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

namespace Sim {

namespace {
// The exact line the client strips from the word list.
const char FilterMeta[] = "<meta http-equiv=\"Content-Type\"  content=\"text/html;charset=gb2312\">";

HttpServer::Response gbkText(const QString &text, const QByteArray &type = "text/html; charset=gb2312")
{
    return {200, type, Gbk::encodeLossy(text)};
}

HttpServer::Response jsonReply(const QJsonValue &value, int status = 200)
{
    const QJsonDocument doc =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return {status, "application/json", doc.toJson(QJsonDocument::Indented)};
}

HttpServer::Response jsonFailure(const QString &text, int status = 400)
{
    return jsonReply(QJsonObject{{QStringLiteral("error"), text}}, status);
}

// Form fields as the client posts them: names may carry a blank before "=", values are
// URL-encoded GBK (UTF-8 accepted as well).
QHash<QString, QString> parseForm(const QByteArray &body)
{
    QHash<QString, QString> fields;
    for (const QByteArray &pair : body.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq < 0)
            continue;
        auto decode = [](QByteArray part) {
            part.replace('+', ' ');
            const QByteArray bytes = QByteArray::fromPercentEncoding(part);
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString text = utf8.decode(bytes);
            return utf8.hasError() ? Gbk::decode(bytes) : text;
        };
        fields.insert(decode(pair.left(eq)).trimmed(), decode(pair.mid(eq + 1)));
    }
    return fields;
}
} // namespace

HttpServer::Response Simulator::handleHttp(const HttpServer::Request &r)
{
    const QString &path = r.path;
    if (path.startsWith(QLatin1String("/admin/"))) {
        if (!r.peer.isLoopback())
            return {403, "text/plain", "admin requests are accepted from loopback only\n"};
        return handleAdmin(r);
    }
    if (path == u"/wdkh/AutoRegUser_action.asp") {
        if (r.method != "POST")
            return {405, "text/plain", "POST only\n"};
        return handleSignUp(r);
    }
    if (r.method != "GET" && r.method != "HEAD")
        return {405, "text/plain", "GET only\n"};
    if (path == u"/sdk_asp/Filter.asp")
        return gbkText(QString::fromLatin1(FilterMeta) + QStringLiteral("\r\n") +
                       m_config.forbiddenWords.join(QLatin1Char('\t')));
    if (path == u"/vlro/vlrofaq_oem.html") {
        QFile page(QStringLiteral(":/velaro-provider/vlrofaq_oem.html"));
        page.open(QIODevice::ReadOnly);
        return {200, "text/html; charset=utf-8", page.readAll()};
    }
    if (path == u"/msgbatch/updatefiles/velsend_update_AgentVer.inf") {
        const auto &u = m_config.update;
        QString message = u.message;
        message.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        return gbkText(
            QStringLiteral("[Update]\r\nversion=%1\r\ndate=%2\r\nurl=%3\r\nurl0=%3\r\nmessage=%4\r\n"
                           "method=%5\r\n")
                .arg(u.version, u.date, u.url, message)
                .arg(u.method),
            "text/plain; charset=gb2312");
    }
    if (path == u"/" || path == u"/index.html")
        return {
            200, "text/html; charset=utf-8",
            QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>velaro-provider</title>"
                           "</head><body><h1>短信服务平台（模拟）</h1><p>服务正常运行。</p>"
                           "<p><a href=\"/vlro/vlrofaq_oem.html\">常见问题</a></p></body></html>\n")
                .toUtf8()};
    return {404, "text/plain", "not found\n"};
}

HttpServer::Response Simulator::handleSignUp(const HttpServer::Request &r)
{
    const QHash<QString, QString> f = parseForm(r.body);
    auto refuse = [](const QString &why) { return gbkText(QStringLiteral("注册失败：") + why); };
    const QString login = f.value(QStringLiteral("username"));
    const QString password = f.value(QStringLiteral("pwd"));
    const QString shortName = f.value(QStringLiteral("short_name"));
    static const QRegularExpression loginPattern(QStringLiteral("^[A-Za-z0-9_.-]{1,20}$"));
    if (f.value(QStringLiteral("action")) != u"add")
        return refuse(QStringLiteral("无效的请求"));
    if (login.isEmpty())
        return refuse(QStringLiteral("用户名不能为空"));
    if (!loginPattern.match(login).hasMatch())
        return refuse(QStringLiteral("用户名只能由字母、数字、下划线、点和减号组成，最长20个字符"));
    if (m_accounts.contains(login))
        return refuse(QStringLiteral("用户名已存在，请更换一个用户名"));
    if (password.isEmpty())
        return refuse(QStringLiteral("密码不能为空"));
    if (password.size() > 32)
        return refuse(QStringLiteral("密码不能超过32个字符"));
    if (f.value(QStringLiteral("company_name")).trimmed().isEmpty())
        return refuse(QStringLiteral("公司全称不能为空"));
    if (shortName.size() < 2 || shortName.size() > 4)
        return refuse(QStringLiteral("公司简称应为2-4个字符"));
    if (!f.value(QStringLiteral("email")).contains(QLatin1Char('@')))
        return refuse(QStringLiteral("电子邮件格式不正确"));
    if (f.value(QStringLiteral("shenfen")).isEmpty() || f.value(QStringLiteral("dishi")).isEmpty())
        return refuse(QStringLiteral("省份和地市不能为空"));

    auto taken = [this](const QString &no) {
        for (const Account &a : m_accounts)
            if (a.customerNo == no)
                return true;
        return false;
    };
    while (taken(QString::number(m_nextCustomerNo)))
        ++m_nextCustomerNo;
    Account a;
    a.login = login;
    a.customerNo = QString::number(m_nextCustomerNo++);
    a.userName = f.value(QStringLiteral("company_name")).trimmed().left(24);
    a.spNumber = QStringLiteral("10657") + a.customerNo;
    a.passwordHash = Wire::md5Hex16Lower(Gbk::encodeLossy(password));
    a.balance = m_config.signUp.balance;
    a.segLenMobile = m_config.signUp.segLenMobile;
    a.segLenSpare = m_config.signUp.segLenSpare;
    a.segLenOther = m_config.signUp.segLenOther;
    m_accounts.insert(a.login, a);
    markDirty();
    return gbkText(QStringLiteral("注册成功！账户 %1 已开通，客户编号 %2，赠送 %3 条短信。")
                       .arg(a.login, a.customerNo)
                       .arg(a.balance));
}

HttpServer::Response Simulator::handleAdmin(const HttpServer::Request &r)
{
    const QString what = r.path.mid(7);
    const QString account = r.query.queryItemValue(QStringLiteral("account"), QUrl::FullyDecoded);
    if (r.method == "GET") {
        if (what == u"accounts")
            return jsonReply(accountsJson());
        if (what == u"submits")
            return jsonReply(submitsJson(account));
        if (what == u"delivers")
            return jsonReply(deliversJson(account));
        if (what == u"messages")
            return jsonReply(gatewayMessagesJson(account));
        if (what == u"stats")
            return jsonReply(statsJson());
        if (what == u"faults")
            return jsonReply(m_faults.toJson());
        return jsonFailure(QStringLiteral("unknown admin request"), 404);
    }
    if (r.method != "POST")
        return jsonFailure(QStringLiteral("GET or POST"), 405);
    QJsonParseError parseError;
    const QJsonDocument doc = r.body.trimmed().isEmpty() ? QJsonDocument(QJsonObject())
                                                         : QJsonDocument::fromJson(r.body, &parseError);
    if (!doc.isObject())
        return jsonFailure(QStringLiteral("body must be a JSON object"));
    const QJsonObject o = doc.object();
    const QString login = o.value(u"account").toString();
    QString error;
    if (what == u"deliver") {
        if (!injectDeliver(login, o.value(u"src").toString(), o.value(u"content").toString(), &error,
                           o.value(u"dest").toString()))
            return jsonFailure(error);
        return jsonReply(QJsonObject{{QStringLiteral("ok"), true}});
    }
    if (what == u"balance") {
        if (!o.value(u"balance").isDouble() || !setBalance(login, o.value(u"balance").toInteger()))
            return jsonFailure(QStringLiteral("needs an existing account and a numeric balance"));
        return jsonReply(QJsonObject{{QStringLiteral("ok"), true}});
    }
    if (what == u"faults") {
        const auto faults = Faults::fromJson(o, &error);
        if (!faults)
            return jsonFailure(error);
        setFaults(*faults);
        return jsonReply(m_faults.toJson());
    }
    if (what == u"close")
        return jsonReply(QJsonObject{{QStringLiteral("closed"), closeConnections(login)}});
    if (what == u"malformed") {
        const int n = sendMalformed(login, o.value(u"kind").toString(), &error);
        if (n < 0)
            return jsonFailure(error);
        return jsonReply(QJsonObject{{QStringLiteral("sent"), n}});
    }
    if (what == u"enquire-link")
        return jsonReply(QJsonObject{{QStringLiteral("sent"), sendEnquireLink(login)}});
    if (what == u"save") {
        if (!saveState(&error))
            return jsonFailure(error, 500);
        return jsonReply(QJsonObject{{QStringLiteral("ok"), true}});
    }
    return jsonFailure(QStringLiteral("unknown admin request"), 404);
}

} // namespace Sim
