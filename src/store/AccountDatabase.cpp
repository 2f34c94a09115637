#include "store/AccountDatabase.h"
#include "common/Clock.h"
#include "common/HomeFolder.h"
#include "common/IniFile.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "store/SchemaManager.h"
#include "store/dm.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QUuid>
#include <atomic>
#include <cstdio>
#include <sqlite3.h>

namespace {

std::atomic<int> g_connectionSerial{0};

QString newConnectionName(const char *what)
{
    return QStringLiteral("velaro_%1_%2").arg(QLatin1String(what)).arg(++g_connectionSerial);
}

QString errorText(const QSqlError &e)
{
    QString t = e.databaseText();
    if (t.isEmpty())
        t = e.text();
    return t;
}

// leftstr(text, n): the first n characters, as the server's left() gives them.
void sqliteLeft(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (argc != 2 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const unsigned char *text = sqlite3_value_text(argv[0]);
    const int bytes = sqlite3_value_bytes(argv[0]);
    const sqlite3_int64 n = sqlite3_value_int64(argv[1]);
    if (!text || n <= 0) {
        sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
        return;
    }
    // Count UTF-8 characters.
    int i = 0;
    sqlite3_int64 chars = 0;
    while (i < bytes && chars < n) {
        const unsigned char c = text[i];
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (i + len > bytes)
            len = bytes - i;
        i += len;
        ++chars;
    }
    sqlite3_result_text(ctx, reinterpret_cast<const char *>(text), i, SQLITE_TRANSIENT);
}

void registerFunctions(const QSqlDatabase &db)
{
    const QVariant h = db.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        return;
    sqlite3 *handle = *static_cast<sqlite3 *const *>(h.data());
    if (handle)
        sqlite3_create_function_v2(handle, "leftstr", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   sqliteLeft, nullptr, nullptr, nullptr);
}

bool validCustomerNo(const QString &no)
{
    if (no.trimmed().isEmpty() || no == QLatin1String(".") || no == QLatin1String(".."))
        return false;
    for (QChar c : no)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c == QLatin1Char(':'))
            return false;
    return no.size() <= 64;
}

// A separate, short-lived SQLite connection on a file (for checks, backup and compaction).
class ScratchConnection {
public:
    explicit ScratchConnection(const QString &path, bool readOnly = false)
        : m_name(newConnectionName("scratch"))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        QString opts = QStringLiteral("QSQLITE_BUSY_TIMEOUT=0");
        if (readOnly)
            opts += QStringLiteral(";QSQLITE_OPEN_READONLY");
        db.setConnectOptions(opts);
        if (!db.open())
            throw VelaroError(errorText(db.lastError()));
    }
    ~ScratchConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }
    QString exec(const QString &sql)
    {
        QSqlQuery q(db());
        if (!q.exec(sql))
            throw VelaroError(errorText(q.lastError()));
        return q.next() ? q.value(0).toString() : QString();
    }
    // Switching out of WAL needs the file to itself: this fails while another connection has it open.
    void requireExclusive()
    {
        const QString mode = exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
        if (mode.compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0)
            throw VelaroError(QStringLiteral("数据库文件正被其他程序使用。"));
    }
    void vacuumInto(const QString &target) { exec(QStringLiteral("VACUUM INTO ") + SqlDialect::quote(target)); }

private:
    QString m_name;
};

// A name for a temporary file in dir; only the name is needed.
QString tempName(const QString &dir)
{
    return QDir(dir).filePath(QStringLiteral("~CP") + QUuid::createUuid().toString(QUuid::Id128).left(12) +
                              QStringLiteral(".tmp"));
}

// Atomic replacement of target by source (same folder), overwriting.
void renameOver(const QString &source, const QString &target)
{
    if (std::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0)
        throw VelaroError(QString::fromLocal8Bit(strerror(errno)));
}

void removeSidecars(const QString &path)
{
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
}

} // namespace

AccountDatabase::AccountDatabase(Prompter &prompter, const Clock &clock)
    : m_prompter(prompter), m_clock(clock), m_mainName(newConnectionName("main")),
      m_phraseName(newConnectionName("phrase"))
{
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_mainName);
    m_adoQ = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_mainName, false));
}

