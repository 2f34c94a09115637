// velaro-cli: sends one message to the numbers of a file through the gateway, with the
// client's own rules, for scripted campaigns. Every question of the send path is answered
// by an option; a question without one stops the run instead of being answered silently.
#include "app/MainController.h"
#include "common/Clock.h"
#include "common/GbkCodec.h"
#include "common/HomeFolder.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "sending/ContentRules.h"
#include "sending/NumberImport.h"
#include "sending/SendPipeline.h"
#include "store/dm.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTextStream>
#include <cstdio>

namespace {

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}
QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

// Prints what the program says and answers its questions from the options.
class ConsolePrompter : public Prompter {
public:
    struct Rule {
        QString startsWith;
        Answer answer;
    };
    std::vector<Rule> rules;
    int unanswered = 0;

    void information(const QString &text, const QString &) override
    {
        out() << text << Qt::endl;
        last = text;
    }
    Answer question(const QString &text, Buttons buttons, const QString &) override
    {
        for (const Rule &r : rules)
            if (text.startsWith(r.startsWith)) {
                out() << text << " → " << (r.answer == Answer::Yes ? "是" : r.answer == Answer::No ? "否" : "取消")
                      << Qt::endl;
                return r.answer;
            }
        ++unanswered;
        err() << "无法回答的问题（请用选项指定）：" << text << Qt::endl;
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    std::optional<QString> input(const QString &, const QString &prompt, const QString &, bool) override
    {
        ++unanswered;
        err() << "无法回答的输入：" << prompt << Qt::endl;
        return std::nullopt;
    }
    void notify(const QString &, const QString &text) override { out() << text << Qt::endl; }
    QString last;
};

bool waitFor(const std::function<bool()> &pred, int ms)
{
    QDeadlineTimer d(ms);
    while (!pred()) {
        if (d.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

Prompter::Answer answerOf(const QString &v)
{
    if (v == QLatin1String("send") || v == QLatin1String("yes"))
        return Prompter::Answer::Yes;
    if (v == QLatin1String("drop") || v == QLatin1String("no"))
        return Prompter::Answer::No;
    return Prompter::Answer::Cancel;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velaro-cli"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("群发短信：登录网关，把一条信息发送给号码文件中的所有号码。"));
    p.addHelpOption();
    p.addOptions({
        {{"u", "user"}, "登录账号（缺省：上次登录的账号）", "name"},
        {{"p", "password"}, "密码（缺省：保存的密码）", "password"},
        {{"s", "server"}, "网关：服务器1…服务器4 或 主机:端口（缺省：上次的选择）", "server"},
        {{"n", "numbers"}, "号码文件（文本、CSV、xls、xlsx；第一列）", "file"},
        {{"t", "text"}, "信息内容", "text"},
        {"text-file", "从文件读取信息内容", "file"},
        {"at", "定时发送时间 \"YYYY-MM-DD HH:MM:SS\"", "time"},
        {"unknown-contacts", "个性化短信中不在名片夹的号码：send（照常发送）、drop（清除）或 cancel", "answer"},
        {"resume", "上次未完成的发送：continue（继续发送）或 clear（清除）", "answer"},
        {{"y", "yes"}, "确认发送（不显示确认对话框）"},
        {"timeout", "等待整个发送的最长秒数（缺省 3600）", "seconds"},
    });
    p.process(app);

    ConsolePrompter prompter;
    SystemClock clock;
    try {
        HomeFolder::ensure();
        if (!p.isSet("numbers") || (!p.isSet("text") && !p.isSet("text-file"))) {
            err() << "需要 --numbers 和 --text（或 --text-file）。" << Qt::endl;
            return 2;
        }
        QString text = p.value("text");
        if (p.isSet("text-file")) {
            QFile f(p.value("text-file"));
            if (!f.open(QIODevice::ReadOnly)) {
                err() << "无法读取内容文件 " << p.value("text-file") << Qt::endl;
                return 2;
            }
            text = Gbk::decodeText(f.readAll());
        }
        QString sendTime;
        if (p.isSet("at")) {
            const QDateTime t = QDateTime::fromString(p.value("at"), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (!t.isValid()) {
                err() << "定时时间应为 YYYY-MM-DD HH:MM:SS" << Qt::endl;
                return 2;
            }
            sendTime = t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        }
        prompter.rules.push_back({QStringLiteral("您现在发送的是个性化短信"), Prompter::Answer::Yes});
        if (p.isSet("unknown-contacts"))
            prompter.rules.push_back({QStringLiteral("下列号码在您的联系人列表中无法找到"), answerOf(p.value("unknown-contacts"))});
        // The list and text of an earlier session are not taken over: this run brings its own.
        prompter.rules.push_back({QStringLiteral("是否载入上次编辑的手机号码列表"), Prompter::Answer::No});
        if (p.isSet("resume"))
            prompter.rules.push_back({QStringLiteral("上次发送过程未完成"),
                                      p.value("resume") == QLatin1String("continue") ? Prompter::Answer::Yes
                                                                                      : Prompter::Answer::No});

        TDataM dm(prompter, clock);
        MainController ctl(dm);
        SendPipeline pipe(dm, ctl);
        // Forbidden words download in the background; the command line waits for nothing it need not.
        ctl.hooks.downloadFilterWords = nullptr;
        ctl.hooks.offerResume = [&] { pipe.queue.resumeAtSessionStart(false); };
        pipe.dispatch.onProgress = [](int done, int total) {
            if (total > 0)
                out() << "已提交 " << done << "/" << total << Qt::endl;
        };
        QString status;
        pipe.dispatch.onStatus = [&](const QString &s) { status = s; };

        const QString user = p.isSet("user") ? p.value("user") : dm.ReadSetting(QStringLiteral("user"));
        const QString password =
            p.isSet("password") ? p.value("password")
                                : QString::fromUtf8(QByteArray::fromBase64(dm.ReadSetting(QStringLiteral("pass")).toLatin1()));
        const QString server = p.isSet("server") ? p.value("server") : dm.ReadSetting(QStringLiteral("host"), QStringLiteral("服务器1"));
        if (user.isEmpty()) {
            err() << "没有登录账号：请用 --user 指定。" << Qt::endl;
            return 2;
        }
        std::optional<quint32> loginStatus;
        dm.sms().OnSMSActionNotify = [&](quint32 c, quint32 s) {
            if (c == Gateway::Cmd::Login && !loginStatus)
                loginStatus = s;
        };
        ctl.ManualLogout = true; // a failed login ends the command instead of retrying
        if (!ctl.DoLogin(server, QString(), QStringLiteral("0"), QStringLiteral("不使用代理"), false, password, user,
                         QString(), QString()))
            return 1;
        waitFor([&] { return loginStatus.has_value(); }, 90000);
        if (!loginStatus || *loginStatus != 0 || !ctl.SMSConnected()) {
            err() << "登录失败: "
                  << (loginStatus ? Gateway::GetStatusText(*loginStatus) : QStringLiteral("等待响应超时")) << Qt::endl;
            return 1;
        }
        out() << "登录成功：" << dm.sms().session().UserName << "，余额 " << dm.sms().session().Balance << " 条" << Qt::endl;
        if (prompter.unanswered) {
            err() << "上次的发送未完成：请用 --resume continue 或 --resume clear 指定。" << Qt::endl;
            return 1;
        }
        const int timeoutMs = (p.isSet("timeout") ? p.value("timeout").toInt() : 3600) * 1000;
        // An unfinished earlier send continued at login runs to its end first.
        if (pipe.dispatch.SendingInProgress && !waitFor([&] { return !pipe.dispatch.SendingInProgress; }, timeoutMs)) {
            err() << "继续上次的发送超时，未完成。" << Qt::endl;
            return 1;
        }

        NumberImport import(pipe.list);
        import.open(p.value("numbers"), true);
        import.selectTable(0);
        std::atomic<bool> cancel{false};
        const auto counts = import.run(0, {}, cancel);
        out() << NumberImport::resultText(counts) << Qt::endl;
        if (!pipe.list.HasRecipients()) {
            err() << "号码为空" << Qt::endl;
            return 1;
        }
        pipe.queue.confirmSend = [&] {
            if (p.isSet("yes"))
                return true;
            err() << "请用 --yes 确认发送给 " << pipe.list.numbers().count() << " 个号码。" << Qt::endl;
            return false;
        };
        pipe.queue.SaveComposition(QString(), FilterLineBreaks(dm, text), QStringLiteral("普通"), sendTime);
        if (!pipe.queue.sendClicked(text, QStringLiteral("普通"), sendTime, false))
            return 1;
        if (!waitFor([&] { return !pipe.dispatch.SendingInProgress; }, timeoutMs)) {
            err() << "发送超时，未完成。" << Qt::endl;
            return 1;
        }
        if (pipe.dispatch.QueueCount() > 0) {
            err() << "发送中断：" << (status.isEmpty() ? QStringLiteral("网关没有应答") : status) << "；剩余 "
                  << pipe.dispatch.QueueCount() << " 条在队列中，下次可用 --resume continue 继续。" << Qt::endl;
            return 1;
        }
        out() << "余额 " << dm.sms().session().Balance << " 条" << Qt::endl;
        ctl.FormClose();
        return 0;
    } catch (const VelaroError &e) {
        err() << e.text() << Qt::endl;
        return 1;
    }
}
