#include "app/MainController.h"
#include "app/Branding.h"
#include "app/HttpClient.h"
#include "app/MainView.h"
#include "app/ProviderConfig.h"
#include "common/Clock.h"
#include "common/Prompter.h"
#include "store/dm.h"
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

using namespace Gateway;

namespace {
template <typename F> void swallow(F &&step)
{
    try {
        step();
    } catch (...) {
    }
}

QString decodeBase64Text(const QString &b64)
{
    return QString::fromUtf8(QByteArray::fromBase64(b64.toLatin1()));
}

QString encodeBase64Text(const QString &text) { return QString::fromLatin1(text.toUtf8().toBase64()); }

HttpProxy webProxyFor(const QString &name, const QString &host, const QString &port, const QString &user,
                      const QString &password)
{
    HttpProxy p;
    const QString n = name.trimmed().toUpper();
    if (n == QLatin1String("HTTP"))
        p.kind = HttpProxyKind::Http;
    else if (n == QLatin1String("SOCKS4"))
        p.kind = HttpProxyKind::Socks4;
    else if (n == QLatin1String("SOCKS4A"))
        p.kind = HttpProxyKind::Socks4a;
    else if (n == QLatin1String("SOCKS5"))
        p.kind = HttpProxyKind::Socks5;
    else
        return p;
    p.host = host.trimmed();
    p.port = quint16(port.trimmed().toUInt());
    if (!user.isEmpty()) {
        p.user = user;
        p.password = password;
    }
    return p;
}
} // namespace

MainController::MainController(TDataM &dm, QObject *parent) : QObject(parent), m_dm(dm)
{
    // Errors of the handlers below reach the general error box, as any uncaught error does.
    m_dm.sms().onHandlerError = [&dm](const QString &text) { dm.prompter().information(text); };
}

MainController::~MainController()
{
    m_dm.sms().onHandlerError = nullptr;
    m_dm.sms().detachNotifyTarget(this);
}

// ---- logging in ----------------------------------------------------------------------------

bool MainController::DoLogin(const QString &server, const QString &proxyHost, const QString &proxyPort,
                             const QString &proxyName, bool rememberPassword, const QString &password,
                             const QString &account, const QString &proxyUser, const QString &proxyPassword)
{
    const ProviderConfig provider = ProviderConfig::load();
    QString host;
    quint16 port = 0;
    if (!provider.resolveGatewayEntry(server, &host, &port) || host.isEmpty() || port == 0) {
        m_dm.prompter().information(
            QStringLiteral("服务器地址“%1”无效，请填写“主机:端口”，例如 127.0.0.1:6666。").arg(server));
        return false;
    }
    TProxyInfo proxy;
    proxy.Host = proxyHost;
    proxy.Port = proxyPort;
    proxy.User = proxyUser;
    proxy.Password = proxyPassword;
    TSMSSOCKET &sms = m_dm.sms();
    sms.SetConnection(host, QString::number(port), this, 1, proxy, ProxyKindFromName(proxyName));
    m_dm.webProxy = webProxyFor(proxyName, proxyHost, proxyPort, proxyUser, proxyPassword);
    if (m_view) {
        m_view->setConnectionPane(QStringLiteral("请稍候，正在登录中..."), MainView::PaneColor::Black);
        m_view->setResultPane(QString());
    }
    m_keptPassword = password;

    // Stored before the login starts, so a failure of the store never hides the login result.
    m_dm.WriteSetting(QStringLiteral("host"), server);
    const QString trimmed = account.trimmed();
    const QStringList known = m_dm.ReadSetting(QStringLiteral("userlist")).split(QLatin1Char(','));
    if (!trimmed.isEmpty() && !known.contains(trimmed))
        m_dm.WriteSetting(QStringLiteral("userlist"),
                          m_dm.ReadSetting(QStringLiteral("userlist")) + trimmed + QLatin1Char(','));
    m_dm.WriteSetting(QStringLiteral("user"), account);
    m_dm.WriteSetting(QStringLiteral("pass"), encodeBase64Text(password));
    m_dm.WriteSetting(QStringLiteral("mmpass"), rememberPassword ? QStringLiteral("1") : QString());
    m_dm.WriteSetting(QStringLiteral("qyproxy"),
                      proxyName == QStringLiteral("不使用代理") ? QStringLiteral("0") : QStringLiteral("1"));
    swallow([&] {
        m_dm.WriteSetting(QStringLiteral("proxyname"), proxyName);
        m_dm.WriteSetting(QStringLiteral("proxyIp"), proxyHost);
        m_dm.WriteSetting(QStringLiteral("proxyport"), proxyPort);
        m_dm.WriteSetting(QStringLiteral("proxyusr"), proxyUser);
        m_dm.WriteSetting(QStringLiteral("proxypass"), proxyPassword);
    });
    sms.Login(account, password);
    return true;
}