AccountDatabase::~AccountDatabase()
{
    m_adoQ.reset();
    closeMain();
    closePhrase();
    QSqlDatabase::removeDatabase(m_mainName);
    QSqlDatabase::removeDatabase(m_phraseName);
}

QString AccountDatabase::customerFolder(const QString &customerNo) { return HomeFolder::file(customerNo); }

QString AccountDatabase::customerFile(const QString &customerNo)
{
    return customerFolder(customerNo) + QStringLiteral("/tvgp_sms.mdb");
}

QSqlDatabase AccountDatabase::mainConnection() const { return QSqlDatabase::database(m_mainName, false); }

bool AccountDatabase::isOpen() const { return mainConnection().isOpen(); }

void AccountDatabase::closeMain()
{
    if (m_adoQ) {
        m_adoQ->finish();
        m_adoQ->clear();
    }
    QSqlDatabase db = mainConnection();
    if (db.isValid())
        db.close();
}

void AccountDatabase::closePhrase()
{
    QSqlDatabase db = QSqlDatabase::database(m_phraseName, false);
    if (db.isValid())
        db.close();
}

void AccountDatabase::openSqlite(const QString &path, bool mustExist)
{
    m_adoQ.reset();
    QSqlDatabase::removeDatabase(m_mainName);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_mainName);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (mustExist && !QFileInfo::exists(path))
        throw VelaroError(QStringLiteral("数据库文件 %1 不存在。").arg(path));
    if (!db.open())
        throw VelaroError(QStringLiteral("无法打开数据库文件 %1：%2").arg(path, errorText(db.lastError())));
    // An unreadable or foreign file shows itself on the first read; it is left untouched.
    QSqlQuery probe(db);
    // WAL with NORMAL sync: a crash of the program loses no committed work, and commits do
    // not wait for the disk, which keeps per-report and per-number writes fast.
    if (!probe.exec(QStringLiteral("select count(*) from sqlite_master")) ||
        !probe.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !probe.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
        const QString msg = errorText(probe.lastError());
        probe.finish();
        db.close();
        throw VelaroError(QStringLiteral("无法打开数据库文件 %1：%2").arg(path, msg));
    }
    probe.finish();
    registerFunctions(db);
    m_adoQ = std::make_unique<QSqlQuery>(db);
}

