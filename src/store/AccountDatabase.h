#pragma once
#include "store/SqlDialect.h"
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <functional>
#include <memory>

class Prompter;
class Clock;

// The database layer: chooses, opens and maintains the customer's main database and the
// shared phrase database, and runs statements for everyone else. Main thread only.
class AccountDatabase {
public:
    AccountDatabase(Prompter &prompter, const Clock &clock);
    ~AccountDatabase();
    AccountDatabase(const AccountDatabase &) = delete;
    AccountDatabase &operator=(const AccountDatabase &) = delete;

    // Opens the main database of a customer number. True when open; raises VelaroError otherwise.
    bool OpenAccountDatabase(const QString &customerNo);
    void closeMain();
    bool isOpen() const;

    // Runs one statement on the shared query AdoQ(); raises "statement >> message" on failure.
    void ExecSql(const QString &statement, bool returnsRows = false);
    void ExecSqlOn(QSqlQuery &query, const QString &statement, bool returnsRows = false);
    QSqlQuery &AdoQ() { return *m_adoQ; }
    // A fresh forward-only query on the main connection, for callers that keep their own cursor.
    QSqlQuery newQuery() const;
    // The first column of the first row, or a null QVariant.
    QVariant scalar(const QString &statement);

    // Runs fn in one transaction; rolls back and rethrows on any error.
    void inTransaction(const std::function<void()> &fn);

    // Copy of the customer's file, compacted; empty target: backup folder with the time as name.
    // False when the target already exists (left unchanged); raises on other failures.
    bool BackupDatabase(const QString &target = QString());
    bool RestoreDatabase(const QString &source);
    bool CompactDatabaseFile(const QString &path = QString());

    int DatabaseKind() const { return m_dialect.DatabaseKind(); }
    QString LeftFunction() const { return m_dialect.LeftFunction(); }
    const SqlDialect &dialect() const { return m_dialect; }
    const QString &DatabasePath() const { return m_databasePath; }
    void clearDatabasePath() { m_databasePath.clear(); }
    const QString &customerNo() const { return m_customerNo; }
    QSqlDatabase mainConnection() const;
    // Table names of the main connection, system tables excluded.
    QStringList tableNames() const;

    // The shared phrase database, opened (and built when missing) on first use.
    QSqlDatabase phraseConnection();
    void closePhrase();

    // Called after a successful restore (the session toggles its connected state).
    std::function<void()> onRestored;

    static QString customerFolder(const QString &customerNo);
    static QString customerFile(const QString &customerNo);

private:
    void openSqlite(const QString &path, bool mustExist);
    void openServer(const QString &customerNo, const QString &source, const QString &user,
                    const QString &password);

    Prompter &m_prompter;
    const Clock &m_clock;
    QString m_mainName, m_phraseName;
    SqlDialect m_dialect;
    QString m_databasePath;
    QString m_customerNo;
    std::unique_ptr<QSqlQuery> m_adoQ;
};
