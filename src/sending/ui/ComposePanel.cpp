#include "sending/ui/ComposePanel.h"
#include "common/Prompter.h"
#include "store/dm.h"
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

ComposePanel::ComposePanel(TDataM &dm, QWidget *parent) : QWidget(parent), m_dm(dm)
{
    group = new QGroupBox(ComposeGroupTitle(), this);
    RzMemo1 = new QPlainTextEdit(group);
    RzMemo1->setObjectName(QStringLiteral("RzMemo1"));
    RzMemo1->setToolTip(QStringLiteral("<按Ctrl+回车 可直接发送>"));
    RzMemo1->setPlaceholderText(QStringLiteral("<按Ctrl+回车 可直接发送>"));
    RzMemo1->installEventFilter(this);

    PopupMenu7 = new QMenu(this);
    SpeedButton1 = new QToolButton(group);
    SpeedButton1->setText(QStringLiteral("插入名片项(&I)"));
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    Button8 = new QPushButton(QStringLiteral("内容检查"), group);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(Button8);
    buttons->addStretch(1);
    auto *inner = new QVBoxLayout(group);
    inner->addWidget(RzMemo1, 1);
    inner->addLayout(buttons);

    typeBox = new QWidget(this);
    CheckBox2 = new QCheckBox(QStringLiteral("免提短信(仅部分品牌GSM手机)"), typeBox);
    CheckBox3 = new QCheckBox(QStringLiteral("闪烁短信(仅部分如诺基亚GSM手机)"), typeBox);
    EMSCB = new QCheckBox(QStringLiteral("增强型短信(仅移动)"), typeBox);
    auto *types = new QHBoxLayout(typeBox);
    types->setContentsMargins(0, 0, 0, 0);
    types->addWidget(CheckBox2);
    types->addWidget(CheckBox3);
    types->addWidget(EMSCB);
    types->addStretch(1);
    typeBox->setVisible(false);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(group, 1);
    outer->addWidget(typeBox);

    connect(RzMemo1, &QPlainTextEdit::textChanged, this, &ComposePanel::RzMemo1Change);
    connect(SpeedButton1, &QToolButton::clicked, this, &ComposePanel::SpeedButton1Click);
    connect(Button8, &QPushButton::clicked, this, &ComposePanel::Button8Click);
    connect(CheckBox2, &QCheckBox::clicked, this, &ComposePanel::CheckBox2Click);
    connect(CheckBox3, &QCheckBox::clicked, this, &ComposePanel::CheckBox2Click);
    connect(EMSCB, &QCheckBox::clicked, this, &ComposePanel::EMSCBClick);
    rebuildInsertFieldMenu();
}

QString ComposePanel::memoText() const
{
    QString s = RzMemo1->toPlainText();
    s.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return s;
}

void ComposePanel::setMemoText(const QString &text)
{
    QString s = text;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    RzMemo1->setPlainText(s);
}

MessageType ComposePanel::messageType() const
{
    return {CheckBox2->isChecked(), CheckBox3->isChecked(), EMSCB->isChecked()};
}

void ComposePanel::setMessageTypesVisible(bool visible)
{
    typeBox->setVisible(visible);
}

void ComposePanel::RzMemo1Change()
{
    try {
        const QString t = FilterLineBreaks(m_dm, memoText());
        if (const auto caption = CounterCaption(t, m_entries, SplitSettings::of(m_dm), EMSCB->isChecked()))
            group->setTitle(*caption);
    } catch (...) {
        // The caption keeps its last text.
    }
    emit compositionChanged();
}

void ComposePanel::rebuildInsertFieldMenu()
{
    m_entries = InsertFieldEntries(m_dm);
    PopupMenu7->clear();
    for (const QString &e : m_entries)
        PopupMenu7->addAction(e, this, [this, e] { insertField(e); });
}

void ComposePanel::SpeedButton1Click()
{
    PopupMenu7->popup(SpeedButton1->mapToGlobal(QPoint(0, SpeedButton1->height())));
}

void ComposePanel::insertField(const QString &entry)
{
    RzMemo1->textCursor().insertText(QLatin1Char('[') + entry + QLatin1Char(']'));
    RzMemo1->setFocus();
}

void ComposePanel::Button8Click()
{
    CheckContent(m_dm, memoText(), EMSCB->isChecked());
}

void ComposePanel::CheckBox2Click(bool checked)
{
    if (checked) {
        EMSCB->setChecked(false);
        RzMemo1Change();
        m_dm.prompter().information(SpecialTariffNotice());
    } else {
        emit compositionChanged();
    }
}

void ComposePanel::EMSCBClick(bool checked)
{
    if (checked) {
        CheckBox2->setChecked(false);
        CheckBox3->setChecked(false);
    }
    RzMemo1Change();
    if (checked)
        m_dm.prompter().information(EmsTariffNotice());
}

bool ComposePanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == RzMemo1 && event->type() == QEvent::KeyRelease) {
        const auto *k = static_cast<QKeyEvent *>(event);
        if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) &&
            (k->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier)
            emit ctrlEnter();
    }
    return QWidget::eventFilter(watched, event);
}
