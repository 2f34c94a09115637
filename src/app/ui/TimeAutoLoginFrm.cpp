#include "app/ui/TimeAutoLoginFrm.h"
#include "app/ui/TipBar.h"
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TTimeAutoLoginFrm::TTimeAutoLoginFrm(int seconds, QWidget *owner, int periodMs)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), m_remaining(seconds)
{
    setObjectName(QStringLiteral("TimeAutoLoginFrm"));
    setModal(true);

    // Four busy bars run along the edges around the content.
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        auto *bar = new TTipBar(this);
        bar->setObjectName(QStringLiteral("TipBar%1").arg(i + 1));
        m_bars << bar;
    }
    m_bars[0]->setFixedHeight(10);
    m_bars[1]->setFixedHeight(10);
    m_bars[2]->setFixedWidth(10);
    m_bars[3]->setFixedWidth(10);
    m_bars[0]->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_bars[1]->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_bars[2]->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_bars[3]->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    grid->addWidget(m_bars[0], 0, 0, 1, 3);
    grid->addWidget(m_bars[2], 1, 0);
    grid->addWidget(m_bars[3], 1, 2);
    grid->addWidget(m_bars[1], 2, 0, 1, 3);

    auto *content = new QWidget(this);
    auto *v = new QVBoxLayout(content);
    v->setContentsMargins(16, 14, 16, 12);
    v->setSpacing(14);
    m_label = new QLabel(labelText(m_remaining), content);
    m_label->setObjectName(QStringLiteral("countdownLabel"));
    m_label->setAlignment(Qt::AlignCenter);
    QFont f = m_label->font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    m_label->setFont(f);
    v->addWidget(m_label);
    auto *buttons = new QHBoxLayout;
    m_relogin = new QPushButton(QStringLiteral("重新登录(&L)"), content);
    m_cancel = new QPushButton(QStringLiteral("取消(&C)"), content);
    m_cancel->setDefault(true);
    m_cancel->setAutoDefault(true);
    m_relogin->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(m_relogin);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    v->addLayout(buttons);
    grid->addWidget(content, 1, 1);

    connect(m_relogin, &QPushButton::clicked, this, &TTimeAutoLoginFrm::finish);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_timer.setInterval(periodMs);
    connect(&m_timer, &QTimer::timeout, this, &TTimeAutoLoginFrm::countDown);
    m_timer.start();
    setFixedSize(300, 120);
}

QString TTimeAutoLoginFrm::labelText(int seconds)
{
    return QString::number(seconds) + QStringLiteral(" 秒后将自动重新登录");
}

void TTimeAutoLoginFrm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QWidget *owner = parentWidget(); owner && owner->isVisible())
        move(owner->geometry().center() - rect().center());
    m_cancel->setFocus();
}

void TTimeAutoLoginFrm::countDown()
{
    --m_remaining;
    m_label->setText(labelText(m_remaining));
    emit counted(m_remaining);
    if (m_remaining <= 0)
        finish();
}

void TTimeAutoLoginFrm::finish()
{
    m_timer.stop();
    m_relogin->setEnabled(false);
    m_cancel->setEnabled(false);
    accept();
}
