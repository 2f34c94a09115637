#pragma once
#include "app/MainController.h"
#include <QMainWindow>
#include <QTimer>

class Clock;
class QAction;
class QCheckBox;
class QLabel;
class QProgressBar;
class QSystemTrayIcon;
class QTabWidget;
class QTextBrowser;
class QToolBar;
class WebPanel;

// The main window: thin; its behaviour lives in MainController.
class Tfrmmain : public QMainWindow {
    Q_OBJECT
public:
    Tfrmmain(MainController &controller, const Clock &clock, QWidget *parent = nullptr);
    ~Tfrmmain() override;

    MainController &controller() { return m_controller; }

    // Toolbar button by its caption, or nullptr.
    QAction *toolButton(const QString &caption) const;
    QTabWidget *RzPageControl2 = nullptr; // send, inbox, today, last numbers, birthdays
    QTabWidget *contactPages = nullptr;
    QLabel *userNameLabel = nullptr;
    QLabel *loginNameLabel = nullptr;
    QLabel *customerNoLabel = nullptr;
    QLabel *balanceLabel = nullptr;
    QWidget *bulletinPanel = nullptr;
    QTextBrowser *bulletinText = nullptr;
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
    const Clock &m_clock;
    QToolBar *m_toolBar = nullptr;
    WebPanel *m_web[3] = {nullptr, nullptr, nullptr};
    QAction *m_web1Action = nullptr; // the first panel sits in the toolbar
    QTimer m_clockTimer;
    bool m_trayEnabled = false;
    bool m_webCheckDone = false;
    bool m_closed = false;
    int m_birthdayPage = -1;
};
