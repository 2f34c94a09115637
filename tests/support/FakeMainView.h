#pragma once
#include "app/MainView.h"
#include <QStringList>
#include <deque>
#include <functional>

// Records what the session shows; the countdown and the login dialog answer from a script.
struct FakeMainView : MainView {
    QStringList results; // every non-empty result shown, in order
    QString userName, loginName, customerNo, balance, balanceLabel, connection, result, bulletin, heading;
    PaneColor connectionColor = PaneColor::Black;
    bool workingAreas = false;
    bool minimized = false;
    int shown = 0, hiddenToTray = 0, countdowns = 0, loginDialogs = 0;
    std::deque<bool> countdownAnswers; // empty: cancel
    std::function<bool(int)> onCountdown; // when set, answers instead (gets the countdown's number)
    std::function<bool()> loginDialog;

    void setSessionLabels(const QString &u, const QString &l, const QString &c, const QString &b) override
    {
        userName = u;
        loginName = l;
        customerNo = c;
        balance = b;
    }
    void setBalanceLabel(const QString &t) override { balanceLabel = t; }
    void setConnectionPane(const QString &t, PaneColor c) override
    {
        connection = t;
        connectionColor = c;
    }
    void setResultPane(const QString &t) override
    {
        result = t;
        if (!t.isEmpty())
            results << t;
    }
    void setWorkingAreasEnabled(bool on) override { workingAreas = on; }
    void setBulletin(const QString &t) override { bulletin = t; }
    void setReminderContentHeading(const QString &t) override { heading = t; }
    void showMainWindow() override { ++shown; }
    void hideToTray() override { ++hiddenToTray; }
    bool isMinimized() const override { return minimized; }
    bool showReloginCountdown(int) override
    {
        ++countdowns;
        if (onCountdown)
            return onCountdown(countdowns);
        if (countdownAnswers.empty())
            return false;
        const bool a = countdownAnswers.front();
        countdownAnswers.pop_front();
        return a;
    }
    bool showLoginDialog() override
    {
        ++loginDialogs;
        return loginDialog ? loginDialog() : false;
    }
};
