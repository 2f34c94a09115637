#include "../sending/SendingFixture.h"
#include "UiWait.h"
#include "sending/ui/U_imphm.h"
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

namespace {

void screenshot(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("VELARO_SCREENSHOTS");
    if (!dir.isEmpty())
        w->grab().save(dir + QLatin1Char('/') + name);
}

QStringList items(QComboBox *c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

} // namespace

TEST(ImportDialog, HeaderModeTablesPreviewAndImport)
{
    SendingFixture f;
    Tfrm_imphm dlg(*f.list, f.prompter);
    EXPECT_EQ(dlg.windowTitle(), "导入号码");
    EXPECT_TRUE(dlg.CheckBox1->isChecked());
    EXPECT_FALSE(dlg.btn2->isEnabled());
    EXPECT_FALSE(dlg.BitBtn2->isEnabled());
    EXPECT_FALSE(dlg.tableGroup->isEnabled());
    dlg.show();
    EXPECT_FALSE(dlg.Panel1->isVisible());
    dlg.BitBtn1->click();
    EXPECT_TRUE(dlg.Panel1->isVisible());
    EXPECT_EQ(dlg.BitBtn1->text(), "高级(&A) <<");

    dlg.chooseFile = [] { return numberFile("numbers.xlsx"); };
    dlg.btn1->click();
    EXPECT_EQ(dlg.edt1->text(), numberFile("numbers.xlsx"));
    EXPECT_EQ(items(dlg.cbb1), (QStringList{"号码", "空表"}));
    EXPECT_EQ(items(dlg.cbb2), (QStringList{"F1", "F2"}));
    EXPECT_TRUE(dlg.btn2->isEnabled());
    dlg.CheckBox1->setChecked(false); // the first row now names the fields
    EXPECT_EQ(items(dlg.cbb2), (QStringList{"手机", "姓名"}));

    dlg.cbb1->setCurrentIndex(1);
    EXPECT_EQ(f.prompter.texts(), QStringList{"表“空表”中没有数据。"});
    EXPECT_FALSE(dlg.btn2->isEnabled());
    EXPECT_FALSE(dlg.BitBtn2->isEnabled());
    dlg.cbb1->setCurrentIndex(0);
    EXPECT_TRUE(dlg.BitBtn2->isEnabled());

    int previewRows = -1;
    QString footer;
    dlg.showPreview = [&](QDialog &d) {
        auto &p = static_cast<TPreviewDataForm &>(d);
        EXPECT_EQ(p.windowTitle(), "预览数据");
        previewRows = p.grid->model()->rowCount();
        footer = p.footer->text();
        p.show();
        screenshot(&p, "import_preview.png");
    };
    dlg.BitBtn2->click();
    EXPECT_EQ(previewRows, 7);
    EXPECT_EQ(footer, "共 7 行");
    EXPECT_EQ(dlg.Label1->text(), " 有效号码个数：7");
    screenshot(&dlg, "import_dialog.png");

    f.prompter.clear();
    dlg.btn2->click();
    EXPECT_EQ(f.prompter.texts(), QStringList{"导入完毕，本次共有数据7,其中错误手机号有2,已成功导入5"});
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.pb1->isVisible());
    EXPECT_EQ(f.list->numbers().count(), 5);
}

TEST(ImportDialog, BadFilesSayWhyAndLeaveNothingToImport)
{
    SendingFixture f;
    Tfrm_imphm dlg(*f.list, f.prompter);
    for (const char *file : {"notzip.xlsx", "binary.txt"}) {
        f.prompter.clear();
        dlg.chooseFile = [&] { return numberFile(QString::fromUtf8(file)); };
        dlg.btn1->click();
        ASSERT_EQ(f.prompter.texts().size(), 1) << file;
        EXPECT_TRUE(f.prompter.texts().first().startsWith(QStringLiteral("无法读取文件“%1”").arg(file)))
            << file;
        EXPECT_EQ(dlg.cbb1->count(), 0);
        EXPECT_FALSE(dlg.btn2->isEnabled());
    }
    f.prompter.clear();
    dlg.chooseFile = [] { return numberFile("empty.txt"); };
    dlg.btn1->click();
    EXPECT_EQ(f.prompter.texts(), QStringList{"表“empty#txt”中没有数据。"});
    EXPECT_FALSE(dlg.btn2->isEnabled());
}

TEST(ImportDialog, CancelDuringImportStopsAndReportsWhatWasDone)
{
    SendingFixture f;
    QByteArray text;
    for (int i = 0; i < 5000; ++i)
        text += QByteArray::number(13800000000LL + i) + "\r\n";
    f.home.write("many.txt", text);
    Tfrm_imphm dlg(*f.list, f.prompter);
    dlg.chooseFile = [&] { return f.home.file("many.txt"); };
    dlg.show();
    dlg.btn1->click();
    int rounds = 0;
    bool barShown = false;
    f.list->processEvents = [&] {
        barShown = barShown || dlg.pb1->isVisible();
        if (++rounds == 3)
            dlg.btn3->click();
    };
    dlg.btn2->click();
    EXPECT_TRUE(barShown);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    const int done = 2 * SendList::eventStep();
    EXPECT_EQ(
        f.prompter.texts(),
        QStringList{QStringLiteral("导入完毕，本次共有数据5000,其中错误手机号有0,已成功导入%1").arg(done)});
    EXPECT_EQ(f.list->SendListCount(), done);
    EXPECT_EQ(f.list->numbers().count(), done);
}
