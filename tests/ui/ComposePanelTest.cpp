#include "sending/ui/ComposePanel.h"
#include "../store/StoreFixture.h"
#include "sending/ui/PromptOnSendFrm.h"
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <gtest/gtest.h>

namespace {
struct PanelFixture : StoreFixture {
    ComposePanel *panel = nullptr;
    std::unique_ptr<ComposePanel> owner;
    PanelFixture()
    {
        EXPECT_TRUE(db().OpenAccountDatabase(QStringLiteral("10086")));
        dm->SegLenMobile = 70;
        dm->SegLenOther = 60;
        owner = std::make_unique<ComposePanel>(*dm);
        panel = owner.get();
    }
};
} // namespace

TEST(ComposePanel, LineBreaksTypedInTheBoxAreFilteredForTheCounters)
{
    PanelFixture f;
    int saved = 0;
    QObject::connect(f.panel, &ComposePanel::compositionChanged, [&] { ++saved; });
    f.panel->RzMemo1->setPlainText(QStringLiteral("ab\n cd\n"));
    EXPECT_EQ(f.panel->memoText(), QStringLiteral("ab\r\n cd\r\n"));
    EXPECT_EQ(f.panel->group->title(),
              QStringLiteral(" 发送内容主体: 4个字，4个字节数(移动联通:1条  小灵通:1条)"));
    EXPECT_GE(saved, 1);
    f.panel->RzMemo1->setPlainText(QStringLiteral(" \n \n"));
    EXPECT_EQ(f.panel->group->title(), QStringLiteral("发送内容主体: "));
}

TEST(ComposePanel, MessageTypeBoxesExcludeEachOtherAndWarnAboutTariffs)
{
    PanelFixture f;
    f.panel->setMessageTypesVisible(true);
    f.panel->RzMemo1->setPlainText(QString(140, QLatin1Char('x')));
    EXPECT_EQ(f.panel->group->title(),
              QStringLiteral(" 发送内容主体: 140个字，140个字节数(移动联通:3条  小灵通:3条)"));

    f.panel->EMSCB->click();
    EXPECT_EQ(f.panel->messageType().text(), QStringLiteral("普通(EMS)"));
    EXPECT_EQ(f.panel->group->title(),
              QStringLiteral(" 发送内容主体: 140个字，140个字节数(移动联通:3条  小灵通:3条)"));
    f.panel->RzMemo1->setPlainText(QString(135, QLatin1Char('x')));
    // 135 = 67 + 67 + 1 as EMS, 68 + 67 with labels.
    EXPECT_EQ(f.panel->group->title(),
              QStringLiteral(" 发送内容主体: 135个字，135个字节数(移动联通:3条  小灵通:3条)"));

    f.panel->CheckBox2->click();
    EXPECT_FALSE(f.panel->EMSCB->isChecked());
    EXPECT_EQ(f.panel->group->title(),
              QStringLiteral(" 发送内容主体: 135个字，135个字节数(移动联通:2条  小灵通:3条)"));
    f.panel->CheckBox3->click();
    EXPECT_EQ(f.panel->messageType().text(), QStringLiteral("免提+闪烁"));
    f.panel->EMSCB->click();
    EXPECT_FALSE(f.panel->CheckBox2->isChecked());
    EXPECT_FALSE(f.panel->CheckBox3->isChecked());
    EXPECT_EQ(f.prompter.texts(), (QStringList{EmsTariffNotice(), SpecialTariffNotice(),
                                               SpecialTariffNotice(), EmsTariffNotice()}));
}

TEST(ComposePanel, InsertFieldReplacesTheSelectionAndMakesTheTextPersonal)
{
    PanelFixture f;
    f.db().ExecSql("insert into 自定义名片列(名称,类型) values ('部门',0)");
    f.panel->rebuildInsertFieldMenu();
    QStringList menu;
    for (QAction *a : f.panel->PopupMenu7->actions())
        menu << a->text();
    EXPECT_EQ(menu,
              (QStringList{"手机", "姓名", "备注", "加入时间", "生日", "类别", "到期时间", "编号", "部门"}));

    f.panel->RzMemo1->setPlainText(QStringLiteral("你好XX，"));
    QTextCursor c = f.panel->RzMemo1->textCursor();
    c.setPosition(2);
    c.setPosition(4, QTextCursor::KeepAnchor);
    f.panel->RzMemo1->setTextCursor(c);
    f.panel->PopupMenu7->actions().at(1)->trigger();
    EXPECT_EQ(f.panel->memoText(), QStringLiteral("你好[姓名]，"));
    EXPECT_EQ(f.panel->group->title(),
              QStringLiteral("发送内容主体: (你目前发送是个性化短信，将逐号码进行分条解析)"));
}

TEST(ComposePanel, ContentCheckButtonNamesWordsAndUnsendableCharacters)
{
    PanelFixture f;
    f.db().ExecSql("insert into 过滤表(内容) values ('abc')");
    f.panel->RzMemo1->setPlainText(QStringLiteral("a b c\n😀"));
    f.panel->Button8->click();
    // Checked as typed: the blanks keep "a b c" from matching as typed, the squeezed form finds it.
    EXPECT_EQ(
        f.prompter.texts(),
        (QStringList{
            "要发送的内容存在以下非法字符,请检查更改后再发送。\r\n\r\nabc",
            "要发送的内容存在以下短信无法发送的字符(如表情符号),请删除或更换后再发送。\r\n\r\n😀 (U+1F600)"}));
}

TEST(PromptOnSendForm, ShowsTheTotals)
{
    const SendTotals t = ComputeSendTotals(QString(100, QLatin1Char('x')), SplitSettings{70, 60, {}, {}},
                                           MessageType{false, false, true}, 1000, 200, 5000);
    TPromptOnSendForm form(t);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("提示"));
    EXPECT_EQ(form.wordsLabel->text(), QStringLiteral("100个字符,100个字节 (移动联通 2 条; 小灵通 2 条)"));
    EXPECT_EQ(form.mobileNumbersLabel->text(), QStringLiteral("1000 个"));
    EXPECT_EQ(form.otherNumbersLabel->text(), QStringLiteral("200 个"));
    EXPECT_EQ(form.messagesLabel->text(), QStringLiteral("2400 条"));
    EXPECT_EQ(form.balanceLabel->text(), QStringLiteral("5000 条"));
    EXPECT_EQ(form.chargeLabel->text(), QStringLiteral("3400 条"));
    EXPECT_TRUE(form.okButton->isDefault());
    EXPECT_EQ(form.okButton->text(), QStringLiteral("确定(&S)"));
    EXPECT_EQ(form.cancelButton->text(), QStringLiteral("取消(&C)"));
}
