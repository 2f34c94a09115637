#include "sending/ui/RecipientPanel.h"
#include "../sending/SendingFixture.h"
#include "UiWait.h"
#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMimeData>
#include <QPushButton>

namespace {

void key(QWidget *w, int k, const QString &text = QString(), Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, k, mods, text);
    QApplication::sendEvent(w, &press);
}

void type(QWidget *w, const QString &text)
{
    for (QChar c : text) {
        if (c == u'\n')
            key(w, Qt::Key_Return, QStringLiteral("\r"));
        else
            key(w, c.isDigit() ? Qt::Key_0 + c.digitValue() : Qt::Key_A, QString(c));
    }
}

// Saves a picture of the widget when VELARO_SCREENSHOTS names a folder.
void screenshot(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("VELARO_SCREENSHOTS");
    if (!dir.isEmpty())
        w->grab().save(dir + QLatin1Char('/') + name);
}

} // namespace

TEST(RecipientPanel, TypingPastingDeletingDroppingAndClearing)
{
    SendingFixture f;
    f.list->processEvents = [] { QCoreApplication::processEvents(); };
    f.addContact("05", "13512345678", "甲");
    f.addContact("05", "13612345678", "乙");
    RecipientPanel panel(*f.list, f.prompter);
    panel.resize(260, 420);
    panel.show();
    EXPECT_EQ(panel.listGroup->title(), "接收号码列表: (0)");

    type(panel.Receivers, "13812345678");
    EXPECT_EQ(panel.Receivers->text(), "");
    type(panel.Receivers, "1x2345678901");
    EXPECT_EQ(panel.Receivers->text(), "12345678901"); // no mobile prefix: stays, the letter never got in
    panel.Receivers->clear();
    type(panel.Receivers, "02012345678\n");
    EXPECT_EQ(panel.Receivers->text(), "");
    type(panel.Receivers, "013812345678\n");
    EXPECT_EQ(panel.Receivers->text(), "013812345678"); // already in the list after normalising
    panel.Receivers->clear();

    QApplication::clipboard()->setText(QStringLiteral("13912345678  "));
    key(panel.Receivers, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    EXPECT_EQ(panel.Receivers->text(), ""); // a pasted number with blanks goes in at once
    QApplication::clipboard()->setText(QStringLiteral("139a"));
    key(panel.Receivers, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    EXPECT_EQ(panel.Receivers->text(), ""); // a letter empties the field
    EXPECT_EQ(f.list->numbers().toStringList(), (QStringList{"02012345678", "13812345678", "13912345678"}));
    EXPECT_EQ(panel.LBhm->model()->rowCount(), 3);
    EXPECT_EQ(panel.listGroup->title(), "接收号码列表: (3)");

    // A folder dropped on the list adds its numbers.
    QMimeData mime;
    mime.setData(SendList::folderMimeType(), "05");
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(panel.LBhm->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.LBhm->viewport(), &drop);
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(panel.LBhm->model()->rowCount(), 5);
    EXPECT_EQ(panel.listGroup->title(), "接收号码列表: (5)");
    QMimeData other;
    other.setText("05");
    QDragEnterEvent foreign(QPoint(5, 5), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.LBhm->viewport(), &foreign);
    EXPECT_FALSE(foreign.isAccepted());

    panel.LBhm->setFocus();
    panel.LBhm->selectionModel()->select(panel.LBhm->model()->index(1, 0), QItemSelectionModel::Select);
    panel.LBhm->selectionModel()->select(panel.LBhm->model()->index(3, 0), QItemSelectionModel::Select);
    screenshot(&panel, "recipient_panel.png");
    f.prompter.answer(Prompter::Answer::Yes);
    key(panel.LBhm, Qt::Key_Delete);
    EXPECT_EQ(f.prompter.texts(), QStringList{"确认要删除你选择的号码吗？"});
    EXPECT_EQ(f.list->numbers().toStringList(), (QStringList{"02012345678", "13612345678", "13912345678"}));
    EXPECT_EQ(f.tableNumbers(), f.list->numbers().toStringList());

    panel.Button7->click(); // "清空号码" does not ask
    EXPECT_EQ(f.prompter.texts().size(), 1);
    EXPECT_EQ(panel.LBhm->model()->rowCount(), 0);
    EXPECT_EQ(f.list->SendListCount(), 0);
    EXPECT_EQ(panel.listGroup->title(), "接收号码列表: (0)");
}

TEST(RecipientPanel, FastImportFromTheMenu)
{
    SendingFixture f;
    RecipientPanel panel(*f.list, f.prompter);
    panel.chooseFastImportFile = [] { return numberFile("gbk.txt"); };
    f.prompter.answer(Prompter::Answer::Yes);
    panel.imp1->trigger();
    // Unchecked: the header line and the words go in too, as the question warns.
    EXPECT_EQ(f.list->SendListCount(), 7);
    EXPECT_EQ(panel.LBhm->model()->rowCount(), 7);
    EXPECT_EQ(panel.LBhm->model()->index(6, 0).data().toString(), "手机号码");
}