void AccountDatabase::openServer(const QString &customerNo, const QString &source, const QString &user,
                                 const QString &password)
{
    m_adoQ.reset();
    QSqlDatabase::removeDatabase(m_mainName);
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        throw VelaroError(QStringLiteral("缺少 PostgreSQL 数据库驱动，无法连接数据库服务器。"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_mainName);
    const int colon = source.lastIndexOf(QLatin1Char(':'));
    QString host = source;
    if (colon > 0) {
        bool ok = false;
        const int port = source.mid(colon + 1).toInt(&ok);
        if (!ok || port <= 0 || port > 65535)
            throw VelaroError(QStringLiteral("DBConfig.ini 中的数据库服务器地址“%1”无效。").arg(source));
        host = source.left(colon);
        db.setPort(port);
    }
    db.setHostName(host.isEmpty() ? QStringLiteral("localhost") : host);
    db.setDatabaseName(QStringLiteral("VLRO_") + customerNo);
    db.setUserName(user);
    db.setPassword(password);
    db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    if (!db.open())
        throw VelaroError(QStringLiteral("无法连接数据库服务器 %1：%2").arg(source, errorText(db.lastError())));
    m_adoQ = std::make_unique<QSqlQuery>(db);
}

bool AccountDatabase::OpenAccountDatabase(const QString &customerNo)
{
    if (!validCustomerNo(customerNo))
        throw VelaroError(QStringLiteral("客户编号“%1”无效，无法打开数据库。").arg(customerNo));

    int kind = 0;
    QString source, user, password;
    const QString configPath = HomeFolder::file(QStringLiteral("DBConfig.ini"));
    if (QFileInfo::exists(configPath)) {
        IniFile ini;
        if (!ini.load(configPath))
            throw VelaroError(QStringLiteral("无法读取数据库配置文件 %1。").arg(configPath));
        bool ok = true;
        kind = ini.intValue(customerNo, QStringLiteral("DBType"), 0, &ok);
        if (!ok || (kind != 0 && kind != 1))
            throw VelaroError(QStringLiteral("数据库配置文件 DBConfig.ini 中 [%1] 的 DBType 值“%2”无效，应为 0 或 1。")
                                  .arg(customerNo, ini.value(customerNo, QStringLiteral("DBType"))));
        source = ini.value(customerNo, QStringLiteral("DBSource"));
        user = ini.value(customerNo, QStringLiteral("DBuser"));
        password = ini.value(customerNo, QStringLiteral("DBPassword"));
    }
    m_dialect = SqlDialect(kind);
    m_customerNo = customerNo;
    closeMain();

    if (kind == 1) {
        m_databasePath.clear();
        openServer(customerNo, source, user, password);
    } else {
        const QString folder = customerFolder(customerNo);
        if (!QDir().mkpath(folder))
            throw VelaroError(QStringLiteral("无法创建客户数据文件夹 %1。").arg(folder));
        m_databasePath = customerFile(customerNo);
        if (QFileInfo::exists(m_databasePath)) {
            openSqlite(m_databasePath, true);
            return true;
        }
        SchemaManager::ensureTemplate();
        // Copy under a temporary name first, so a half-written file never carries the real name.
        const QString tmp = tempName(folder);
        if (!QFile::copy(SchemaManager::templatePath(), tmp)) {
            QFile::remove(tmp);
            throw VelaroError(QStringLiteral("无法从模板 %1 创建客户数据库 %2。")
                                  .arg(SchemaManager::templatePath(), m_databasePath));
        }
        QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner);
        try {
            renameOver(tmp, m_databasePath);
        } catch (const VelaroError &e) {
            QFile::remove(tmp);
            throw VelaroError(QStringLiteral("无法创建客户数据库 %1：%2").arg(m_databasePath, e.text()));
        }
        openSqlite(m_databasePath, true);
    }
    ExecSql(QStringLiteral("insert into 系统信息(数据库版本号) values (") +
            SqlDialect::quote(TDataM::GetProgramVersion(false)) + QLatin1Char(')'));
    return true;
}

void AccountDatabase::ExecSqlOn(QSqlQuery &query, const QString &statement, bool returnsRows)
{
    query.finish();
    query.setForwardOnly(true);
    if (!query.exec(statement))
        throw VelaroError(statement + QStringLiteral(" >> ") + errorText(query.lastError()));
    (void)returnsRows; // a statement that returns rows leaves them on the query for the caller
}

void AccountDatabase::ExecSql(const QString &statement, bool returnsRows)
{
    if (!m_adoQ || !isOpen())
        throw VelaroError(statement + QStringLiteral(" >> ") + QStringLiteral("数据库未打开"));
    ExecSqlOn(*m_adoQ, statement, returnsRows);
}

QSqlQuery AccountDatabase::newQuery() const
{
    QSqlQuery q(mainConnection());
    q.setForwardOnly(true);
    return q;
}

QVariant AccountDatabase::scalar(const QString &statement)
{
    QSqlQuery q = newQuery();
    ExecSqlOn(q, statement, true);
    return q.next() ? q.value(0) : QVariant();
}

void AccountDatabase::inTransaction(const std::function<void()> &fn)
{
    QSqlDatabase db = mainConnection();
    if (!db.transaction())
        throw VelaroError(QStringLiteral("BEGIN >> ") + errorText(db.lastError()));
    try {
        fn();
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit()) {
        const QString msg = errorText(db.lastError());
        db.rollback();
        throw VelaroError(QStringLiteral("COMMIT >> ") + msg);
    }
}

QStringList AccountDatabase::tableNames() const
{
    QStringList names = mainConnection().tables(QSql::Tables);
    names.removeIf([](const QString &n) { return n.startsWith(QLatin1String("sqlite_")); });
    return names;
}

