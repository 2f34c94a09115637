#include "sending/ui/SendPage.h"
#include "common/Clock.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "sending/ContentRules.h"
#include "sending/SendPipeline.h"
#include "sending/ui/ComposePanel.h"
#include "sending/ui/PromptOnSendFrm.h"
#include "sending/ui/RecipientPanel.h"
#include "store/dm.h"
#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

SendPage::SendPage(TDataM &dm, SendPipeline &pipeline, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_dm(dm), m_pipe(pipeline), m_prompter(prompter)
{
    auto *layout = new QHBoxLayout(this);
    recipients = new RecipientPanel(pipeline.list, prompter, this);
    layout->addWidget(recipients, 2);

    auto *right = new QVBoxLayout;
    auto *timeGroup = new QGroupBox(QStringLiteral("定时设置"), this);
    auto *timeLayout = new QHBoxLayout(timeGroup);
    AtTimeEnable = new QCheckBox(QStringLiteral("定时时间"), timeGroup);
    AtDate = new QDateEdit(timeGroup);
    AtDate->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    AtDate->setCalendarPopup(true);
    AtDate->setMinimumWidth(120);
    AtTime = new QTimeEdit(timeGroup);
    AtTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    AtDate->setEnabled(false);
    AtTime->setEnabled(false);
    timeLayout->addWidget(AtTimeEnable);
    timeLayout->addWidget(AtDate);
    timeLayout->addWidget(AtTime);
    timeLayout->addStretch();
    right->addWidget(timeGroup);

    compose = new ComposePanel(dm, this);
    timeLayout->addWidget(compose->typeBox);
    right->addWidget(compose, 1);

    auto *buttons = new QHBoxLayout;
    auto *help = new QLabel(QStringLiteral("<a href=\"#\">短信发送常见问题</a>"), this);
    help->setObjectName(QStringLiteral("helpLink"));
    Button6 = new QPushButton(QStringLiteral("清空内容(&C)"), this);
    Button10 = new QPushButton(QStringLiteral("发送短信(&S)"), this);
    Button10->setDefault(true);
    buttons->addWidget(help);
    buttons->addStretch();
    buttons->addWidget(Button6);
    buttons->addWidget(Button10);
    right->addLayout(buttons);
    layout->addLayout(right, 3);
    resetTimePickers();

    connect(AtTimeEnable, &QCheckBox::toggled, this, [this](bool on) {
        AtDate->setEnabled(on);
        AtTime->setEnabled(on);
        RzMemo1Exit();
    });
    connect(AtDate, &QDateEdit::dateChanged, this, [this] { RzMemo1Exit(); });
    connect(AtTime, &QTimeEdit::timeChanged, this, [this] { RzMemo1Exit(); });
    connect(help, &QLabel::linkActivated, this, [this] { Q_EMIT helpRequested(QStringLiteral("信息发送")); });
    // Every change saves the text at once; the send list rows follow when the box is left.
    connect(compose, &ComposePanel::compositionChanged, this, [this] {
        try {
            m_pipe.queue.saveCompositionText(FilterLineBreaks(m_dm, compose->memoText()));
        } catch (const VelaroError &) {
            // No database before the first login.
        }
    });
    connect(compose, &ComposePanel::ctrlEnter, this, [this] {
        if (Button10->isEnabled() && isEnabled())
            Button10Click();
    });
    connect(Button10, &QPushButton::clicked, this, &SendPage::Button10Click);
    connect(Button6, &QPushButton::clicked, this, &SendPage::Button6Click);
    m_pipe.queue.setComposeText = [this](const QString &t) { compose->setMemoText(t); };
    m_pipe.queue.confirmSend = [this] {
        const auto &c = m_pipe.list.classCounts();
        return TPromptOnSendForm::Execute(m_dm, FilterLineBreaks(m_dm, compose->memoText()), compose->messageType(),
                                          c[1] + c[2], c[3], this);
    };
}

void SendPage::resetTimePickers()
{
    const QDateTime now = m_dm.clock().now();
    AtDate->setDate(now.date());
    AtTime->setTime(now.time());
}

QString SendPage::sendTime() const
{
    if (!AtTimeEnable->isChecked())
        return {};
    return AtDate->date().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           AtTime->time().toString(QStringLiteral("HH:mm:ss"));
}

void SendPage::RzMemo1Exit()
{
    try {
        m_pipe.queue.SaveComposition(QString(), FilterLineBreaks(m_dm, compose->memoText()),
                                     compose->messageType().text(), sendTime());
    } catch (const VelaroError &) {
    }
}

void SendPage::Button10Click()
{
    m_pipe.queue.sendClicked(compose->memoText(), compose->messageType().text(), sendTime(),
                             compose->messageType().ems);
}

void SendPage::Button6Click()
{
    compose->setMemoText(QString());
    m_pipe.queue.clearContent();
}
