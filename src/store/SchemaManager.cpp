#include "store/SchemaManager.h"
#include "common/HomeFolder.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "store/AccountDatabase.h"
#include "store/dm.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <cstdio>

namespace {

const char *const kIncompatible =
    "系统版本不匹配, 无法更新, 请彻底删除原数据重新安装, 并确保您使用的程序是最新版本";

QString readResource(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw VelaroError(QStringLiteral("程序数据 %1 缺失，无法建立数据库。").arg(path));
    return QString::fromUtf8(f.readAll());
}

int programVersionNumber() { return *SchemaManager::versionNumber(TDataM::GetProgramVersion(false)); }

} // namespace

SchemaManager::SchemaManager(AccountDatabase &db, Prompter &prompter) : m_db(db), m_prompter(prompter) {}

std::optional<int> SchemaManager::versionNumber(const QString &version)
{
    QString digits = version;
    digits.remove(QLatin1Char('.'));
    if (digits.isEmpty() || digits.size() > 9)
        return std::nullopt;
    for (QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    return digits.toInt();
}

QStringList SchemaManager::splitStatements(const QString &script)
{
    QStringList out;
    QString cur;
    QChar quote;
    for (int i = 0; i < script.size(); ++i) {
        const QChar c = script[i];
        if (!quote.isNull()) {
            cur += c;
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('-') && i + 1 < script.size() && script[i + 1] == QLatin1Char('-')) {
            while (i < script.size() && script[i] != QLatin1Char('\n'))
                ++i;
            cur += QLatin1Char('\n');
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            cur += c;
            continue;
        }
        if (c == QLatin1Char(';')) {
            if (!cur.trimmed().isEmpty())
                out << cur.trimmed();
            cur.clear();
            continue;
        }
        cur += c;
    }
    if (!cur.trimmed().isEmpty())
        out << cur.trimmed();
    return out;
}

QString SchemaManager::templatePath() { return HomeFolder::file(QStringLiteral("sms_template.dat")); }
QString SchemaManager::phrasePath() { return HomeFolder::file(QStringLiteral("rcyy.mdb")); }

void SchemaManager::buildDatabaseFile(const QString &path, const QStringList &scripts, int userVersion)
{
    const QString dir = QFileInfo(path).absolutePath();
    const QString tmp = QDir(dir).filePath(QStringLiteral("~CP") +
                                           QUuid::createUuid().toString(QUuid::Id128).left(12) +
                                           QStringLiteral(".tmp"));
    const QString name = QStringLiteral("velaro_build_") + QUuid::createUuid().toString(QUuid::Id128);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(tmp);
        if (!db.open()) {
            failure = db.lastError().text();
        } else {
            QSqlQuery q(db);
            db.transaction();
            for (const QString &script : scripts) {
                for (const QString &stmt : splitStatements(readResource(script))) {
                    if (!q.exec(stmt)) {
                        failure = stmt + QStringLiteral(" >> ") + q.lastError().databaseText();
                        break;
                    }
                }
                if (!failure.isEmpty())
                    break;
            }
            if (failure.isEmpty() && !q.exec(QStringLiteral("PRAGMA user_version=%1").arg(userVersion)))
                failure = q.lastError().text();
            if (failure.isEmpty() && !db.commit())
                failure = db.lastError().text();
            if (!failure.isEmpty())
                db.rollback();
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (failure.isEmpty() &&
        std::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(path).constData()) != 0)
        failure = QString::fromLocal8Bit(strerror(errno));
    if (!failure.isEmpty()) {
        QFile::remove(tmp);
        throw VelaroError(QStringLiteral("无法建立数据库文件 %1：%2").arg(path, failure));
    }
}

void SchemaManager::ensureTemplate()
{
    HomeFolder::ensure();
    const QString path = templatePath();
    const int want = programVersionNumber();
    if (QFileInfo::exists(path)) {
        // A template left by another program version would give new customers old tables.
        int have = -1;
        const QString name = QStringLiteral("velaro_tpl_") + QUuid::createUuid().toString(QUuid::Id128);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next())
                    have = q.value(0).toInt();
                q.finish();
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(name);
        if (have == want)
            return;
    }
    buildDatabaseFile(path, {QStringLiteral(":/data/schema/main.sql")}, want);
}

