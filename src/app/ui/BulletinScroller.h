#pragma once
#include <QTextDocument>
#include <QTimer>
#include <QWidget>

// The bulletin: its text scrolls upwards through the panel and starts again from below;
// the pointer over it holds it still so it can be read.
class BulletinScroller : public QWidget {
    Q_OBJECT
public:
    explicit BulletinScroller(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    bool scrolling() const { return m_timer.isActive(); }
    // Moves the text up by one pixel.
    void step();
    // Distance the text has moved up from its start below the panel.
    int offset() const { return m_offset; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void layoutText();

    QString m_text;
    QTextDocument m_doc;
    int m_offset = 0;
    QTimer m_timer;
};
