// The provider's web pages and the sign-up form.
#include "SimHarness.h"

#include <QUrl>

using namespace SimTest;

namespace {
// The client posts GBK, URL-encoded, with a blank before "=" in some names.
QByteArray signUpForm(const QString &login, const QString &shortName, const QString &email)
{
    const QList<QPair<QByteArray, QString>> fields{{"action=", QStringLiteral("add")},
                                                   {"sdkuser=", QStringLiteral("1")},
                                                   {"username =", login},
                                                   {"pwd =", QStringLiteral("pw1")},
                                                   {"company_name =", QStringLiteral("郑州星辰商贸有限公司")},
                                                   {"short_name =", shortName},
                                                   {"address =", QString()},
                                                   {"zip =", QString()},
                                                   {"contact_psn =", QStringLiteral("王经理")},
                                                   {"mobile=", QStringLiteral("13800000000")},
                                                   {"email=", email},
                                                   {"shenfen=", QStringLiteral("河南")},
                                                   {"dishi=", QStringLiteral("郑州")},
                                                   {"price=", QStringLiteral("0")}};
    QByteArrayList parts;
    for (const auto &[name, value] : fields)
        parts << name + (value.isEmpty() ? QByteArray() : Gbk::encode(value)->toPercentEncoding());
    return parts.join('&');
}
} // namespace

TEST(ProviderWeb, ServesTheClientsPages)
{
    Sim::Config config = testConfig();
    config.update.version = QStringLiteral("4.1.0.7");
    Harness h(config);

    const HttpReply filter = http(h.webPort(), "GET", "/sdk_asp/Filter.asp");
    EXPECT_EQ(filter.status, 200);
    QString words = Gbk::decode(filter.body);
    // What the client does with it: drop the meta line, tabs become line breaks.
    words.remove(QStringLiteral("<meta http-equiv=\"Content-Type\"  content=\"text/html;charset=gb2312\">"),
                 Qt::CaseInsensitive);
    words.replace(QLatin1Char('\t'), QLatin1String("\r\n"));
    QStringList lines;
    for (const QString &l : words.split(QStringLiteral("\r\n")))
        if (!l.trimmed().isEmpty())
            lines << l;
    EXPECT_EQ(lines, (QStringList{QStringLiteral("发票"), QStringLiteral("赌博")}));

    const HttpReply faq = http(h.webPort(), "GET", "/vlro/vlrofaq_oem.html");
    EXPECT_EQ(faq.status, 200);
    const QString page = QString::fromUtf8(faq.body);
    for (const char *anchor : {"信息发送", "信息接收", "生日提醒", "历史页面", "导入名片数据", "导入号码",
                               "软件登录", "上传服务器"})
        EXPECT_TRUE(page.contains(QStringLiteral("name=\"%1\"").arg(QString::fromUtf8(anchor))))
            << "anchor " << anchor;

    const HttpReply inf = http(h.webPort(), "GET", "/msgbatch/updatefiles/velsend_update_AgentVer.inf");
    EXPECT_EQ(inf.status, 200);
    for (const char *key : {"version=4.1.0.7", "date=", "url=http", "url0=http", "message=", "method=1"})
        EXPECT_TRUE(inf.body.contains(key)) << key;

    EXPECT_EQ(http(h.webPort(), "GET", "/").status, 200);
    EXPECT_EQ(http(h.webPort(), "GET", "/nothing.asp").status, 404);
}

TEST(ProviderWeb, SignUpCreatesAnAccountOrSaysWhy)
{
    struct Case {
        const char *name;
        QString login, shortName, email;
        const char *answer; // part of the GBK answer
    } cases[] = {
        {"new account", QStringLiteral("star01"), QStringLiteral("星辰"), QStringLiteral("a@b.cn"), "成功"},
        {"taken name", QStringLiteral("star01"), QStringLiteral("星辰"), QStringLiteral("a@b.cn"),
         "用户名已存在"},
        {"demo is taken", QStringLiteral("demo"), QStringLiteral("星辰"), QStringLiteral("a@b.cn"),
         "用户名已存在"},
        {"short name too long", QStringLiteral("star02"), QStringLiteral("星辰商贸公"),
         QStringLiteral("a@b.cn"), "公司简称"},
        {"no e-mail", QStringLiteral("star03"), QStringLiteral("星辰"), QString(), "电子邮件"},
        {"empty name", QString(), QStringLiteral("星辰"), QStringLiteral("a@b.cn"), "用户名不能为空"},
    };
    Harness h;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const HttpReply r =
            http(h.webPort(), "POST", "/wdkh/AutoRegUser_action.asp",
                 signUpForm(c.login, c.shortName, c.email), "application/x-www-form-urlencoded");
        EXPECT_EQ(r.status, 200);
        const QString text = Gbk::decode(r.body);
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.answer))) << text.toStdString();
        if (QByteArrayView(c.answer) != "成功") {
            EXPECT_FALSE(text.contains(QStringLiteral("成功"))) << text.toStdString();
        }
    }
    // The new account logs in at once, with the sign-up balance.
    Client client(h.port(0));
    const auto login = client.login(QStringLiteral("star01"), QStringLiteral("pw1"));
    EXPECT_EQ(login.Command_Status, 0u);
    EXPECT_EQ(login.UserName, QStringLiteral("郑州星辰商贸有限公司"));
    EXPECT_EQ(login.Balance, 10);
    EXPECT_NE(login.CustomerNo, QStringLiteral("10001"));
}

TEST(ProviderWeb, AdminRequestsChangeWhatTheGatewayAnswers)
{
    Harness h;
    EXPECT_EQ(admin(h.webPort(), "balance", {{"account", "demo"}, {"balance", 5}}).status, 200);
    EXPECT_EQ(admin(h.webPort(), "balance", {{"account", "nobody"}, {"balance", 5}}).status, 400);
    EXPECT_EQ(http(h.webPort(), "POST", "/admin/balance", "not json").status, 400);
    Client client(h.port(0));
    EXPECT_EQ(client.login(QStringLiteral("demo"), QStringLiteral("demo123")).Balance, 5);
    EXPECT_EQ(http(h.webPort(), "GET", "/admin/unknown").status, 404);
}