void SchemaManager::ensurePhraseDatabase()
{
    HomeFolder::ensure();
    if (QFileInfo::exists(phrasePath()))
        return;
    QStringList scripts{QStringLiteral(":/data/schema/phrases.sql")};
    if (QFile::exists(QStringLiteral(":/data/schema/phrases_seed.sql")))
        scripts << QStringLiteral(":/data/schema/phrases_seed.sql");
    buildDatabaseFile(phrasePath(), scripts, 1);
}

std::vector<std::pair<QString, int>> SchemaManager::customColumns()
{
    std::vector<std::pair<QString, int>> out;
    QSqlQuery q = m_db.newQuery();
    m_db.ExecSqlOn(q, QStringLiteral("Select * from 自定义名片列 "), true);
    while (q.next())
        out.emplace_back(q.value(0).toString(), q.value(1).toInt());
    return out;
}

QString SchemaManager::GetCustomColumnList()
{
    QString list;
    for (const auto &c : customColumns())
        list += QLatin1Char(',') + c.first;
    return list;
}

void SchemaManager::AddCustomColumn(const QString &name, int kind)
{
    if (kind != 0 && kind != 1)
        return;
    m_db.ExecSql(m_db.dialect().addContactColumn(name, kind));
}

void SchemaManager::RebuildUserView()
{
    try {
        m_db.ExecSql(QStringLiteral(" drop view v_user "));
    } catch (const VelaroError &) {
    }
    try {
        QString columns;
        for (const auto &c : customColumns())
            columns += QLatin1Char(',') + SqlDialect::quoteIdent(c.first);
        m_db.ExecSql(QStringLiteral(" create view v_user as  SELECT 类别表.编码 AS 编码, 类别表.父级 AS 父级, "
                                    "类别表.名称 AS 类别 ,用户表.编号,手机,备注,生日提醒,生日,是农历,姓名,"
                                    "加入时间,到期时间") +
                     columns + QStringLiteral(" FROM 用户表 INNER JOIN 类别表 ON 用户表.类别 = 类别表.编码"));
    } catch (const VelaroError &) {
    }
}

