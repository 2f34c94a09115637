#include "../app/LocalHttpServer.h"
#include "TempHome.h"
#include "UiWait.h"
#include "app/ui/OnLineFAQForm.h"
#include "app/ui/QtPrompter.h"
#include "app/ui/SplashForm.h"
#include "app/ui/VelaroApplication.h"
#include "app/ui/WebPanel.h"
#include "common/ScriptedPrompter.h"
#include "common/VelaroError.h"
#include <QApplication>
#include <QBitmap>
#include <QImage>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <gtest/gtest.h>

TEST(FaqWindow, SecondCallReNavigatesTheSameWindowAndClosingForgetsIt)
{
    TempHome home;
    LocalHttpServer server;
    QByteArray page = "<html><body><p>top</p>";
    for (const char *topic : {"信息发送", "信息接收", "生日提醒"}) {
        for (int i = 0; i < 60; ++i)
            page += "<p>filler line</p>";
        page += QByteArray("<h2><a name=\"") + topic + "\">" + topic + "</a></h2>";
    }
    for (int i = 0; i < 60; ++i)
        page += "<p>filler line</p>";
    page += "</body></html>";
    server.route("/vlro/vlrofaq_oem.html", {200, page});
    home.write(QStringLiteral("provider.ini"), ("[Provider]\nWebServer=" + server.base()).toUtf8());

    ShowFaqPage(QStringLiteral("信息接收"));
    TOnLineFAQForm *first = TOnLineFAQForm::current();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("常见问题解答(FAQ)"));
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    ASSERT_TRUE(waitFor([&] { return !first->browser()->isLoading(); }));
    QScrollBar *bar = first->browser()->verticalScrollBar();
    const int atSecondTopic = bar->value();
    EXPECT_GT(atSecondTopic, 0);

    ShowFaqPage(QStringLiteral("生日提醒"));
    EXPECT_EQ(TOnLineFAQForm::current(), first);
    EXPECT_EQ(QApplication::topLevelWidgets().count(QPointer<QWidget>(first).data()), 1);
    ASSERT_TRUE(waitFor([&] { return !first->browser()->isLoading(); }));
    EXPECT_GT(bar->value(), atSecondTopic);

    const auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 2u);
    for (const auto &r : reqs)
        EXPECT_EQ(r.target, "/vlro/vlrofaq_oem.html"); // the anchor never goes to the server
    EXPECT_EQ(first->browser()->url(),
              server.base() + "/vlro/vlrofaq_oem.html#%E7%94%9F%E6%97%A5%E6%8F%90%E9%86%92");

    // Closing forgets it at once, even before the window is deleted.
    QPointer<TOnLineFAQForm> gone(first);
    first->close();
    EXPECT_EQ(TOnLineFAQForm::current(), nullptr);
    ShowFaqPage(QString());
    TOnLineFAQForm *second = TOnLineFAQForm::current();
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(waitFor([&] { return gone.isNull(); }));
    EXPECT_EQ(TOnLineFAQForm::current(), second);
    second->close();
}

TEST(FaqWindow, UnreachableProviderShowsTheAddressAndTheReason)
{
    TempHome home;
    home.write(QStringLiteral("provider.ini"), "[Provider]\nWebServer=http://127.0.0.1:1\n");
    ShowFaqPage(QStringLiteral("软件登录"));
    TOnLineFAQForm *w = TOnLineFAQForm::current();
    ASSERT_TRUE(waitFor([&] { return !w->browser()->isLoading(); }));
    EXPECT_TRUE(w->browser()->toPlainText().startsWith(
        QStringLiteral("无法打开 http://127.0.0.1:1/vlro/vlrofaq_oem.html#")));
    EXPECT_FALSE(w->browser()->errorText().isEmpty());
    w->close();
}

TEST(NotificationPopup, StacksUpwardsAndARightClickClosesOne)
{
    QtPrompter prompter;
    prompter.notify(QStringLiteral("信息(点击右键直接关闭)"), QStringLiteral("密码修改成功"));
    prompter.notify(QStringLiteral("信息(点击右键直接关闭)"), QStringLiteral("充值卡密码无效"));
    QList<NotificationPopup *> open = NotificationPopup::openPopups();
    ASSERT_EQ(open.size(), 2);
    NotificationPopup *older = open[0], *newer = open[1];
    EXPECT_EQ(newer->title(), QStringLiteral("信息(点击右键直接关闭)"));
    EXPECT_EQ(newer->text(), QStringLiteral("充值卡密码无效"));
    EXPECT_TRUE(older->isVisible() && newer->isVisible());
    EXPECT_TRUE(older->closingByItself() && newer->closingByItself());
    EXPECT_EQ(older->geometry().right(), newer->geometry().right());
    EXPECT_LT(newer->geometry().bottom(), older->geometry().top());

    // A left click keeps it; a right click closes it and the other moves down into its place.
    const QPoint olderPos = older->pos();
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton}) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), older->mapToGlobal(QPointF(10, 10)), b,
                          b, Qt::NoModifier);
        QApplication::sendEvent(older, &press);
    }
    QPointer<NotificationPopup> olderGuard(older);
    ASSERT_TRUE(waitFor([&] { return olderGuard.isNull(); }));
    ASSERT_EQ(NotificationPopup::openPopups(), QList<NotificationPopup *>({newer}));
    EXPECT_EQ(newer->pos(), olderPos);
    newer->close();
    EXPECT_TRUE(waitFor([] { return NotificationPopup::openPopups().isEmpty(); }));
}

