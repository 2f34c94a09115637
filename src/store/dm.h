#pragma once
#include "app/HttpClient.h"
#include "gateway/SMSSOCKET.h"
#include "store/AccountDatabase.h"
#include "store/SchemaManager.h"
#include "store/SettingsStore.h"
#include <QString>
#include <functional>
#include <memory>

class Prompter;
class Clock;

// The data module: created first, lives until the end. One class per concern, all reached from here.
class TDataM {
public:
    TDataM(Prompter &prompter, const Clock &clock, const QString &settingsPath = QString(),
           const GatewayTimings &timings = GatewayTimings());
    ~TDataM();

    SettingsStore &settings() { return m_settings; }
    AccountDatabase &db() { return m_db; }
    SchemaManager &schema() { return m_schema; }
    // The one connection to the gateway.
    TSMSSOCKET &sms() { return *m_sms; }
    Prompter &prompter() { return m_prompter; }
    const Clock &clock() const { return m_clock; }

    // Convenience forwarding to the settings store.
    QString ReadSetting(const QString &name, const std::optional<QString> &def = std::nullopt,
                        bool forceGlobal = false) const
    {
        return m_settings.ReadSetting(name, def, forceGlobal);
    }
    void WriteSetting(const QString &name, const QString &value, bool forceGlobal = false)
    {
        m_settings.WriteSetting(name, value, forceGlobal);
    }
    QString GetCurrentUser() const { return m_settings.GetCurrentUser(); }

    // "major.minor" (the database version) or "major.minor.patch.build".
    static QString GetProgramVersion(bool full);

    // Values copied from the settings at each login.
    bool NewNumAutoAddToCard = false; // add new numbers to the contact book
    bool AddPrefix = true;
    QString FirstWord, LastWord;
    // Per-part length limits for numbers not starting and starting with "0".
    int SegLenMobile = 0, SegLenOther = 0;
    // The web client's proxy, set by each login.
    HttpProxy webProxy;

    // Asked to end the program (an incompatible database); the shell connects it to quitting.
    std::function<void()> requestExit;

private:
    Prompter &m_prompter;
    const Clock &m_clock;
    SettingsStore m_settings;
    AccountDatabase m_db;
    SchemaManager m_schema;
    std::unique_ptr<TSMSSOCKET> m_sms;
};
