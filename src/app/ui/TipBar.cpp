#include "app/ui/TipBar.h"
#include <QPainter>

TTipBar::TTipBar(QWidget *parent) : QWidget(parent), m_pos(-m_barWidth - m_stepWidth)
{
    resize(200, 10);
    fitCanvas();
    m_timer.setInterval(25);
    connect(&m_timer, &QTimer::timeout, this, &TTipBar::tick);
    m_timer.start();
}

void TTipBar::setFrequency(int ms)
{
    m_timer.stop();
    m_timer.setInterval(ms);
    // An inactive bar stays inactive when only its pace changes.
    if (m_active)
        m_timer.start();
}

void TTipBar::setActive(bool on)
{
    m_active = on;
    if (on)
        m_timer.start();
    else
        m_timer.stop();
}

void TTipBar::drawBar(QPainter &p, const QRect &r)
{
    if (m_drawBitmap && !m_bitmap.isNull())
        p.drawPixmap(r, m_bitmap);
    else
        p.fillRect(r, m_barColor);
}

void TTipBar::tick()
{
    fitCanvas();
    const int w = m_canvas.width();
    const int h = m_canvas.height();
    QPainter p(&m_canvas);
    if (!m_painted) {
        m_canvas.fill(m_color);
        m_painted = true;
        update();
        return;
    }
    p.fillRect(QRect(m_pos, 0, m_stepWidth, h), m_color); // the trailing edge
    if (m_circle && m_pos > w - m_stepWidth)
        m_pos = -m_stepWidth;
    m_pos += m_stepWidth;
    drawBar(p, QRect(m_pos, 0, m_barWidth, h));
    // The part that has wrapped round to the start; without Circle nothing wraps, and drawing it
    // would leave a trail nobody erases.
    if (m_circle)
        drawBar(p, QRect(m_pos - w, 0, m_barWidth, h));
    update();
}

void TTipBar::paintEvent(QPaintEvent *)
{
    fitCanvas();
    QPainter p(this);
    p.drawImage(0, 0, m_canvas);
}

void TTipBar::fitCanvas()
{
    // A hidden control gets no resize event, so the size is checked where it is used.
    const QSize s = size().expandedTo(QSize(1, 1));
    if (s == m_canvas.size())
        return;
    m_canvas = QImage(s, QImage::Format_RGB32);
    m_canvas.fill(m_color);
}
