#pragma once
#include <QString>
#include <array>
#include <functional>

class TDataM;
struct ProviderConfig;

// The main window's behaviour that needs no widget: its flags, the exit sequence and the
// decisions about its web panels. The window drives it; tests run it headless.
class MainController {
public:
    explicit MainController(TDataM &dm);

    TDataM &dm() { return m_dm; }

    // True while the user has logged out on purpose or has not logged in yet: no automatic re-login.
    bool ManualLogout = true;

    // Logs the protocol client out; filled by the protocol client.
    std::function<void()> logoutHook;
    // The start-up login gate: false ends the program before the main window is shown.
    std::function<bool()> loginGate = [] { return true; };
    // The automatic update check, run when the window is shown and the setting allows it.
    std::function<void()> autoUpdateCheck;

    // Closing the main window: logout, close both databases, compact when `exitcompact` is "1".
    // Every step's failure is swallowed; closing always proceeds.
    void FormClose();
    // The window was shown (at start and again after "上线").
    void FormShow();
    bool runLoginGate();

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

private:
    TDataM &m_dm;
};
