#include "../store/StoreFixture.h"
#include "FakeGateway.h"
#include "UiWait.h"
#include "app/MainController.h"
#include "app/ui/TimeAutoLoginFrm.h"
#include "app/ui/TipBar.h"
#include "app/ui/U_loign.h"
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The visible row of a bar: 'B' where the bar is drawn, '.' where the background shows.
QString row(const TTipBar &bar)
{
    QString s;
    const QImage &img = bar.canvas();
    for (int x = 0; x < img.width(); ++x)
        s += QColor(img.pixel(x, img.height() / 2)) == bar.barColor() ? QLatin1Char('B') : QLatin1Char('.');
    return s;
}

} // namespace

TEST(TipBar, DefaultsAndPublishedProperties)
{
    TTipBar bar;
    EXPECT_EQ(bar.size(), QSize(200, 10));
    EXPECT_EQ(bar.position(), -12);
    const struct {
        const char *name;
        QVariant value;
    } props[] = {
        {"Color", QColor(Qt::white)},
        {"BarColor", QColor(166, 202, 240)},
        {"BarWidth", 10},
        {"Frequency", 25},
        {"Active", true},
        {"Circle", true},
        {"StepWidth", 2},
        {"DrawBitmap", false},
    };
    for (const auto &p : props)
        EXPECT_EQ(bar.property(p.name), p.value) << p.name;
    EXPECT_TRUE(bar.property("Bitmap").value<QPixmap>().isNull());

    // A new pace keeps a stopped bar stopped.
    bar.setProperty("Active", false);
    bar.setProperty("Frequency", 40);
    EXPECT_FALSE(bar.active());
    EXPECT_EQ(bar.frequency(), 40);
    bar.setProperty("Active", true);
    EXPECT_TRUE(bar.active());
}

TEST(TipBar, TickMovesTheBarAndWrapsOnlyInCircleMode)
{
    // Width 16, bar 6 long, 4 per step; the position starts at -12 (from the defaults).
    const QStringList circle = {
        "................", // first tick: background only
        "................", "BB..............", "BBBBBB..........", "....BBBBBB......", "........BBBBBB..",
        "BB..........BBBB", // leaving at the right, coming in at the left
        "BBBBBB..........", "BBBBBB..........", "....BBBBBB......",
    };
    const QStringList straight = {
        "................", "................", "BB..............", "BBBBBB..........", "....BBBBBB......",
        "........BBBBBB..", "............BBBB", "................", "................", "................",
    };
    for (bool wrap : {true, false}) {
        SCOPED_TRACE(wrap ? "Circle" : "no Circle");
        TTipBar bar;
        bar.setActive(false);
        bar.resize(16, 10);
        bar.setBarWidth(6);
        bar.setStepWidth(4);
        bar.setCircle(wrap);
        const QStringList &expected = wrap ? circle : straight;
        for (int i = 0; i < expected.size(); ++i) {
            bar.tick();
            EXPECT_EQ(row(bar).toStdString(), expected[i].toStdString()) << "tick " << i + 1;
        }
        if (!wrap) {
            for (int i = 0; i < 20; ++i)
                bar.tick();
            EXPECT_EQ(row(bar).toStdString(), "................");
            EXPECT_GT(bar.position(), 16);
        }
    }
}

TEST(TipBar, DrawsTheBitmapStretchedWhenAsked)
{
    TTipBar bar;
    bar.setActive(false);
    bar.resize(16, 10);
    QPixmap red(2, 2);
    red.fill(Qt::red);
    bar.setBitmap(red);
    bar.setDrawBitmap(true);
    for (int i = 0; i < 4; ++i)
        bar.tick();
    EXPECT_EQ(QColor(bar.canvas().pixel(2, 5)), QColor(Qt::red));
    EXPECT_EQ(QColor(bar.canvas().pixel(12, 5)), QColor(Qt::white));
}

