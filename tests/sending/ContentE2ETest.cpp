#include "../store/StoreFixture.h"
#include "app/ProviderConfig.h"
#include "sending/ContentRules.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

// The forbidden-word list downloaded from the provider simulator built beside the tests.
TEST(ContentE2E, DownloadFilterWordsFromTheProviderSimulator)
{
    const QString exe = QCoreApplication::applicationDirPath() + "/../provider/velaro-provider";
    if (!QFileInfo(exe).isExecutable())
        GTEST_SKIP() << "velaro-provider is not built";
    StoreFixture f;
    f.home.write("sim.conf", R"({"listenAddress": "127.0.0.1", "gatewayPorts": [0], "webPort": 0,
        "forbiddenWords": ["发票", "六合彩", "free gift", "ｖｉｐ"]})");
    QProcess sim;
    sim.start(exe, {"--config", f.home.file("sim.conf")});
    ASSERT_TRUE(sim.waitForStarted(10000));
    QByteArray out;
    QRegularExpressionMatch m;
    const QRegularExpression webPort("web on port (\\d+)");
    for (QDeadlineTimer deadline(10000); !(m = webPort.match(QString::fromUtf8(out))).hasMatch();) {
        ASSERT_FALSE(deadline.hasExpired()) << out.toStdString();
        sim.waitForReadyRead(int(deadline.remainingTime()));
        out += sim.readAllStandardOutput();
    }
    f.home.write("provider.ini", ("[Provider]\nWebServer=http://127.0.0.1:" + m.captured(1)).toUtf8());

    ASSERT_TRUE(f.db().OpenAccountDatabase("10001"));
    EXPECT_TRUE(DownloadFilterWords(*f.dm, ProviderConfig::load().filterWordsUrl()));
    EXPECT_TRUE(f.prompter.texts().isEmpty());
    EXPECT_EQ(f.count("过滤表"), 4);
    EXPECT_EQ(CheckIllegalWords(*f.dm, "代开发-票，买六合彩"), "\r\n发票\r\n六合彩");
    EXPECT_EQ(CheckIllegalWords(*f.dm, "FREE  GIFT"), "");
    EXPECT_EQ(CheckIllegalWords(*f.dm, "Free gift"), "\r\nfree gift");

    sim.terminate();
    sim.waitForFinished(10000);
}