bool AccountDatabase::BackupDatabase(const QString &target)
{
    const QString source = customerFile(m_customerNo);
    if (m_customerNo.isEmpty() || !QFileInfo::exists(source))
        throw VelaroError(QStringLiteral("找不到要备份的数据库文件 %1。").arg(source));
    QString dest = target;
    if (dest.isEmpty()) {
        const QString folder = customerFolder(m_customerNo) + QStringLiteral("/backup");
        if (!QDir().mkpath(folder))
            throw VelaroError(QStringLiteral("无法创建备份文件夹 %1。").arg(folder));
        dest = folder + QLatin1Char('/') + m_clock.now().toString(QStringLiteral("yyyyMMddHHmmss")) +
               QStringLiteral(".mdb");
    }
    if (QFileInfo::exists(dest))
        return false;
    // VACUUM INTO takes a consistent, compacted copy while the live file stays open.
    const QString tmp = tempName(QFileInfo(dest).absolutePath());
    try {
        if (isOpen() && m_databasePath == source) {
            QSqlQuery q = newQuery();
            ExecSqlOn(q, QStringLiteral("VACUUM INTO ") + SqlDialect::quote(tmp));
        } else {
            ScratchConnection c(source, true);
            c.vacuumInto(tmp);
        }
        // QFile::rename refuses an existing target, so a file that appeared meanwhile stays as it is.
        if (!QFile::rename(tmp, dest)) {
            QFile::remove(tmp);
            return false;
        }
    } catch (const VelaroError &e) {
        QFile::remove(tmp);
        throw VelaroError(QStringLiteral("备份失败：%1").arg(e.text()));
    }
    return true;
}

bool AccountDatabase::RestoreDatabase(const QString &source)
{
    closeMain();
    const QString folder = customerFolder(m_customerNo);
    const QString target = customerFile(m_customerNo);
    QString tmp;
    try {
        if (m_customerNo.isEmpty() || m_dialect.isServer())
            throw VelaroError(QStringLiteral("当前没有可恢复的数据库文件。"));
        if (!QFileInfo(source).isFile())
            throw VelaroError(QStringLiteral("找不到文件 %1。").arg(source));
        {
            // Only a customer database may replace the customer's data.
            ScratchConnection src(source, true);
            const QStringList tables = src.db().tables(QSql::Tables);
            for (const char *t : {"用户表", "类别表", "发送缓存表", "历史表"})
                if (!tables.contains(QString::fromUtf8(t)))
                    throw VelaroError(QStringLiteral("所选文件不是本程序的客户数据库。"));
            QDir().mkpath(folder);
            tmp = tempName(folder);
            src.vacuumInto(tmp);
        }
        if (QFileInfo::exists(target)) {
            ScratchConnection old(target);
            old.requireExclusive();
        }
        removeSidecars(target);
        // The old file stays in place until the new one replaces it in one step.
        renameOver(tmp, target);
        tmp.clear();
    } catch (const std::exception &e) {
        if (!tmp.isEmpty())
            QFile::remove(tmp);
        const QString msg = dynamic_cast<const VelaroError *>(&e) ? static_cast<const VelaroError &>(e).text()
                                                                 : QString::fromLocal8Bit(e.what());
        m_prompter.information(QStringLiteral("恢复失败，错误信息为:　") + msg);
        return false;
    }
    if (onRestored)
        onRestored();
    return true;
}

bool AccountDatabase::CompactDatabaseFile(const QString &path)
{
    const QString file = path.isEmpty() ? m_databasePath : path;
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return false;
    const QString tmp = tempName(QFileInfo(file).absolutePath());
    try {
        {
            ScratchConnection c(file);
            // Replacing a file that someone still has open would lose their later writes.
            c.requireExclusive();
            c.vacuumInto(tmp);
        }
        removeSidecars(file);
        renameOver(tmp, file);
        return true;
    } catch (const VelaroError &) {
        QFile::remove(tmp);
        return false;
    }
}

QSqlDatabase AccountDatabase::phraseConnection()
{
    QSqlDatabase db = QSqlDatabase::database(m_phraseName, false);
    if (db.isValid() && db.isOpen())
        return db;
    SchemaManager::ensurePhraseDatabase();
    if (!db.isValid())
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_phraseName);
    db.setDatabaseName(SchemaManager::phrasePath());
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        throw VelaroError(QStringLiteral("无法打开短语数据库 %1：%2")
                              .arg(SchemaManager::phrasePath(), errorText(db.lastError())));
    registerFunctions(db);
    return db;
}