namespace {

// SQLite has no ALTER COLUMN: the table is rebuilt with the column's new declaration,
// keeping every row, the other columns, the row identifier and the indexes.
void sqliteAlterColumn(AccountDatabase &db, const QString &table, const QString &column, const QString &type,
                       const QString &defaultExpr, const QString &shownStatement)
{
    auto fail = [&](const QString &msg) { throw VelaroError(shownStatement + QStringLiteral(" >> ") + msg); };
    QSqlQuery q = db.newQuery();
    if (!q.exec(QStringLiteral("select sql from sqlite_master where type='table' and name=") +
                SqlDialect::quote(table)) ||
        !q.next())
        fail(QStringLiteral("no such table: ") + table);
    const bool autoinc = q.value(0).toString().contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    q.finish();
    struct Col {
        QString name, type, dflt;
        bool notnull, pk;
    };
    std::vector<Col> cols;
    bool found = false;
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(SqlDialect::quoteIdent(table))))
        fail(q.lastError().databaseText());
    while (q.next()) {
        Col c{q.value(1).toString(), q.value(2).toString(), q.value(4).toString(), q.value(3).toBool(),
              q.value(5).toInt() > 0};
        if (c.name == column) {
            found = true;
            c.type = type;
            if (!defaultExpr.isNull())
                c.dflt = defaultExpr;
        }
        cols.push_back(c);
    }
    q.finish();
    if (!found)
        fail(QStringLiteral("no such column: ") + column);
    QStringList indexes;
    if (!q.exec(QStringLiteral("select sql from sqlite_master where type='index' and sql is not null and "
                               "tbl_name=") +
                SqlDialect::quote(table)))
        fail(q.lastError().databaseText());
    while (q.next())
        indexes << q.value(0).toString();
    q.finish();

    const QString tmpTable = table + QStringLiteral("__rebuild");
    QStringList defs, names;
    for (const Col &c : cols) {
        QString d = SqlDialect::quoteIdent(c.name) + QLatin1Char(' ') + c.type;
        if (c.pk)
            d += autoinc ? QStringLiteral(" PRIMARY KEY AUTOINCREMENT") : QStringLiteral(" PRIMARY KEY");
        if (c.notnull)
            d += QStringLiteral(" NOT NULL");
        if (!c.dflt.isEmpty())
            d += QStringLiteral(" DEFAULT ") + c.dflt;
        defs << d;
        names << SqlDialect::quoteIdent(c.name);
    }
    const QString cols_ = names.join(QLatin1Char(','));
    const QStringList steps{
        QStringLiteral("PRAGMA legacy_alter_table=ON"),
        QStringLiteral("CREATE TABLE %1 (%2)").arg(SqlDialect::quoteIdent(tmpTable), defs.join(QLatin1Char(','))),
        QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3")
            .arg(SqlDialect::quoteIdent(tmpTable), cols_, SqlDialect::quoteIdent(table)),
        QStringLiteral("DROP TABLE %1").arg(SqlDialect::quoteIdent(table)),
        QStringLiteral("ALTER TABLE %1 RENAME TO %2")
            .arg(SqlDialect::quoteIdent(tmpTable), SqlDialect::quoteIdent(table)),
    };
    for (const QString &s : steps + indexes)
        if (!q.exec(s))
            fail(q.lastError().databaseText());
    q.exec(QStringLiteral("PRAGMA legacy_alter_table=OFF"));
}

} // namespace

void SchemaManager::ensureWorkingIndexes()
{
    // Not part of any version step: they only make the campaign-size paths fast.
    m_db.ExecSql(QStringLiteral("CREATE INDEX IF NOT EXISTS ") +
                 SqlDialect::quoteIdent(m_db.dialect().indexName(QStringLiteral("id_order"), QStringLiteral("要发缓存表"))) +
                 QStringLiteral(" ON 要发缓存表(\"内容\",\"号码\",\"类型\")"));
}

