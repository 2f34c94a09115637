#pragma once
#include <QString>

// The statement forms that differ between the two database kinds; every other statement
// is written once in SQL both accept. kind 0 is the desktop file (SQLite), anything else
// the database server (PostgreSQL).
class SqlDialect {
public:
    explicit SqlDialect(int databaseKind = 0) : m_kind(databaseKind) {}

    int DatabaseKind() const { return m_kind; }
    bool isServer() const { return m_kind != 0; }
    // Name of the left-substring function, spliced in front of "(号码,1)" or "(号码,3)".
    // SQLite has none and reserves "left", so the desktop connection registers "leftstr".
    QString LeftFunction() const { return isServer() ? QStringLiteral("left") : QStringLiteral("leftstr"); }

    QString leftChars(const QString &column, int n) const;  // first n characters of a number
    QString folderTop(const QString &column = QStringLiteral("编码")) const; // first two characters
    QString first120(const QString &quotedText) const;
    QString dateText(const QString &column) const;          // "YYYY-MM-DD" of a date-and-time column
    QString intValue(const QString &column = QStringLiteral("编码")) const;
    QString containedIn(const QString &quotedText, const QString &column = QStringLiteral("内容")) const;
    // Adds a user-defined column to the contact table; kind 0 single line, 1 multi-line.
    QString addContactColumn(const QString &name, int kind) const;
    // Index names are per database in both engines, so the table's name is part of it.
    QString createIndex(const QString &name, const QString &table, const QString &column) const;
    QString indexName(const QString &name, const QString &table) const { return table + QLatin1Char('_') + name; }

    // Enclosed in single quotes with every single quote inside doubled.
    static QString quote(const QString &text);
    // A double-quoted identifier with every double quote inside doubled.
    static QString quoteIdent(const QString &name);

private:
    int m_kind;
};
