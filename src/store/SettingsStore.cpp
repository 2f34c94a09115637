#include "store/SettingsStore.h"
#include "common/HomeFolder.h"
#include "common/IniFile.h"
#include "common/VelaroError.h"
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

namespace {

QString lockPath(const QString &path) { return path + QStringLiteral(".lock"); }

IniFile readStore(const QString &path)
{
    IniFile ini(IniFile::Mode::Escaped);
    if (!ini.load(path))
        throw VelaroError(QStringLiteral("无法读取设置文件 %1。").arg(path));
    return ini;
}

} // namespace

SettingsStore::SettingsStore(QString path)
    : m_path(path.isEmpty() ? HomeFolder::file(QStringLiteral("settings.ini")) : std::move(path))
{
}

bool SettingsStore::isGlobalName(const QString &name)
{
    static const char *const globals[] = {"user",    "userlist", "host",    "onauto",    "totask",
                                          "autologin", "autofileter", "logged", "autoupdate"};
    const QString lower = name.toLower();
    for (const char *g : globals)
        if (lower == QLatin1String(g))
            return true;
    return false;
}

QString SettingsStore::sectionFor(const QString &name, bool forceGlobal) const
{
    if (forceGlobal || isGlobalName(name))
        return machineSection();
    const QString user = GetCurrentUser();
    // Before the first login, account values live in the machine-wide section itself.
    return user.isEmpty() ? machineSection() : machineSection() + QLatin1Char('\\') + user;
}

QString SettingsStore::ReadSetting(const QString &name, const std::optional<QString> &def,
                                   bool forceGlobal) const
{
    const IniFile ini = readStore(m_path);
    const QString v = ini.value(sectionFor(name, forceGlobal), name);
    if (v.isEmpty() && def)
        return *def;
    return v;
}

void SettingsStore::WriteSetting(const QString &name, const QString &value, bool forceGlobal)
{
    // Two running copies may write at once: read-modify-write under a lock, atomic replace.
    QLockFile lock(lockPath(m_path));
    lock.setStaleLockTime(10000);
    if (!lock.tryLock(5000))
        throw VelaroError(QStringLiteral("设置文件 %1 正被占用，无法保存设置。").arg(m_path));
    IniFile ini = readStore(m_path);
    ini.setValue(sectionFor(name, forceGlobal), name, value);
    QString err;
    if (!ini.save(m_path, &err))
        throw VelaroError(QStringLiteral("无法保存设置文件 %1：%2").arg(m_path, err));
}

QString SettingsStore::GetCurrentUser() const
{
    return readStore(m_path).value(machineSection(), QStringLiteral("user"));
}

QString SettingsStore::autoStartEntryPath()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart/velaro.desktop");
}

void SettingsStore::SetAutoStart(bool on)
{
    const QString path = autoStartEntryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw VelaroError(QStringLiteral("无法创建自动启动文件夹 %1。").arg(QFileInfo(path).absolutePath()));
    // The entry stays when switched off; Hidden=true keeps the desktop from starting it.
    IniFile old;
    old.load(path);
    QString exec = old.value(QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
    if (on || exec.isEmpty())
        exec = QLatin1Char('"') + QCoreApplication::applicationFilePath() + QLatin1Char('"');
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Velaro\n"
                                        "Exec=%1\n"
                                        "Hidden=%2\n"
                                        "X-GNOME-Autostart-enabled=%3\n")
                             .arg(exec, on ? QStringLiteral("false") : QStringLiteral("true"),
                                  on ? QStringLiteral("true") : QStringLiteral("false"));
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0 || !f.commit())
        throw VelaroError(QStringLiteral("无法写入自动启动项 %1：%2").arg(path, f.errorString()));
}
