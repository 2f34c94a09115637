#pragma once
#include "common/VelaroError.h"
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <initializer_list>

// Prepared statements with bound values, failing the way the statement runner fails:
// the statement, " >> " and the database's message.
namespace PreparedSql {

inline QString errorText(const QSqlError &e)
{
    return e.databaseText().isEmpty() ? e.text() : e.databaseText();
}

inline void prepare(QSqlQuery &q, const QString &statement)
{
    if (!q.prepare(statement))
        throw VelaroError(statement + QStringLiteral(" >> ") + errorText(q.lastError()));
}

inline void exec(QSqlQuery &q, std::initializer_list<QVariant> values)
{
    int i = 0;
    for (const QVariant &v : values)
        q.bindValue(i++, v);
    if (!q.exec())
        throw VelaroError(q.lastQuery() + QStringLiteral(" >> ") + errorText(q.lastError()));
}

} // namespace PreparedSql