TEST(QtPrompter, QuestionButtonsMapToAnswers)
{
    struct Case {
        Prompter::Buttons buttons;
        QMessageBox::StandardButton press; // NoButton: the box is dismissed with Escape
        Prompter::Answer expected;
    };
    const Case cases[] = {
        {Prompter::Buttons::YesNo, QMessageBox::Yes, Prompter::Answer::Yes},
        {Prompter::Buttons::YesNo, QMessageBox::No, Prompter::Answer::No},
        {Prompter::Buttons::YesNoCancel, QMessageBox::Cancel, Prompter::Answer::Cancel},
        {Prompter::Buttons::YesNoCancel, QMessageBox::NoButton, Prompter::Answer::Cancel},
        {Prompter::Buttons::OkCancel, QMessageBox::Ok, Prompter::Answer::Ok},
        {Prompter::Buttons::OkCancel, QMessageBox::Cancel, Prompter::Answer::Cancel},
    };
    QtPrompter prompter;
    for (const Case &c : cases) {
        QString title, text;
        QList<QMessageBox::StandardButton> offered;
        // The box is modal: answer it from inside its own event loop once it is up.
        std::function<void()> answer = [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) {
                QTimer::singleShot(10, answer);
                return;
            }
            title = box->windowTitle();
            text = box->text();
            for (QAbstractButton *b : box->buttons())
                offered << box->standardButton(b);
            if (c.press == QMessageBox::NoButton) {
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(box, &esc);
            } else {
                box->button(c.press)->click();
            }
        };
        QTimer::singleShot(0, answer);
        EXPECT_EQ(prompter.question(QStringLiteral("是否继续？"), c.buttons), c.expected);
        EXPECT_EQ(title, QStringLiteral("提示"));
        EXPECT_EQ(text, QStringLiteral("是否继续？"));
        EXPECT_EQ(offered.contains(QMessageBox::Cancel), c.buttons != Prompter::Buttons::YesNo);
    }
}

TEST(VelaroApplication, UncaughtErrorsGoToTheInformationBox)
{
    struct Case {
        const char *name;
        std::function<bool()> deliver;
        bool result;
        QString shown; // empty: nothing shown
    };
    const Case cases[] = {
        {"handled", [] { return true; }, true, {}},
        {"velaro error", []() -> bool { throw VelaroError(QStringLiteral("select 1 >> 数据库已锁定")); },
         false, QStringLiteral("select 1 >> 数据库已锁定")},
        {"standard error", []() -> bool { throw std::runtime_error("磁盘已满"); }, false,
         QStringLiteral("磁盘已满")},
        {"anything else", []() -> bool { throw 42; }, false, QStringLiteral("未知错误")},
    };
    for (const Case &c : cases) {
        ScriptedPrompter prompter;
        EXPECT_EQ(VelaroApplication::guarded(prompter, c.deliver), c.result) << c.name;
        if (c.shown.isEmpty()) {
            EXPECT_TRUE(prompter.shown().empty()) << c.name;
            continue;
        }
        ASSERT_EQ(prompter.shown().size(), 1u) << c.name;
        EXPECT_EQ(prompter.shown()[0].kind, ScriptedPrompter::Kind::Information) << c.name;
        EXPECT_EQ(prompter.shown()[0].title, QStringLiteral("提示")) << c.name;
        EXPECT_EQ(prompter.shown()[0].text, c.shown) << c.name;
    }
}

TEST(SplashForm, UsesFlashJpgWhenPresentElseItsOwnPictureWithRoundedCorners)
{
    for (bool withFile : {false, true}) {
        TempHome home;
        if (withFile) {
            QImage img(300, 200, QImage::Format_RGB32);
            img.fill(Qt::darkGreen);
            ASSERT_TRUE(img.save(home.file(QStringLiteral("Flash.Jpg")), "JPG"));
        }
        auto *splash = new SplashForm;
        QPointer<SplashForm> guard(splash);
        EXPECT_EQ(splash->usesFlashPicture(), withFile);
        if (withFile) {
            EXPECT_EQ(splash->size(), QSize(300, 200));
        }
        EXPECT_FALSE(splash->picture().isNull());
        const QRegion mask = splash->mask();
        EXPECT_FALSE(mask.contains(QPoint(0, 0))) << withFile;
        EXPECT_FALSE(mask.contains(QPoint(splash->width() - 1, splash->height() - 1))) << withFile;
        EXPECT_TRUE(mask.contains(QPoint(splash->width() / 2, 0))) << withFile;
        EXPECT_TRUE(mask.contains(QPoint(10, splash->height() / 2))) << withFile;
        splash->show();
        splash->close(); // frees itself
        EXPECT_TRUE(waitFor([&] { return guard.isNull(); }));
    }
}
