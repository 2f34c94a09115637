#include "app/Branding.h"
#include "common/HomeFolder.h"
#include "common/IniFile.h"

namespace Branding {

namespace {
IniFile load()
{
    IniFile ini;
    ini.load(HomeFolder::file(QStringLiteral("Ver.ini")));
    return ini;
}
} // namespace

QString value(const QString &key, const QString &def)
{
    const QString v = load().value(QStringLiteral("Ver"), key);
    return v.isEmpty() ? def : v;
}

QString productName() { return value(QStringLiteral("ProductName"), QStringLiteral("Corvant")); }
QString agentBriefCorpName() { return value(QStringLiteral("AgentBriefCorpName"), QString()); }
QString companyUrl() { return value(QStringLiteral("CompanyURL"), QString()); }
QString versionName() { return value(QStringLiteral("VersionName"), QStringLiteral("标准版")); }

QString adBarUrl(int n)
{
    if (n < 1 || n > 3)
        return {};
    return value(QStringLiteral("adBar%1URL").arg(n), QString());
}

QString aboutMemo() { return load().keys(QStringLiteral("AboutMemo")).join(QLatin1Char('\n')); }

} // namespace Branding
