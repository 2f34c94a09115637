#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class AccountDatabase;
class Prompter;

// Tables, views and upgrades of the main database; the template and phrase database files.
class SchemaManager {
public:
    enum class UpgradeResult { Current, Upgraded, Incompatible };

    SchemaManager(AccountDatabase &db, Prompter &prompter);

    // Brings the open main database up to the program's version. Incompatible: the message was
    // shown and exitRequested called. A failing step raises and leaves the database unchanged.
    UpgradeResult UpgradeDatabase();
    void RebuildUserView();
    // Indexes the program relies on for speed, created when missing.
    void ensureWorkingIndexes();
    QString GetCustomColumnList();
    std::vector<std::pair<QString, int>> customColumns();
    void AddCustomColumn(const QString &name, int kind);

    // "4.1" -> 41; nullopt when the digits do not form a number.
    static std::optional<int> versionNumber(const QString &version);

    // Builds sms_template.dat / rcyy.mdb in the home folder from the program's data when missing
    // or from another program version. Raises VelaroError with a clear text on failure.
    static void ensureTemplate();
    static void ensurePhraseDatabase();
    static QString templatePath();
    static QString phrasePath();
    // Builds a database file from SQL scripts (resource paths), atomically.
    static void buildDatabaseFile(const QString &path, const QStringList &scripts, int userVersion);
    // Splits a script into statements at ';' outside quotes and comments.
    static QStringList splitStatements(const QString &script);

    std::function<void()> exitRequested;

private:
    AccountDatabase &m_db;
    Prompter &m_prompter;
};
