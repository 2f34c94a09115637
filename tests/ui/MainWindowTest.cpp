#include "../app/LocalHttpServer.h"
#include "../store/StoreFixture.h"
#include "UiWait.h"
#include "app/ui/BulletinScroller.h"
#include "app/ui/U_loign.h"
#include "app/ui/WebPanel.h"
#include "app/ui/u_nemain.h"
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

namespace {

struct MainWindowFixture : StoreFixture {
    MainController controller{*dm};
    std::unique_ptr<Tfrmmain> window;
    void create() { window = std::make_unique<Tfrmmain>(controller, clock); }
};

QStringList tabCaptions(const QTabWidget *tabs, bool visibleOnly)
{
    QStringList out;
    for (int i = 0; i < tabs->count(); ++i)
        if (!visibleOnly || tabs->isTabVisible(i))
            out << tabs->tabText(i);
    return out;
}

} // namespace

TEST(MainWindow, HasEveryAreaWithItsCaptions)
{
    MainWindowFixture f;
    f.create();
    Tfrmmain &w = *f.window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Corvant"));
    EXPECT_EQ(w.trayIcon->toolTip(), QStringLiteral("Corvant"));

    const QStringList buttons = {"上线",     "下线", "导入号码", "历史", "充值", "更改密码",
                                 "系统设置", "帮助", "检查更新", "关于", "退出"};
    for (const QString &b : buttons) {
        QAction *a = w.toolButton(b);
        ASSERT_NE(a, nullptr) << b.toStdString();
        EXPECT_EQ(a->isVisible(), b != QStringLiteral("充值")) << b.toStdString();
    }
    QStringList inOrder;
    for (QAction *a : w.findChild<QToolBar *>(QStringLiteral("toolBar"))->actions())
        if (!a->text().isEmpty())
            inOrder << a->text();
    EXPECT_EQ(inOrder, buttons);

    EXPECT_EQ(tabCaptions(w.RzPageControl2, false),
              QStringList({"信息发送", "信息接收", "今天发送内容", "上次发送号码", "生日提醒(0)"}));
    EXPECT_EQ(tabCaptions(w.RzPageControl2, true),
              QStringList({"信息发送", "信息接收", "今天发送内容", "生日提醒(0)"}));
    w.setBirthdayCount(12);
    EXPECT_EQ(w.RzPageControl2->tabText(4), QStringLiteral("生日提醒(12)"));
    EXPECT_EQ(tabCaptions(w.contactPages, true), QStringList({"名片夹管理(右键操作)"}));
    EXPECT_EQ(w.hideDetailsCheck->text(),
              QStringLiteral("不显示详细用户资料(大数据量时可避免显示过程过于耗时)"));

    EXPECT_EQ(w.findChild<QLabel *>(QStringLiteral("bulletinHeading"))->text(), QStringLiteral("公告"));

    EXPECT_EQ(w.clockPane->text(), QStringLiteral("2008年05月04日 13:02:09"));
    for (QWidget *pane : {static_cast<QWidget *>(w.connectionPane), static_cast<QWidget *>(w.resultPane),
                          static_cast<QWidget *>(w.clockPane), static_cast<QWidget *>(w.progressBar)})
        EXPECT_EQ(pane->parentWidget(), static_cast<QWidget *>(w.statusBar()))
            << pane->objectName().toStdString();

    // The help links of the pages open the help window at their anchors.
    QStringList anchors;
    for (QLabel *l : w.findChildren<QLabel *>(QStringLiteral("helpLink")))
        anchors << l->property("anchor").toString();
    anchors.sort();
    EXPECT_EQ(anchors, QStringList({"信息发送", "信息接收", "生日提醒"}));
}

TEST(MainWindow, BrandingComesFromVerIni)
{
    MainWindowFixture f;
    f.home.write(QStringLiteral("Ver.ini"), "[Ver]\nProductName=短信通\n");
    f.create();
    EXPECT_EQ(f.window->windowTitle(), QStringLiteral("短信通"));
    EXPECT_EQ(f.window->trayIcon->toolTip(), QStringLiteral("短信通"));
}