bool MainController::loginWithStoredValues(const QString &password)
{
    return DoLogin(m_dm.ReadSetting(QStringLiteral("host"), QStringLiteral("0")),
                   m_dm.ReadSetting(QStringLiteral("proxyip")), m_dm.ReadSetting(QStringLiteral("proxyport")),
                   m_dm.ReadSetting(QStringLiteral("proxyname")),
                   m_dm.ReadSetting(QStringLiteral("mmpass")) == QLatin1String("1"), password,
                   m_dm.ReadSetting(QStringLiteral("user")), m_dm.ReadSetting(QStringLiteral("proxyusr")),
                   m_dm.ReadSetting(QStringLiteral("proxypass")));
}

void MainController::clearStaleDayMarkers()
{
    if (m_dm.ReadSetting(QStringLiteral("autofileter")) != QLatin1String("1"))
        m_dm.WriteSetting(QStringLiteral("autofileter"), QStringLiteral("1"));
    const QString today = m_dm.clock().today().toString(QStringLiteral("yyyy-MM-dd"));
    for (const char *key : {"sr", "jr"})
        if (m_dm.ReadSetting(QLatin1String(key)) != today)
            m_dm.WriteSetting(QLatin1String(key), QString());
}

bool MainController::runLoginGate()
{
    if (loginGate)
        return loginGate();
    if (m_dm.ReadSetting(QStringLiteral("autologin")) != QLatin1String("1"))
        return m_view && m_view->showLoginDialog();
    clearStaleDayMarkers();
    loginWithStoredValues(decodeBase64Text(m_dm.ReadSetting(QStringLiteral("pass"))));
    return true;
}

// ---- the session -------------------------------------------------------------------------

void MainController::SetSMSConnected(bool connected)
{
    if (!connected) {
        m_connected = false;
        swallow([&] {
            if (m_view) {
                m_view->setSessionLabels(QStringLiteral("用户名称:"), QStringLiteral("登陆账号:"),
                                         QStringLiteral("客户编号:"), QStringLiteral("账号余额:0 条"));
                m_view->setBulletin(QString());
                m_view->setConnectionPane(QStringLiteral("连接状态:断开"), MainView::PaneColor::Red);
                m_view->setWorkingAreasEnabled(false);
                m_view->setResultPane(QString());
            }
            m_dm.db().clearDatabasePath();
        });
        return;
    }
    m_connected = true;
    const TSessionInfo s = m_dm.sms().session();
    if (m_view) {
        m_view->setSessionLabels(QStringLiteral("用户名称:") + s.UserName, QStringLiteral("登陆账号:") + s.LoginName,
                                 QStringLiteral("客户编号:") + s.CustomerNo,
                                 QStringLiteral("账号余额:%1条").arg(s.Balance));
        m_view->setConnectionPane(QStringLiteral("连接状态:连接"), MainView::PaneColor::Green);
        m_view->setWorkingAreasEnabled(true);
    }
    swallow([&] {
        m_dm.NewNumAutoAddToCard =
            m_dm.ReadSetting(QStringLiteral("NoSystemLB"), QStringLiteral("0")) == QLatin1String("0") &&
            m_dm.ReadSetting(QStringLiteral("NewNumAutoAddToCard"), QStringLiteral("0")) == QLatin1String("1");
        m_dm.AddPrefix = m_dm.ReadSetting(QStringLiteral("AddPrefix"), QStringLiteral("1")) == QLatin1String("1");
        m_dm.LastWord = m_dm.ReadSetting(QStringLiteral("LastWord"));
        m_dm.FirstWord = m_dm.ReadSetting(QStringLiteral("FirstWord"));
    });
    if (hooks.clearDispatchNumbers)
        hooks.clearDispatchNumbers();
    m_dm.db().clearDatabasePath();
    if (m_view) {
        m_view->setReminderContentHeading(
            QStringLiteral("提醒内容(移动联通不能大于%1个字符,小灵通则应再减去25个字符)").arg(s.SegLenMobile));
        m_view->showMainWindow();
    }
    m_dm.sms().setSendEnabled(true);
    StartSession();
}

