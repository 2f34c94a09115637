#include "StoreFixture.h"
#include "common/VelaroError.h"
#include "store/SchemaManager.h"
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <gtest/gtest.h>

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

TEST(AccountDatabase, NewCustomerGetsTemplateCopyWithOneVersionRow)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("10086"));
    EXPECT_EQ(f.db().DatabasePath(), f.home.file("10086/tvgp_sms.mdb"));
    EXPECT_TRUE(QFile::exists(f.home.file("sms_template.dat")));
    EXPECT_EQ(f.count("系统信息"), 1);
    EXPECT_EQ(f.scalar("select 数据库版本号 from 系统信息").toString(), TDataM::GetProgramVersion(false));
    EXPECT_EQ(f.count("类别表 where 编码 in ('01','02','03','04') and 父级='0'"), 4);
    EXPECT_EQ(f.db().DatabaseKind(), 0);

    ASSERT_TRUE(f.db().OpenAccountDatabase("10086"));
    EXPECT_EQ(f.count("系统信息"), 1);
    // Another customer gets another folder.
    ASSERT_TRUE(f.db().OpenAccountDatabase("20000"));
    EXPECT_TRUE(QFile::exists(f.home.file("20000/tvgp_sms.mdb")));
}

TEST(AccountDatabase, BadInputRaisesClearErrorsAndTouchesNothing)
{
    StoreFixture f;
    f.home.write("555/tvgp_sms.mdb", "this is not a database at all, just some text bytes.........");
    const QByteArray before = readAll(f.home.file("555/tvgp_sms.mdb"));

    struct Case {
        const char *customer;
        const char *dbconfig;
        const char *expect;
    } cases[] = {
        {"555", nullptr, "无法打开数据库文件"},
        {"../evil", nullptr, "客户编号"},
        {"", nullptr, "客户编号"},
        {"777", "[777]\nDBType=abc\n", "DBType"},
        {"777", "[777]\nDBType=5\n", "DBType"},
        {"777", "[777]\nDBType=1\nDBSource=127.0.0.1:notaport\n", "数据库服务器"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.customer);
        QFile::remove(f.home.file("DBConfig.ini"));
        if (c.dbconfig)
            f.home.write("DBConfig.ini", c.dbconfig);
        try {
            f.db().OpenAccountDatabase(QString::fromUtf8(c.customer));
            ADD_FAILURE() << "opened";
        } catch (const VelaroError &e) {
            EXPECT_TRUE(e.text().contains(QString::fromUtf8(c.expect))) << e.text().toStdString();
        }
        EXPECT_FALSE(f.db().isOpen());
    }
    EXPECT_EQ(readAll(f.home.file("555/tvgp_sms.mdb")), before);
    EXPECT_FALSE(QDir(f.home.file("evil")).exists());
}

TEST(AccountDatabase, GarbageDbConfigSectionOfAnotherCustomerStillOpensTheFile)
{
    StoreFixture f;
    f.home.write("DBConfig.ini", "\x01\x02\xff\xfe[other]\nDBType=1\n");
    ASSERT_TRUE(f.db().OpenAccountDatabase("123"));
    EXPECT_EQ(f.db().DatabaseKind(), 0);
}

TEST(AccountDatabase, MissingOrStaleTemplateIsRebuilt)
{
    StoreFixture f;
    f.home.write("sms_template.dat", "garbage");
    ASSERT_TRUE(f.db().OpenAccountDatabase("1"));
    EXPECT_EQ(f.count("临时发送内容表"), 1);
    QFile::remove(f.home.file("sms_template.dat"));
    ASSERT_TRUE(f.db().OpenAccountDatabase("2"));
    EXPECT_TRUE(QFile::exists(f.home.file("sms_template.dat")));
}

TEST(AccountDatabase, ExecSqlErrorTextIsStatementAndMessage)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("1"));
    try {
        f.db().ExecSql("select * from 没有这个表", true);
        ADD_FAILURE();
    } catch (const VelaroError &e) {
        EXPECT_TRUE(e.text().startsWith("select * from 没有这个表 >> ")) << e.text().toStdString();
        EXPECT_TRUE(e.text().contains("no such table")) << e.text().toStdString();
    }
    f.db().ExecSql("select 编码 from 类别表 order by 编码", true);
    ASSERT_TRUE(f.db().AdoQ().next());
    EXPECT_EQ(f.db().AdoQ().value(0).toString(), "01");
}

