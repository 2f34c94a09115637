#pragma once
// The provider simulator on its own thread, and a client (data module, session controller,
// dispatch) on the test's thread, talking over real TCP on loopback.
#include "FakeGateway.h"
#include "GatewayTestSupport.h"
#include "FakeMainView.h"
#include "Simulator.h"
#include "TempHome.h"
#include "app/MainController.h"
#include "common/Clock.h"
#include "common/ScriptedPrompter.h"
#include "sending/Dispatch.h"
#include "store/dm.h"
#include <QTcpServer>
#include <QThread>
#include <gtest/gtest.h>

namespace E2E {

inline Sim::Config config(quint16 port)
{
    Sim::Config c;
    c.gatewayPorts = {port};
    c.webPort = 0;
    c.reportDelayMs = 0;
    c.enquireLinkIntervalMs = 0;
    c.seed = 11;
    c.bulletin = QStringLiteral("今日公告：系统维护");
    c.accounts = {Sim::AccountSeed{QStringLiteral("demo"), QStringLiteral("demo123"), QStringLiteral("10001"),
                                   QStringLiteral("演示账户"), 100000, QStringLiteral("106570010001"), 70, 70, 45}};
    c.cards = {Sim::CardSeed{QStringLiteral("8800001"), QStringLiteral("111111"), 100}};
    return c;
}

inline quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

class Provider {
public:
    explicit Provider(Sim::Config c) : m_config(std::move(c)) { start(); }
    ~Provider() { stop(); }
    void start()
    {
        m_thread.start();
        m_sim = new Sim::Simulator(m_config);
        m_sim->moveToThread(&m_thread);
        bool ok = false;
        QString error;
        call([&] { ok = m_sim->start(&error); });
        EXPECT_TRUE(ok) << error.toStdString();
    }
    void stop()
    {
        if (!m_sim)
            return;
        call([this] { delete m_sim; });
        m_sim = nullptr;
        m_thread.quit();
        m_thread.wait();
    }
    void call(const std::function<void()> &f)
    {
        QMetaObject::invokeMethod(m_sim, f, Qt::BlockingQueuedConnection);
    }
    Sim::Simulator *sim() { return m_sim; }
    // The port the gateway listens on (the first one).
    quint16 port()
    {
        quint16 p = 0;
        call([&] { p = m_sim->gatewayPorts().value(0); });
        return p;
    }

private:
    Sim::Config m_config;
    QThread m_thread;
    Sim::Simulator *m_sim = nullptr;
};

inline GatewayTimings timings() { return testTimings(3000); }

// A whole client in a temp home pointed at the simulator's port.
class Client {
public:
    explicit Client(quint16 port)
    {
        home.write("provider.ini",
                   QStringLiteral("[Provider]\nGatewayHostA=127.0.0.1\nGatewayPort1=%1\n").arg(port).toUtf8());
        dm = std::make_unique<TDataM>(prompter, clock, QString(), timings());
        ctl = std::make_unique<MainController>(*dm);
        ctl->setView(&view);
        ctl->minimisedReloginDelayMs = 10;
    }
    ~Client()
    {
        ctl.reset();
        dm.reset();
    }
    void login(const QString &password = QStringLiteral("demo123"))
    {
        ctl->DoLogin(QStringLiteral("服务器1"), QString(), QStringLiteral("0"), QStringLiteral("不使用代理"), true,
                     password, QStringLiteral("demo"), QString(), QString());
    }

    TempHome home;
    ScriptedPrompter prompter;
    SystemClock clock;
    FakeMainView view;
    std::unique_ptr<TDataM> dm;
    std::unique_ptr<MainController> ctl;
};

} // namespace E2E
