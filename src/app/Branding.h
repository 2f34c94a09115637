#pragma once
#include <QString>
#include <QStringList>

// "Ver.ini" in the home folder, section "Ver"; read each time a value is needed, never written.
namespace Branding {
QString productName();        // default "Corvant"
QString agentBriefCorpName(); // default empty
QString companyUrl();         // default empty
QString versionName();        // default "标准版"
QString adBarUrl(int n);      // n = 1..3; default empty
// Lines of section "AboutMemo", read as a list of keys and joined into one text.
QString aboutMemo();
QString value(const QString &key, const QString &def);
} // namespace Branding
