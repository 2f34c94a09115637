#include "app/MainController.h"
#include "../store/StoreFixture.h"
#include "LocalHttpServer.h"
#include "app/Branding.h"
#include "app/ProviderConfig.h"
#include "common/VelaroError.h"
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {

// Free pages left in a database file, read through a connection of our own.
int freePages(const QString &file)
{
    int n = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA freelist_count")) && q.next())
                n = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return n;
}

// A customer database with many free pages, so compaction shows.
void openBloatedDatabase(StoreFixture &f)
{
    ASSERT_TRUE(f.db().OpenAccountDatabase(QStringLiteral("1001")));
    f.db().ExecSql(QStringLiteral("create table pad(x blob)"));
    f.db().ExecSql(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<100) "
                                  "insert into pad select randomblob(4000) from n"));
    f.db().ExecSql(QStringLiteral("drop table pad"));
}

} // namespace

TEST(MainController, ExitCompactsTheMainDatabaseOnlyWhenExitcompactIsOne)
{
    struct Case {
        const char *exitcompact; // nullptr: never written, the default "0" holds
        bool compacted;
    };
    const Case cases[] = {{"1", true}, {"0", false}, {nullptr, false}, {"yes", false}};
    for (const Case &c : cases) {
        StoreFixture f;
        if (c.exitcompact)
            f.dm->WriteSetting(QStringLiteral("exitcompact"), QString::fromLatin1(c.exitcompact));
        openBloatedDatabase(f);
        MainController ctl(*f.dm);
        bool openAtLogout = false;
        ctl.logoutHook = [&] { openAtLogout = f.db().isOpen(); };
        ctl.ManualLogout = false;

        ctl.FormClose();

        const QString file = AccountDatabase::customerFile(QStringLiteral("1001"));
        EXPECT_TRUE(ctl.ManualLogout) << c.exitcompact;
        EXPECT_TRUE(openAtLogout) << "logout runs before the databases close";
        EXPECT_FALSE(f.db().isOpen());
        EXPECT_EQ(freePages(file) == 0, c.compacted) << (c.exitcompact ? c.exitcompact : "unset");
        EXPECT_TRUE(f.prompter.shown().empty());
    }
}

TEST(MainController, ExitCompactsEvenAfterTheLogoutClearedTheDatabasePath)
{
    StoreFixture f;
    f.dm->WriteSetting(QStringLiteral("exitcompact"), QStringLiteral("1"));
    openBloatedDatabase(f);
    f.db().clearDatabasePath(); // the logged-out state empties it
    MainController ctl(*f.dm);
    ctl.FormClose();
    EXPECT_EQ(freePages(AccountDatabase::customerFile(QStringLiteral("1001"))), 0);
}

TEST(MainController, ExitSwallowsEveryFailureAndStillClosesTheDatabases)
{
    StoreFixture f;
    openBloatedDatabase(f);
    // An unreadable settings file makes reading `exitcompact` raise.
    QDir().mkpath(f.home.file(QStringLiteral("settings.ini")));
    MainController ctl(*f.dm);
    ctl.ManualLogout = false;
    ctl.logoutHook = [] { throw VelaroError(QStringLiteral("logout failed")); };

    EXPECT_NO_THROW(ctl.FormClose());
    EXPECT_TRUE(ctl.ManualLogout);
    EXPECT_FALSE(f.db().isOpen());
    EXPECT_TRUE(f.prompter.shown().empty());
}

TEST(MainController, ExitWithoutAnyLoginDoesNothingVisible)
{
    StoreFixture f;
    f.dm->WriteSetting(QStringLiteral("exitcompact"), QStringLiteral("1"));
    MainController ctl(*f.dm);
    EXPECT_TRUE(ctl.ManualLogout); // true from creation
    EXPECT_NO_THROW(ctl.FormClose());
    EXPECT_TRUE(f.prompter.shown().empty());
}

