#include "common/HomeFolder.h"
#include "common/VelaroError.h"
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <sys/stat.h>

namespace HomeFolder {

QString path()
{
    const QByteArray env = qgetenv("VELARO_HOME");
    if (!env.isEmpty())
        return QDir::cleanPath(QString::fromLocal8Bit(env));
    QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/velaro"));
}

QString prefix() { return path() + QLatin1Char('/'); }

QString file(const QString &name) { return prefix() + name; }

void ensure()
{
    const QString p = path();
    QFileInfo fi(p);
    if (fi.isDir()) {
        if (!fi.isWritable())
            throw VelaroError(QStringLiteral("程序数据文件夹 %1 不可写，请检查它的权限。").arg(p));
        return;
    }
    if (fi.exists())
        throw VelaroError(QStringLiteral("无法创建程序数据文件夹 %1：同名文件已存在。").arg(p));
    if (!QDir().mkpath(p))
        throw VelaroError(QStringLiteral("无法创建程序数据文件夹 %1，请检查上级文件夹的权限。").arg(p));
    ::chmod(QFile::encodeName(p).constData(), 0700);
}

} // namespace HomeFolder
