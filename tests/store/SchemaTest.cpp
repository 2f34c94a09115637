#include "StoreFixture.h"
#include "common/VelaroError.h"
#include "store/SchemaManager.h"
#include <QDir>
#include <QFile>
#include <QSqlRecord>
#include <gtest/gtest.h>
#include <map>

namespace {

// Builds a customer file from a fixture script instead of the template.
void installFixture(StoreFixture &f, const QString &customer, const QString &fixture)
{
    QDir().mkpath(f.home.file(customer));
    SchemaManager::buildDatabaseFile(f.home.file(customer + "/tvgp_sms.mdb"),
                                     {QStringLiteral(VELARO_SOURCE_DIR "/tests/store/fixtures/") + fixture}, 0);
}

// Column names of every table and view, for comparing two databases' shapes.
std::map<QString, QStringList> shape(AccountDatabase &db)
{
    std::map<QString, QStringList> out;
    const QStringList names = db.mainConnection().tables(QSql::AllTables);
    for (const QString &t : names) {
        if (t.startsWith("sqlite_"))
            continue;
        const QSqlRecord r = db.mainConnection().record(t);
        QStringList cols;
        for (int i = 0; i < r.count(); ++i)
            cols << r.fieldName(i);
        out[t] = cols;
    }
    return out;
}

QStringList indexes(AccountDatabase &db)
{
    QStringList out;
    QSqlQuery q = db.newQuery();
    q.exec("select name from sqlite_master where type='index' and sql is not null order by name");
    while (q.next())
        out << q.value(0).toString();
    return out;
}

} // namespace

TEST(Schema, VersionNumbers)
{
    struct {
        const char *text;
        std::optional<int> n;
    } cases[] = {{"1.0", 10}, {"3.5", 35}, {"4.1", 41}, {"4.10", 410}, {"5.0", 50},
                 {"4.a", std::nullopt}, {"", std::nullopt}, {"-4.1", std::nullopt}};
    for (const auto &c : cases)
        EXPECT_EQ(SchemaManager::versionNumber(c.text), c.n) << c.text;
}

TEST(Schema, FreshTemplateIsCurrent)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("1"));
    EXPECT_EQ(f.dm->schema().UpgradeDatabase(), SchemaManager::UpgradeResult::Current);
    EXPECT_TRUE(f.prompter.texts().isEmpty());
}

TEST(Schema, VersionOneDatabaseComesUpToTheTemplateShapeKeepingItsData)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("template"));
    const auto want = shape(f.db());
    const auto wantIdx = indexes(f.db());

    installFixture(f, "old", "main_v10.sql");
    ASSERT_TRUE(f.db().OpenAccountDatabase("old"));
    f.dm->schema().RebuildUserView();
    ASSERT_EQ(f.dm->schema().UpgradeDatabase(), SchemaManager::UpgradeResult::Upgraded);
    f.dm->schema().RebuildUserView();

    EXPECT_EQ(f.scalar("select 数据库版本号 from 系统信息").toString(), "4.1");
    EXPECT_EQ(f.count("系统信息"), 1);
    auto got = shape(f.db());
    for (const auto &[table, cols] : want) {
        SCOPED_TRACE(table.toStdString());
        ASSERT_TRUE(got.count(table));
        QStringList a = got[table], b = cols;
        a.sort();
        b.sort();
        EXPECT_EQ(a, b);
    }
    EXPECT_EQ(indexes(f.db()), wantIdx);

    // Rows survive; new columns take their defaults; the composition is reset.
    EXPECT_EQ(f.scalar("select 姓名 from v_user where 手机='13812345678'").toString(), "张三");
    EXPECT_EQ(f.scalar("select 是农历 from 用户表 where 姓名='张三'").toString(), "0");
    f.db().ExecSql("insert into 用户表(类别,手机,姓名) values('01','13900000000','李四')");
    EXPECT_EQ(f.scalar("select 是农历 from 用户表 where 姓名='李四'").toString(), "0");
    EXPECT_EQ(f.scalar("select 类型 from 要发缓存表").toString(), "普通");
    EXPECT_EQ(f.scalar("select 组别 from 要发缓存表").toString(), "北京");
    EXPECT_EQ(f.scalar("select 内容 from v_history where 群发编号='M1'").toString(), "新年好");
    EXPECT_EQ(f.scalar("select count(*)||'/'||max(编号)||'/'||max(内容) from 临时发送内容表").toString(), "1/1/");
    // The row identifier keeps counting after the rebuild.
    EXPECT_EQ(f.scalar("select max(编号) from 用户表").toInt(), 2);

    EXPECT_EQ(f.dm->schema().UpgradeDatabase(), SchemaManager::UpgradeResult::Current);
}