TEST(MainWindow, TrayIsEnabledFromFirstShowingUntilClose)
{
    MainWindowFixture f;
    f.create();
    int updateChecks = 0;
    f.controller.autoUpdateCheck = [&] { ++updateChecks; };
    EXPECT_FALSE(f.window->trayEnabled());
    f.window->show();
    EXPECT_TRUE(f.window->trayEnabled());
    EXPECT_EQ(updateChecks, 1);
    f.window->close();
    EXPECT_FALSE(f.window->trayEnabled());
}

TEST(MainWindow, ClosingRunsTheExitSequenceOnce)
{
    // By the window's close box and by the toolbar's "退出".
    for (bool byButton : {false, true}) {
        MainWindowFixture f;
        f.dm->WriteSetting(QStringLiteral("exitcompact"), QStringLiteral("1"));
        ASSERT_TRUE(f.db().OpenAccountDatabase(QStringLiteral("1001")));
        f.create();
        f.window->show();
        int logouts = 0, closedSignals = 0;
        f.controller.logoutHook = [&] { ++logouts; };
        f.controller.ManualLogout = false;
        QObject::connect(f.window.get(), &Tfrmmain::closed, [&] { ++closedSignals; });

        if (byButton)
            f.window->toolButton(QStringLiteral("退出"))->trigger();
        else
            f.window->close();
        f.window->close(); // a second close must not log out again

        EXPECT_EQ(logouts, 1) << byButton;
        EXPECT_EQ(closedSignals, 1) << byButton;
        EXPECT_TRUE(f.controller.ManualLogout) << byButton;
        EXPECT_FALSE(f.db().isOpen()) << byButton;
        EXPECT_FALSE(f.window->isVisible()) << byButton;
    }
}

TEST(MainWindow, WebPanelsShowOnlyWhenTheProviderAnswersAndTheirKeyIsSet)
{
    LocalHttpServer server;
    server.route("/ad2", {200, "<p>第二个广告</p>"});
    server.route("/ad3", {200, "<p>第三个广告</p>"});
    struct Case {
        const char *name;
        bool reachable;
        std::array<bool, 3> shown;
        bool bulletin;
    };
    const Case cases[] = {
        {"reachable", true, {false, true, true}, false},
        {"unreachable", false, {false, false, false}, true},
    };
    for (const Case &c : cases) {
        MainWindowFixture f;
        f.home.write(
            QStringLiteral("provider.ini"),
            ("[Provider]\nWebServer=" + (c.reachable ? server.base() : QStringLiteral("http://127.0.0.1:1")))
                .toUtf8());
        f.home.write(
            QStringLiteral("Ver.ini"),
            ("[Ver]\nadBar2URL=" + server.base() + "/ad2\nadBar3URL=" + server.base() + "/ad3\n").toUtf8());
        f.create();
        Tfrmmain &w = *f.window;
        w.show();
        ASSERT_TRUE(waitFor([&] { return w.webPanelCheckDone(); })) << c.name;
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(w.webPanelVisible(n), c.shown[size_t(n - 1)]) << c.name << " panel " << n;
        EXPECT_EQ(!w.bulletinPanel->isHidden(), c.bulletin) << c.name;
        if (c.reachable) {
            ASSERT_TRUE(waitFor([&] { return !w.webPanel(2)->isLoading() && !w.webPanel(3)->isLoading(); }));
            EXPECT_EQ(w.webPanel(2)->toPlainText(), QStringLiteral("第二个广告"));
            EXPECT_EQ(w.webPanel(3)->toPlainText(), QStringLiteral("第三个广告"));
        }
        w.close();
    }
}

namespace {

// Whether any pixel of the widget's rendering is clearly of that hue.
bool showsColour(QWidget *w, const std::function<bool(const QColor &)> &hue)
{
    const QImage img = w->grab().toImage();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (hue(QColor(img.pixel(x, y))))
                return true;
    return false;
}
bool reddish(const QColor &c)
{
    return c.red() > 150 && c.green() < 90 && c.blue() < 90;
}
bool greenish(const QColor &c)
{
    return c.green() > 90 && c.red() < 60 && c.blue() < 60;
}

} // namespace