TEST(SqlDialect, BothFormsOfEveryPair)
{
    const SqlDialect file(0), server(1);
    struct Row {
        QString fileForm, serverForm;
    } rows[] = {
        {file.leftChars("号码", 3), server.leftChars("号码", 3)},
        {file.folderTop(), server.folderTop()},
        {file.first120("'abc'"), server.first120("'abc'")},
        {file.dateText("时间"), server.dateText("时间")},
        {file.intValue(), server.intValue()},
        {file.containedIn("'x'"), server.containedIn("'x'")},
        {file.addContactColumn("爱好", 1), server.addContactColumn("爱好", 1)},
        {file.addContactColumn("a\"b", 0), server.addContactColumn("a\"b", 0)},
    };
    const Row expected[] = {
        {"leftstr(号码,3)", "left(号码,3)"},
        {"substr(编码,1,2)", "left(编码,2)"},
        {"substr('abc',1,120)", "left('abc',120)"},
        {"substr(时间,1,10)", "to_char(时间,'YYYY-MM-DD')"},
        {"cast(编码 as integer)", "cast(编码 as int)"},
        {"instr('x',内容)>0", "strpos('x',内容)>0"},
        {" alter table 用户表  ADD COLUMN \"爱好\" Text ", " alter table 用户表  ADD COLUMN \"爱好\" Text "},
        {" alter table 用户表  ADD COLUMN \"a\"\"b\" varchar(255) ",
         " alter table 用户表  ADD COLUMN \"a\"\"b\" varchar(255) "},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].fileForm, expected[i].fileForm);
        EXPECT_EQ(rows[i].serverForm, expected[i].serverForm);
    }
    EXPECT_EQ(SqlDialect::quote("O'Brien's"), "'O''Brien''s'");
}

TEST(SqlDialect, DesktopFormsRunOnTheDesktopFile)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("1"));
    const SqlDialect &d = f.db().dialect();
    f.db().ExecSql("insert into 用户表(手机,类别,姓名) values('13812345678','0301','x')");
    f.db().ExecSql("insert into 历史表(号码,时间,内容) values('13812345678','2008-05-04 13:02:09',7)");
    EXPECT_EQ(f.scalar("select " + d.leftChars("手机", 3) + " from 用户表").toString(), "138");
    EXPECT_EQ(f.scalar("select leftstr('中文abc',3)").toString(), "中文a");
    EXPECT_EQ(f.scalar("select " + d.folderTop("类别") + " from 用户表").toString(), "03");
    EXPECT_EQ(f.scalar("select " + d.first120(SqlDialect::quote(QString(200, 'x')))).toString().size(), 120);
    EXPECT_EQ(f.scalar("select " + d.dateText("时间") + " from 历史表").toString(), "2008-05-04");
    EXPECT_EQ(f.scalar("select max(" + d.intValue() + ") from 类别表").toInt(), 4);
    EXPECT_EQ(f.count("历史表 where " + d.containedIn("'今天是7号'", "cast(内容 as text)")), 1);
}

TEST(AccountDatabase, BackupNamesTheFileByTimeAndNeverOverwrites)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("42"));
    f.db().ExecSql("insert into 用户表(手机,类别,姓名) values('13800000000','01','甲')");
    ASSERT_TRUE(f.db().BackupDatabase());
    const QString backup = f.home.file("42/backup/20080504130209.mdb");
    ASSERT_TRUE(QFile::exists(backup));
    const QByteArray first = readAll(backup);
    f.db().ExecSql("insert into 用户表(手机,类别,姓名) values('13900000000','01','乙')");
    EXPECT_FALSE(f.db().BackupDatabase());
    EXPECT_EQ(readAll(backup), first);
    {
        QSqlDatabase b = QSqlDatabase::addDatabase("QSQLITE", "backup_check");
        b.setDatabaseName(backup);
        ASSERT_TRUE(b.open());
        QSqlQuery q(b);
        ASSERT_TRUE(q.exec("select count(*) from 用户表") && q.next());
        EXPECT_EQ(q.value(0).toInt(), 1);
    }
    QSqlDatabase::removeDatabase("backup_check");
    const QString chosen = f.home.file("chosen.mdb");
    EXPECT_TRUE(f.db().BackupDatabase(chosen));
    EXPECT_TRUE(QFile::exists(chosen));
}

