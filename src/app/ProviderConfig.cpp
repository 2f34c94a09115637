#include "app/ProviderConfig.h"
#include "common/HomeFolder.h"
#include "common/IniFile.h"
#include <QUrl>

namespace {
void readPort(const IniFile &ini, const char *key, quint16 &port)
{
    bool ok = false;
    const uint v = ini.value(QStringLiteral("Provider"), QLatin1String(key)).toUInt(&ok);
    if (ok && v > 0 && v <= 65535)
        port = quint16(v);
}
void readText(const IniFile &ini, const char *key, QString &text)
{
    const QString v = ini.value(QStringLiteral("Provider"), QLatin1String(key)).trimmed();
    if (!v.isEmpty())
        text = v;
}
} // namespace

ProviderConfig ProviderConfig::load()
{
    ProviderConfig c;
    IniFile ini;
    ini.load(HomeFolder::file(fileName()));
    readText(ini, "GatewayHostA", c.gatewayHostA);
    readText(ini, "GatewayHostB", c.gatewayHostB);
    readPort(ini, "GatewayPort1", c.gatewayPort1);
    readPort(ini, "GatewayPort2", c.gatewayPort2);
    readText(ini, "WebServer", c.webBase);
    while (c.webBase.endsWith(QLatin1Char('/')))
        c.webBase.chop(1);
    readText(ini, "ReachabilityUrl", c.reachabilityUrl);
    readText(ini, "FtpHost", c.ftpHost);
    readPort(ini, "FtpPort", c.ftpPort);
    readText(ini, "FtpUser", c.ftpUser);
    readText(ini, "FtpPassword", c.ftpPassword);
    return c;
}

QString ProviderConfig::faqUrl(const QString &anchor) const
{
    // The anchor is Chinese text; the browser wants it percent-encoded.
    return webUrl(QStringLiteral("/vlro/vlrofaq_oem.html")) + QLatin1Char('#') +
           QString::fromLatin1(QUrl::toPercentEncoding(anchor));
}

bool ProviderConfig::resolveGatewayEntry(const QString &entry, QString *host, quint16 *port) const
{
    struct Row {
        const char16_t *name;
        bool hostB;
        bool port2;
    };
    static const Row rows[] = {
        {u"服务器1", false, false},
        {u"服务器2", false, true},
        {u"服务器3", true, true},
        {u"服务器4", true, false},
    };
    for (const Row &r : rows) {
        if (entry == QString::fromUtf16(r.name)) {
            *host = r.hostB ? gatewayHostB : gatewayHostA;
            *port = r.port2 ? gatewayPort2 : gatewayPort1;
            return true;
        }
    }
    const int colon = entry.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    *host = entry.left(colon).trimmed();
    bool ok = false;
    const uint p = entry.mid(colon + 1).trimmed().toUInt(&ok);
    *port = ok && p <= 65535 ? quint16(p) : 0;
    return true;
}
