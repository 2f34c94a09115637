#pragma once
#include <QString>
#include <optional>

// Two-level store of text values: the machine-wide section "tvsms" and one section
// "tvsms\" + login name per account. Names are compared without regard to case.
// The file is opened for every call; nothing is cached, so two running copies agree.
class SettingsStore {
public:
    // path: the INI file; empty means "settings.ini" in the home folder.
    explicit SettingsStore(QString path = QString());

    QString ReadSetting(const QString &name, const std::optional<QString> &def = std::nullopt,
                        bool forceGlobal = false) const;
    void WriteSetting(const QString &name, const QString &value, bool forceGlobal = false);
    QString GetCurrentUser() const;

    // Auto-start at desktop login as an XDG autostart entry; off keeps the entry, disabled.
    static void SetAutoStart(bool on);
    static QString autoStartEntryPath();

    static bool isGlobalName(const QString &name);
    static QString machineSection() { return QStringLiteral("tvsms"); }
    const QString &path() const { return m_path; }

private:
    QString sectionFor(const QString &name, bool forceGlobal) const;
    QString m_path;
};
