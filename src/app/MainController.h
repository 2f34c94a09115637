#pragma once
#include "gateway/SMSSOCKET.h"
#include <QObject>
#include <QString>
#include <array>
#include <functional>

class TDataM;
class MainView;
struct ProviderConfig;

// The main window's behaviour that needs no widget: the session (logging in, starting and
// ending it, automatic re-login), the results of control requests, the exit sequence and
// the decisions about its web panels. The window drives it; tests run it headless.
class MainController : public QObject, public SmsNotifyTarget {
    Q_OBJECT
public:
    explicit MainController(TDataM &dm, QObject *parent = nullptr);
    ~MainController() override;

    TDataM &dm() { return m_dm; }
    void setView(MainView *view) { m_view = view; }

    // True while the user has logged out on purpose or has not logged in yet: no automatic re-login.
    bool ManualLogout = true;
    bool SMSConnected() const { return m_connected; }
    bool databaseOpen() const { return m_databaseOpen; }
    QString keptPassword() const { return m_keptPassword; }

    // Replaces the protocol client's logout at close (tests).
    std::function<void()> logoutHook;
    // Replaces the start-up login gate; unset, the gate logs in automatically or shows the dialog.
    std::function<bool()> loginGate;
    // The automatic update check, run when the window is shown and the setting allows it.
    std::function<void()> autoUpdateCheck;

    // Steps of the session start and of notifications that other parts of the program fill in.
    struct SessionHooks {
        std::function<void()> rebuildCustomColumns;
        std::function<void()> downloadFilterWords;
        std::function<void()> startTimers;
        std::function<void()> reloadFolderTree;
        std::function<void()> offerResume;
        std::function<void()> reopenInbox;
        std::function<void()> dayReminderCheck;
        std::function<void()> clearDispatchNumbers;
        std::function<void(const QByteArray &)> loadFilterWordsFromGateway;
        // The protocol client's results for the send pipeline and the inbox.
        std::function<void(const Gateway::TSubmitResp &, quint32)> submitNotify;
        std::function<void(const Gateway::TMessage_Report &)> report;
        std::function<void(const Gateway::TDeliverSM &)> deliver;
    } hooks;
    bool viewMinimized() const;

    // The login routine: configures the protocol client and the web client, starts the login
    // and stores the values. False (with the reason shown) when the server text names no gateway.
    bool DoLogin(const QString &server, const QString &proxyHost, const QString &proxyPort,
                 const QString &proxyName, bool rememberPassword, const QString &password, const QString &account,
                 const QString &proxyUser, const QString &proxyPassword);
    // The login routine with the stored values and the given password.
    bool loginWithStoredValues(const QString &password);
    // Logging in by the stored values at start, or the dialog; false ends the program.
    bool runLoginGate();

    void SetSMSConnected(bool connected);
    void StartSession();
    void WM_SMSActionNotify(quint32 commandId, quint32 status) override;
    void WM_SMSSubmitNotify(const Gateway::TSubmitResp &resp, quint32 status) override;
    void WM_SMSReport(const Gateway::TMessage_Report &report) override;
    void WM_SMSDeliverSM(const Gateway::TDeliverSM &msg) override;
    // Posted to itself after a lost or failed session.
    void WM_AutoReLogin();
    void postAutoReLogin();
    // Toolbar "上线" and "下线".
    void onlineClicked();
    void offlineClicked();
    // Asks the gateway for a new password; the result arrives as a notification.
    void changePassword(const QString &newPassword);
    // The notification pop-up.
    void ShowInfoPopup(const QString &text);
    static QString popupTitle() { return QStringLiteral("信息(点击右键直接关闭)"); }

    // Closing the main window: logout, close both databases, compact when `exitcompact` is "1".
    // Every step's failure is swallowed; closing always proceeds.
    void FormClose();
    // The window was shown (at start and again after "上线").
    void FormShow();

    struct WebPanels {
        std::array<QString, 3> urls; // empty: the panel stays hidden
        bool hideBulletin = false;   // the third panel takes the bulletin's place
        bool shown(int i) const { return !urls[size_t(i)].isEmpty(); }
    };
    // Which web panels to show, from the reachability result and the adBarNURL keys of Ver.ini.
    static WebPanels planWebPanels(bool providerReachable);
    // Forces one connection attempt to the provider's web site; any HTTP answer counts as reachable.
    // Blocking: call it from a worker thread.
    static bool providerReachable(const ProviderConfig &config, int timeoutMs = 5000);

    // Waits before a re-login while minimised, and the countdown otherwise.
    int minimisedReloginDelayMs = 1000;
    int reloginCountdownSeconds = 10;

    // autofileter := "1"; the once-a-day markers sr and jr cleared unless they hold today.
    void clearStaleDayMarkers();

private:
    void showBalance();

    TDataM &m_dm;
    MainView *m_view = nullptr;
    bool m_connected = false;
    bool m_databaseOpen = false;
    bool m_hiddenToTray = false;
    bool m_reloginRunning = false;
    QString m_keptPassword;
    QString m_pendingPassword;
};
