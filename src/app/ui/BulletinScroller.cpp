#include "app/ui/BulletinScroller.h"
#include <QAbstractTextDocumentLayout>
#include <QEnterEvent>
#include <QPainter>

BulletinScroller::BulletinScroller(QWidget *parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    m_doc.setDocumentMargin(6);
    m_timer.setInterval(50);
    connect(&m_timer, &QTimer::timeout, this, &BulletinScroller::step);
}

void BulletinScroller::setText(const QString &text)
{
    m_text = text;
    m_doc.setPlainText(text);
    layoutText();
    m_offset = height(); // readable at once, then it moves
    if (text.isEmpty())
        m_timer.stop();
    else if (!underMouse())
        m_timer.start();
    update();
}

void BulletinScroller::layoutText()
{
    m_doc.setDefaultFont(font());
    m_doc.setTextWidth(qMax(1, width()));
}

void BulletinScroller::step()
{
    // Once the text has left at the top it comes in again from below.
    if (++m_offset > height() + int(m_doc.size().height()))
        m_offset = 0;
    update();
}

void BulletinScroller::paintEvent(QPaintEvent *)
{
    if (m_text.isEmpty())
        return;
    QPainter p(this);
    p.translate(0, height() - m_offset);
    QAbstractTextDocumentLayout::PaintContext ctx;
    ctx.palette.setColor(QPalette::Text, QColor(0x20, 0x20, 0x20));
    m_doc.documentLayout()->draw(&p, ctx);
}

void BulletinScroller::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutText();
}

void BulletinScroller::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    m_timer.stop();
}

void BulletinScroller::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (!m_text.isEmpty())
        m_timer.start();
}