TEST(Schema, StoredVersionDecidesWhichStepsRun)
{
    StoreFixture f;
    struct Case {
        const char *stored;
        SchemaManager::UpgradeResult result;
        bool compositionReset;
    } cases[] = {
        {"3.4", SchemaManager::UpgradeResult::Upgraded, true},
        {"3.5", SchemaManager::UpgradeResult::Upgraded, false},
        {"4.1", SchemaManager::UpgradeResult::Current, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(f.db().OpenAccountDatabase(QString("c") + c.stored));
        f.db().ExecSql(QString("update 系统信息 set 数据库版本号='%1'").arg(c.stored));
        f.db().ExecSql("update 临时发送内容表 set 内容='草稿'");
        EXPECT_EQ(f.dm->schema().UpgradeDatabase(), c.result);
        EXPECT_EQ(f.scalar("select 内容 from 临时发送内容表").toString(), c.compositionReset ? "" : "草稿");
        EXPECT_EQ(f.scalar("select 数据库版本号 from 系统信息").toString(), "4.1");
    }
    EXPECT_EQ(f.exitRequests, 0);
}

TEST(Schema, IncompatibleVersionsEndTheProgramWithoutChanges)
{
    const QString message = "系统版本不匹配, 无法更新, 请彻底删除原数据重新安装, 并确保您使用的程序是最新版本";
    for (const char *stored : {"4.2", "4.a", "4.10", ""}) {
        SCOPED_TRACE(stored);
        StoreFixture f;
        ASSERT_TRUE(f.db().OpenAccountDatabase("1"));
        f.db().ExecSql(QString("update 系统信息 set 数据库版本号='%1'").arg(stored));
        f.db().ExecSql("update 临时发送内容表 set 内容='草稿'");
        EXPECT_EQ(f.dm->schema().UpgradeDatabase(), SchemaManager::UpgradeResult::Incompatible);
        EXPECT_EQ(f.prompter.texts(), QStringList{message});
        EXPECT_EQ(f.exitRequests, 1);
        EXPECT_EQ(f.scalar("select 数据库版本号 from 系统信息").toString(), stored);
        EXPECT_EQ(f.scalar("select 内容 from 临时发送内容表").toString(), "草稿");
    }
}

TEST(Schema, FailingStepLeavesTheDatabaseAsItWas)
{
    StoreFixture f;
    installFixture(f, "old", "main_v10.sql");
    ASSERT_TRUE(f.db().OpenAccountDatabase("old"));
    // Without v_history the "drop view v_history" step fails.
    f.db().ExecSql("drop view v_history");
    try {
        f.dm->schema().UpgradeDatabase();
        ADD_FAILURE() << "no error";
    } catch (const VelaroError &e) {
        EXPECT_TRUE(e.text().startsWith(" drop view v_history  >> ")) << e.text().toStdString();
    }
    EXPECT_FALSE(f.db().tableNames().contains("系统信息"));
    EXPECT_FALSE(f.db().mainConnection().record("用户表").contains("是农历"));
    EXPECT_EQ(f.scalar("select 内容 from 临时发送内容表").toString(), "上次没发完的内容");
    // Mended, the next start upgrades from the same version.
    f.db().ExecSql("CREATE VIEW v_history AS SELECT 编号 FROM 历史表");
    EXPECT_EQ(f.dm->schema().UpgradeDatabase(), SchemaManager::UpgradeResult::Upgraded);
}

TEST(Schema, CustomColumnsJoinTheContactTableAndView)
{
    StoreFixture f;
    ASSERT_TRUE(f.db().OpenAccountDatabase("1"));
    auto &schema = f.dm->schema();
    EXPECT_EQ(schema.GetCustomColumnList(), "");
    struct {
        QString name;
        int kind;
        QString type;
    } cols[] = {{"爱好", 1, "Text"}, {"公司", 0, "varchar(255)"}, {"it's \"odd\"", 0, "varchar(255)"}};
    for (const auto &c : cols) {
        schema.AddCustomColumn(c.name, c.kind);
        f.db().ExecSql(QString("insert into 自定义名片列(名称,类型) values(%1,%2)").arg(SqlDialect::quote(c.name)).arg(c.kind));
    }
    schema.AddCustomColumn("ignored", 2);
    schema.RebuildUserView();
    EXPECT_EQ(schema.GetCustomColumnList(), ",爱好,公司,it's \"odd\"");
    for (const auto &c : cols)
        EXPECT_EQ(f.scalar("select type from pragma_table_info('用户表') where name=" + SqlDialect::quote(c.name))
                      .toString()
                      .toLower(),
                  c.type.toLower());
    EXPECT_FALSE(f.db().mainConnection().record("用户表").contains("ignored"));
    const QSqlRecord view = f.db().mainConnection().record("v_user");
    EXPECT_EQ(view.indexOf("爱好"), view.indexOf("到期时间") + 1);
    EXPECT_EQ(view.fieldName(view.count() - 1), "it's \"odd\"");
}

TEST(Schema, PhraseDatabaseIsBuiltWithGreetingsAndHolidays)
{
    StoreFixture f;
    QSqlDatabase p = f.db().phraseConnection();
    ASSERT_TRUE(p.isOpen());
    QSqlQuery q(p);
    ASSERT_TRUE(q.exec("select count(*) from 短语表 a join 分类表 b on a.类编码=b.编号 where b.类别='生日祝福'") && q.next());
    EXPECT_GE(q.value(0).toInt(), 5);
    ASSERT_TRUE(q.exec("select 节日名称 from 节日表 where 农历=1 and 月=1 and 日=1") && q.next());
    EXPECT_EQ(q.value(0).toString(), "春节");
    ASSERT_TRUE(q.exec("select 节日名称 from 节日表 where 农历=0 and 月=10 and 日=1") && q.next());
    EXPECT_EQ(q.value(0).toString(), "国庆节");
    EXPECT_TRUE(QFile::exists(f.home.file("rcyy.mdb")));
}
