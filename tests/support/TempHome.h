#pragma once
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QString>
#include <gtest/gtest.h>

// Every test gets its own home folder (and XDG config folder) that disappears afterwards.
class TempHome {
public:
    TempHome()
    {
        EXPECT_TRUE(m_dir.isValid());
        m_oldHome = qgetenv("VELARO_HOME");
        m_oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("VELARO_HOME", QFile::encodeName(path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path() + "/.config"));
    }
    ~TempHome()
    {
        restore("VELARO_HOME", m_oldHome);
        restore("XDG_CONFIG_HOME", m_oldConfig);
    }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(file(name));
        QDir().mkpath(QFileInfo(f).absolutePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private:
    static void restore(const char *name, const QByteArray &old)
    {
        if (old.isNull())
            qunsetenv(name);
        else
            qputenv(name, old);
    }
    QTemporaryDir m_dir;
    QByteArray m_oldHome, m_oldConfig;
};
