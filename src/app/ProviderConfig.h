#pragma once
#include <QString>
#include <utility>

// Addresses of the provider's services. Defaults point at the local provider simulator;
// "provider.ini" in the home folder (section "Provider") overrides any of them.
struct ProviderConfig {
    QString gatewayHostA = QStringLiteral("127.0.0.1");
    QString gatewayHostB = QStringLiteral("127.0.0.1");
    quint16 gatewayPort1 = 6666; // "服务器1" and "服务器4"
    quint16 gatewayPort2 = 7777; // "服务器2" and "服务器3"
    QString webBase = QStringLiteral("http://127.0.0.1:8088"); // no trailing '/'
    QString reachabilityUrl;                                   // empty: webBase + "/"
    QString ftpHost = QStringLiteral("127.0.0.1");
    quint16 ftpPort = 21;
    QString ftpUser = QStringLiteral("velaro");
    QString ftpPassword = QStringLiteral("velaro");

    // Reads provider.ini from the home folder; missing or unusable values keep their defaults.
    static ProviderConfig load();
    static QString fileName() { return QStringLiteral("provider.ini"); }

    QString webUrl(const QString &path) const { return webBase + path; }
    QString faqUrl(const QString &anchor) const;
    QString filterWordsUrl() const { return webUrl(QStringLiteral("/sdk_asp/Filter.asp")); }
    QString signUpUrl() const { return webUrl(QStringLiteral("/wdkh/AutoRegUser_action.asp")); }
    QString updateInfoUrl() const
    {
        return webUrl(QStringLiteral("/msgbatch/updatefiles/velsend_update_AgentVer.inf"));
    }
    QString reachability() const
    {
        return reachabilityUrl.isEmpty() ? webBase + QLatin1Char('/') : reachabilityUrl;
    }
    // Host and port of a gateway entry "服务器1" … "服务器4"; any other text is split at the
    // first ':'. Returns false when the text names no entry and holds no ':'.
    bool resolveGatewayEntry(const QString &entry, QString *host, quint16 *port) const;
};