void MainController::StartSession()
{
    auto step = [](const std::function<void()> &fn) {
        if (fn)
            swallow(fn);
    };
    m_databaseOpen = false;
    swallow([&] { m_databaseOpen = m_dm.db().OpenAccountDatabase(m_dm.sms().session().CustomerNo); });
    swallow([&] { m_dm.schema().RebuildUserView(); });
    if (m_databaseOpen) {
        // A failing step skips the rest of the session start, as the upgrade must not be half-used.
        swallow([&] {
            if (m_dm.schema().UpgradeDatabase() == SchemaManager::UpgradeResult::Incompatible)
                return;
            step(hooks.rebuildCustomColumns);
            m_dm.sms().QueryAffiche();
            if (m_dm.ReadSetting(QStringLiteral("autofileter")) == QLatin1String("1"))
                step(hooks.downloadFilterWords);
            step(hooks.startTimers);
            step(hooks.reloadFolderTree);
            step(hooks.offerResume);
            if (m_dm.ReadSetting(QStringLiteral("totask")) == QLatin1String("1") && !m_hiddenToTray) {
                m_hiddenToTray = true;
                if (m_view)
                    m_view->hideToTray();
            }
            step(hooks.reopenInbox);
        });
    }
    step(hooks.dayReminderCheck);
}

void MainController::showBalance()
{
    if (m_view)
        m_view->setBalanceLabel(QStringLiteral("账户余额：%1条").arg(m_dm.sms().session().Balance));
}

void MainController::ShowInfoPopup(const QString &text) { m_dm.prompter().notify(popupTitle(), text); }

void MainController::WM_SMSActionNotify(quint32 commandId, quint32 status)
{
    const QString t = GetStatusText(status);
    switch (commandId) {
    case Cmd::Login:
        if (status == 0) {
            if (m_view)
                m_view->setResultPane(QStringLiteral("登录成功"));
            const TSessionInfo s = m_dm.sms().session();
            m_dm.SegLenMobile = s.SegLenMobile;
            m_dm.SegLenOther = s.SegLenOther;
            ManualLogout = false;
            SetSMSConnected(true);
        } else {
            if (m_view) {
                m_view->setResultPane(QStringLiteral("登录失败: ") + t);
                m_view->setConnectionPane(QStringLiteral("连接状态:断开"), MainView::PaneColor::Red);
            }
            if (!ManualLogout)
                postAutoReLogin();
        }
        break;
    case Cmd::Logout:
        if (status == 0) {
            SetSMSConnected(false);
            if (!ManualLogout)
                postAutoReLogin();
        }
        break;
    case Cmd::Filter:
        if (status == 0 && hooks.loadFilterWordsFromGateway)
            swallow([&] { hooks.loadFilterWordsFromGateway(m_dm.sms().FilterString()); });
        break;
    case Cmd::ChangePassword:
        if (status == 0) {
            m_dm.WriteSetting(QStringLiteral("pass"), encodeBase64Text(m_pendingPassword));
            m_keptPassword = m_pendingPassword;
            ShowInfoPopup(QStringLiteral("密码修改成功"));
        } else {
            const QString old = m_dm.ReadSetting(QStringLiteral("pass"));
            m_pendingPassword = decodeBase64Text(old);
            m_dm.WriteSetting(QStringLiteral("pass"), old);
            ShowInfoPopup(QStringLiteral("密码修改失败，") + t);
        }
        break;
    case Cmd::Affiche:
        if (status == 0 && m_view)
            m_view->setBulletin(m_dm.sms().Affiche());
        break;
    case Cmd::AddPoint: {
        showBalance();
        if (status != 0) {
            QString r;
            if (status == 1)
                r = QStringLiteral("充值卡号无效");
            else if (status == 2)
                r = QStringLiteral("充值卡密码无效");
            else
                r = QStringLiteral("未知的错误充值结果代码: %1").arg(status);
            ShowInfoPopup(r);
        }
        break;
    }
    case ActionSocketError: qCDebug(lcGateway).noquote() << t; break;
    default: break;
    }
}

