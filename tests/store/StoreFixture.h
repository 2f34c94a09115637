#pragma once
#include "TempHome.h"
#include "common/Clock.h"
#include "common/ScriptedPrompter.h"
#include "store/dm.h"
#include <QSqlQuery>
#include <memory>

// A data module in its own home folder with a settable clock and a scripted prompter.
struct StoreFixture {
    TempHome home;
    ScriptedPrompter prompter;
    ManualClock clock{QDateTime(QDate(2008, 5, 4), QTime(13, 2, 9))};
    std::unique_ptr<TDataM> dm = std::make_unique<TDataM>(prompter, clock);
    int exitRequests = 0;

    StoreFixture()
    {
        dm->requestExit = [this] { ++exitRequests; };
    }
    AccountDatabase &db() { return dm->db(); }
    QVariant scalar(const QString &sql) { return db().scalar(sql); }
    int count(const QString &table) { return scalar("select count(*) from " + table).toInt(); }
};