TEST(ReloginCountdown, CountsDownAndClosesByItself)
{
    TTimeAutoLoginFrm w(10, nullptr, 1);
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(w.bars().size(), 4);
    EXPECT_TRUE(w.cancelButton()->isDefault());
    EXPECT_EQ(w.reloginButton()->text(), QStringLiteral("重新登录(&L)"));
    EXPECT_EQ(w.cancelButton()->text(), QStringLiteral("取消(&C)"));
    QStringList labels{w.label()->text()};
    QObject::connect(&w, &TTimeAutoLoginFrm::counted, [&] { labels << w.label()->text(); });
    EXPECT_EQ(w.exec(), QDialog::Accepted);
    QStringList expected;
    for (int n = 10; n >= 0; --n)
        expected << QString::number(n) + QStringLiteral(" 秒后将自动重新登录");
    EXPECT_EQ(labels, expected);
    EXPECT_FALSE(w.reloginButton()->isEnabled());
    EXPECT_FALSE(w.cancelButton()->isEnabled());
}

TEST(ReloginCountdown, ButtonsDecide)
{
    struct Case {
        bool relogin;
        int result;
    } cases[] = {{true, QDialog::Accepted}, {false, QDialog::Rejected}};
    for (const Case &c : cases) {
        TTimeAutoLoginFrm w(10, nullptr, 3600 * 1000);
        QTimer::singleShot(0, &w, [&] { (c.relogin ? w.reloginButton() : w.cancelButton())->click(); });
        EXPECT_EQ(w.exec(), c.result) << c.relogin;
        EXPECT_EQ(w.remaining(), 10);
        EXPECT_EQ(w.reloginButton()->isEnabled(), !c.relogin);
    }
}

namespace {

struct LoginFixture : StoreFixture {
    MainController controller{*dm};
    LoginFixture()
    {
        for (const auto &[user, remember, pass] :
             {std::tuple{"demo", "1", "demo123"}, std::tuple{"bob", "", "bobpw"}}) {
            dm->WriteSetting("user", user);
            dm->WriteSetting("mmpass", remember);
            dm->WriteSetting("pass", QString::fromLatin1(QByteArray(pass).toBase64()));
        }
        dm->WriteSetting("user", "demo");
        dm->WriteSetting("userlist", "demo,bob,");
    }
};

} // namespace

TEST(LoginDialog, RememberedAccountsFillOrEmptyThePassword)
{
    LoginFixture f;
    Tfrm_login d(f.controller, nullptr, Qt::NoModifier);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("用户登陆"));
    ASSERT_EQ(d.accountBox->count(), 2);
    EXPECT_EQ(d.accountBox->currentText(), "demo");
    EXPECT_EQ(d.passwordEdit->text(), "demo123");
    EXPECT_EQ(d.passwordEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d.passwordEdit->maxLength(), 50);
    EXPECT_EQ(d.accountBox->lineEdit()->maxLength(), 50);
    EXPECT_TRUE(d.rememberCheck->isChecked());
    EXPECT_TRUE(d.loginButton->isDefault());
    EXPECT_FALSE(d.signUpButton->isVisibleTo(&d));
    EXPECT_EQ(d.gatewayBox->count(), 4);

    const struct {
        int index;
        const char *password;
        bool remember;
    } steps[] = {{1, "", false}, {0, "demo123", true}, {1, "", false}};
    for (const auto &s : steps) {
        d.accountBox->setCurrentIndex(s.index);
        EXPECT_EQ(d.passwordEdit->text(), s.password) << s.index;
        EXPECT_EQ(d.rememberCheck->isChecked(), s.remember) << s.index;
        EXPECT_EQ(f.dm->ReadSetting("user"), d.accountBox->currentText());
    }
    // Typing a new account leaves the fields alone.
    d.passwordEdit->setText("typed");
    d.accountBox->setEditText("newcomer");
    EXPECT_EQ(d.passwordEdit->text(), "typed");
    EXPECT_EQ(f.dm->ReadSetting("user"), "bob");
}

