#pragma once
#include <QString>

// What the session logic asks of the main window. The widget window implements it; tests
// use a recording fake, so the whole session runs headless.
class MainView {
public:
    enum class PaneColor { Black, Red, Green };
    virtual ~MainView() = default;

    virtual void setSessionLabels(const QString &userName, const QString &loginName, const QString &customerNo,
                                  const QString &balance) = 0;
    virtual void setBalanceLabel(const QString &text) = 0;
    virtual void setConnectionPane(const QString &text, PaneColor color) = 0;
    virtual void setResultPane(const QString &text) = 0;
    // The working areas, with "上线" enabled exactly when they are not and "下线" when they are.
    virtual void setWorkingAreasEnabled(bool on) = 0;
    virtual void setBulletin(const QString &text) = 0;
    virtual void setReminderContentHeading(const QString &text) = 0;
    virtual void showMainWindow() = 0;
    virtual void hideToTray() = 0;
    virtual bool isMinimized() const = 0;
    // The modal re-login countdown; true when it ended by itself or by "重新登录(&L)".
    virtual bool showReloginCountdown(int seconds) = 0;
    // The modal login dialog; true when confirmed.
    virtual bool showLoginDialog() = 0;
};
