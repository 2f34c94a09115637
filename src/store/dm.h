#pragma once
#include "store/AccountDatabase.h"
#include "store/SchemaManager.h"
#include "store/SettingsStore.h"
#include <QString>
#include <functional>

class Prompter;
class Clock;

// The data module: created first, lives until the end. One class per concern, all reached from here.
class TDataM {
public:
    TDataM(Prompter &prompter, const Clock &clock, const QString &settingsPath = QString());
    ~TDataM();

    SettingsStore &settings() { return m_settings; }
    AccountDatabase &db() { return m_db; }
    SchemaManager &schema() { return m_schema; }
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

    // Asked to end the program (an incompatible database); the shell connects it to quitting.
    std::function<void()> requestExit;

private:
    Prompter &m_prompter;
    const Clock &m_clock;
    SettingsStore m_settings;
    AccountDatabase m_db;
    SchemaManager m_schema;
};
