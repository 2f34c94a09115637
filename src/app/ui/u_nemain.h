#pragma once
#include "app/MainController.h"
#include "app/MainView.h"
#include <QMainWindow>
#include <QTimer>
#include <optional>

class Clock;
class QAction;
class QCheckBox;
class QLabel;
class QProgressBar;
class QSystemTrayIcon;
class QTabWidget;
class BulletinScroller;
class QToolBar;
class WebPanel;
class SendPage;
class SendPipeline;

// The main window: thin; its behaviour lives in MainController, which drives it as its view.
class Tfrmmain : public QMainWindow, public MainView {
    Q_OBJECT
public:
    Tfrmmain(MainController &controller, const Clock &clock, QWidget *parent = nullptr);
    ~Tfrmmain() override;

    MainController &controller() { return m_controller; }
    // Puts the send page in place of the empty "信息发送" page and connects a run's progress,
    // status, balance and page state to this window.
    void installSendPage(SendPage *page, SendPipeline &pipeline);
    SendPage *sendPage() const { return m_sendPage; }

    // Toolbar button by its caption, or nullptr.
    QAction *toolButton(const QString &caption) const;
    QTabWidget *RzPageControl2 = nullptr; // send, inbox, today, last numbers, birthdays
    QTabWidget *contactPages = nullptr;
    QLabel *userNameLabel = nullptr;
    QLabel *loginNameLabel = nullptr;
    QLabel *customerNoLabel = nullptr;
    QLabel *balanceLabel = nullptr;
    QWidget *bulletinPanel = nullptr;
    BulletinScroller *bulletinText = nullptr;
    QCheckBox *hideDetailsCheck = nullptr;
    QLabel *connectionPane = nullptr;
    QLabel *resultPane = nullptr;
    QLabel *clockPane = nullptr;
    QProgressBar *progressBar = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    WebPanel *webPanel(int n) const { return m_web[n - 1]; } // n = 1..3
    bool webPanelVisible(int n) const;
    bool trayEnabled() const { return m_trayEnabled; }
    bool webPanelCheckDone() const { return m_webCheckDone; }

    void setBirthdayCount(int count);
    QString reminderContentHeading() const { return m_reminderHeading; }

    // MainView
    void setSessionLabels(const QString &userName, const QString &loginName, const QString &customerNo,
                          const QString &balance) override;
    void setBalanceLabel(const QString &text) override;
    void setConnectionPane(const QString &text, PaneColor color) override;
    void setResultPane(const QString &text) override;
    void setWorkingAreasEnabled(bool on) override;
    void setBulletin(const QString &text) override;
    void setReminderContentHeading(const QString &text) override;
    void showMainWindow() override;
    void hideToTray() override;
    bool isMinimized() const override;
    bool showReloginCountdown(int seconds) override;
    bool showLoginDialog() override;

    // The length of one counted second of the re-login countdown (tests shorten it).
    int countdownPeriodMs = 1000;
    // Keyboard modifiers the login dialog sees as held; unset, the real keyboard's.
    std::optional<Qt::KeyboardModifiers> loginModifiers;
    // Shows the panels the plan names and hides the others.
    void applyWebPanels(const MainController::WebPanels &plan);

signals:
    // The window has closed and the exit sequence has run; the application ends.
    void closed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildToolBar();
    QWidget *buildUpperArea();
    QWidget *buildLowerArea();
    QWidget *buildRightSide();
    void buildStatusBar();
    void buildTray();
    void startWebPanelCheck();
    void setTrayEnabled(bool on);
    void tickClock();

    MainController &m_controller;
    SendPage *m_sendPage = nullptr;
    const Clock &m_clock;
    QToolBar *m_toolBar = nullptr;
    WebPanel *m_web[3] = {nullptr, nullptr, nullptr};
    QAction *m_web1Action = nullptr; // the first panel sits in the toolbar
    QTimer m_clockTimer;
    bool m_trayEnabled = false;
    bool m_webCheckDone = false;
    bool m_closed = false;
    bool m_inTray = false;
    QString m_reminderHeading;
    int m_birthdayPage = -1;
};
