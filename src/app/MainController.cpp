#include "app/MainController.h"
#include "app/Branding.h"
#include "app/HttpClient.h"
#include "app/ProviderConfig.h"
#include "store/dm.h"

namespace {
template <typename F> void swallow(F &&step)
{
    try {
        step();
    } catch (...) {
    }
}
} // namespace

MainController::MainController(TDataM &dm) : m_dm(dm) {}

void MainController::FormClose()
{
    ManualLogout = true;
    swallow([&] {
        if (logoutHook)
            logoutHook();
    });
    AccountDatabase &db = m_dm.db();
    // The file is compacted after its connection is closed, so remember which file it was.
    // DatabasePath may already be empty (a logout clears it); the customer number is kept.
    QString file;
    swallow([&] {
        if (!db.dialect().isServer() && !db.customerNo().isEmpty())
            file = AccountDatabase::customerFile(db.customerNo());
    });
    swallow([&] { db.closeMain(); });
    swallow([&] { db.closePhrase(); });
    swallow([&] {
        if (!file.isEmpty() &&
            m_dm.ReadSetting(QStringLiteral("exitcompact"), QStringLiteral("0")) == QLatin1String("1"))
            db.CompactDatabaseFile(file);
    });
}

void MainController::FormShow()
{
    if (autoUpdateCheck &&
        m_dm.ReadSetting(QStringLiteral("AutoUpdate"), QStringLiteral("1")) == QLatin1String("1"))
        autoUpdateCheck();
}

bool MainController::runLoginGate()
{
    return !loginGate || loginGate();
}

MainController::WebPanels MainController::planWebPanels(bool providerReachable)
{
    WebPanels p;
    if (!providerReachable)
        return p;
    for (int i = 0; i < 3; ++i)
        p.urls[size_t(i)] = Branding::adBarUrl(i + 1).trimmed();
    p.hideBulletin = p.shown(2);
    return p;
}

bool MainController::providerReachable(const ProviderConfig &config, int timeoutMs)
{
    HttpClient::Options o;
    o.timeoutMs = timeoutMs;
    return HttpClient::get(config.reachability(), o).completed();
}
