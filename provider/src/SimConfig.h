#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <optional>

namespace Sim {

struct AccountSeed {
    QString login;
    QString password;
    QString customerNo;
    QString userName;
    qint64 balance = 0;
    QString spNumber; // the account's service number: destination of replies, source of its messages
    int segLenMobile = 70;
    int segLenSpare = 70;
    int segLenOther = 60;
};

struct CardSeed {
    QString number;
    QString password;
    qint64 points = 0;
};

struct FailRule {
    QRegularExpression numbers;
    QByteArray stat;
    quint32 errorCode = 0;
};

struct Config {
    QHostAddress listenAddress = QHostAddress::LocalHost;
    QList<quint16> gatewayPorts{6666, 7777};
    quint16 webPort = 8088;
    // Empty: no state file (everything lives in memory only). In a config file an empty or
    // missing value means $XDG_DATA_HOME/velaro-provider/state.json and "none" means no file.
    QString stateFile;
    int saveDelayMs = 1000;

    QString bulletin;
    QStringList forbiddenWords;
    bool rejectForbiddenContent = true;
    bool sendFilterAfterLogin = false;
    int filterChunkBytes = 200;

    int maxNumbersPerSubmit = 180;
    int reportDelayMs = 2000;
    double reportFailShare = 0.0;
    QByteArray failStat = "UNDELIV";
    quint32 failErrorCode = 1;
    QList<FailRule> failRules;

    double replyShare = 0.0;
    int replyDelayMs = 3000;
    QStringList replyTexts;
    bool replyPrefix86 = true;

    int enquireLinkIntervalMs = 60000; // 0: the gateway sends none
    int enquireLinkMaxMissed = 3;      // then it closes the connection
    int ackTimeoutMs = 60000;          // unacknowledged Deliver/Report is sent again
    int keepSubmits = 2000;            // finished submits kept for listing and in the state file
    quint64 seed = 0;                  // 0: random

    struct {
        QString version = QStringLiteral("4.1.0.1");
        QString date = QStringLiteral("2024-01-01");
        QString url = QStringLiteral("http://127.0.0.1:8088/download/velaro-setup.tar.gz");
        QString message;
        int method = 1;
    } update;

    struct {
        qint64 balance = 10;
        int segLenMobile = 70;
        int segLenSpare = 70;
        int segLenOther = 60;
    } signUp;

    QList<AccountSeed> accounts;
    QList<CardSeed> cards;

    // Reads a JSON config; relative state file paths are taken from the config's folder.
    static std::optional<Config> load(const QString &path, QString *error);
    static std::optional<Config> fromJson(const QByteArray &json, const QString &baseDir, QString *error);
};

} // namespace Sim