TEST(MainController, ShownRunsTheUpdateCheckUnlessAutoUpdateIsOff)
{
    struct Case {
        const char *autoUpdate;
        int checks;
    };
    const Case cases[] = {{nullptr, 1}, {"1", 1}, {"0", 0}};
    for (const Case &c : cases) {
        StoreFixture f;
        if (c.autoUpdate)
            f.dm->WriteSetting(QStringLiteral("AutoUpdate"), QString::fromLatin1(c.autoUpdate));
        MainController ctl(*f.dm);
        int checks = 0;
        ctl.autoUpdateCheck = [&] { ++checks; };
        ctl.FormShow();
        EXPECT_EQ(checks, c.checks) << (c.autoUpdate ? c.autoUpdate : "unset");
    }
}

TEST(MainController, LoginGateOverrideDecides)
{
    StoreFixture f;
    MainController ctl(*f.dm);
    // Without automatic login and without a window to show the dialog in, nobody can log in.
    EXPECT_FALSE(ctl.runLoginGate());
    ctl.loginGate = [] { return true; };
    EXPECT_TRUE(ctl.runLoginGate());
    ctl.loginGate = [] { return false; };
    EXPECT_FALSE(ctl.runLoginGate());
}

TEST(Branding, MissingOrEmptyKeysFallBackToDefaults)
{
    struct Case {
        const char *name;
        QByteArray verIni; // empty: no file
        QString product, version, corp, ad2;
    };
    const Case cases[] = {
        {"no file", {}, "Corvant", "标准版", "", ""},
        {"empty values", "[Ver]\nProductName=\nVersionName=\nadBar2URL=\n", "Corvant", "标准版", "", ""},
        {"set values",
         "[ver]\nproductname=短信通\nVersionName=企业版\nAgentBriefCorpName=某公司\nadBar2URL=http://a/b\n",
         "短信通", "企业版", "某公司", "http://a/b"},
    };
    for (const Case &c : cases) {
        TempHome home;
        if (!c.verIni.isEmpty())
            home.write(QStringLiteral("Ver.ini"), c.verIni);
        EXPECT_EQ(Branding::productName(), c.product) << c.name;
        EXPECT_EQ(Branding::versionName(), c.version) << c.name;
        EXPECT_EQ(Branding::agentBriefCorpName(), c.corp) << c.name;
        EXPECT_EQ(Branding::adBarUrl(2), c.ad2) << c.name;
        EXPECT_EQ(Branding::companyUrl(), QString()) << c.name;
    }
}

TEST(MainController, WebPanelsFollowReachabilityAndTheirKeys)
{
    struct Case {
        const char *name;
        bool reachable;
        QByteArray verIni;
        std::array<bool, 3> shown;
        bool hideBulletin;
    };
    const QByteArray all = "[Ver]\nadBar1URL=http://h/1\nadBar2URL=http://h/2\nadBar3URL=http://h/3\n";
    const Case cases[] = {
        {"all keys, reachable", true, all, {true, true, true}, true},
        {"all keys, unreachable", false, all, {false, false, false}, false},
        {"only the second key", true, "[Ver]\nadBar2URL=http://h/2\n", {false, true, false}, false},
        {"only the third key", true, "[Ver]\nadBar3URL=http://h/3\n", {false, false, true}, true},
        {"no keys", true, "[Ver]\nProductName=X\n", {false, false, false}, false},
    };
    for (const Case &c : cases) {
        TempHome home;
        home.write(QStringLiteral("Ver.ini"), c.verIni);
        const MainController::WebPanels p = MainController::planWebPanels(c.reachable);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(p.shown(i), c.shown[size_t(i)]) << c.name << " panel " << i + 1;
            const QString want = c.shown[size_t(i)] ? QStringLiteral("http://h/%1").arg(i + 1) : QString();
            EXPECT_EQ(p.urls[size_t(i)], want) << c.name;
        }
        EXPECT_EQ(p.hideBulletin, c.hideBulletin) << c.name;
    }
}

TEST(MainController, ReachabilityCountsAnyAnswerFromTheProvider)
{
    LocalHttpServer server; // answers 404 to everything: still reachable
    ProviderConfig up;
    up.webBase = server.base();
    EXPECT_TRUE(MainController::providerReachable(up, 2000));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/");

    ProviderConfig down;
    down.webBase = QStringLiteral("http://127.0.0.1:1");
    EXPECT_FALSE(MainController::providerReachable(down, 2000));
}