TEST(LoginDialog, ProxyPanelAndTypeChanges)
{
    LoginFixture f;
    Tfrm_login d(f.controller, nullptr, Qt::NoModifier);
    d.show();
    EXPECT_FALSE(d.proxyPanel->isVisible());
    EXPECT_EQ(d.proxyPortEdit->text(), "");
    d.advancedButton->click();
    EXPECT_TRUE(d.proxyPanel->isVisible());

    d.proxyHostEdit->setText("10.0.0.5");
    d.proxyUserEdit->setText("u");
    d.proxyPasswordEdit->setText("p");
    EXPECT_EQ(d.proxyPasswordEdit->echoMode(), QLineEdit::Password);
    // The keyboard picks each type in turn, as a user would.
    const struct {
        Qt::Key key;
        const char *type, *port;
    } steps[] = {{Qt::Key_Down, "HTTP", "8080"},
                 {Qt::Key_Down, "SOCKS4", ""},
                 {Qt::Key_Down, "SOCKS4A", ""},
                 {Qt::Key_Down, "SOCKS5", "1080"}};
    for (const auto &s : steps) {
        QTest::keyClick(d.proxyTypeBox, s.key);
        EXPECT_EQ(d.proxyTypeBox->currentText(), s.type);
        EXPECT_EQ(d.proxyPortEdit->text(), s.port) << s.type;
        EXPECT_EQ(d.proxyHostEdit->text(), "10.0.0.5") << s.type;
    }
    f.dm->WriteSetting("qyproxy", "1");
    QTest::keyClick(d.proxyTypeBox, Qt::Key_Home);
    EXPECT_EQ(d.proxyTypeBox->currentText(), QStringLiteral("不使用代理"));
    for (QLineEdit *e : {d.proxyHostEdit, d.proxyPortEdit, d.proxyUserEdit, d.proxyPasswordEdit})
        EXPECT_EQ(e->text(), "") << e->objectName().toStdString();
    EXPECT_EQ(f.dm->ReadSetting("qyproxy"), "0");

    d.advancedButton->click();
    EXPECT_FALSE(d.proxyPanel->isVisible());
}

TEST(LoginDialog, MaintenanceKeysRevealTheServerField)
{
    LoginFixture f;
    for (Qt::KeyboardModifiers held : {Qt::KeyboardModifiers(Qt::NoModifier),
                                       Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier)}) {
        const bool maintenance = held != Qt::NoModifier;
        Tfrm_login d(f.controller, nullptr, held);
        EXPECT_EQ(d.serverEdit->isVisibleTo(&d), maintenance);
        EXPECT_EQ(d.gatewayBox->isVisibleTo(&d), !maintenance);
        if (maintenance) {
            EXPECT_EQ(d.serverEdit->text(), "127.0.0.1:6666");
        }
    }
}

TEST(LoginDialog, ServerWithoutPortIsRefusedAndTheDialogStaysUsable)
{
    LoginFixture f;
    Tfrm_login d(f.controller, nullptr, Qt::ControlModifier | Qt::ShiftModifier);
    d.show();
    d.serverEdit->setText("gateway.example");
    QTest::keyClick(d.passwordEdit, Qt::Key_Return); // Enter in the password logs in
    ASSERT_EQ(f.prompter.texts().size(), 1);
    EXPECT_TRUE(f.prompter.texts()[0].contains("主机:端口"));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    for (QWidget *w : {static_cast<QWidget *>(d.loginButton), static_cast<QWidget *>(d.serverEdit),
                       static_cast<QWidget *>(d.accountBox)})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
}

TEST(LoginDialog, LoginClosesWithOkOnceStarted)
{
    LoginFixture f;
    FakeGateway gw;
    f.home.write("provider.ini", ("[Provider]\nGatewayPort1=" + gw.port()).toUtf8());
    Tfrm_login d(f.controller, nullptr, Qt::NoModifier);
    QTimer::singleShot(0, &d, [&] { d.loginButton->click(); });
    EXPECT_EQ(d.exec(), QDialog::Accepted);
    auto p = gw.nextPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(FakeGateway::cmdOf(*p), 1u);
    EXPECT_EQ(f.dm->ReadSetting("host"), "服务器1");
}

TEST(LoginDialog, BannerAndSignUpFromTheHomeFolder)
{
    LoginFixture f;
    {
        Tfrm_login d(f.controller, nullptr, Qt::NoModifier);
        EXPECT_EQ(d.bannerMovie(), nullptr);
        EXPECT_FALSE(d.banner->pixmap().isNull());
    }
    // A 1 x 1 GIF.
    f.home.write("loginA.gif",
                 QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw=="));
    f.home.write("Ver.ini", "[Ver]\nAgentBriefCorpName=某代理\n");
    Tfrm_login d(f.controller, nullptr, Qt::NoModifier);
    ASSERT_NE(d.bannerMovie(), nullptr);
    EXPECT_TRUE(d.bannerMovie()->isValid());
    EXPECT_TRUE(d.signUpButton->isVisibleTo(&d));
    int signUps = 0;
    QObject::connect(&d, &Tfrm_login::signUpRequested, [&] { ++signUps; });
    d.signUpButton->click();
    EXPECT_EQ(signUps, 1);
}
