#include "sending/ui/PromptOnSendFrm.h"
#include "store/dm.h"
#include <QApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

TPromptOnSendForm::TPromptOnSendForm(const SendTotals &totals, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("提示"));
    setModal(true);

    auto value = [this](const QString &text) {
        auto *l = new QLabel(text, this);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    wordsLabel = value(totals.wordsText());
    mobileNumbersLabel = value(totals.mobileNumbersText());
    otherNumbersLabel = value(totals.otherNumbersText());
    messagesLabel = value(totals.messagesText());
    balanceLabel = value(totals.balanceText());
    chargeLabel = value(totals.chargeText());
    QFont bold = chargeLabel->font();
    bold.setBold(true);
    chargeLabel->setFont(bold);
    messagesLabel->setFont(bold);

    auto *stats = new QGroupBox(QStringLiteral("统计信息："), this);
    auto *form = new QFormLayout(stats);
    form->setLabelAlignment(Qt::AlignRight);
    form->addRow(QStringLiteral("本次发送字数："), wordsLabel);
    form->addRow(QStringLiteral("移动联通号码个数："), mobileNumbersLabel);
    form->addRow(QStringLiteral("小灵通号码个数："), otherNumbersLabel);
    form->addRow(QStringLiteral("共发短信条数："), messagesLabel);
    form->addRow(QStringLiteral("您的当前余额："), balanceLabel);
    form->addRow(QStringLiteral("本次发送所需资费:"), chargeLabel);

    okButton = new QPushButton(QStringLiteral("确定(&S)"), this);
    cancelButton = new QPushButton(QStringLiteral("取消(&C)"), this);
    okButton->setDefault(true);
    okButton->setAutoDefault(true);
    cancelButton->setAutoDefault(false);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("您好：你这次要发送的短信的数量统计如下："), this));
    layout->addWidget(stats);
    layout->addWidget(new QLabel(QStringLiteral("您确定要发送吗？"), this));
    layout->addLayout(buttons);
    setSizeGripEnabled(false);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool TPromptOnSendForm::Execute(TDataM &dm, const QString &filteredText, const MessageType &type,
                                qint64 mobileNumbers, qint64 otherNumbers, QWidget *parent)
{
    SendTotals totals;
    {
        WaitCursor wait;
        totals = ComputeSendTotals(filteredText, SplitSettings::of(dm), type, mobileNumbers, otherNumbers,
                                   dm.sms().session().Balance);
    }
    TPromptOnSendForm form(totals, parent);
    return form.exec() == QDialog::Accepted;
}
