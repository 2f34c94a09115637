#pragma once
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

// Animated busy bar: a bar that moves along the control on a timer.
class TTipBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor Color READ color WRITE setColor)
    Q_PROPERTY(QColor BarColor READ barColor WRITE setBarColor)
    Q_PROPERTY(int BarWidth READ barWidth WRITE setBarWidth)
    Q_PROPERTY(int Frequency READ frequency WRITE setFrequency)
    Q_PROPERTY(bool Active READ active WRITE setActive)
    Q_PROPERTY(bool Circle READ circle WRITE setCircle)
    Q_PROPERTY(int StepWidth READ stepWidth WRITE setStepWidth)
    Q_PROPERTY(QPixmap Bitmap READ bitmap WRITE setBitmap)
    Q_PROPERTY(bool DrawBitmap READ drawBitmap WRITE setDrawBitmap)
public:
    explicit TTipBar(QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor &c) { m_color = c; }
    QColor barColor() const { return m_barColor; }
    void setBarColor(const QColor &c) { m_barColor = c; }
    int barWidth() const { return m_barWidth; }
    void setBarWidth(int w) { m_barWidth = w; }
    int frequency() const { return m_timer.interval(); }
    void setFrequency(int ms);
    bool active() const { return m_active; }
    void setActive(bool on);
    bool circle() const { return m_circle; }
    void setCircle(bool on) { m_circle = on; }
    int stepWidth() const { return m_stepWidth; }
    void setStepWidth(int w) { m_stepWidth = w; }
    QPixmap bitmap() const { return m_bitmap; }
    void setBitmap(const QPixmap &pm) { m_bitmap = pm; }
    bool drawBitmap() const { return m_drawBitmap; }
    void setDrawBitmap(bool on) { m_drawBitmap = on; }

    // One step of the animation, as the timer runs it.
    void tick();
    int position() const { return m_pos; }
    // What the control shows.
    const QImage &canvas() const { return m_canvas; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawBar(QPainter &p, const QRect &r);
    void fitCanvas();

    QColor m_color = Qt::white;
    QColor m_barColor = QColor(166, 202, 240);
    int m_barWidth = 10;
    bool m_active = true;
    bool m_circle = true;
    int m_stepWidth = 2;
    QPixmap m_bitmap;
    bool m_drawBitmap = false;
    int m_pos;
    bool m_painted = false;
    QImage m_canvas;
    QTimer m_timer;
};