TEST(MainWindow, ShowsTheSessionStateItIsGiven)
{
    MainWindowFixture f;
    f.create();
    Tfrmmain &w = *f.window;
    w.show();
    // "充值" is hidden, and a hidden action reports itself disabled whatever its state.
    const QStringList working = {"导入号码", "历史", "更改密码", "系统设置"};
    struct State {
        bool connected;
        QString user, login, customer, balance, connection;
        bool red, green;
    } states[] = {
        {false, "用户名称:", "登陆账号:", "客户编号:", "账号余额:0 条", "连接状态:断开", true, false},
        {true, "用户名称:", "登陆账号:", "客户编号:", "账号余额:0条", "连接状态:连接", false, true},
        {false, "用户名称:", "登陆账号:", "客户编号:", "账号余额:0 条", "连接状态:断开", true, false},
    };
    bool first = true;
    for (const State &s : states) {
        SCOPED_TRACE(s.connected);
        // The window shows the logged-out state from its creation on.
        if (!first)
            f.controller.SetSMSConnected(s.connected);
        first = false;
        EXPECT_EQ(w.userNameLabel->text(), s.user);
        EXPECT_EQ(w.loginNameLabel->text(), s.login);
        EXPECT_EQ(w.customerNoLabel->text(), s.customer);
        EXPECT_EQ(w.balanceLabel->text(), s.balance);
        EXPECT_EQ(w.connectionPane->text(), s.connection);
        EXPECT_EQ(showsColour(w.connectionPane, reddish), s.red);
        EXPECT_EQ(showsColour(w.connectionPane, greenish), s.green);
        EXPECT_EQ(w.resultPane->text(), "");
        EXPECT_EQ(w.toolButton("上线")->isEnabled(), !s.connected);
        EXPECT_EQ(w.toolButton("下线")->isEnabled(), s.connected);
        for (const QString &b : working)
            EXPECT_EQ(w.toolButton(b)->isEnabled(), s.connected) << b.toStdString();
        EXPECT_EQ(w.RzPageControl2->isEnabled(), s.connected);
        EXPECT_EQ(w.contactPages->isEnabled(), s.connected);
    }
    // While a login is under way the pane is black.
    w.setConnectionPane("请稍候，正在登录中...", MainView::PaneColor::Black);
    EXPECT_FALSE(showsColour(w.connectionPane, reddish));
    EXPECT_FALSE(showsColour(w.connectionPane, greenish));
    EXPECT_TRUE(showsColour(w.connectionPane, [](const QColor &c) { return c.lightness() < 60; }));
    EXPECT_EQ(w.reminderContentHeading(), "提醒内容(移动联通不能大于0个字符,小灵通则应再减去25个字符)");
    w.close();
}

TEST(MainWindow, BulletinScrollsWhileItHasText)
{
    MainWindowFixture f;
    f.create();
    Tfrmmain &w = *f.window;
    w.resize(1000, 600);
    w.show();
    w.setBulletin("今日公告：系统维护将于今晚进行。");
    EXPECT_EQ(w.bulletinText->text(), "今日公告：系统维护将于今晚进行。");
    EXPECT_TRUE(w.bulletinText->scrolling());
    const int before = w.bulletinText->offset();
    ASSERT_TRUE(waitFor([&] { return w.bulletinText->offset() != before; }));
    // Logging out empties it and stops it.
    f.controller.SetSMSConnected(false);
    EXPECT_EQ(w.bulletinText->text(), "");
    EXPECT_FALSE(w.bulletinText->scrolling());
    w.close();
}

TEST(MainWindow, TrayAndDialogsOfTheSession)
{
    MainWindowFixture f;
    f.create();
    Tfrmmain &w = *f.window;
    w.show();
    EXPECT_FALSE(w.isMinimized());
    w.hideToTray();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.isMinimized()); // a re-login then starts without the countdown
    w.showMainWindow();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());

    w.countdownPeriodMs = 1;
    EXPECT_TRUE(w.showReloginCountdown(3));

    // "上线" opens the login dialog; cancelling it leaves everything as it was.
    w.loginModifiers = Qt::NoModifier;
    QString seen;
    QTimer::singleShot(0, &w, [&] {
        ASSERT_TRUE(waitFor([&] { return qobject_cast<Tfrm_login *>(QApplication::activeModalWidget()); }));
        auto *d = qobject_cast<Tfrm_login *>(QApplication::activeModalWidget());
        seen = d->windowTitle();
        d->cancelButton->click();
    });
    w.toolButton("上线")->trigger();
    EXPECT_EQ(seen, "用户登陆");
    EXPECT_TRUE(w.toolButton("上线")->isEnabled());
    w.close();
}
