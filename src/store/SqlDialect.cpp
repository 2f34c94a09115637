#include "store/SqlDialect.h"

QString SqlDialect::quote(const QString &text)
{
    QString s = text;
    s.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

QString SqlDialect::quoteIdent(const QString &name)
{
    QString s = name;
    s.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

QString SqlDialect::leftChars(const QString &column, int n) const
{
    return LeftFunction() + QStringLiteral("(%1,%2)").arg(column).arg(n);
}

QString SqlDialect::folderTop(const QString &column) const
{
    return isServer() ? QStringLiteral("left(%1,2)").arg(column) : QStringLiteral("substr(%1,1,2)").arg(column);
}

QString SqlDialect::first120(const QString &quotedText) const
{
    return isServer() ? QStringLiteral("left(%1,120)").arg(quotedText)
                      : QStringLiteral("substr(%1,1,120)").arg(quotedText);
}

QString SqlDialect::dateText(const QString &column) const
{
    return isServer() ? QStringLiteral("to_char(%1,'YYYY-MM-DD')").arg(column)
                      : QStringLiteral("substr(%1,1,10)").arg(column);
}

QString SqlDialect::intValue(const QString &column) const
{
    return isServer() ? QStringLiteral("cast(%1 as int)").arg(column)
                      : QStringLiteral("cast(%1 as integer)").arg(column);
}

QString SqlDialect::containedIn(const QString &quotedText, const QString &column) const
{
    return isServer() ? QStringLiteral("strpos(%1,%2)>0").arg(quotedText, column)
                      : QStringLiteral("instr(%1,%2)>0").arg(quotedText, column);
}

QString SqlDialect::addContactColumn(const QString &name, int kind) const
{
    const QString type = kind == 1 ? QStringLiteral(" Text ") : QStringLiteral(" varchar(255) ");
    return QStringLiteral(" alter table 用户表  ADD COLUMN ") + quoteIdent(name) + type;
}

QString SqlDialect::createIndex(const QString &name, const QString &table, const QString &column) const
{
    return QStringLiteral("Create Index %1 on %2(%3)")
        .arg(quoteIdent(indexName(name, table)), table, quoteIdent(column));
}
