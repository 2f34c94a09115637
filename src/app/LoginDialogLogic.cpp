#include "app/LoginDialogLogic.h"
#include "app/MainController.h"
#include "app/ProviderConfig.h"
#include "common/HomeFolder.h"
#include "store/dm.h"
#include <QFileInfo>

QStringList LoginDialogLogic::gatewayEntries()
{
    return {QStringLiteral("服务器1"), QStringLiteral("服务器2"), QStringLiteral("服务器3"),
            QStringLiteral("服务器4")};
}

QStringList LoginDialogLogic::proxyTypes()
{
    return {noProxy(), QStringLiteral("HTTP"), QStringLiteral("SOCKS4"), QStringLiteral("SOCKS4A"),
            QStringLiteral("SOCKS5")};
}

bool LoginDialogLogic::isMaintenanceCombination(Qt::KeyboardModifiers held)
{
    return held.testFlag(Qt::ControlModifier) && held.testFlag(Qt::ShiftModifier);
}

LoginForm LoginDialogLogic::initialForm(bool maintenance)
{
    LoginForm f;
    f.proxyType = noProxy();
    const QString host = m_dm.ReadSetting(QStringLiteral("host"), QStringLiteral("0"));
    f.gatewayIndex = qMax(0, gatewayEntries().indexOf(host));

    QString list = m_dm.ReadSetting(QStringLiteral("userlist"));
    list.chop(1); // each entry is followed by ","
    if (!list.isEmpty())
        f.accounts = list.split(QLatin1Char(','));
    const QString user = m_dm.ReadSetting(QStringLiteral("user"));
    if (f.accounts.contains(user)) {
        f.account = user;
        accountChanged(f);
    }

    if (maintenance) {
        f.freeServerShown = true;
        if (host.contains(QLatin1Char(':'))) {
            f.freeServer = host;
        } else {
            const ProviderConfig c = ProviderConfig::load();
            f.freeServer = c.gatewayHostA + QLatin1Char(':') + QString::number(c.gatewayPort1);
        }
    }
    return f;
}

bool LoginDialogLogic::accountChanged(LoginForm &f)
{
    if (f.account.isEmpty() || !f.accounts.contains(f.account))
        return false;
    // Per-account values below are read for this account from now on.
    m_dm.WriteSetting(QStringLiteral("user"), f.account);
    m_controller.clearStaleDayMarkers();

    f.proxyType = noProxy();
    if (m_dm.ReadSetting(QStringLiteral("qyproxy")) == QLatin1String("1")) {
        const QString name = m_dm.ReadSetting(QStringLiteral("proxyname")).trimmed();
        if (proxyTypes().contains(name))
            f.proxyType = name;
    }
    f.proxyHost = m_dm.ReadSetting(QStringLiteral("proxyip"));
    f.proxyPort = m_dm.ReadSetting(QStringLiteral("proxyport"));
    f.proxyUser = m_dm.ReadSetting(QStringLiteral("proxyusr"));
    f.proxyPassword = m_dm.ReadSetting(QStringLiteral("proxypass"));

    f.rememberPassword = m_dm.ReadSetting(QStringLiteral("mmpass")) == QLatin1String("1");
    f.password =
        f.rememberPassword
            ? QString::fromUtf8(QByteArray::fromBase64(m_dm.ReadSetting(QStringLiteral("pass")).toLatin1()))
            : QString();

    f.skinFile.clear();
    const QString skin = m_dm.ReadSetting(QStringLiteral("skin")).trimmed();
    if (!skin.isEmpty()) {
        const QString file = HomeFolder::file(QStringLiteral("skins/") + skin + QStringLiteral(".skn"));
        if (QFileInfo::exists(file))
            f.skinFile = file;
    }
    return true;
}

void LoginDialogLogic::proxyTypeChanged(LoginForm &f)
{
    if (f.proxyType == QLatin1String("SOCKS4") || f.proxyType == QLatin1String("SOCKS4A")) {
        f.proxyPort.clear();
    } else if (f.proxyType == QLatin1String("SOCKS5")) {
        f.proxyPort = QStringLiteral("1080");
    } else if (f.proxyType == QLatin1String("HTTP")) {
        f.proxyPort = QStringLiteral("8080");
    } else if (f.proxyType == noProxy()) {
        m_dm.WriteSetting(QStringLiteral("qyproxy"), QStringLiteral("0"));
        f.proxyHost.clear();
        f.proxyPort.clear();
        f.proxyUser.clear();
        f.proxyPassword.clear();
    }
}

QString LoginDialogLogic::serverText(const LoginForm &f) const
{
    if (f.freeServerShown)
        return f.freeServer.trimmed();
    const QStringList entries = gatewayEntries();
    return entries.value(f.gatewayIndex, entries.first());
}

bool LoginDialogLogic::submit(const LoginForm &f)
{
    return m_controller.DoLogin(serverText(f), f.proxyHost, f.proxyPort, f.proxyType, f.rememberPassword,
                                f.password, f.account, f.proxyUser, f.proxyPassword);
}