void MainController::WM_SMSSubmitNotify(const TSubmitResp &resp, quint32 status)
{
    if (hooks.submitNotify)
        hooks.submitNotify(resp, status);
}

void MainController::WM_SMSReport(const TMessage_Report &report)
{
    if (hooks.report)
        hooks.report(report);
}

void MainController::WM_SMSDeliverSM(const TDeliverSM &msg)
{
    if (hooks.deliver)
        hooks.deliver(msg);
}

bool MainController::viewMinimized() const { return m_view && m_view->isMinimized(); }

void MainController::postAutoReLogin()
{
    QMetaObject::invokeMethod(this, &MainController::WM_AutoReLogin, Qt::QueuedConnection);
}

void MainController::WM_AutoReLogin()
{
    if (m_connected || m_reloginRunning ||
        m_dm.ReadSetting(QStringLiteral("AutoReConnected"), QStringLiteral("1")) != QLatin1String("1"))
        return;
    m_reloginRunning = true;
    bool go = false;
    if (m_view && m_view->isMinimized()) {
        // Give the window a moment, handling messages meanwhile.
        QEventLoop loop;
        QTimer::singleShot(minimisedReloginDelayMs, &loop, &QEventLoop::quit);
        loop.exec();
        go = true;
    } else {
        go = m_view && m_view->showReloginCountdown(reloginCountdownSeconds);
    }
    m_reloginRunning = false;
    // The user may have logged in or out by hand meanwhile.
    if (go && !m_connected && !ManualLogout)
        loginWithStoredValues(m_keptPassword);
}

void MainController::onlineClicked()
{
    if (m_view && m_view->showLoginDialog())
        FormShow();
}

void MainController::offlineClicked()
{
    ManualLogout = true;
    m_dm.sms().Logout();
}

void MainController::changePassword(const QString &newPassword)
{
    m_pendingPassword = newPassword;
    m_dm.sms().ChangePassword(newPassword);
}

// ---- window life ---------------------------------------------------------------------------

void MainController::FormClose()
{
    ManualLogout = true;
    swallow([&] {
        if (logoutHook)
            logoutHook();
        else
            m_dm.sms().Logout();
    });
    AccountDatabase &db = m_dm.db();
    // The file is compacted after its connection is closed, so remember which file it was.
    // DatabasePath may already be empty (a logout clears it); the customer number is kept.
    QString file;
    swallow([&] {
        if (!db.dialect().isServer() && !db.customerNo().isEmpty())
            file = AccountDatabase::customerFile(db.customerNo());
    });
    swallow([&] { db.closeMain(); });
    swallow([&] { db.closePhrase(); });
    swallow([&] {
        if (!file.isEmpty() &&
            m_dm.ReadSetting(QStringLiteral("exitcompact"), QStringLiteral("0")) == QLatin1String("1"))
            db.CompactDatabaseFile(file);
    });
}

void MainController::FormShow()
{
    if (autoUpdateCheck &&
        m_dm.ReadSetting(QStringLiteral("AutoUpdate"), QStringLiteral("1")) == QLatin1String("1"))
        autoUpdateCheck();
}

MainController::WebPanels MainController::planWebPanels(bool providerReachable)
{
    WebPanels p;
    if (!providerReachable)
        return p;
    for (int i = 0; i < 3; ++i)
        p.urls[size_t(i)] = Branding::adBarUrl(i + 1).trimmed();
    p.hideBulletin = p.shown(2);
    return p;
}

bool MainController::providerReachable(const ProviderConfig &config, int timeoutMs)
{
    HttpClient::Options o;
    o.timeoutMs = timeoutMs;
    return HttpClient::get(config.reachability(), o).completed();
}