SchemaManager::UpgradeResult SchemaManager::UpgradeDatabase()
{
    const QString P = TDataM::GetProgramVersion(false);
    const auto Pn = versionNumber(P);
    QString D = QStringLiteral("1.0");
    if (m_db.tableNames().contains(QStringLiteral("系统信息"))) {
        QSqlQuery q = m_db.newQuery();
        m_db.ExecSqlOn(q, QStringLiteral("select 数据库版本号 from 系统信息 "), true);
        D = q.next() ? q.value(0).toString().trimmed() : QString();
    }
    const auto Dn = versionNumber(D);
    if (!Dn || !Pn || *Pn < *Dn) {
        m_prompter.information(QString::fromUtf8(kIncompatible));
        if (exitRequested)
            exitRequested();
        return UpgradeResult::Incompatible;
    }
    if (*Dn >= *Pn) {
        ensureWorkingIndexes();
        return UpgradeResult::Current;
    }

    const int d = *Dn;
    const SqlDialect &dialect = m_db.dialect();
    const QString quotedP = SqlDialect::quote(P);
    auto run = [&](const QString &sql) { m_db.ExecSql(sql); };
    // An ignorable failure must not spoil the surrounding transaction (the server aborts it).
    auto runIgnoring = [&](const QString &sql) {
        m_db.ExecSql(QStringLiteral("SAVEPOINT velaro_step"));
        try {
            m_db.ExecSql(sql);
            m_db.ExecSql(QStringLiteral("RELEASE SAVEPOINT velaro_step"));
        } catch (const VelaroError &) {
            m_db.ExecSql(QStringLiteral("ROLLBACK TO SAVEPOINT velaro_step"));
            m_db.ExecSql(QStringLiteral("RELEASE SAVEPOINT velaro_step"));
        }
    };
    auto alterColumn = [&](const QString &table, const QString &column, const QString &type,
                           const QString &dflt) {
        const QString shown = QStringLiteral(" alter table %1  ALTER COLUMN %2 %3%4")
                                  .arg(table, column, type,
                                       dflt.isNull() ? QString() : QStringLiteral(" DEFAULT ") + dflt);
        if (dialect.isServer()) {
            run(QStringLiteral("alter table %1 ALTER COLUMN %2 TYPE %3").arg(table, column, type));
            if (!dflt.isNull())
                run(QStringLiteral("alter table %1 ALTER COLUMN %2 SET DEFAULT %3").arg(table, column, dflt));
        } else {
            sqliteAlterColumn(m_db, table, column, type, dflt, shown);
        }
    };
    const QString historyView34 = QStringLiteral(
        " create view v_history as  SELECT a.编号, a.群发编号, a.号码, a.状态, a.时间, a.组别, a.姓名, a.字数, "
        "b.内容, a.分割条数, a.类型 FROM 历史表 AS a ,发送内容表 AS b where (a.内容=b.子号) AND "
        "(a.群发编号=b.群发号) AND (a.群发编号<>'' )");

    // A failing step rolls everything back, so the next start retries from the stored version
    // instead of from a half-upgraded database.
    m_db.inTransaction([&] {
        if (d <= 10) {
            run(QStringLiteral("alter table 用户表 add  是农历 varchar(1) DEFAULT 0"));
            runIgnoring(QStringLiteral(" drop view v_user "));
            run(QStringLiteral(" create view v_user as  SELECT 类别表.编码 as 编码, 类别表.父级 as 父级,类别表.名称 as "
                               "类别, 用户表.姓名, 用户表.手机, 用户表.生日,用户表.是农历, 用户表.生日提醒, "
                               "用户表.加入时间, 用户表.到期时间, 用户表.备注 FROM 用户表 INNER JOIN 类别表 ON "
                               "用户表.类别 = 类别表.编码"));
            run(QStringLiteral("Create Table 系统信息 (数据库版本号 varchar(10))"));
            run(QStringLiteral("insert into 系统信息(数据库版本号) values (") + quotedP + QLatin1Char(')'));
        }
        if (d < 14) {
            run(dialect.createIndex(QStringLiteral("id_hm"), QStringLiteral("要发缓存表"), QStringLiteral("号码")));
            run(dialect.createIndex(QStringLiteral("id_nr"), QStringLiteral("要发缓存表"), QStringLiteral("内容")));
            run(dialect.createIndex(QStringLiteral("id_sj"), QStringLiteral("要发缓存表"), QStringLiteral("定时时间")));
            run(dialect.createIndex(QStringLiteral("id_hm"), QStringLiteral("发送缓存表"), QStringLiteral("号码")));
            run(dialect.createIndex(QStringLiteral("id_nr"), QStringLiteral("发送缓存表"), QStringLiteral("内容")));
        }
        if (d < 15) {
            run(dialect.createIndex(QStringLiteral("id_bh"), QStringLiteral("历史表"), QStringLiteral("群发编号")));
            run(dialect.createIndex(QStringLiteral("id_nr"), QStringLiteral("历史表"), QStringLiteral("内容")));
            run(dialect.createIndex(QStringLiteral("id_sj"), QStringLiteral("历史表"), QStringLiteral("时间")));
            run(dialect.createIndex(QStringLiteral("id_zh"), QStringLiteral("发送内容表"), QStringLiteral("子号")));
            run(dialect.createIndex(QStringLiteral("id_qfh"), QStringLiteral("发送内容表"), QStringLiteral("群发号")));
        }
        if (d < 16)
            alterColumn(QStringLiteral("要发缓存表"), QStringLiteral("组别"), QStringLiteral("varchar(100)"), QString());
        if (d <= 16) {
            run(QStringLiteral(" drop view v_history "));
            run(QStringLiteral(" create view v_history as  SELECT a.编号, a.群发编号, a.号码, a.状态, a.时间, a.组别, "
                               "a.姓名, a.字数, b.内容, a.分割条数 FROM 历史表 AS a LEFT JOIN 发送内容表 AS b ON "
                               "(a.内容=b.子号) AND (a.群发编号=b.群发号)"));
        }
        if (d < 18)
            alterColumn(QStringLiteral("用户表"), QStringLiteral("是农历"), QStringLiteral("varchar(1)"),
                        dialect.isServer() ? QStringLiteral("'0'") : QStringLiteral("0"));
        if (d < 19) {
            run(QStringLiteral(" alter table 收信表  ADD COLUMN 类别 varchar(100)"));
            run(QStringLiteral(" alter table 收信表  ADD COLUMN 姓名 varchar(20)"));
        }
        if (d <= 20) {
            run(QStringLiteral(" drop view v_history "));
            run(QStringLiteral(" create view v_history as  SELECT a.编号, a.群发编号, a.号码, a.状态, a.时间, a.组别, "
                               "a.姓名, a.字数, b.内容, a.分割条数 FROM 历史表 AS a ,发送内容表 AS b where "
                               "(a.内容=b.子号) AND (a.群发编号=b.群发号)"));
        }
        if (d < 23) {
            for (const char *t : {"发送缓存表", "要发缓存表", "发送历史缓存表", "临时缓存表", "历史表", "发送历史表"})
                run(QStringLiteral(" alter table ") + QString::fromUtf8(t) +
                    QStringLiteral("  ADD COLUMN 类型 varchar(20) DEFAULT ") + SqlDialect::quote(QStringLiteral("普通")));
            run(QStringLiteral(" drop view v_history "));
            run(QStringLiteral(" create view v_history as  SELECT a.编号, a.群发编号, a.号码, a.状态, a.时间, a.组别, "
                               "a.姓名, a.字数, b.内容, a.分割条数, a.类型 FROM 历史表 AS a ,发送内容表 AS b where "
                               "(a.内容=b.子号) AND (a.群发编号=b.群发号)"));
        }
        if (d < 24) {
            runIgnoring(QStringLiteral(" drop view v_user "));
            run(QStringLiteral(" create view v_user as  SELECT 类别表.编码 as 编码, 类别表.父级 as 父级,类别表.名称 as "
                               "类别, 用户表.姓名, 用户表.手机, 用户表.生日,用户表.是农历, 用户表.生日提醒, "
                               "用户表.加入时间, 用户表.到期时间, 用户表.备注, 用户表.编号 as 编号  FROM 用户表 INNER "
                               "JOIN 类别表 ON 用户表.类别 = 类别表.编码"));
        }
        if (d <= 30)
            run(QStringLiteral(" CREATE TABLE 自定义名片列  ( 名称 varchar(255) PRIMARY KEY  ,类型 integer not null ) "));
        if (d < 34) {
            run(QStringLiteral(" drop view v_history "));
            run(historyView34);
        }
        if (d < 35) {
            run(QStringLiteral(" drop table 临时发送内容表"));
            run(QStringLiteral(" CREATE TABLE 临时发送内容表  (  编号 integer PRIMARY KEY  ,内容 text ) "));
            run(QStringLiteral("Insert into 临时发送内容表 values (1,'')"));
        }
        run(QStringLiteral("update 系统信息 set 数据库版本号=") + quotedP);
    });
    ensureWorkingIndexes();
    return UpgradeResult::Upgraded;
}
