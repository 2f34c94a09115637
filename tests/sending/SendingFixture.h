#pragma once
#include "../store/StoreFixture.h"
#include "sending/SendList.h"
#include <QDir>
#include <QProcess>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>

// A customer database with a send list on it; events are counted instead of processed.
struct SendingFixture : StoreFixture {
    std::unique_ptr<SendList> list;
    int eventRounds = 0;
    QStringList captions;

    SendingFixture()
    {
        db().OpenAccountDatabase(QStringLiteral("1"));
        list = std::make_unique<SendList>(*dm);
        list->processEvents = [this] { ++eventRounds; };
        QObject::connect(list.get(), &SendList::captionChanged, [this](const QString &c) { captions << c; });
    }
    QStringList tableNumbers(const QString &order = QStringLiteral("号码"))
    {
        QSqlQuery q = db().newQuery();
        db().ExecSqlOn(q, "select 号码 from 发送缓存表 order by " + order, true);
        QStringList out;
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
    void addContact(const QString &folder, const QString &phone, const QString &name)
    {
        QSqlQuery q = db().newQuery();
        q.prepare(QStringLiteral("insert into 用户表 (类别,手机,姓名) values (?,?,?)"));
        q.addBindValue(folder);
        q.addBindValue(phone.isNull() ? QVariant() : QVariant(phone));
        q.addBindValue(name);
        ASSERT_TRUE(q.exec());
    }
};

// The number files, written once per run by the real spreadsheet writers.
inline QString numberFiles()
{
    static QTemporaryDir dir;
    static bool made = false;
    if (!made) {
        made = true;
        QProcess p;
        p.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(VELARO_SOURCE_DIR "/tests/sending/fixtures/make_number_files.py"), dir.path()});
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    return dir.path();
}
inline QString numberFile(const QString &name)
{
    return QDir(numberFiles()).filePath(name);
}