TEST(AccountDatabase, RestoreReplacesOnlyWithACustomerDatabase)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("42"));
    f.db().ExecSql("insert into 用户表(手机,类别,姓名) values('13800000000','01','备份里的人')");
    ASSERT_TRUE(f.db().BackupDatabase(f.home.file("good.mdb")));
    f.db().ExecSql("delete from 用户表");
    f.db().ExecSql("insert into 用户表(手机,类别,姓名) values('13900000000','01','现在的人')");
    int restored = 0;
    f.db().onRestored = [&] { ++restored; };

    // Not a customer database: a text file, and an SQLite file of another kind.
    f.home.write("notes.txt", "hello");
    {
        QSqlDatabase o = QSqlDatabase::addDatabase("QSQLITE", "other_kind");
        o.setDatabaseName(f.home.file("other.db"));
        ASSERT_TRUE(o.open());
        QSqlQuery(o).exec("create table t(x)");
        o.close();
    }
    QSqlDatabase::removeDatabase("other_kind");
    for (const char *bad : {"notes.txt", "other.db", "missing.mdb"}) {
        SCOPED_TRACE(bad);
        f.prompter.clear();
        EXPECT_FALSE(f.db().RestoreDatabase(f.home.file(bad)));
        ASSERT_EQ(f.prompter.texts().size(), 1);
        EXPECT_TRUE(f.prompter.texts()[0].startsWith("恢复失败，错误信息为:　")) << f.prompter.texts()[0].toStdString();
        EXPECT_FALSE(f.db().isOpen());
        ASSERT_TRUE(f.db().OpenAccountDatabase("42"));
        EXPECT_EQ(f.scalar("select 姓名 from 用户表").toString(), "现在的人");
    }
    EXPECT_EQ(restored, 0);

    EXPECT_TRUE(f.db().RestoreDatabase(f.home.file("good.mdb")));
    EXPECT_EQ(restored, 1);
    EXPECT_FALSE(f.db().isOpen());
    ASSERT_TRUE(f.db().OpenAccountDatabase("42"));
    EXPECT_EQ(f.scalar("select 姓名 from 用户表").toString(), "备份里的人");
    EXPECT_TRUE(QFile::exists(f.home.file("good.mdb")));
}

TEST(AccountDatabase, RestoreAndCompactRefuseAFileInUseElsewhere)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("42"));
    ASSERT_TRUE(f.db().BackupDatabase(f.home.file("good.mdb")));
    f.db().ExecSql("insert into 用户表(手机,类别,姓名) values('13900000000','01','现在的人')");
    f.db().closeMain();
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other_program");
        other.setDatabaseName(f.home.file("42/tvgp_sms.mdb"));
        ASSERT_TRUE(other.open());
        QSqlQuery q(other);
        ASSERT_TRUE(q.exec("select count(*) from 用户表") && q.next());
        EXPECT_FALSE(f.db().CompactDatabaseFile(f.home.file("42/tvgp_sms.mdb")));
        EXPECT_FALSE(f.db().RestoreDatabase(f.home.file("good.mdb")));
        ASSERT_EQ(f.prompter.texts().size(), 1);
        EXPECT_TRUE(f.prompter.texts()[0].startsWith("恢复失败，错误信息为:　"));
        q.finish();
        other.close();
    }
    QSqlDatabase::removeDatabase("other_program");
    ASSERT_TRUE(f.db().OpenAccountDatabase("42"));
    EXPECT_EQ(f.scalar("select count(*) from 用户表").toInt(), 1);
}

TEST(AccountDatabase, CompactionShrinksAndKeepsRows)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("42"));
    f.db().inTransaction([&] {
        for (int i = 0; i < 3000; ++i)
            f.db().ExecSql(QString("insert into 收信表(源号码,内容) values('1','%1')").arg(QString(200, 'x')));
    });
    f.db().ExecSql("delete from 收信表 where rowid > 10");
    const QString path = f.db().DatabasePath();
    f.db().closeMain();
    const qint64 before = QFileInfo(path).size() + QFileInfo(path + "-wal").size();
    EXPECT_TRUE(f.db().CompactDatabaseFile());
    EXPECT_LT(QFileInfo(path).size(), before);
    EXPECT_FALSE(QFile::exists(path + "-wal"));
    ASSERT_TRUE(f.db().OpenAccountDatabase("42"));
    EXPECT_EQ(f.count("收信表"), 10);
    EXPECT_FALSE(f.db().CompactDatabaseFile(f.home.file("nothing-here.mdb")));
    QDir dir(f.home.file("42"));
    EXPECT_TRUE(dir.entryList({"~CP*"}).isEmpty());
}

TEST(AccountDatabase, ProgramVersionForms)
{
    EXPECT_EQ(TDataM::GetProgramVersion(false), "4.1");
    EXPECT_EQ(TDataM::GetProgramVersion(true), "4.1.0.1");
}
