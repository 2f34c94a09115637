#include "app/ui/QtPrompter.h"
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace {
QList<QPointer<NotificationPopup>> &stack()
{
    static QList<QPointer<NotificationPopup>> s;
    return s;
}

QWidget *dialogParent()
{
    return QApplication::activeWindow();
}
} // namespace

NotificationPopup::NotificationPopup(const QString &title, const QString &text)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setObjectName(QStringLiteral("NotificationPopup"));
    setFixedSize(280, 140);

    m_title = new QLabel(title, this);
    m_title->setStyleSheet(QStringLiteral("font-weight: bold; color: white; padding: 4px;"));
    m_text = new QLabel(text, this);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::NoTextInteraction);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(m_title);
    layout->addWidget(m_text, 1);

    m_life.setSingleShot(true);
    m_life.setInterval(lifeMs);
    connect(&m_life, &QTimer::timeout, this, &QWidget::close);
    m_life.start();

    stack().append(this);
    restack();
}

NotificationPopup::~NotificationPopup()
{
    stack().removeAll(QPointer<NotificationPopup>(this));
    stack().removeAll(QPointer<NotificationPopup>());
    restack();
}

QString NotificationPopup::title() const
{
    return m_title->text();
}
QString NotificationPopup::text() const
{
    return m_text->text();
}

QList<NotificationPopup *> NotificationPopup::openPopups()
{
    QList<NotificationPopup *> out;
    for (const auto &p : stack())
        if (p)
            out << p.data();
    return out;
}

NotificationPopup *NotificationPopup::popup(const QString &title, const QString &text)
{
    auto *p = new NotificationPopup(title, text);
    p->show();
    return p;
}

void NotificationPopup::restack()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    int bottom = area.bottom();
    for (const auto &p : stack()) {
        if (!p)
            continue;
        // Past the top of the screen the stack starts again at the bottom.
        if (bottom - p->height() - 8 < area.top())
            bottom = area.bottom();
        p->move(area.right() - p->width() - 8, bottom - p->height() - 8);
        bottom -= p->height() + 4;
    }
}

void NotificationPopup::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        close();
        return;
    }
    QWidget::mousePressEvent(event);
}

void NotificationPopup::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(0xf4, 0xf8, 0xff));
    g.setColorAt(1, QColor(0xd6, 0xe4, 0xf8));
    p.fillRect(rect(), g);
    p.fillRect(QRect(0, 0, width(), m_title->height() + 1), QColor(0x2b, 0x5c, 0xa8));
    p.setPen(QColor(0x2b, 0x5c, 0xa8));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void QtPrompter::information(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, dialogParent());
    box.exec();
}

Prompter::Answer QtPrompter::question(const QString &text, Buttons buttons, const QString &title)
{
    QMessageBox::StandardButtons set = QMessageBox::Yes | QMessageBox::No;
    if (buttons == Buttons::YesNoCancel)
        set |= QMessageBox::Cancel;
    else if (buttons == Buttons::OkCancel)
        set = QMessageBox::Ok | QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, title, text, set, dialogParent());
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Ok:
        return Answer::Ok;
    default:
        // Escape or the window's close button: Cancel where offered, else No.
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}

std::optional<QString> QtPrompter::input(const QString &title, const QString &prompt, const QString &initial,
                                         bool password)
{
    bool ok = false;
    const QString v = QInputDialog::getText(dialogParent(), title, prompt,
                                            password ? QLineEdit::Password : QLineEdit::Normal, initial, &ok);
    if (!ok)
        return std::nullopt;
    return v;
}

void QtPrompter::notify(const QString &title, const QString &text)
{
    NotificationPopup::popup(title, text);
}
